import numpy as np
import torch

from calyx_train.chain import LOOKAHEAD, Chain
from calyx_train.loss import aligned_si_sdr, si_sdr
from calyx_train.oracle import SKIP, identity_coefs, ideal_gains, optimised_gains

RNG_SEED = 23
RATE = 48000


def voiced(seconds, seed):
    """Harmonic tone at 150 Hz whose level swings 20 dB at 3 Hz: speech-like enough
    that band gains have something to separate from white noise."""
    t = np.arange(int(seconds * RATE)) / RATE
    rng = np.random.default_rng(seed)
    x = sum(np.sin(2 * np.pi * 150 * k * t + rng.uniform(0, 2 * np.pi)) / k for k in range(1, 30))
    env = 10 ** (-0.5 + 0.5 * np.sin(2 * np.pi * 3 * t))
    return (0.1 * x * env).astype(np.float32)


def test_ideal_gains_of_clean_input_pass_it_through():
    ch = Chain()
    x = torch.from_numpy(voiced(1.0, RNG_SEED))[None]
    spec = ch.analyse(x)
    gains = ideal_gains(ch, spec, spec)
    assert float(gains.min()) > 0.999  # 1 but for the guard against empty bands
    y = ch.synthesise(ch.apply(spec, gains, identity_coefs(1, spec.shape[1])))
    assert float(aligned_si_sdr(y, x, SKIP)) > 40.0


def test_ideal_gains_fall_two_frames_late():
    ch = Chain()
    spec = ch.analyse(torch.from_numpy(voiced(0.5, RNG_SEED))[None])
    clean = spec.clone()
    clean[0, 20] = 0.0  # a silent target frame
    gains = ideal_gains(ch, spec, clean)
    assert torch.all(gains[0, 20 + LOOKAHEAD] == 0.0)
    others = torch.ones(gains.shape[1], dtype=torch.bool)
    others[20 + LOOKAHEAD] = False
    assert float(gains[0, others].min()) > 0.999


def test_ideal_and_optimised_gains_remove_white_noise():
    ch = Chain()
    clean = voiced(1.0, RNG_SEED)
    rng = np.random.default_rng(RNG_SEED)
    noise = rng.standard_normal(clean.size).astype(np.float32)
    noise *= np.sqrt(np.mean(clean ** 2) / np.mean(noise ** 2))  # 0 dB SNR
    x = torch.from_numpy(clean + noise)[None]
    ref = torch.from_numpy(clean)[None]
    spec = ch.analyse(x)
    gains = ideal_gains(ch, spec, ch.analyse(ref))
    assert float(gains.min()) >= 0.0 and float(gains.max()) <= 1.0
    assert float(gains.min()) < 0.5  # some bands are mostly noise
    y = ch.synthesise(ch.apply(spec, gains, identity_coefs(1, spec.shape[1])))
    before = float(si_sdr(x[:, SKIP:], ref[:, SKIP:]))
    ideal = float(aligned_si_sdr(y, ref, SKIP))
    assert ideal > before + 5.0, (before, ideal)
    best_gains, best = optimised_gains(ch, spec, ref, gains, steps=15)
    assert float(best[0]) >= ideal - 1e-3, (ideal, float(best))
    # the returned gains really give the returned score
    y = ch.synthesise(ch.apply(spec, best_gains, identity_coefs(1, spec.shape[1])))
    assert abs(float(aligned_si_sdr(y, ref, SKIP)) - float(best[0])) < 1e-3


def test_measure_scores_the_network_as_the_chain_runs_it():
    from calyx_train.model import Network
    from calyx_train.oracle import measure
    torch.manual_seed(RNG_SEED)
    net = Network().eval()
    clean = voiced(1.0, RNG_SEED)
    noise = np.random.default_rng(RNG_SEED).standard_normal(clean.size).astype(np.float32) * 0.02
    (snr, inp, r), = measure(net, [(5, clean + noise, clean)], steps=0)
    x, ref = torch.from_numpy(clean + noise)[None], torch.from_numpy(clean)[None]
    assert abs(inp - float(si_sdr(x[:, SKIP:], ref[:, SKIP:]))) < 1e-6
    with torch.no_grad():
        y, _, _ = Chain()(net, x)
    assert abs(r["net"] + inp - float(aligned_si_sdr(y, ref, SKIP))) < 1e-3
    # the gains-only row differs from the full network only by the deep filter
    assert set(r) == {"net", "net gains", "ideal"} and r["net gains"] != r["net"]
