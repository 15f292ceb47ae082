"""Builds the fixed quality test set from the held-out part of the corpus:

    python3 make_set.py --out DIR [--per-snr 10] [--seconds 6] [--seed 7001]

Only the validation speakers and validation noise files of the training toolkit's
split are used (calyx_train.data: VALIDATION_SPEAKERS and the last noise file of
every category with three or more files), so no mixture contains training material.
Mixtures come from the toolkit's mixer with dry speech: at each input SNR of
-5, 0, 5, 10, 15 and 20 dB, plus clean input (no noise), --per-snr items at 48000 Hz.
Writes DIR/items/<name>_noisy.wav and _clean.wav (32-bit float) and DIR/set.json.
The 48 kHz resampled material is cached in DIR/cache (validation speech and all
noise files, which the split needs to pick the validation noise).
"""
import argparse
import json
import math
import os
import sys

import numpy as np
import soundfile as sf

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "train"))

from calyx_train import data  # noqa: E402

SNRS = (-5, 0, 5, 10, 15, 20)
HOP = 480


def build_cache(data_dir, cache_dir):
    if all(os.path.exists(os.path.join(cache_dir, k + s)) for k in ("speech", "noise")
           for s in (".i16", ".json")):
        return
    rows = [r for r in data.read_manifest(data_dir)
            if r["kind"] == "noise" or r["group"] in data.VALIDATION_SPEAKERS]
    data.prepare_cache(rows, data_dir, cache_dir)


def build_set(out_dir, data_dir, per_snr, seconds, seed):
    cache = os.path.join(out_dir, "cache")
    build_cache(data_dir, cache)
    corpus = data.Corpus(cache)
    speakers = sorted({e["group"] for e in corpus.split["valid"][0]})
    noises = sorted(e["path"] for e in corpus.split["valid"][1])
    if set(speakers) != set(data.VALIDATION_SPEAKERS):
        raise SystemExit(f"validation speakers missing from the corpus: {speakers}")
    length = int(round(seconds * data.RATE / HOP)) * HOP
    mixer = data.Mixer(corpus, "valid", length)
    items_dir = os.path.join(out_dir, "items")
    os.makedirs(items_dir, exist_ok=True)
    items = []
    for snr in list(SNRS) + [None]:
        for i in range(per_snr):
            # item i draws from the same stream at every SNR: the same speech, noise
            # stretch, level and colouring, so the conditions differ by the SNR alone
            rng = np.random.default_rng([seed, i])
            noisy, clean = mixer.draw(rng, snr_db=math.inf if snr is None else float(snr), reverb=False)
            name = ("clean" if snr is None else f"snr{snr:+03d}") + f"_{i:02d}"
            sf.write(os.path.join(items_dir, name + "_noisy.wav"), noisy, data.RATE, subtype="FLOAT")
            sf.write(os.path.join(items_dir, name + "_clean.wav"), clean, data.RATE, subtype="FLOAT")
            items.append({"name": name, "snr": snr, "samples": int(len(noisy))})
    meta = {"rate": data.RATE, "seed": seed, "per_snr": per_snr, "seconds": length / data.RATE,
            "speakers": speakers, "noise_files": noises, "items": items}
    with open(os.path.join(out_dir, "set.json"), "w") as f:
        json.dump(meta, f, indent=1)
    return meta


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", required=True)
    ap.add_argument("--data", default=os.path.join(ROOT, "..", "shared", "data"))
    ap.add_argument("--per-snr", type=int, default=10)
    ap.add_argument("--seconds", type=float, default=6.0)
    ap.add_argument("--seed", type=int, default=7001)
    a = ap.parse_args()
    if a.per_snr < 1 or not 0.5 <= a.seconds <= 600:
        ap.error("--per-snr must be at least 1 and --seconds from 0.5 to 600")
    meta = build_set(a.out, a.data, a.per_snr, a.seconds, a.seed)
    print(f"{len(meta['items'])} items of {meta['seconds']:.1f} s in {a.out}")


if __name__ == "__main__":
    main()
