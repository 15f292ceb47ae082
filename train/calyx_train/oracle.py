"""How much of the improvement the frame processor allows does the network reach?

    python3 -m calyx_train.oracle --per-snr 12 --snrs 0,5

On the validation mixtures, on the toolkit's chain, prints the mean SI-SDR
improvement per input SNR of
  net        the network (the built-in blob, or --blob);
  net gains  the network's band gains alone, the deep filter passing the
             current frame through (what the filter adds is net - net gains);
  ideal      ideal band gains: each band's clean-to-noisy amplitude ratio
             (capped at 1) taken from the clean target, applied two frames
             late like the network's, with the deep filter passing the
             current frame through;
  optimised  band gains fitted to each mixture by gradient ascent on its
             SI-SDR, starting from the ideal ones (the best any per-frame
             band gains can do, with the filter passing through).
Both references know the clean speech, so they bound what gains can do; the
deep filter is left at identity because five free complex taps per bin can
rebuild almost any low band and give no useful bound.
"""
import argparse
import os
import sys

import numpy as np
import torch

from .blob import import_records, read_blob
from .chain import DF_BINS, DF_ORDER, LOOKAHEAD, Chain
from .loss import aligned_si_sdr, si_sdr
from .model import Network
from .train import HERE, validation_set

SKIP = 4800  # the first 100 ms, as in the validation score


def identity_coefs(batch, frames):
    """Deep-filter coefficients that pass the current band-gained frame through."""
    c = torch.zeros(batch, frames, DF_ORDER, DF_BINS, 2)
    c[:, :, DF_ORDER - 1, :, 0] = 1.0
    return c


def ideal_gains(chain, noisy_spec, clean_spec):
    """Clean-to-noisy band amplitude ratio, capped at 1, shifted by the look-ahead so
    that the gains of frame t fall on frame t - 2 as the chain applies them."""
    pn = (noisy_spec.abs() ** 2).double() @ chain.band_mean
    pc = (clean_spec.abs() ** 2).double() @ chain.band_mean
    ratio = torch.sqrt(pc / (pn + 1e-20)).clamp(max=1.0).float()
    T = ratio.shape[1]
    return torch.nn.functional.pad(ratio, (0, 0, LOOKAHEAD, 0), value=1.0)[:, :T]


def optimised_gains(chain, noisy_spec, ref, start, steps=250, lr=0.05):
    """Per-frame band gains fitted to maximise each row's SI-SDR; returns the best
    gains met and their SI-SDR per row."""
    B, T, _ = noisy_spec.shape
    coefs = identity_coefs(B, T)
    logit = torch.logit(start.clamp(1e-3, 1.0 - 1e-3)).clone().requires_grad_(True)
    opt = torch.optim.Adam([logit], lr=lr)
    best = torch.full((B,), -np.inf)
    best_gains = start.clone()
    for _ in range(steps):
        gains = torch.sigmoid(logit)
        s = aligned_si_sdr(chain.synthesise(chain.apply(noisy_spec, gains, coefs)), ref, SKIP)
        better = s.detach() > best
        best = torch.where(better, s.detach(), best)
        best_gains[better] = gains.detach()[better]
        opt.zero_grad()
        (-s.sum()).backward()
        opt.step()
    return best_gains, best


def measure(net, items, steps=250):
    """Per item: (snr, input SI-SDR, {name: improvement})."""
    chain = Chain()
    out = []
    for snr, noisy, clean in items:
        x = torch.from_numpy(noisy)[None]
        ref = torch.from_numpy(clean)[None]
        spec, clean_spec = chain.analyse(x), chain.analyse(ref)
        inp = float(si_sdr(x[:, SKIP:], ref[:, SKIP:]))
        with torch.no_grad():
            gains, net_coefs, _ = net(*chain.features(spec)[:2])
            coefs = identity_coefs(1, spec.shape[1])
            r = {}
            for name, c in (("net", net_coefs), ("net gains", coefs)):
                y = chain.synthesise(chain.apply(spec, gains, c))
                r[name] = float(aligned_si_sdr(y, ref, SKIP))
            ideal = ideal_gains(chain, spec, clean_spec)
            r["ideal"] = float(aligned_si_sdr(chain.synthesise(chain.apply(spec, ideal, coefs)), ref, SKIP))
        if steps > 0:
            r["optimised"] = float(optimised_gains(chain, spec, ref, ideal, steps)[1][0])
        out.append((snr, inp, {k: v - inp for k, v in r.items()}))
    return out


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    default_blob = os.path.join(HERE, "..", "nn", "weights", "calyx_weights.bin")
    ap.add_argument("--blob", default=default_blob)
    ap.add_argument("--cache", default=os.path.join(HERE, "cache"))
    ap.add_argument("--per-snr", type=int, default=12)
    ap.add_argument("--snrs", default="0,5", help="comma-separated input SNRs of the validation set")
    ap.add_argument("--steps", type=int, default=250, help="gradient steps for the optimised gains (0: skip)")
    a = ap.parse_args(argv)
    torch.set_num_threads(2)
    try:
        snrs = {int(s) for s in a.snrs.split(",")}
    except ValueError:
        ap.error(f"--snrs: not a list of integers: {a.snrs!r}")
    items = [it for it in validation_set(a.cache, per_snr=a.per_snr) if it[0] in snrs]
    if not items:
        ap.error(f"--snrs: the validation set has no mixtures at {sorted(snrs)} dB")
    net = Network().eval()
    import_records(net, read_blob(a.blob))
    rows = {}
    for snr, inp, r in measure(net, items, a.steps):
        rows.setdefault(snr, []).append(r)
        print(f"{snr:+d} dB, input {inp:6.2f} dB: " + ", ".join(f"{k} {v:+.2f}" for k, v in r.items()), flush=True)
    print("mean SI-SDR improvement (dB):")
    for snr in sorted(rows):
        names = rows[snr][0].keys()
        means = {k: float(np.mean([r[k] for r in rows[snr]])) for k in names}
        share = means["net"] / means["ideal"] if means["ideal"] > 0 else float("nan")
        print(f"  {snr:+d} dB ({len(rows[snr])} mixtures): " + ", ".join(f"{k} {v:+.2f}" for k, v in means.items())
              + f"; net / ideal {share:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
