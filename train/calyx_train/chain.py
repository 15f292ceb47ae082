"""The engine's frame processor at 48000 Hz, batched over whole signals.

Every step follows the engine hop for hop: the 961-point sine window with its
analysis and synthesis scales, bin powers summed in double precision, ERB band
levels, the two running normalisations starting from their fixed lines, band
gains applied two frames late, the deep filter over the band-gained history and
overlap-add. Resampling, the intensity stages and the limiter are identities at
48000 Hz and intensity 1 (apart from the limiter on peaks near full scale) and
are left out. Features carry no gradient (they depend only on the input); the
application of gains and coefficients is differentiable.
"""
import math

import numpy as np
import torch

HOP = 480
NFFT = 960
BINS = 481
BANDS = 32
DF_BINS = 96
DF_ORDER = 5
LOOKAHEAD = 2
DELAY = 3 * HOP  # output sample n + DELAY carries input sample n

BAND_EDGES = [0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 31, 36, 43, 50, 58, 68,
              80, 93, 108, 126, 146, 170, 198, 229, 266, 308, 358, 414, 481]
ANALYSIS_SCALE = np.float32(0.0016345471)    # 1 / sum(window)
SYNTHESIS_SCALE = np.float32(0.6372815)      # 1 / (960 * ANALYSIS_SCALE)
NORM_ALPHA = np.float32(0.99)
NORM_ONE_MINUS = np.float32(0.01)
ERB_FEATURE_SCALE = np.float32(0.025)
SPEC_NORM_FLOOR = 1e-8  # keeps 1/sqrt(mean) finite after long digital silence


def sine_window():
    """sin(pi/1922 + i*pi/961) in single precision: a 961-point sine window."""
    i = np.arange(NFFT, dtype=np.float32)
    a = np.float32(math.pi / 1922.0)
    b = np.float32(math.pi / 961.0)
    arg = (i.astype(np.float64) * np.float64(b) + np.float64(a)).astype(np.float32)  # one rounding, as fma
    return np.sin(arg).astype(np.float32)


def band_of_bin():
    idx = np.zeros(BINS, dtype=np.int64)
    for b in range(BANDS):
        idx[BAND_EDGES[b]:BAND_EDGES[b + 1]] = b
    return idx


def band_mean_matrix():
    m = np.zeros((BINS, BANDS), dtype=np.float64)
    for b in range(BANDS):
        lo, hi = BAND_EDGES[b], BAND_EDGES[b + 1]
        m[lo:hi, b] = np.float32(1.0) / np.float32(hi - lo)
    return m


def initial_erb_norm():
    return (-60.0 - np.arange(BANDS) * 30.0 / 31.0).astype(np.float32)


def initial_spec_norm():
    return (0.001 - np.arange(DF_BINS) * 0.0009 / 95.0).astype(np.float32)


class Chain(torch.nn.Module):
    def __init__(self):
        super().__init__()
        self.register_buffer("window", torch.from_numpy(sine_window()))
        self.register_buffer("band_mean", torch.from_numpy(band_mean_matrix()))
        self.register_buffer("band_index", torch.from_numpy(band_of_bin()))
        self.register_buffer("erb_norm0", torch.from_numpy(initial_erb_norm()))
        self.register_buffer("spec_norm0", torch.from_numpy(initial_spec_norm()))

    def analyse(self, x):
        """x [B, N] (N a multiple of 480) -> complex spectra [B, T, 481], T = N / 480.
        Frame t covers input hops t-1 and t (hop -1 is silence)."""
        B, N = x.shape
        padded = torch.nn.functional.pad(x, (HOP, 0))
        frames = padded.unfold(1, NFFT, HOP)                       # [B, T, 960]
        frames = (frames * self.window) * float(ANALYSIS_SCALE)
        return torch.fft.rfft(frames, dim=-1)

    @torch.no_grad()
    def features(self, spec, state=None):
        """Normalised band levels [B,T,32] and low-bin spectrum [B,T,192]; returns the
        running means after the last frame as the new state."""
        B, T, _ = spec.shape
        re, im = spec.real, spec.imag
        power = (re * re).double() + (im * im).double()            # [B,T,481]
        levels = (10.0 * torch.log10(power @ self.band_mean + 1e-10)).float()
        mags = torch.sqrt(power[..., :DF_BINS].float())
        if state is None:
            erb_m = self.erb_norm0.expand(B, BANDS).clone()
            spec_m = self.spec_norm0.expand(B, DF_BINS).clone()
        else:
            erb_m, spec_m = state
        erb_feat = torch.empty_like(levels)
        spec_s = torch.empty_like(mags)
        a, c = float(NORM_ALPHA), float(NORM_ONE_MINUS)
        for t in range(T):
            erb_m = a * erb_m + c * levels[:, t]
            erb_feat[:, t] = (levels[:, t] - erb_m) * float(ERB_FEATURE_SCALE)
            spec_m = torch.clamp(c * mags[:, t] + a * spec_m, min=SPEC_NORM_FLOOR)
            spec_s[:, t] = 1.0 / torch.sqrt(spec_m)
        spec_feat = torch.cat([re[..., :DF_BINS] * spec_s, im[..., :DF_BINS] * spec_s], -1)
        return erb_feat, spec_feat, (erb_m, spec_m)

    def apply(self, spec, gains, coefs):
        """Enhanced spectra [B,T,481]: frame t holds input frame t-2 with the gains of
        frame t, and the deep filter over the band-gained frames t-4 ... t."""
        B, T, _ = spec.shape
        g = gains[..., self.band_index]                             # [B,T,481]
        delayed = torch.nn.functional.pad(spec, (0, 0, LOOKAHEAD, 0))[:, :T]
        gained = delayed * g
        low = gained[..., :DF_BINS]
        hist = torch.nn.functional.pad(low, (0, 0, DF_ORDER - 1, 0))  # [B,T+4,96]
        c = torch.complex(coefs[..., 0], coefs[..., 1])             # [B,T,5,96]
        df = sum(c[:, :, j] * hist[:, j:j + T] for j in range(DF_ORDER))
        return torch.cat([df, gained[..., DF_BINS:]], -1)

    def synthesise(self, enh):
        """Inverse transform, synthesis window, overlap-add: [B,T,481] -> [B, T*480]."""
        B, T, _ = enh.shape
        # the ordered packing drops the imaginary parts of DC and Nyquist
        keep = torch.ones(BINS, dtype=enh.real.dtype, device=enh.device)
        keep_im = keep.clone()
        keep_im[0] = 0.0
        keep_im[-1] = 0.0
        enh = torch.complex(enh.real, enh.imag * keep_im)
        frames = torch.fft.irfft(enh, n=NFFT, dim=-1) * float(NFFT)
        frames = frames * float(SYNTHESIS_SCALE) * self.window
        first = frames[..., :HOP]
        second = torch.nn.functional.pad(frames[..., HOP:], (0, 0, 1, 0))[:, :T]
        return (first + second).reshape(B, T * HOP)

    def forward(self, net, x):
        """Noisy x [B, N] -> (output [B, N] delayed by DELAY, enhanced spectra, input spectra)."""
        spec = self.analyse(x)
        erb_feat, spec_feat, _ = self.features(spec)
        gains, coefs, _ = net(erb_feat, spec_feat)
        enh = self.apply(spec, gains, coefs)
        return self.synthesise(enh), enh, spec


LIMITER_DELAY = 31
LIMITER_THRESHOLD = np.float32(0.99999)


def limiter(x, threshold=LIMITER_THRESHOLD, rate=48000):
    """The engine's output limiter on one channel (numpy, not differentiable):
    output n is input n - 31 times a gain that keeps every sample within the
    threshold, attacking over 32 samples ahead of a peak and releasing over
    about 17 ms. Single precision throughout, as in the engine."""
    f32 = np.float32
    x = np.asarray(x, dtype=np.float32)
    out = np.zeros_like(x)
    out[LIMITER_DELAY:] = x[:len(x) - LIMITER_DELAY]
    thr = f32(threshold)
    if len(x) == 0 or np.max(np.abs(x)) <= thr:
        return out  # the gain never leaves 1: a plain delay
    attack = f32(0.93057203)
    release = f32(np.exp2(f32(-3.321928) / (np.floor(f32(rate) * f32(0.016687501)) + f32(1.0))))
    aim = f32(0.11111111)
    peaks = np.maximum(np.abs(x), thr)
    # largest peak over the frame just stored and the 31 still in the ring
    padded = np.concatenate([np.zeros(LIMITER_DELAY, np.float32), peaks])
    root = np.lib.stride_tricks.sliding_window_view(padded, LIMITER_DELAY + 1).max(axis=1)
    gain = f32(thr / peaks[0])  # the first block starts at the gain its first frame needs
    target = f32(1.0)
    gains = np.empty(len(x), np.float32)
    for n in range(len(x)):
        needed = f32(thr / root[n])
        if needed >= gain:
            target = needed
        else:
            target = min(target, f32(f32(10.0 * float(needed) - float(gain)) * aim))
        q = attack if target < gain else release
        gain = max(f32(float(f32(gain - target)) * float(q) + float(target)), f32(0.0))
        gains[n] = gain
    return out * gains
