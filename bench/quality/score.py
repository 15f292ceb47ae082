"""Runs every system of systems.py over the test set of make_set.py and scores it:

    python3 score.py --set DIR --cli calyx_cli --peer-bin DIR --out quality.json

Each output is aligned to the clean reference by one lag per system (the median
cross-correlation peak over the items at 10 dB SNR and above, searched within
0 ... 100 ms), the first 100 ms are skipped (adaptive estimators settle), and the
rest is scored: SI-SDR improvement over the input, STOI and extended STOI. On
clean input the SI-SDR column holds the output's SI-SDR (damage, not improvement).
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

import numpy as np
import soundfile as sf
from scipy import signal

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "train"))
sys.path.insert(0, HERE)

from calyx_train import metrics  # noqa: E402
from systems import systems  # noqa: E402

SKIP = 4800
MAX_LAG = 4800


def xcorr_lag(y, ref, max_lag=MAX_LAG):
    """Lag (0 ... max_lag samples) by which y trails ref, from the cross-correlation peak."""
    c = signal.correlate(y.astype(np.float64), ref.astype(np.float64), mode="full", method="fft")
    zero = len(ref) - 1
    window = c[zero:zero + max_lag + 1]
    return int(np.argmax(np.abs(window)))


def aligned(y, n, lag):
    """y trimmed/padded to n samples and advanced by lag."""
    y = y[:n] if len(y) >= n else np.concatenate([y, np.zeros(n - len(y), y.dtype)])
    return y[lag:]


def run_system(argv, noisy_path, out_path):
    r = subprocess.run(argv(noisy_path, out_path), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if r.returncode != 0:
        raise SystemExit(f"{argv(noisy_path, out_path)[0]} failed: {r.stderr.decode(errors='replace')}")
    y, sr = sf.read(out_path, dtype="float32")
    if sr != 48000 or y.ndim != 1:
        raise SystemExit(f"{out_path}: unexpected output format")
    return y


def score_item(y, noisy, clean, lag):
    n = len(clean)
    ya = aligned(y, n, lag)[SKIP:]
    ref = clean[SKIP:n - lag]
    inp = noisy[SKIP:n - lag]
    out_sdr = metrics.si_sdr(ya, ref)
    in_sdr = metrics.si_sdr(inp, ref)
    return {"si_sdr_in": in_sdr, "si_sdr_out": out_sdr, "si_sdri": out_sdr - in_sdr,
            "stoi": metrics.stoi(ref, ya, 48000), "estoi": metrics.estoi(ref, ya, 48000)}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--set", required=True)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--peer-bin", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    with open(os.path.join(a.set, "set.json")) as f:
        meta = json.load(f)
    items = meta["items"]
    load = {}
    for it in items:
        base = os.path.join(a.set, "items", it["name"])
        load[it["name"]] = (sf.read(base + "_noisy.wav", dtype="float32")[0],
                            sf.read(base + "_clean.wav", dtype="float32")[0])
    result = {"set": {k: meta[k] for k in meta if k != "items"}, "items": len(items), "systems": {}}
    with tempfile.TemporaryDirectory() as tmp:
        for key, label, setting, argv in systems(a.cli, a.peer_bin):
            outs = {}
            for it in items:
                noisy, _ = load[it["name"]]
                if argv is None:
                    outs[it["name"]] = noisy
                else:
                    outs[it["name"]] = run_system(argv, os.path.join(a.set, "items", it["name"] + "_noisy.wav"),
                                                  os.path.join(tmp, f"{key}_{it['name']}.wav"))
            lags = [xcorr_lag(outs[it["name"]], load[it["name"]][1]) for it in items
                    if it["snr"] is None or it["snr"] >= 10]
            lag = int(np.median(lags)) if argv is not None else 0
            per = {}
            for it in items:
                s = score_item(outs[it["name"]], *load[it["name"]], lag)
                per.setdefault("clean" if it["snr"] is None else str(it["snr"]), []).append(s)
            summary = {cond: {m: float(np.mean([s[m] for s in v])) for m in v[0]} for cond, v in per.items()}
            result["systems"][key] = {"label": label, "setting": setting, "lag_samples": lag,
                                      "lags_seen": sorted(set(lags)), "by_condition": summary}
            print(f"{label:12s} lag {lag:5d} | " + " | ".join(
                f"{c}: {summary[c]['si_sdri']:+.1f} dB {summary[c]['stoi']:.3f}" for c in summary), flush=True)
    with open(a.out, "w") as f:
        json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
