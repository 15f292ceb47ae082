import numpy as np
import torch

from calyx_train.chain import DELAY, Chain, sine_window

RNG_SEED = 21


def test_window_values():
    w = sine_window()
    assert abs(w[0] - 0.0016345) < 1e-6 and abs(w[959] - 0.0049036) < 1e-6
    ola = w[:480] ** 2 + w[480:] ** 2
    assert ola.min() >= 1.0000026 and ola.max() <= 1.0016346


def test_unit_gains_and_single_tap_reconstruct_delayed_input():
    ch = Chain()
    rng = np.random.default_rng(RNG_SEED)
    x = torch.from_numpy(rng.uniform(-0.5, 0.5, (2, 480 * 20)).astype(np.float32))
    spec = ch.analyse(x)
    B, T, _ = spec.shape
    gains = torch.ones(B, T, 32)
    coefs = torch.zeros(B, T, 5, 96, 2)
    coefs[:, :, 4, :, 0] = 1.0
    y = ch.synthesise(ch.apply(spec, gains, coefs))
    err = (y[:, DELAY:] - x[:, :-DELAY]).abs().max()
    assert err <= 0.0017 * 0.5, err
    assert y[:, :2 * 480].abs().max() == 0  # the first two hops are silent


def test_gains_act_two_frames_late_and_filter_reaches_back_four_frames():
    ch = Chain()
    spec = torch.randn(1, 10, 481, dtype=torch.complex64)
    gains = torch.ones(1, 10, 32)
    gains[0, 6, 3] = 0.0  # band 3 (bins 6, 7) of output frame 6
    coefs = torch.zeros(1, 10, 5, 96, 2)
    coefs[0, :, 4, :, 0] = 1.0
    out = ch.apply(spec, gains, coefs)
    assert torch.allclose(out[0, 5, 6:8], spec[0, 3, 6:8])
    assert torch.all(out[0, 6, 6:8] == 0)
    assert torch.allclose(out[0, 6, 8:], spec[0, 4, 8:])
    # tap 0 of frame 8 reads the band-gained frame 4 (input frame 2)
    coefs = torch.zeros(1, 10, 5, 96, 2)
    coefs[0, 8, 0, :, 1] = 1.0  # multiply by i
    out = ch.apply(spec, torch.ones(1, 10, 32), coefs)
    assert torch.allclose(out[0, 8, :96], 1j * spec[0, 2, :96])
    assert torch.allclose(out[0, 8, 96:], spec[0, 6, 96:])


def test_features_of_silence_stay_finite_and_levels_are_floor():
    ch = Chain()
    x = torch.zeros(1, 480 * 3000)  # 30 s of digital silence
    erb, spec, (erb_m, spec_m) = ch.features(ch.analyse(x))
    assert torch.isfinite(erb).all() and torch.isfinite(spec).all()
    assert torch.all(spec_m >= 1e-8)
    # band levels of silence are -100 dB; the mean approaches them from its start line
    assert abs(float(erb_m[0, 0]) + 100.0) < 1e-3


def test_first_feature_frame_against_direct_formula():
    ch = Chain()
    rng = np.random.default_rng(RNG_SEED + 1)
    x = rng.uniform(-0.3, 0.3, 480).astype(np.float64)
    erb, spec, _ = ch.features(ch.analyse(torch.from_numpy(x.astype(np.float32))[None]))
    frame = np.concatenate([np.zeros(480), x]) * sine_window().astype(np.float64) * 0.0016345471
    X = np.fft.rfft(frame)
    p = np.abs(X) ** 2
    band = 10 * np.log10(p[2:4].mean() + 1e-10)  # band 1 holds bins 2, 3
    m = 0.99 * (-60 - 30 / 31) + 0.01 * band
    assert abs(float(erb[0, 0, 1]) - (band - m) * 0.025) < 1e-4
    n5 = 0.01 * abs(X[5]) + 0.99 * (0.001 - 5 * 0.0009 / 95)
    assert abs(float(spec[0, 0, 5]) - X[5].real / np.sqrt(n5)) < 1e-3 * max(1, abs(X[5].real / np.sqrt(n5)))
    assert abs(float(spec[0, 0, 96 + 5]) - X[5].imag / np.sqrt(n5)) < 1e-3 * max(1, abs(X[5].imag / np.sqrt(n5)))
