"""Training loss on what the engine outputs.

Three terms, each a mean over the batch:
- spectral: the chain's enhanced spectra against the clean spectra of the same
  frames (frame t of the output holds input frame t - 2), on magnitudes
  compressed by the power 0.3, as magnitude and as complex difference;
- multi-resolution: compressed STFT magnitudes of the output waveform against
  the clean waveform delayed by the chain's three hops (FFT sizes 512, 1024, 2048).
Total: 100 * (5 * magnitude + 1 * complex) + 10 * multi-resolution, which
makes the three terms about equal for unprocessed noisy input; optionally minus
a small multiple of the output's SI-SDR against the delayed clean speech. The power 0.3
compresses the level range so quiet speech and high bands still count.
"""
import torch

from .chain import DELAY, LOOKAHEAD

POWER = 0.3
W_MAG, W_CPLX, W_MR = 5.0, 1.0, 1.0
MR_SIZES = (512, 1024, 2048)
EPS = 1e-12


def _compress(z):
    mag2 = z.real ** 2 + z.imag ** 2 + EPS
    mag_c = mag2 ** (POWER / 2)
    return mag_c, z * (mag_c / torch.sqrt(mag2))


def spectral_loss(enh, clean_spec):
    """enh, clean_spec: complex [B, T, 481] from the chain (clean analysed the same way)."""
    T = enh.shape[1]
    target = torch.nn.functional.pad(clean_spec, (0, 0, LOOKAHEAD, 0))[:, :T]
    m_e, c_e = _compress(enh)
    m_t, c_t = _compress(target)
    mag = torch.mean((m_e - m_t) ** 2)
    cplx = torch.mean((c_e - c_t).abs() ** 2)
    return mag, cplx


def multi_resolution_loss(y, clean):
    """y: chain output [B, N]; clean: [B, N]; compares y[DELAY:] with clean[:-DELAY]."""
    y = y[:, DELAY:]
    c = clean[:, :clean.shape[1] - DELAY]
    total = 0.0
    for n in MR_SIZES:
        win = torch.hann_window(n, device=y.device)
        scale = 1.0 / float(win.sum())
        Y = torch.stft(y, n, n // 4, window=win, return_complex=True) * scale
        C = torch.stft(c, n, n // 4, window=win, return_complex=True) * scale
        my = (Y.real ** 2 + Y.imag ** 2 + EPS) ** (POWER / 2)
        mc = (C.real ** 2 + C.imag ** 2 + EPS) ** (POWER / 2)
        total = total + torch.mean(torch.abs(my - mc))
    return total / len(MR_SIZES)


def total_loss(y, enh, clean, clean_spec, w_sisdr=0.0):
    """The weighted sum and its parts. w_sisdr > 0 adds -w_sisdr * SI-SDR (dB) of the
    output against the delayed clean speech, the measure the evaluation reports."""
    mag, cplx = spectral_loss(enh, clean_spec)
    mr = multi_resolution_loss(y, clean)
    loss = 100.0 * (W_MAG * mag + W_CPLX * cplx) + 10.0 * W_MR * mr
    parts = {"mag": float(mag), "cplx": float(cplx), "mr": float(mr)}
    if w_sisdr > 0.0:
        sdr = aligned_si_sdr(y, clean).mean()
        loss = loss - w_sisdr * sdr
        parts["sisdr"] = float(sdr)
    return loss, parts


def aligned_si_sdr(y, clean, skip=0):
    """SI-SDR per row of chain output y [B, N] against clean [B, N] delayed by the
    chain's three hops, leaving out the first skip samples of the target."""
    return si_sdr(y[:, DELAY + skip:], clean[:, skip:clean.shape[1] - DELAY])


def si_sdr(est, ref, eps=1e-9):
    """Scale-invariant signal-to-distortion ratio in dB, per row of [B, N]."""
    est = est - est.mean(-1, keepdim=True)
    ref = ref - ref.mean(-1, keepdim=True)
    a = (est * ref).sum(-1, keepdim=True) / ((ref * ref).sum(-1, keepdim=True) + eps)
    proj = a * ref
    noise = est - proj
    return 10.0 * torch.log10(((proj ** 2).sum(-1) + eps) / ((noise ** 2).sum(-1) + eps))
