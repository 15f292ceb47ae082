"""Random variations of the training noise and speech: each must do what its
name says, since a wrong filter or slope would only show as a weaker model."""
import math

import numpy as np
from scipy import signal

from calyx_train.data import RATE, coloured_noise, level_sweep, peaking_eq, peaking_section


def test_peaking_section_has_its_gain_at_the_centre_and_none_far_away():
    for f0, gain, q in [(150.0, 9.0, 0.7), (2500.0, -12.0, 2.0), (11000.0, 6.0, 1.0)]:
        sos = np.array([peaking_section(f0, gain, q)])
        _, h = signal.sosfreqz(sos, worN=[20.0, f0, 23000.0], fs=RATE)
        db = 20.0 * np.log10(np.abs(h))
        assert abs(db[1] - gain) < 0.01, (f0, db)
        assert abs(db[0]) < 1.0 and abs(db[2]) < 1.0, (f0, db)


def test_peaking_eq_stays_within_its_gain_range():
    rng = np.random.default_rng(3)
    x = rng.standard_normal(RATE).astype(np.float32)
    for _ in range(10):
        y = peaking_eq(rng, x, 3, 6.0)
        assert y.dtype == np.float32 and y.shape == x.shape
        # three bands of at most 6 dB each: the level moves by less than 18 dB
        change = 20.0 * math.log10(np.sqrt(np.mean(y ** 2) / np.mean(x ** 2)))
        assert abs(change) < 18.0


def test_coloured_noise_has_the_asked_slope_per_octave():
    rng = np.random.default_rng(4)
    for slope in (-9.0, -3.0, 0.0, 3.0):
        x = coloured_noise(rng, 4 * RATE, slope)
        f, p = signal.welch(x, RATE, nperseg=4096)

        def band_db(lo):
            return 10.0 * np.log10(np.mean(p[(f >= lo) & (f < 2 * lo)]))
        # octave bands 500-1000, 1000-2000, 2000-4000, 4000-8000 Hz
        steps = np.diff([band_db(lo) for lo in (500.0, 1000.0, 2000.0, 4000.0)])
        assert np.all(np.abs(steps - slope) < 0.5), (slope, steps)
    drawn = [coloured_noise(np.random.default_rng(s), 4800) for s in range(3)]
    assert all(np.isfinite(d).all() and d.std() > 0 for d in drawn)


def test_level_sweep_moves_between_its_depth_and_full_level():
    rng = np.random.default_rng(5)
    for depth in (3.0, 15.0):
        g = level_sweep(rng, 3 * RATE, depth)
        db = 20.0 * np.log10(g)
        assert g.shape == (3 * RATE,) and db.max() <= 1e-6 and db.min() >= -depth - 1e-6
        assert db.max() - db.min() > 0.1 * depth
        # no jumps: the level moves smoothly from sample to sample
        assert np.max(np.abs(np.diff(db))) < depth / 1000.0
