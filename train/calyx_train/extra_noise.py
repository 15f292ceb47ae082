"""Extra training-only noise from Debian game and sound packages.

The corpus holds 48 training noise recordings, and the network learns them
rather than noise in general. This gathers more from free Debian packages
(ambient city and nature loops, stadium crowds, music, friction, motors,
keyboard typing built from single key sounds), joins the clips of each
category into files of at most 60 s at 48 kHz and writes them as
<out>/<category>/<category>_NN.flac for `python3 -m calyx_train.data
--extra-noise <out>`. Voice lines and announcer calls are left out by the
file selection below.

    /usr/bin/python3 -m calyx_train.extra_noise --out ../extra-noise
"""
import argparse
import glob
import os
import subprocess
import tempfile

import numpy as np
import soundfile as sf

from .data import RATE, load_mono

# package -> [(category, glob under the unpacked package)]
SOURCES = {
    "lincity-ng-data": [("city_ambience", "usr/share/games/lincity-ng/sounds/*.wav")],
    "etw-data": [("stadium_crowd", "usr/share/games/etw/crowd/*.wav"),
                 ("stadium_crowd", "usr/share/games/etw/snd/crowd.wav"),
                 ("stadium_crowd", "usr/share/games/etw/snd/fondo.wav"),
                 ("stadium_crowd", "usr/share/games/etw/snd/boou.wav")],
    "wesnoth-1.16-data": [("outdoor_ambience", "usr/share/games/wesnoth/1.16/data/core/sounds/ambient/*.ogg")],
    "extremetuxracer-data": [("music_extra", "usr/share/games/etr/music/*.ogg"),
                             ("friction", "usr/share/games/etr/sounds/*_slide.wav")],
    "freeciv-data": [("music_extra", "usr/share/games/freeciv/stdmusic/*.ogg")],
    "crrcsim-data": [("motor", "usr/share/games/crrcsim/sounds/electric.wav"),
                     ("motor", "usr/share/games/crrcsim/sounds/glider.wav"),
                     ("motor", "usr/share/games/crrcsim/sounds/fan.wav")],
    "bucklespring-data": [("typing", "usr/share/buckle/wav/*.wav")],
}
MIN_SECONDS = 1.0
MAX_SECONDS = 60.0
MAX_FILES = 8  # per category, so that no one source outweighs the corpus
LOOPED = {"motor": 10.0}  # short engine loops, repeated to this many seconds
FADE = int(0.01 * RATE)


def join(clips):
    """Concatenate with 10 ms cross-fades so joins do not click."""
    ramp = np.linspace(0.0, 1.0, FADE, dtype=np.float32)
    parts = [clips[0].copy()]
    for c in clips[1:]:
        prev = parts[-1]
        if len(prev) < FADE or len(c) < FADE:
            parts.append(c)
            continue
        prev[-FADE:] = prev[-FADE:] * (1.0 - ramp) + c[:FADE] * ramp
        parts.append(c[FADE:].copy())
    return np.concatenate(parts)


def pack(clips, limit):
    """Clips cut to at most `limit` samples and joined, in order, into files
    of at most `limit` samples."""
    files, cur, filled = [], [], 0
    for c in clips:
        for s in range(0, len(c), limit):
            piece = c[s:s + limit]
            if cur and filled + len(piece) > limit:
                files.append(join(cur))
                cur, filled = [], 0
            cur.append(piece)
            filled += len(piece)
    if cur:
        files.append(join(cur))
    return files


def typing(rng, keys, seconds):
    """Key presses and releases at a typist's pace, with pauses between words."""
    n = int(seconds * RATE)
    out = np.zeros(n + RATE, dtype=np.float32)
    # <key>-0 is the key going down, <key>-1 coming back up
    presses = [(name[:-2], k) for name, k in keys if name.endswith("-0")]
    releases = {name[:-2]: k for name, k in keys if name.endswith("-1")}
    t = 0
    while t < n:
        key, p = presses[int(rng.integers(len(presses)))]
        gain = rng.uniform(0.5, 1.0)
        out[t:t + len(p)] += gain * p[:len(out) - t]
        r = releases.get(key)
        if r is not None:
            tr = t + int(rng.uniform(0.05, 0.15) * RATE)
            out[tr:tr + len(r)] += gain * r[:max(0, len(out) - tr)]
        t += int(rng.uniform(0.08, 0.3) * RATE)
        if rng.random() < 0.15:
            t += int(rng.uniform(0.3, 1.2) * RATE)
    return out[:n]


def gather(pkg_dir, unpack_dir):
    by_cat = {}
    for pkg, picks in SOURCES.items():
        debs = glob.glob(os.path.join(pkg_dir, pkg + "_*.deb"))
        if not debs:
            subprocess.run(["apt-get", "download", pkg], cwd=pkg_dir, check=True)
            debs = glob.glob(os.path.join(pkg_dir, pkg + "_*.deb"))
        root = os.path.join(unpack_dir, pkg)
        os.makedirs(root, exist_ok=True)
        subprocess.run(["dpkg-deb", "-x", sorted(debs)[-1], root], check=True)
        for cat, pattern in picks:
            for path in sorted(glob.glob(os.path.join(root, pattern))):
                by_cat.setdefault(cat, []).append(path)
    return by_cat


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", required=True, help="folder for <category>/<category>_NN.flac")
    ap.add_argument("--packages", help="folder holding (or receiving) the .deb files")
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    rng = np.random.default_rng(a.seed)
    with tempfile.TemporaryDirectory() as tmp:
        pkg_dir = a.packages or tmp
        os.makedirs(pkg_dir, exist_ok=True)
        by_cat = gather(pkg_dir, os.path.join(tmp, "unpacked"))
        total = 0.0
        for cat, paths in sorted(by_cat.items()):
            if cat == "typing":
                keys = [(os.path.splitext(os.path.basename(p))[0], load_mono(p)) for p in paths]
                clips = [typing(rng, keys, MAX_SECONDS) for _ in range(2)]
            else:
                clips = [load_mono(p) for p in paths]
                if cat in LOOPED:
                    clips = [np.tile(c, int(LOOPED[cat] * RATE) // len(c) + 1) for c in clips]
                clips = [c for c in clips if len(c) >= MIN_SECONDS * RATE]
                clips = [c / (np.sqrt(np.mean(c ** 2)) + 1e-9) * 0.1 for c in clips]
            files = pack(clips, int(MAX_SECONDS * RATE))[:MAX_FILES]
            os.makedirs(os.path.join(a.out, cat), exist_ok=True)
            for k, x in enumerate(files):
                peak = float(np.max(np.abs(x))) + 1e-9
                sf.write(os.path.join(a.out, cat, f"{cat}_{k:02d}.flac"), x / peak * 0.9, RATE,
                         subtype="PCM_16")
            minutes = sum(len(x) for x in files) / RATE / 60.0
            total += minutes
            print(f"{cat:18s} {len(paths):4d} clips -> {len(files):2d} files, {minutes:5.1f} min")
        print(f"{total:.1f} min of extra noise in {a.out}")


if __name__ == "__main__":
    main()
