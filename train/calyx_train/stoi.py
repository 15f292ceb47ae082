"""Short-time objective intelligibility (Taal, Hendriks, Heusdens, Jensen 2011).

Both signals go to 10 kHz; frames where the clean signal is more than 40 dB
below its loudest frame are dropped from both; 15 one-third-octave bands from
150 Hz of 512-point spectra of 256-sample Hann frames (hop 128) are grouped in
segments of 30 frames (384 ms); in each segment the processed envelope is
scaled to the clean one's energy and clipped at 15 dB above it, and the
result is the mean correlation of the envelopes over bands and segments.
"""
import numpy as np
from scipy import signal

FS = 10000
FRAME = 256
NFFT = 512
BANDS = 15
MIN_FREQ = 150.0
SEGMENT = 30
BETA_DB = -15.0
DYN_RANGE_DB = 40.0


def _window():
    return np.hanning(FRAME + 2)[1:-1]


def _frames(x):
    n = 1 + (len(x) - FRAME) // (FRAME // 2)
    idx = np.arange(FRAME)[None, :] + (FRAME // 2) * np.arange(max(n, 0))[:, None]
    return x[idx] * _window()


def _overlap_add(frames):
    hop = FRAME // 2
    out = np.zeros((len(frames) - 1) * hop + FRAME)
    for i, f in enumerate(frames):
        out[i * hop:i * hop + FRAME] += f
    return out


def remove_silent_frames(x, y):
    fx, fy = _frames(x), _frames(y)
    energy = 20 * np.log10(np.linalg.norm(fx, axis=1) + np.finfo(float).eps)
    keep = energy > energy.max() - DYN_RANGE_DB
    return _overlap_add(fx[keep]), _overlap_add(fy[keep])


def third_octave_matrix():
    f = np.linspace(0, FS, NFFT + 1)[:NFFT // 2 + 1]
    k = np.arange(BANDS)
    low = MIN_FREQ * 2.0 ** ((2 * k - 1) / 6)
    high = MIN_FREQ * 2.0 ** ((2 * k + 1) / 6)
    m = np.zeros((BANDS, len(f)))
    for i in range(BANDS):
        lo = int(np.argmin((f - low[i]) ** 2))
        hi = int(np.argmin((f - high[i]) ** 2))
        m[i, lo:hi] = 1.0
    return m


def stoi(clean, processed, fs):
    """STOI in [about -1, 1] (1 for identical signals) of `processed` against `clean`."""
    x = np.asarray(clean, dtype=np.float64)
    y = np.asarray(processed, dtype=np.float64)
    if len(x) != len(y):
        raise ValueError("signals differ in length")
    if fs != FS:
        from fractions import Fraction
        r = Fraction(FS, fs).limit_denominator(1000)
        x = signal.resample_poly(x, r.numerator, r.denominator)
        y = signal.resample_poly(y, r.numerator, r.denominator)
    x, y = remove_silent_frames(x, y)
    X = np.fft.rfft(_frames(x), NFFT).T          # [bins, frames]
    Y = np.fft.rfft(_frames(y), NFFT).T
    obm = third_octave_matrix()
    xb = np.sqrt(obm @ np.abs(X) ** 2)             # [bands, frames]
    yb = np.sqrt(obm @ np.abs(Y) ** 2)
    if xb.shape[1] < SEGMENT:
        raise ValueError("signal too short for STOI (under 384 ms of speech)")
    segs = xb.shape[1] - SEGMENT + 1
    xs = np.stack([xb[:, m:m + SEGMENT] for m in range(segs)])   # [segments, bands, 30]
    ys = np.stack([yb[:, m:m + SEGMENT] for m in range(segs)])
    eps = np.finfo(float).eps
    scale = np.linalg.norm(xs, axis=2, keepdims=True) / (np.linalg.norm(ys, axis=2, keepdims=True) + eps)
    yp = np.minimum(ys * scale, xs * (1 + 10 ** (-BETA_DB / 20)))
    xs = xs - xs.mean(2, keepdims=True)
    yp = yp - yp.mean(2, keepdims=True)
    xs = xs / (np.linalg.norm(xs, axis=2, keepdims=True) + eps)
    yp = yp / (np.linalg.norm(yp, axis=2, keepdims=True) + eps)
    return float(np.sum(xs * yp) / (segs * BANDS))
