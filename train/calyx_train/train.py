"""Trainer: `python3 -m calyx_train.train --minutes N [options]`.

Runs for a fixed wall-clock budget, logs progress to <run>/train.log, validates
on held-out speakers and noise, keeps <run>/latest.pt and <run>/best.pt and
exports the best weights as <run>/best.bin in the engine's blob format.
Resume with --resume <checkpoint.pt | weights.bin>.
"""
import argparse
import ctypes.util
import json
import math
import os
import sys
import time

# OpenBLAS's own worker threads wait by spinning on sched_yield and fought
# PyTorch's threads for the 2 cores (17 % system time); with single-threaded
# BLAS training ran about 5 % faster here. Set before numpy or torch load it.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

ALLOCATOR_VAR = "CALYX_TRAIN_ALLOCATOR"


def allocator_environment(environ, tcmalloc):
    """The environment to re-run the trainer in with tcmalloc preloaded, or None
    to stay. glibc serves every block over 32 MB with a fresh mmap, so each
    step's large activations (batch 8 x 3 s) were page-faulted in and zeroed
    again: 2.7 s per step against 1.3 s with tcmalloc, which keeps them.
    `CALYX_TRAIN_ALLOCATOR=system` keeps glibc's allocator."""
    if environ.get(ALLOCATOR_VAR) or not tcmalloc or "tcmalloc" in environ.get("LD_PRELOAD", ""):
        return None
    env = dict(environ)
    env["LD_PRELOAD"] = " ".join(filter(None, [tcmalloc, environ.get("LD_PRELOAD", "")]))
    env[ALLOCATOR_VAR] = "tcmalloc"
    return env


if __name__ == "__main__":
    _env = allocator_environment(os.environ, ctypes.util.find_library("tcmalloc_minimal"))
    if _env is not None:
        os.execve(sys.executable, [sys.executable, "-m", "calyx_train.train"] + sys.argv[1:], _env)

import numpy as np  # noqa: E402
import torch  # noqa: E402

from .blob import export_records, import_records, read_blob, recalibrate_batch_norm, write_blob
from .chain import HOP, Chain
from .data import BABBLE_SHARE, Corpus, Mixer, parse_noise_weight
from .loss import aligned_si_sdr, si_sdr, total_loss
from .model import Network

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VALID_SNRS = (-5, 0, 5, 10, 15, 20)


class Batches(torch.utils.data.IterableDataset):
    def __init__(self, cache, batch, seconds, seed, start_step, snr_focus=0.0, noise_vary=0.0,
                 babble=BABBLE_SHARE, noise_weight=None, speech_vary=0.0):
        self.cache, self.batch, self.seed, self.start = cache, batch, seed, start_step
        self.snr_focus, self.noise_vary, self.babble = snr_focus, noise_vary, babble
        self.noise_weight, self.speech_vary = noise_weight, speech_vary
        self.length = int(round(seconds * 48000 / HOP)) * HOP

    def __iter__(self):
        mixer = Mixer(Corpus(self.cache), "train", self.length, self.snr_focus, self.noise_vary,
                      self.babble, self.noise_weight, self.speech_vary)
        step = self.start
        while True:
            rng = np.random.default_rng([self.seed, step])
            pairs = [mixer.draw(rng) for _ in range(self.batch)]
            yield (torch.from_numpy(np.stack([p[0] for p in pairs])),
                   torch.from_numpy(np.stack([p[1] for p in pairs])))
            step += 1


def validation_set(cache, per_snr=4, seconds=4.0, seed=20240601, descriptions=None):
    """Fixed held-out mixtures: per_snr at each SNR, plus clean inputs (snr None).
    A list given as descriptions receives what each mixture holds (Mixer.last_mix)."""
    length = int(round(seconds * 48000 / HOP)) * HOP
    mixer = Mixer(Corpus(cache), "valid", length)
    rng = np.random.default_rng(seed)
    items = []
    for snr in list(VALID_SNRS) + [None]:
        for _ in range(per_snr if snr is not None else max(2, per_snr // 2)):
            noisy, clean = mixer.draw(rng, snr_db=snr if snr is not None else math.inf,
                                      reverb=snr is not None)
            items.append((snr, noisy, clean))
            if descriptions is not None:
                descriptions.append(mixer.last_mix)
    return items


@torch.no_grad()
def evaluate(net, chain, items, batch=8):
    """Mean SI-SDR of input and output per SNR (output aligned for the chain delay)."""
    was = net.training
    net.eval()
    res = {}
    for i in range(0, len(items), batch):
        chunk = items[i:i + batch]
        x = torch.from_numpy(np.stack([c[1] for c in chunk]))
        ref = torch.from_numpy(np.stack([c[2] for c in chunk]))
        y, _, _ = chain(net, x)
        skip = 4800  # the first 100 ms: normalisation means still settling
        out = aligned_si_sdr(y, ref, skip)
        inp = si_sdr(x[:, skip:], ref[:, skip:])
        for (snr, _, _), a, b in zip(chunk, inp.tolist(), out.tolist()):
            res.setdefault(snr, []).append((a, b))
    net.train(was)
    summary = {}
    for snr, v in res.items():
        a = np.array(v)
        summary[snr] = (float(a[:, 0].mean()), float(a[:, 1].mean()))
    return summary


def format_eval(summary):
    parts = []
    for snr in list(VALID_SNRS) + [None]:
        if snr in summary:
            i, o = summary[snr]
            name = "clean" if snr is None else f"{snr:+d}dB"
            parts.append(f"{name}: {i:.1f}->{o:.1f}")
    return " | ".join(parts)


def score(summary):
    """Mean SI-SDR improvement over the noisy SNRs; clean input counts by its output."""
    imp = [summary[s][1] - summary[s][0] for s in VALID_SNRS if s in summary]
    clean = summary.get(None, (0.0, 30.0))[1]
    return float(np.mean(imp)) + 0.1 * min(clean, 30.0)


def lr_at(frac, step, base, warmup, constant=False):
    """Linear warm-up over this run's first steps, then cosine decay over its
    time budget down to 5 % (or the full rate throughout with `constant`, for
    runs whose snapshots are averaged). `step` counts from the start of this
    run, so a resumed run warms up again instead of jumping to the full rate."""
    w = min(1.0, (step + 1) / warmup)
    if constant:
        return base * w
    return base * w * (0.05 + 0.95 * 0.5 * (1.0 + math.cos(math.pi * min(frac, 1.0))))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--minutes", type=float, required=True, help="wall-clock training budget")
    ap.add_argument("--run", default=os.path.join(HERE, "runs", "main"), help="run folder")
    ap.add_argument("--cache", default=os.path.join(HERE, "cache"))
    ap.add_argument("--batch", type=int, default=8)
    ap.add_argument("--seconds", type=float, default=3.0, help="length of each training mixture")
    ap.add_argument("--lr", type=float, default=1e-3)
    ap.add_argument("--warmup", type=int, default=50)
    ap.add_argument("--w-sisdr", type=float, default=0.0, help="weight of the SI-SDR term (per dB)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--snr-focus", type=float, default=0.0,
                    help="share of training mixtures drawn at -2..8 dB SNR instead of -5..20 dB")
    ap.add_argument("--noise-vary", type=float, default=0.0,
                    help="chance of each random variation of the noise (speed, colouring, "
                         "level sweep, synthetic noise); 0 keeps the old data stream")
    ap.add_argument("--constant-lr", action="store_true",
                    help="no cosine decay: keep the rate after warm-up (for averaged snapshots)")
    ap.add_argument("--snapshots", action="store_true",
                    help="keep the weights of every validation as snap_<step>.pt (see calyx_train.average)")
    ap.add_argument("--speech-vary", type=float, default=0.0,
                    help="chance that the talker is played 0.85..1.15 times as fast (pitch, "
                         "formants, tempo); 0 keeps the old data stream")
    ap.add_argument("--babble", type=float, default=BABBLE_SHARE,
                    help="share of training mixtures whose noise is babble of other speakers")
    ap.add_argument("--noise-weight", default="",
                    help="GROUP=FACTOR[,...]: draw noise recordings whose group contains GROUP "
                         "FACTOR times as often (e.g. music=2)")
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--device", default="cpu")
    ap.add_argument("--resume", help="checkpoint (.pt) or weight blob (.bin) to start from")
    ap.add_argument("--validate-every", type=float, default=12.0, help="minutes between validations")
    a = ap.parse_args(argv)

    missing = [f for f in ("speech.i16", "speech.json", "noise.i16", "noise.json")
               if not os.path.isfile(os.path.join(a.cache, f))]
    if missing:
        ap.error(f"no training cache in {a.cache} (missing {', '.join(missing)}): "
                 "build it first with `python3 -m calyx_train.data`")
    if not 0.0 <= a.snr_focus <= 1.0:
        ap.error("--snr-focus must lie in [0, 1]")
    if not 0.0 <= a.noise_vary <= 1.0:
        ap.error("--noise-vary must lie in [0, 1]")
    if not 0.0 <= a.babble <= 1.0:
        ap.error("--babble must lie in [0, 1]")
    if not 0.0 <= a.speech_vary <= 1.0:
        ap.error("--speech-vary must lie in [0, 1]")
    try:
        noise_weight = parse_noise_weight(a.noise_weight)
    except ValueError as e:
        ap.error(f"--noise-weight: {e}")
    if noise_weight:
        # a misspelt group would silently weight nothing
        with open(os.path.join(a.cache, "noise.json")) as f:
            noise_groups = {e["group"] for e in json.load(f)}
        unknown = [k for k in noise_weight if not any(k in g for g in noise_groups)]
        if unknown:
            ap.error(f"--noise-weight: no noise group contains {', '.join(unknown)} "
                     f"(groups: {', '.join(sorted(noise_groups))})")
    if a.resume and not os.path.isfile(a.resume):
        ap.error(f"--resume: no such file {a.resume}")
    torch.manual_seed(a.seed)
    torch.set_num_threads(a.threads)
    os.makedirs(a.run, exist_ok=True)
    log = open(os.path.join(a.run, "train.log"), "a")

    def say(msg):
        line = time.strftime("%H:%M:%S ") + msg
        print(line, flush=True)
        log.write(line + "\n")
        log.flush()

    dev = torch.device(a.device)
    net = Network().to(dev)
    chain = Chain().to(dev)
    opt = torch.optim.AdamW(net.parameters(), lr=a.lr, weight_decay=1e-4)
    step, best, trained_minutes = 0, -1e9, 0.0
    if a.resume:
        if a.resume.endswith(".bin"):
            import_records(net, read_blob(a.resume))
            say(f"weights from blob {a.resume}")
        else:
            ck = torch.load(a.resume, map_location=dev)
            net.load_state_dict(ck["net"])
            opt.load_state_dict(ck["opt"])
            step, best = ck["step"], ck.get("best", best)
            trained_minutes = ck.get("trained_minutes", 0.0)
            say(f"resumed {a.resume} at step {step} ({trained_minutes:.1f} min trained)")

    say(f"run {a.run}: {a.minutes} min, batch {a.batch} x {a.seconds} s, lr {a.lr}{' (constant)' if a.constant_lr else ''}, seed {a.seed}, "
        f"threads {a.threads}, device {a.device}, w_sisdr {a.w_sisdr}, snr_focus {a.snr_focus}, noise_vary {a.noise_vary}, speech_vary {a.speech_vary}, "
        f"babble {a.babble}, noise_weight {noise_weight or 'none'}, allocator {'tcmalloc' if 'tcmalloc' in os.environ.get('LD_PRELOAD', '') else 'system'}")
    items = validation_set(a.cache)
    if a.resume and a.resume.endswith(".bin"):
        # A blob holds folded normalisation only: measure the statistics that the
        # folded factors imply on training batches, so the first steps in training
        # mode start from the blob's behaviour instead of a sudden drop, and let
        # best.bin be written only when it beats the blob.
        cal = iter(Batches(a.cache, a.batch, a.seconds, a.seed + 7919, 0))

        def forwards():
            for _ in range(16):
                chain(net, next(cal)[0].to(dev))

        recalibrate_batch_norm(net, forwards)
        best = score(evaluate(net, chain, items))
        say(f"normalisation recalibrated on 16 batches; blob scores {best:.2f}")
    loader = torch.utils.data.DataLoader(Batches(a.cache, a.batch, a.seconds, a.seed, step, a.snr_focus,
                                                 a.noise_vary, a.babble, noise_weight, a.speech_vary),
                                         batch_size=None, num_workers=1, prefetch_factor=4)

    def save(path, extra=None):
        ck = {"net": net.state_dict(), "opt": opt.state_dict(), "step": step, "best": best,
              "trained_minutes": trained_minutes + (time.time() - t_start) / 60.0}
        ck.update(extra or {})
        torch.save(ck, path + ".tmp")
        os.replace(path + ".tmp", path)

    def validate():
        nonlocal best
        summ = evaluate(net, chain, items)
        sc = score(summ)
        say(f"validation step {step}: score {sc:.2f} | {format_eval(summ)}")
        save(os.path.join(a.run, "latest.pt"))
        if a.snapshots:
            torch.save({"net": net.state_dict(), "step": step, "score": sc},
                       os.path.join(a.run, f"snap_{step:06d}.pt"))
        if sc > best:
            best = sc
            save(os.path.join(a.run, "best.pt"))
            write_blob(os.path.join(a.run, "best.bin"), export_records(net))
            say(f"new best {sc:.2f}: exported best.bin")

    t_start = time.time()
    budget = a.minutes * 60.0
    last_val = t_start
    first_step = step
    audio, t_win, acc = 0.0, time.time(), {}
    for noisy, clean in loader:
        elapsed = time.time() - t_start
        if elapsed >= budget:
            break
        for g in opt.param_groups:
            g["lr"] = lr_at(elapsed / budget, step - first_step, a.lr, a.warmup, a.constant_lr)
        noisy, clean = noisy.to(dev), clean.to(dev)
        y, enh, _ = chain(net, noisy)
        with torch.no_grad():
            clean_spec = chain.analyse(clean)
        loss, parts = total_loss(y, enh, clean, clean_spec, a.w_sisdr)
        opt.zero_grad(set_to_none=True)
        loss.backward()
        gn = torch.nn.utils.clip_grad_norm_(net.parameters(), 1.0)
        if not torch.isfinite(gn):
            say(f"step {step}: non-finite gradient, batch skipped")
            continue
        opt.step()
        step += 1
        audio += noisy.numel() / 48000.0
        for k, v in dict(parts, loss=float(loss)).items():
            acc[k] = acc.get(k, 0.0) + v
        acc["n"] = acc.get("n", 0) + 1
        if step % 5 == 0:
            dt = time.time() - t_win
            n = acc.pop("n")
            sdr = f" sisdr {acc['sisdr'] / n:.2f}" if "sisdr" in acc else ""
            say(f"step {step} loss {acc['loss'] / n:.4f} (mag {acc['mag'] / n:.5f} cplx {acc['cplx'] / n:.5f} "
                f"mr {acc['mr'] / n:.4f}{sdr}) lr {opt.param_groups[0]['lr']:.2e} "
                f"{audio / dt:.1f} s audio/s, {elapsed / 60:.1f}/{a.minutes:.0f} min")
            audio, t_win, acc = 0.0, time.time(), {}
        if time.time() - last_val >= a.validate_every * 60.0:
            validate()
            last_val = time.time()
    validate()
    say(f"done: {step} steps, best score {best:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
