import numpy as np

from calyx_train.stoi import stoi, third_octave_matrix


def _speech_like(seed, seconds=2.0, fs=48000):
    """Harmonic tone with a syllable-rate envelope and pauses (seeded)."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * fs)) / fs
    f0 = 140 + 20 * np.sin(2 * np.pi * 0.7 * t)
    phase = 2 * np.pi * np.cumsum(f0) / fs
    x = sum(np.sin(k * phase + rng.uniform(0, 6.28)) / k for k in range(1, 25))
    env = np.clip(np.sin(2 * np.pi * 3.0 * t), 0, None) ** 2
    return x * env


def test_identical_and_scaled_signals_score_one():
    x = _speech_like(1)
    assert abs(stoi(x, x, 48000) - 1.0) < 1e-9
    assert abs(stoi(x, 0.3 * x, 48000) - 1.0) < 1e-9


def test_score_falls_with_noise_and_is_low_for_unrelated_signals():
    x = _speech_like(2)
    noise = np.random.default_rng(3).standard_normal(len(x))
    p = np.sqrt(np.mean(x ** 2))
    scores = [stoi(x, x + noise * p * 10 ** (-snr / 20), 48000) for snr in (-10, 0, 10, 20)]
    assert all(a < b for a, b in zip(scores, scores[1:])), scores
    assert scores[-1] > 0.9 and scores[0] < 0.75
    assert stoi(x, noise, 48000) < scores[0]


def test_band_layout():
    m = third_octave_matrix()
    assert m.shape == (15, 257)
    assert m.sum() > 0 and np.all(m.sum(0) <= 1)  # bands do not overlap
    assert np.argmax(m[0]) == 7                     # the first band starts near 136 Hz (bin 7 of 19.5 Hz)
