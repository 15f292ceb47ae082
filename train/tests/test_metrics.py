import numpy as np
import torch

from calyx_train import loss, metrics

RATE = 48000


def speech_like(seed, seconds=3.0, rate=RATE):
    """Voiced bursts: harmonics of a drifting pitch, syllable-rate envelope, pauses."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * rate)) / rate
    f0 = 140.0 + 30.0 * np.sin(2 * np.pi * 0.7 * t)
    phase = 2 * np.pi * np.cumsum(f0) / rate
    x = sum(np.sin(k * phase + rng.uniform(0, 2 * np.pi)) / k for k in range(1, 25))
    env = np.clip(np.sin(2 * np.pi * 3.0 * t + rng.uniform(0, 6)), 0, None) ** 2
    env *= (np.sin(2 * np.pi * 0.45 * t) > -0.3)  # pauses between phrases
    return (0.1 * x * env).astype(np.float64)


def test_si_sdr_hand_computed_and_like_the_loss():
    # zero-mean reference; projection 1.5 * ref, residual energy 1 against 9
    assert abs(metrics.si_sdr([2, -1, 1, -2], [1, -1, 1, -1]) - 10 * np.log10(9.0)) < 1e-6
    rng = np.random.default_rng(41)
    ref = rng.standard_normal(RATE)
    est = 0.7 * ref + 0.2 * rng.standard_normal(RATE) + 0.05
    want = float(loss.si_sdr(torch.from_numpy(est)[None], torch.from_numpy(ref)[None]))
    assert abs(metrics.si_sdr(est, ref) - want) < 1e-9
    # orthogonal residual at exactly -10 dB, any overall scale
    noise = rng.standard_normal(RATE)
    ref0, noise = ref - ref.mean(), noise - noise.mean()
    noise -= np.dot(noise, ref0) / np.dot(ref0, ref0) * ref0
    noise *= np.linalg.norm(ref0) / np.linalg.norm(noise) * 10 ** (-10 / 20)
    assert abs(metrics.si_sdr(-3.0 * (ref0 + noise), ref0) - 10.0) < 1e-6
    try:
        metrics.si_sdr(ref[:10], ref[:11])
        raise AssertionError("length mismatch accepted")
    except ValueError:
        pass


def test_third_octave_bands_hand_computed():
    a, cf = metrics.third_octave_matrix()
    assert a.shape == (15, 257)
    assert abs(cf[0] - 150.0) < 1e-9 and abs(cf[3] - 300.0) < 1e-9
    # band 0: edges 133.6 Hz and 168.4 Hz, bins of 19.53 Hz -> nearest bins 7 and 9
    assert list(np.flatnonzero(a[0])) == [7, 8]
    # band 14: edges 3394 Hz and 4276 Hz -> bins 174 ... 218
    hi = np.flatnonzero(a[14])
    assert hi[0] == 174 and hi[-1] == 218
    # bands tile the range without gaps or overlaps
    assert a.sum(axis=0).max() == 1.0
    for k in range(14):
        assert np.flatnonzero(a[k])[-1] + 1 == np.flatnonzero(a[k + 1])[0]


def test_silent_frame_removal_keeps_only_loud_frames():
    n, hop = metrics.FRAME, metrics.FRAME // 2
    x = np.full(n * 8, 1e-3)          # -60 dB against the burst
    x[n * 4:n * 5] = 1.0              # one loud stretch of one frame
    y = 2.0 * x
    xs, ys = metrics.remove_silent_frames(x, y)
    # frames start every 128 samples up to 1664; only those starting at 896, 1024
    # and 1152 overlap the burst, the rest lie 60 dB down and go
    kept = (len(xs) - n) // hop + 1
    assert kept == 3 and len(xs) == 2 * hop + n
    w = metrics.hann(n)
    assert np.allclose(xs[hop:n], w[hop:] * 1.0 + w[:hop] * 1.0)
    assert np.allclose(ys, 2.0 * xs)


def test_identical_and_scaled_signals_score_one():
    x = speech_like(43)
    assert abs(metrics.stoi(x, x, RATE) - 1.0) < 1e-9
    assert abs(metrics.estoi(x, x, RATE) - 1.0) < 1e-9
    # both are blind to the overall level of the processed signal
    assert abs(metrics.stoi(x, 0.25 * x, RATE) - 1.0) < 1e-9
    assert abs(metrics.estoi(x, 4.0 * x, RATE) - 1.0) < 1e-9
    # and work at other rates
    x16 = speech_like(43, rate=16000)
    assert abs(metrics.stoi(x16, x16, 16000) - 1.0) < 1e-9


def test_noise_lowers_scores_monotonically():
    x = speech_like(44)
    noise = np.random.default_rng(45).standard_normal(len(x))
    noise *= np.sqrt(np.mean(x ** 2) / np.mean(noise ** 2))
    s, e = [], []
    for snr in (20, 10, 0, -10):
        y = x + noise * 10 ** (-snr / 20)
        s.append(metrics.stoi(x, y, RATE))
        e.append(metrics.estoi(x, y, RATE))
    assert all(a > b for a, b in zip(s, s[1:])), s
    assert all(a > b for a, b in zip(e, e[1:])), e
    assert s[0] > 0.9 and s[-1] < 0.75, s
    assert e[0] > 0.8 and e[-1] < 0.5, e


def test_trailing_silence_changes_nothing():
    x = speech_like(46, seconds=2.0)
    x[-RATE // 5:] = 0.0  # already ends in silence
    y = x + 0.02 * np.random.default_rng(47).standard_normal(len(x))
    pad = np.zeros(RATE)
    yp = np.concatenate([y, pad + 1e-9])
    xp = np.concatenate([x, pad])
    assert abs(metrics.stoi(x, y, RATE) - metrics.stoi(xp, yp, RATE)) < 1e-3
    assert abs(metrics.estoi(x, y, RATE) - metrics.estoi(xp, yp, RATE)) < 1e-3


def test_too_short_or_mismatched_input():
    x = speech_like(48, seconds=0.2)  # fewer than 30 frames of 12.8 ms
    assert metrics.stoi(x, x, RATE) == 0.0 and metrics.estoi(x, x, RATE) == 0.0
    try:
        metrics.stoi(x, x[:-1], RATE)
        raise AssertionError("length mismatch accepted")
    except ValueError:
        pass

