"""Writes docs/BENCHMARKS.md and its plots from the results of score.py and speed.py:

    python3 report.py --quality quality.json --speed speed.json --docs ../../docs [--elapsed S]
"""
import argparse
import datetime
import hashlib
import json
import os
import platform
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SNRS = ("-5", "0", "5", "10", "15", "20")
METRICS = (("si_sdri", "SI-SDR improvement (dB)", "{:+.2f}"), ("stoi", "STOI", "{:.3f}"),
           ("estoi", "extended STOI", "{:.3f}"))


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def provenance():
    try:
        commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                                text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        commit = "unknown"
    blob = os.path.join(ROOT, "nn", "weights", "calyx_weights.bin")
    digest = "missing"
    if os.path.exists(blob):
        with open(blob, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()[:16]
    return commit, digest


def plot(q, key, title, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(6.4, 4.0))
    xs = [int(s) for s in SNRS]
    for sysk, s in q["systems"].items():
        ys = [s["by_condition"][c][key] for c in SNRS]
        style = dict(lw=2.5, color="black") if sysk == "calyx" else dict(lw=1.5)
        if sysk == "noisy":
            style = dict(lw=1.2, ls="--", color="grey")
        ax.plot(xs, ys, marker="o", label=s["label"], **style)
    ax.set_xlabel("input SNR (dB)")
    ax.set_ylabel(title)
    ax.set_xticks(xs)
    ax.grid(alpha=0.3)
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def table(q, key, fmt):
    head = "| system | " + " | ".join(f"{s} dB" for s in SNRS) + " | clean input |"
    rows = [head, "|" + "---|" * (len(SNRS) + 2)]
    for s in q["systems"].values():
        c = s["by_condition"]
        clean = c["clean"]["si_sdr_out"] if key == "si_sdri" else c["clean"][key]
        if key == "si_sdri":
            clean_txt = "exact" if clean > 100 else f"{clean:.1f} dB"
        else:
            clean_txt = fmt.format(clean)
        rows.append(f"| {s['label']} | " + " | ".join(fmt.format(c[x][key]) for x in SNRS) + f" | {clean_txt} |")
    return "\n".join(rows)


def write(q, sp, docs, elapsed):
    os.makedirs(os.path.join(docs, "benchmarks"), exist_ok=True)
    for key, title, _ in METRICS:
        plot(q, key, title, os.path.join(docs, "benchmarks", f"{key}.png"))
    commit, digest = provenance()
    st = q["set"]
    calyx = q["systems"]["calyx"]["by_condition"]
    sysq = q["systems"]
    spd = sp["systems"]
    L = []
    L.append("# Benchmarks: calyx next to other noise suppressors\n")
    L.append(f"Generated {datetime.datetime.utcnow():%Y-%m-%d %H:%M} UTC by `bash bench/quality/run_all.sh` "
             f"(commit {commit}, weights `nn/weights/calyx_weights.bin` sha256 {digest}…, "
             f"{cpu_model()}, {os.cpu_count()} cores"
             + (f", whole run {elapsed / 60:.1f} min" if elapsed else "") + "). "
             "Every figure below comes from that one run on that one machine.\n")
    L.append("## Test set\n")
    L.append(f"{q['items']} mixtures of {st['seconds']:.1f} s at 48000 Hz, {st['per_snr']} per condition "
             f"(seed {st['seed']}): dry speech of the held-out speakers ({', '.join(st['speakers'])}) "
             f"with the held-out noise files (the last file of each of the {len(st['noise_files'])} noise "
             "categories that have three or more; "
             "babble from other held-out speakers) at input SNRs of -5 to 20 dB, plus clean input; "
             "each condition mixes the same speech with the same noise, only the SNR differs. "
             "None of this material is used in training. Mixtures come from the training toolkit's "
             "mixer (speech level -40 to -15 dBFS, peaks below 0.95).\n")
    L.append("## Systems\n")
    L.append("| system | setting | alignment lag |")
    L.append("|---|---|---|")
    for s in sysq.values():
        L.append(f"| {s['label']} | {s['setting']} | {s['lag_samples']} samples ({s['lag_samples'] / 48:.1f} ms) |")
    L.append("\nEach output is shifted by its system's lag (the median cross-correlation peak against "
             "the clean speech over the items at 10 dB and above) before scoring; the first 100 ms "
             "of every item are left out. SI-SDR improvement is output SI-SDR minus input SI-SDR on "
             "the same samples; in the clean-input column the SI-SDR table holds the output's own "
             "SI-SDR against the clean input (how little a system damages clean speech; the "
             "unprocessed floor is exact there). STOI (Taal et al. 2011) and extended STOI (Jensen and "
             "Taal 2016) are computed by `train/calyx_train/metrics.py`, shared with the training "
             "toolkit.\n")
    for key, title, fmt in METRICS:
        L.append(f"## {title}\n")
        L.append(table(q, key, fmt))
        L.append(f"\n![{title} against input SNR](benchmarks/{key}.png)\n")
    L.append("## Speed\n")
    L.append(f"CPU time of the whole process (user + system, start-up included) divided by the audio "
             f"duration, on one {sp['audio_seconds']:.0f} s mono 48 kHz file (all noisy items back to "
             f"back), best of {sp.get('repeat', 1)} runs; lower is faster. The steady rate leaves out the start-up "
             "cost measured on the first second alone (RNNoise's includes starting Node.js and "
             "compiling its WebAssembly module).\n")
    L.append("| system | real-time factor | steady real-time factor | start-up CPU | calyx ÷ system |")
    L.append("|---|---|---|---|---|")
    c_rtf = spd["calyx"]["rtf"]
    for k, s in spd.items():
        ratio = "1" if k == "calyx" else f"{c_rtf / s['rtf']:.2f}"
        L.append(f"| {s['label']} | {s['rtf']:.4f} | {s['rtf_steady']:.4f} | {s['startup_cpu_seconds']:.2f} s | {ratio} |")
    m, h = sp["memory"], sp["engine_heap"]
    L.append("\n## Memory\n")
    L.append(f"- Peak resident set of `calyx_cli` on a {m['file']} file (`/usr/bin/time -v`): "
             f"{m['peak_rss_kb'] / 1024:.1f} MiB (it streams the file block by block; real-time factor "
             f"per channel there {m['rtf_per_channel']:.4f}).")
    L.append(f"- Engine heap per channel (`calyx_engine_alloc`, heap in use after `CX_SETUP` with 8 "
             f"channels minus 1 channel, divided by 7): {h['per_channel'] / 1024:.0f} KiB; shared by all "
             f"channels of a handle (the parsed parameter table): {h['shared'] / 1048576:.2f} MiB. "
             f"Nothing stays allocated between `CX_PROCESS` calls. Reported latency "
             f"{h['latency_ms']:.1f} ms.\n")
    L.append("## Headline\n")
    peers = [k for k in sysq if k not in ("calyx", "noisy")]
    best = {snr: max(peers, key=lambda k: sysq[k]["by_condition"][snr]["stoi"]) for snr in ("0", "10")}
    parts = []
    for snr in ("0", "10"):
        b = sysq[best[snr]]["by_condition"][snr]
        parts.append(f"at {snr} dB input SNR calyx improves SI-SDR by {calyx[snr]['si_sdri']:+.1f} dB with STOI "
                     f"{calyx[snr]['stoi']:.3f} (unprocessed {sysq['noisy']['by_condition'][snr]['stoi']:.3f}; "
                     f"best peer by STOI {sysq[best[snr]]['label']}: {b['si_sdri']:+.1f} dB, {b['stoi']:.3f})")
    rt = ", ".join(f"{s['label']} {s['rtf']:.3f}" for s in spd.values())
    ratios = " / ".join("{:.2f}×".format(c_rtf / spd[k]["rtf"]) for k in peers)
    names = " / ".join(spd[k]["label"] for k in peers)
    L.append("In this run " + "; ".join(parts) + f". Real-time factors: {rt} "
             f"(calyx takes {ratios} the CPU time of {names}).\n")
    with open(os.path.join(docs, "BENCHMARKS.md"), "w") as f:
        f.write("\n".join(L))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quality", required=True)
    ap.add_argument("--speed", required=True)
    ap.add_argument("--docs", default=os.path.join(ROOT, "docs"))
    ap.add_argument("--elapsed", type=float, default=0.0, help="seconds the whole run took")
    a = ap.parse_args()
    with open(a.quality) as f:
        q = json.load(f)
    with open(a.speed) as f:
        sp = json.load(f)
    write(q, sp, a.docs, a.elapsed)
    print(f"wrote {os.path.join(a.docs, 'BENCHMARKS.md')}")


if __name__ == "__main__":
    main()
