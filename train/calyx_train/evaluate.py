"""Evaluate weights through the product: run `calyx_cli` on held-out mixtures.

    python3 -m calyx_train.evaluate --cli ../build-train/cli/calyx_cli --blob weights.bin

The command-line program uses the weights built into it; --blob names the same
weights so the toolkit's chain can be compared with the engine sample by
sample (the chain followed by the engine's limiter, which adds 31 samples).
Reports SI-SDR and STOI of input and output per input SNR, and the largest difference
between engine and chain. --png writes spectrograms of one example.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

import numpy as np
import soundfile as sf
import torch

from .blob import import_records, read_blob
from .chain import DELAY, LIMITER_DELAY, Chain, limiter
from .loss import si_sdr
from .model import Network
from .metrics import stoi
from .train import HERE, VALID_SNRS, validation_set

SKIP = 4800  # the first 100 ms, while the normalisation means settle


def run_cli(cli, x, d, name):
    src, dst = os.path.join(d, name + "_in.wav"), os.path.join(d, name + "_out.wav")
    sf.write(src, x, 48000, subtype="FLOAT")
    subprocess.run([cli, "-i", src, "-o", dst, "-t", "1"], check=True, stdout=subprocess.DEVNULL)
    y, sr = sf.read(dst, dtype="float32")
    assert sr == 48000 and len(y) == len(x)
    return y


def spectrogram_png(path, noisy, enhanced, clean):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(3, 1, figsize=(9, 8), sharex=True)
    for ax, (title, sig) in zip(axes, (("noisy", noisy), ("enhanced (calyx_cli)", enhanced),
                                       ("clean", clean))):
        ax.specgram(sig, NFFT=1024, Fs=48000, noverlap=768, cmap="magma", vmin=-150, vmax=-30)
        ax.set_title(title)
        ax.set_ylabel("Hz")
    axes[-1].set_xlabel("s")
    fig.tight_layout()
    fig.savefig(path, dpi=80)


BEGIN, END = "<!-- results:begin -->", "<!-- results:end -->"


def results_markdown(summary, per_snr, lag):
    lines = [f"Measured by `calyx_train.evaluate --per-snr {per_snr}` through `calyx_cli` "
             f"(48000 Hz, block 480, intensity 1): {per_snr} held-out mixtures of 4 s per "
             f"input SNR, first 100 ms skipped, output aligned by {lag} samples.", "",
             "| input SNR | items | SI-SDR in | SI-SDR out | improvement | STOI in | STOI out |",
             "|---|---|---|---|---|---|---|"]
    for key in [str(k) for k in VALID_SNRS] + ["clean"]:
        if key not in summary:
            continue
        r = summary[key]
        name = "clean" if key == "clean" else f"{int(key):+d} dB"
        sdr_in = "—" if key == "clean" else f"{r['in']:.2f}"
        imp = "—" if key == "clean" else f"{r['improvement']:+.2f}"
        lines.append(f"| {name} | {r['items']} | {sdr_in} | {r['out']:.2f} | {imp} | "
                     f"{r['stoi_in']:.3f} | {r['stoi_out']:.3f} |")
    if "engine_vs_chain_max_abs" in summary:
        lines += ["", "Largest difference between `calyx_cli` and the toolkit's chain followed by "
                  f"the engine's limiter, over all these mixtures: {summary['engine_vs_chain_max_abs']:.1e}."]
    return "\n".join(lines)


def write_results_section(path, summary, per_snr, lag):
    """Replaces the marked section of a Markdown file (appends one if there is none)."""
    text = open(path).read() if os.path.exists(path) else ""
    block = f"{BEGIN}\n{results_markdown(summary, per_snr, lag)}\n{END}"
    if BEGIN in text and END in text:
        head, rest = text.split(BEGIN, 1)
        text = head + block + rest.split(END, 1)[1]
    else:
        text = text.rstrip("\n") + ("\n\n" if text else "") + block + "\n"
    with open(path + ".tmp", "w") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--blob", help="the weights built into the program (for the chain comparison)")
    ap.add_argument("--cache", default=os.path.join(HERE, "cache"))
    ap.add_argument("--per-snr", type=int, default=4)
    ap.add_argument("--json")
    ap.add_argument("--per-item", action="store_true",
                    help="also print each mixture's numbers and what it holds "
                         "(speaker group, noise recordings or babble, reverberation)")
    ap.add_argument("--png")
    ap.add_argument("--model-md", help="write the results table into this Markdown file, "
                    "between the lines <!-- results:begin --> and <!-- results:end -->")
    a = ap.parse_args(argv)
    torch.set_num_threads(2)
    described = []
    items = validation_set(a.cache, per_snr=a.per_snr, descriptions=described)
    net = chain = None
    if a.blob:
        net = Network().eval()
        import_records(net, read_blob(a.blob))
        chain = Chain()
    lag = DELAY + LIMITER_DELAY
    rows, worst = {}, 0.0
    png_written = False
    with tempfile.TemporaryDirectory() as d:
        for i, (snr, noisy, clean) in enumerate(items):
            y = run_cli(a.cli, noisy, d, f"x{i}")
            n = len(noisy)
            out = si_sdr(torch.from_numpy(y[lag + SKIP:]).double()[None],
                         torch.from_numpy(clean[SKIP:n - lag]).double()[None])
            inp = si_sdr(torch.from_numpy(noisy[SKIP:]).double()[None],
                         torch.from_numpy(clean[SKIP:]).double()[None])
            st_in = stoi(clean[SKIP:n - lag], noisy[SKIP:n - lag], 48000)
            st_out = stoi(clean[SKIP:n - lag], y[lag + SKIP:], 48000)
            rows.setdefault("clean" if snr is None else snr, []).append(
                (float(inp), float(out), st_in, st_out))
            if a.per_item:
                name = "clean" if snr is None else f"{snr:+d} dB"
                print(f"{name:>6} #{i:<3d} SI-SDR {float(inp):6.2f} -> {float(out):6.2f} "
                      f"({float(out - inp):+6.2f}), STOI {st_in:.3f} -> {st_out:.3f}  {described[i]}",
                      flush=True)
            if chain is not None:
                with torch.no_grad():
                    ref, _, _ = chain(net, torch.from_numpy(noisy)[None])
                diff = np.abs(y - limiter(ref[0].numpy()))
                worst = max(worst, float(diff.max()))
            # first 0 dB mixture only; an existing file is replaced, since it
            # shows whatever weights were evaluated before
            if a.png and snr == 0 and not png_written:
                spectrogram_png(a.png, noisy[:n - lag], y[lag:], clean[:n - lag])
                png_written = True
    summary = {}
    print("input SNR | items | SI-SDR in | SI-SDR out | improvement | STOI in | STOI out")
    for key in list(VALID_SNRS) + ["clean"]:
        if key not in rows:
            continue
        v = np.array(rows[key])
        summary[str(key)] = {"items": len(v), "in": float(v[:, 0].mean()), "out": float(v[:, 1].mean()),
                             "improvement": float((v[:, 1] - v[:, 0]).mean()),
                            "stoi_in": float(v[:, 2].mean()), "stoi_out": float(v[:, 3].mean())}
        s = summary[str(key)]
        name = key if key == "clean" else f"{key:+d} dB"
        print(f"{name:>9} | {s['items']:5d} | {s['in']:9.2f} | {s['out']:10.2f} | {s['improvement']:+11.2f} | {s['stoi_in']:7.3f} | {s['stoi_out']:8.3f}")
    if chain is not None:
        summary["engine_vs_chain_max_abs"] = worst
        print(f"largest |engine - chain| difference: {worst:.2e}")
    if a.model_md:
        write_results_section(a.model_md, summary, a.per_snr, lag)
    if a.json:
        with open(a.json, "w") as f:
            json.dump(summary, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
