"""Whole-program speed and memory of calyx_cli next to the peers:

    python3 speed.py --set DIR --cli calyx_cli --peer-bin DIR --alloc calyx_engine_alloc --out speed.json

Real-time factor: CPU time (user + system) of the process, start-up included,
divided by the audio duration, on one mono 48 kHz file made of every noisy item of
the set back to back; the best of --repeat runs per system (the machine is shared,
so the least disturbed run is the closest to the program's own cost). The CPU time
of a run on the first second alone is reported as start-up, and the real-time
factor without it ((long - short) / (duration - 1 s)) as the steady rate.
Memory: peak resident set of calyx_cli (/usr/bin/time -v) on a 10-minute stereo
48 kHz 16-bit file, and the engine's heap per channel from calyx_engine_alloc.
"""
import argparse
import json
import os
import re
import resource
import subprocess
import sys
import tempfile

import numpy as np
import soundfile as sf

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from systems import systems  # noqa: E402

RATE = 48000


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def cpu_seconds(argv):
    before = child_cpu()
    r = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if r.returncode != 0:
        raise SystemExit(f"{argv[0]} failed: {r.stderr.decode(errors='replace')}")
    return child_cpu() - before


def long_file(set_dir, path):
    with open(os.path.join(set_dir, "set.json")) as f:
        items = json.load(f)["items"]
    x = np.concatenate([sf.read(os.path.join(set_dir, "items", it["name"] + "_noisy.wav"),
                                dtype="float32")[0] for it in items])
    sf.write(path, x, RATE, subtype="FLOAT")
    return x


def peak_rss_kb(argv):
    r = subprocess.run(["/usr/bin/time", "-v"] + argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    text = r.stderr.decode(errors="replace")
    if r.returncode != 0:
        raise SystemExit(f"{argv[0]} failed: {text}")
    m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", text)
    cpu = sum(float(v) for v in re.findall(r"(?:User|System) time \(seconds\): ([\d.]+)", text))
    return int(m.group(1)), cpu


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--set", required=True)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--peer-bin", required=True)
    ap.add_argument("--alloc", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--memory-minutes", type=float, default=10.0)
    a = ap.parse_args()
    res = {"systems": {}, "repeat": a.repeat}
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "long.wav")
        x = long_file(a.set, src)
        seconds = len(x) / RATE
        res["audio_seconds"] = seconds
        short = os.path.join(tmp, "short.wav")
        sf.write(short, x[:RATE], RATE, subtype="FLOAT")
        for key, label, _, argv in systems(a.cli, a.peer_bin):
            if argv is None:
                continue
            out = os.path.join(tmp, key + ".wav")
            best = min(cpu_seconds(argv(src, out)) for _ in range(a.repeat))
            start = min(cpu_seconds(argv(short, out)) for _ in range(a.repeat))
            steady = max(best - start, 0.0) / (seconds - 1.0)
            res["systems"][key] = {"label": label, "cpu_seconds": best, "rtf": best / seconds,
                                   "startup_cpu_seconds": start, "rtf_steady": steady}
            print(f"{label:12s} RTF {best / seconds:.4f} ({best:.2f} s CPU for {seconds:.0f} s; "
                  f"start-up {start:.2f} s, steady {steady:.4f})", flush=True)
        # ten minutes of stereo: the long file tiled, the right channel a shifted copy
        n = int(a.memory_minutes * 60 * RATE)
        reps = -(-n // len(x))
        left = np.tile(x, reps)[:n]
        stereo = np.stack([left, np.roll(left, RATE // 3)], axis=1)
        big = os.path.join(tmp, "stereo.wav")
        sf.write(big, stereo, RATE, subtype="PCM_16")
        del stereo, left
        rss, cpu = peak_rss_kb([a.cli, "-i", big, "-o", os.path.join(tmp, "stereo_out.wav"), "-t", "1"])
        res["memory"] = {"file": f"{a.memory_minutes:g} min stereo 48 kHz 16-bit", "peak_rss_kb": rss,
                         "cpu_seconds": cpu, "rtf_per_channel": cpu / (2 * n / RATE)}
        print(f"calyx_cli peak RSS {rss} KB on {a.memory_minutes:g} min stereo", flush=True)
    out = subprocess.run([a.alloc], stdout=subprocess.PIPE, check=True).stdout.decode()
    res["engine_heap"] = json.loads(out)
    print(f"engine heap per channel {res['engine_heap']['per_channel']} bytes", flush=True)
    with open(a.out, "w") as f:
        json.dump(res, f, indent=1)


if __name__ == "__main__":
    main()
