"""Speech quality and intelligibility measures shared by the toolkit's evaluation
and the quality benchmark (numpy only, no torch).

- si_sdr: scale-invariant signal-to-distortion ratio in dB, the same formula as
  loss.si_sdr (both signals made zero-mean, the estimate projected on the reference).
- stoi: short-time objective intelligibility (Taal, Hendriks, Heusdens, Jensen 2011).
- estoi: extended STOI (Jensen, Taal 2016).

Both intelligibility measures work at 10 kHz on 256-sample frames (hop 128, Hann
window, 512-point FFT), group the bins into 15 one-third-octave bands from 150 Hz,
drop the frames more than 40 dB below the loudest clean frame, and compare clean and
processed band envelopes over segments of 30 frames (384 ms). The signals must be
time-aligned and of equal length.
"""
from fractions import Fraction

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
EPS = np.finfo(np.float64).eps


def si_sdr(est, ref, eps=1e-9):
    """SI-SDR in dB of est against ref (1-D arrays of equal length)."""
    est = np.asarray(est, dtype=np.float64)
    ref = np.asarray(ref, dtype=np.float64)
    if est.shape != ref.shape:
        raise ValueError(f"si_sdr: shapes differ {est.shape} vs {ref.shape}")
    est = est - est.mean()
    ref = ref - ref.mean()
    a = np.dot(est, ref) / (np.dot(ref, ref) + eps)
    proj = a * ref
    noise = est - proj
    return float(10.0 * np.log10((np.dot(proj, proj) + eps) / (np.dot(noise, noise) + eps)))


def hann(n):
    """Hann window without its zero end points (the classic 'hanning' of the papers' code)."""
    k = np.arange(1, n + 1)
    return 0.5 * (1.0 - np.cos(2.0 * np.pi * k / (n + 1)))


def third_octave_matrix(fs=FS, nfft=NFFT, bands=BANDS, min_freq=MIN_FREQ):
    """[bands, nfft/2+1] 0/1 matrix grouping FFT bins into one-third-octave bands,
    and the centre frequencies. Band k spans the bins nearest to its geometric
    edges, lower edge included, upper edge excluded."""
    f = np.linspace(0.0, fs, nfft + 1)[:nfft // 2 + 1]
    k = np.arange(bands, dtype=np.float64)
    cf = 2.0 ** (k / 3.0) * min_freq
    lo = np.sqrt(2.0 ** (k / 3.0) * min_freq * 2.0 ** ((k - 1.0) / 3.0) * min_freq)
    hi = np.sqrt(2.0 ** (k / 3.0) * min_freq * 2.0 ** ((k + 1.0) / 3.0) * min_freq)
    a = np.zeros((bands, len(f)))
    for i in range(bands):
        a[i, np.argmin((f - lo[i]) ** 2):np.argmin((f - hi[i]) ** 2)] = 1.0
    return a, cf


def resample_to(x, fs_in, fs_out=FS):
    if fs_in == fs_out:
        return np.asarray(x, dtype=np.float64)
    fr = Fraction(int(fs_out), int(fs_in))
    return signal.resample_poly(np.asarray(x, dtype=np.float64), fr.numerator, fr.denominator)


def _frames(x, n, hop):
    starts = np.arange(0, len(x) - n, hop)
    if len(starts) == 0:
        return np.zeros((0, n))
    idx = starts[:, None] + np.arange(n)[None, :]
    return x[idx]


def remove_silent_frames(x, y, dyn_range=DYN_RANGE_DB, n=FRAME, hop=FRAME // 2):
    """Drop the frames whose clean (x) energy lies more than dyn_range dB below the
    loudest clean frame, from both signals, and rebuild each by windowed overlap-add."""
    w = hann(n)
    xf = _frames(x, n, hop) * w
    yf = _frames(y, n, hop) * w
    if len(xf) == 0:
        return np.zeros(0), np.zeros(0)
    level = 20.0 * np.log10(np.linalg.norm(xf, axis=1) / np.sqrt(n) + EPS)
    keep = (level - level.max() + dyn_range) > 0
    xf, yf = xf[keep], yf[keep]
    out_len = (len(xf) - 1) * hop + n
    xs, ys = np.zeros(out_len), np.zeros(out_len)
    for i in range(len(xf)):
        xs[i * hop:i * hop + n] += xf[i]
        ys[i * hop:i * hop + n] += yf[i]
    return xs, ys


def band_envelopes(x, n=FRAME, nfft=NFFT):
    """[bands, frames] one-third-octave band magnitudes of x (10 kHz)."""
    spec = np.fft.rfft(_frames(x, n, n // 2) * hann(n), nfft, axis=1)
    a, _ = third_octave_matrix()
    return np.sqrt(a @ (np.abs(spec) ** 2).T)


def _prepare(clean, processed, fs):
    clean = np.asarray(clean, dtype=np.float64)
    processed = np.asarray(processed, dtype=np.float64)
    if clean.shape != processed.shape or clean.ndim != 1:
        raise ValueError("clean and processed must be 1-D arrays of equal length")
    x = resample_to(clean, fs)
    y = resample_to(processed, fs)
    x, y = remove_silent_frames(x, y)
    return band_envelopes(x), band_envelopes(y)


def _rows_normalised(m):
    m = m - m.mean(axis=-1, keepdims=True)
    return m / (np.linalg.norm(m, axis=-1, keepdims=True) + EPS)


def stoi(clean, processed, fs):
    """STOI of processed against clean, both sampled at fs; about 0.4 (unintelligible)
    to 1.0 (identical envelopes). Inputs too short for one 30-frame segment after
    silent-frame removal return 0.0."""
    xe, ye = _prepare(clean, processed, fs)
    frames = xe.shape[1]
    if frames < SEGMENT:
        return 0.0
    clip = 1.0 + 10.0 ** (-BETA_DB / 20.0)
    total = 0.0
    count = 0
    for m in range(SEGMENT, frames + 1):
        xs = xe[:, m - SEGMENT:m]
        ys = ye[:, m - SEGMENT:m]
        # per band: scale the processed envelope to the clean energy, then bound it
        alpha = np.sqrt(np.sum(xs ** 2, axis=1, keepdims=True) / (np.sum(ys ** 2, axis=1, keepdims=True) + EPS))
        yp = np.minimum(ys * alpha, xs * clip)
        total += float(np.sum(_rows_normalised(xs) * _rows_normalised(yp)))
        count += BANDS
    return total / count


def estoi(clean, processed, fs):
    """Extended STOI: per 30-frame segment, band envelopes normalised over time (rows),
    then spectral vectors normalised over bands (columns); the mean inner product of
    the normalised clean and processed columns. No clipping; 1.0 for identical inputs."""
    xe, ye = _prepare(clean, processed, fs)
    frames = xe.shape[1]
    if frames < SEGMENT:
        return 0.0
    total = 0.0
    count = 0
    for m in range(SEGMENT, frames + 1):
        xs = _rows_normalised(xe[:, m - SEGMENT:m])
        ys = _rows_normalised(ye[:, m - SEGMENT:m])
        xs = _rows_normalised(xs.T)
        ys = _rows_normalised(ys.T)
        total += float(np.sum(xs * ys)) / SEGMENT
        count += 1
    return total / count
