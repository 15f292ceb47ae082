"""Training audio: a 48 kHz cache of the corpus, a speaker/noise split and an
on-the-fly mixer.

The cache (train/cache/, never committed) holds every clip resampled once to
48000 Hz as 16-bit integers, clips of one speaker (or one noise file) stored
contiguously, plus a JSON index. Validation speakers and validation noise
files never appear in training mixtures.
"""
import json
import math
import os
from fractions import Fraction

import numpy as np
import soundfile as sf
from scipy import signal

RATE = 48000

# Whole speakers kept out of training: a male and a female full-band voice, one
# 16 kHz voice and one home-recorded language group.
VALIDATION_SPEAKERS = {"ravdess_a19_M_en", "ravdess_a20_F_en",
                       "asterisk_it_IT_m_Carlo_it", "tuxpaint-ro"}
# Noise categories with three or more files give their last file (sorted by path) to validation.
VALIDATION_NOISE_MIN_FILES = 3
# Groups of --extra-noise folders carry this prefix and are used for training only,
# so that adding them leaves the validation set as it was.
TRAIN_ONLY = "extra:"


def speaker_key(category):
    """'tuxpaint-bg (concat of 3 utterances)' -> 'tuxpaint-bg'."""
    return category.split(" (")[0].strip()


def read_manifest(root):
    rows = []
    with open(os.path.join(root, "MANIFEST.tsv")) as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            if not line.strip():
                continue
            r = dict(zip(header, line.rstrip("\n").split("\t")))
            rows.append({"path": r["path"], "kind": r["kind"], "native_sr": int(r["native_sr"]),
                         "group": speaker_key(r["speaker_or_category"])})
    return rows


def scan_dir(kind, base, prefix=""):
    """Rows like the manifest's for a plain folder: group = first sub-folder."""
    rows = []
    for dirpath, _, files in os.walk(base):
        for name in sorted(files):
            if name.lower().endswith((".wav", ".flac", ".ogg")):
                full = os.path.join(dirpath, name)
                rel = os.path.relpath(full, base)
                group = rel.split(os.sep)[0] if os.sep in rel else os.path.splitext(name)[0]
                rows.append({"path": full, "kind": kind, "native_sr": sf.info(full).samplerate,
                             "group": prefix + group})
    return rows


def scan_dirs(speech_dir, noise_dir):
    return scan_dir("speech", speech_dir) + scan_dir("noise", noise_dir)


def to_rate(x, sr):
    if sr == RATE:
        return x
    fr = Fraction(RATE, sr).limit_denominator(1000)
    return signal.resample_poly(x, fr.numerator, fr.denominator).astype(np.float32)


def load_mono(path):
    """A sound file as one 48 kHz channel (the mean of its channels)."""
    x, sr = sf.read(path, dtype="float32", always_2d=True)
    return to_rate(x.mean(1), sr)


def prepare_cache(rows, root, cache_dir):
    """Resample every clip to 48 kHz once; write <kind>.i16 + <kind>.json per kind."""
    os.makedirs(cache_dir, exist_ok=True)
    for kind in ("speech", "noise"):
        sel = sorted((r for r in rows if r["kind"] == kind), key=lambda r: (r["group"], r["path"]))
        index, pos = [], 0
        with open(os.path.join(cache_dir, kind + ".i16.tmp"), "wb") as out:
            for r in sel:
                path = r["path"] if os.path.isabs(r["path"]) else os.path.join(root, r["path"])
                x = load_mono(path)
                q = np.clip(np.round(x * 32767.0), -32768, 32767).astype("<i2")
                out.write(q.tobytes())
                index.append({"path": r["path"], "group": r["group"], "native_sr": r["native_sr"],
                              "start": pos, "length": int(q.size)})
                pos += q.size
        os.replace(os.path.join(cache_dir, kind + ".i16.tmp"), os.path.join(cache_dir, kind + ".i16"))
        with open(os.path.join(cache_dir, kind + ".json"), "w") as f:
            json.dump(index, f)


class Corpus:
    """Memory-mapped cache with the train/validation split applied."""

    def __init__(self, cache_dir):
        self.audio, self.index = {}, {}
        for kind in ("speech", "noise"):
            self.audio[kind] = np.memmap(os.path.join(cache_dir, kind + ".i16"), dtype="<i2", mode="r")
            with open(os.path.join(cache_dir, kind + ".json")) as f:
                self.index[kind] = json.load(f)
        per_cat = {}
        for e in self.index["noise"]:
            per_cat.setdefault(e["group"], []).append(e)
        val_noise = set()
        for cat, items in per_cat.items():
            if len(items) >= VALIDATION_NOISE_MIN_FILES and not cat.startswith(TRAIN_ONLY):
                val_noise.add(sorted(items, key=lambda e: e["path"])[-1]["path"])
        self.split = {}
        for part in ("train", "valid"):
            want_val = part == "valid"
            sp = [e for e in self.index["speech"] if (e["group"] in VALIDATION_SPEAKERS) == want_val]
            nz = [e for e in self.index["noise"] if (e["path"] in val_noise) == want_val]
            self.split[part] = (sp, nz)

    def clip(self, kind, entry):
        a = self.audio[kind]
        return a[entry["start"]:entry["start"] + entry["length"]].astype(np.float32) / 32768.0


def _rms(x):
    return float(np.sqrt(np.mean(x.astype(np.float64) ** 2) + 1e-12))


def _active_rms(x, frame=480):
    """RMS over the louder frames (above -40 dB of the loudest), so pauses do not
    dilute the speech level that the SNR refers to."""
    n = len(x) // frame
    if n == 0:
        return _rms(x)
    e = np.mean(x[:n * frame].reshape(n, frame).astype(np.float64) ** 2, 1)
    act = e[e > e.max() * 1e-4]
    return float(np.sqrt(act.mean() + 1e-12))


def synthetic_rir(rng, rt60):
    """Exponentially decaying noise tail behind a unit direct path at sample 0."""
    n = int(RATE * min(rt60 * 1.2, 1.0))
    t = np.arange(n) / RATE
    tail = rng.standard_normal(n) * np.exp(-6.9078 * t / rt60)
    onset = int(RATE * rng.uniform(0.002, 0.015))
    tail[:onset] = 0.0
    tail *= rng.uniform(0.1, 0.4) / (np.sqrt(np.sum(tail ** 2)) + 1e-9) * math.sqrt(rt60 * 10)
    tail[0] = 1.0
    return tail.astype(np.float32)


def draw_snr(rng, focus=0.0):
    """Training SNR in dB: 5 % noise-free (inf), else uniform over -5..20 dB, or with
    probability `focus` over -2..8 dB. focus 0 consumes the generator exactly as the
    runs before the option existed, so their data streams replay unchanged."""
    if rng.random() <= 0.05:
        return math.inf
    if focus > 0.0 and rng.random() < focus:
        return rng.uniform(-2.0, 8.0)
    return rng.uniform(-5.0, 20.0)


def peaking_section(f0, gain_db, q):
    """One second-order peaking filter (gain_db at f0, 0 dB far from it) as an sos row."""
    a = 10.0 ** (gain_db / 40.0)
    w0 = 2.0 * math.pi * f0 / RATE
    alpha = math.sin(w0) / (2.0 * q)
    b = [1.0 + alpha * a, -2.0 * math.cos(w0), 1.0 - alpha * a]
    den = [1.0 + alpha / a, -2.0 * math.cos(w0), 1.0 - alpha / a]
    return [v / den[0] for v in b] + [1.0] + [v / den[0] for v in den[1:]]


def peaking_eq(rng, x, bands, max_db):
    """`bands` peaking filters at random centres (100 Hz .. 12 kHz, log-uniform),
    gains within +-max_db and Q 0.5 .. 2: a random colouring of x."""
    sos = []
    for _ in range(bands):
        f0 = 10.0 ** rng.uniform(2.0, math.log10(12000.0))
        gain_db = rng.uniform(-max_db, max_db)
        sos.append(peaking_section(f0, gain_db, rng.uniform(0.5, 2.0)))
    return signal.sosfilt(np.array(sos), x).astype(np.float32)


def coloured_noise(rng, n, slope_db=None):
    """Gaussian noise whose level changes by slope_db per octave (drawn from
    -9 .. +3 dB when not given)."""
    spec = np.fft.rfft(rng.standard_normal(n))
    f = np.maximum(np.fft.rfftfreq(n, 1.0 / RATE), 20.0)
    if slope_db is None:
        slope_db = rng.uniform(-9.0, 3.0)
    # slope_db per doubling of frequency, 0 dB at 1 kHz
    spec *= (f / 1000.0) ** (slope_db / 20.0 / math.log10(2.0))
    return np.fft.irfft(spec, n).astype(np.float32)


def level_sweep(rng, n, depth_db):
    """Slow random level changes (0.3 .. 4 per second, down to -depth_db) so a
    steady recording turns into a fluctuating one."""
    rate = rng.uniform(0.3, 4.0)
    k = int(n / RATE * rate) + 2
    points = np.linspace(0, n, k)
    db = rng.uniform(-depth_db, 0.0, k)
    return (10.0 ** (np.interp(np.arange(n), points, db) / 20.0)).astype(np.float32)


# share of mixtures whose noise is babble of other speakers, as in every run
# before it became an option: the default keeps their data streams
BABBLE_SHARE = 0.15


class Mixer:
    """Draws (noisy, clean) pairs of `length` samples at 48 kHz."""

    def __init__(self, corpus, part, length, snr_focus=0.0, noise_vary=0.0, babble=BABBLE_SHARE,
                 noise_weight=None, speech_vary=0.0):
        self.corpus = corpus
        self.babble_share = babble
        self.length = length
        # chance of each variation of a noise recording (speed, colouring, level
        # sweep; a quarter of it for synthetic coloured noise instead) and half of
        # it for a colouring of the speech: the noise recordings are few, and
        # held-out noise costs far more than held-out speakers
        self.noise_vary = noise_vary
        # chance that the talker's speech is played 0.85 .. 1.15 times as fast
        # (pitch, formants and tempo move together): a few dozen training voices
        # become many, for the speakers the network has never heard
        self.speech_vary = speech_vary
        # share of drawn SNRs taken from -2..8 dB instead of -5..20 dB: more of the
        # training signal where noise and speech are closest in level
        self.snr_focus = snr_focus
        self.speech, self.noise = corpus.split[part]
        groups = {}
        for e in self.speech:
            groups.setdefault(e["group"], []).append(e)
        self.groups = sorted(groups)
        self.by_group = groups
        w = []
        for g in self.groups:
            minutes = sum(e["length"] for e in groups[g]) / RATE / 60.0
            # lossy home recordings count half
            w.append(math.sqrt(minutes) * (0.5 if g.startswith("tuxpaint") else 1.0))
        self.group_p = np.array(w) / np.sum(w)
        # what the last draw() mixed, for reports on single mixtures; recording
        # it draws no random numbers, so the data streams stay as they were
        self.last_mix = ""
        nl = np.array([e["length"] for e in self.noise], dtype=np.float64)
        w = np.sqrt(nl)
        # noise_weight {"music": 2.0} draws recordings whose group names "music"
        # twice as often: a way to spend more training on the noises that the
        # network handles worst without changing the default stream
        for key, factor in (noise_weight or {}).items():
            w *= np.array([factor if key in e["group"] else 1.0 for e in self.noise])
        self.noise_p = w / np.sum(w)

    def _take(self, rng, kind, entries, n):
        """n samples from consecutive clips starting at a random point."""
        out = np.empty(n, dtype=np.float32)
        i = int(rng.integers(len(entries)))
        e = entries[i]
        off = int(rng.integers(max(1, e["length"])))
        filled = 0
        while filled < n:
            x = self.corpus.clip(kind, e)[off:]
            k = min(len(x), n - filled)
            out[filled:filled + k] = x[:k]
            filled += k
            i = (i + 1) % len(entries)
            e, off = entries[i], 0
        return out

    def _take_faster(self, rng, kind, entries, rate, base):
        """length samples played rate/base times as fast (resampled: pitch and tempo
        change together)."""
        x = self._take(rng, kind, entries, self.length * rate // base + 64)
        return signal.resample_poly(x, base, rate)[:self.length].astype(np.float32)

    def speech_segment(self, rng, group=None, rate=None):
        """length samples of one speaker group, played rate/40 times as fast when an
        integer rate is given (resampled: pitch and tempo change together)."""
        g = group or self.groups[rng.choice(len(self.groups), p=self.group_p)]
        entries = self.by_group[g]
        # clips of one speaker follow each other in the cache; start anywhere in them
        if rate is None:
            return self._take(rng, "speech", entries, self.length), g
        return self._take_faster(rng, "speech", entries, rate, 40), g

    def noise_segment(self, rng):
        e = self.noise[rng.choice(len(self.noise), p=self.noise_p)]
        self._parts.append(e["path"])
        if self.noise_vary > 0.0 and rng.random() < self.noise_vary:
            # play the recording 0.7 .. 1.4 times as fast (pitch and tempo change)
            up = int(rng.integers(14, 29))
            return self._take_faster(rng, "noise", [e], up, 20)
        return self._take(rng, "noise", [e], self.length)

    def vary_noise(self, rng, noise):
        p = self.noise_vary
        if rng.random() < p / 4.0:
            noise = coloured_noise(rng, self.length)
        if rng.random() < p:
            noise = peaking_eq(rng, noise, int(rng.integers(1, 4)), 12.0)
        if rng.random() < p:
            noise = noise * level_sweep(rng, self.length, rng.uniform(3.0, 15.0))
        return noise

    def babble(self, rng, exclude):
        others = [g for g in self.groups if g != exclude] or self.groups
        self._parts.append("babble")
        talkers = int(rng.integers(3, 7))
        out = np.zeros(self.length, dtype=np.float32)
        for _ in range(talkers):
            s, _ = self.speech_segment(rng, others[int(rng.integers(len(others)))])
            out += s / _rms(s)
        return out

    def draw(self, rng, snr_db=None, reverb=True):
        """snr_db None draws one (5 % of mixtures are noise-free); math.inf adds no noise.
        reverb False keeps the speech dry (the clean-input checks).
        Afterwards last_mix names the speaker group, the speech's speed if varied, the
        noise recordings (or babble) and the reverberation."""
        self._parts = []
        rate = None
        if self.speech_vary > 0.0 and rng.random() < self.speech_vary:
            rate = int(rng.integers(34, 47))
        clean, group = self.speech_segment(rng, rate=rate)
        if rate is not None:
            self._parts.append(f"speech x{rate / 40:.3f}")
        clean = clean / _active_rms(clean)
        native = min(e["native_sr"] for e in self.by_group[group])
        if native >= 44100 and rng.random() < 0.1:
            cutoff = float(rng.choice([4000.0, 8000.0, 12000.0]))
            sos = signal.butter(8, cutoff, fs=RATE, output="sos")
            clean = signal.sosfilt(sos, clean).astype(np.float32)
        if self.noise_vary > 0.0 and rng.random() < self.noise_vary / 2.0:
            clean = peaking_eq(rng, clean, 2, 6.0)
            clean = clean / _active_rms(clean)
        target = clean
        if rng.random() < 0.2 and reverb:
            rt60 = rng.uniform(0.2, 0.9)
            self._parts.append(f"reverb {rt60:.2f} s")
            rir = synthetic_rir(rng, rt60)
            early = rir.copy()
            cut = int(0.05 * RATE)
            early[cut:] = 0.0
            wet = signal.fftconvolve(clean, rir)[:self.length].astype(np.float32)
            target = signal.fftconvolve(clean, early)[:self.length].astype(np.float32)
            clean = wet
        r = rng.random()
        if r < self.babble_share:
            noise = self.babble(rng, group)
        else:
            noise = self.noise_segment(rng)
            if r > 0.9:
                extra = self.noise_segment(rng)
                noise = noise / _rms(noise) + extra / _rms(extra) * rng.uniform(0.2, 1.0)
        if rng.random() < 0.3:
            # coloured noise: tilt the spectrum a little
            b = signal.butter(1, float(rng.uniform(500, 8000)), fs=RATE,
                              btype="low" if rng.random() < 0.5 else "high", output="sos")
            noise = (0.5 * noise + signal.sosfilt(b, noise)).astype(np.float32)
        if self.noise_vary > 0.0:
            noise = self.vary_noise(rng, noise)
        if snr_db is None:
            snr_db = draw_snr(rng, self.snr_focus)
        if math.isinf(snr_db):
            noise = np.zeros_like(clean)
        else:
            noise = noise / _rms(noise) * (10.0 ** (-snr_db / 20.0))
        level = 10.0 ** (rng.uniform(-40.0, -15.0) / 20.0)
        noisy = (clean + noise) * level
        target = target * level
        if math.isinf(snr_db):
            self._parts = [p for p in self._parts if p.startswith(("reverb", "speech"))] + ["no noise"]
        self.last_mix = " + ".join([group] + self._parts)
        peak = float(np.max(np.abs(noisy))) + 1e-9
        if peak > 0.95:
            noisy *= 0.95 / peak
            target *= 0.95 / peak
        return noisy.astype(np.float32), target.astype(np.float32)


def parse_noise_weight(text):
    """'music=2,crowd=1.5' -> {"music": 2.0, "crowd": 1.5}; ValueError on bad text."""
    out = {}
    for item in filter(None, (t.strip() for t in text.split(","))):
        key, sep, value = item.partition("=")
        if not sep or not key.strip():
            raise ValueError(f"expected GROUP=FACTOR, got '{item}'")
        try:
            factor = float(value)
        except ValueError:
            factor = math.nan
        if not (math.isfinite(factor) and factor > 0.0):
            raise ValueError(f"factor for '{key.strip()}' must be a positive number, got '{value}'")
        out[key.strip()] = factor
    return out


def main():
    import argparse
    ap = argparse.ArgumentParser(description="Resample the corpus into the 48 kHz cache")
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap.add_argument("--data", default=os.path.join(here, "..", "..", "shared", "data"))
    ap.add_argument("--speech")
    ap.add_argument("--noise")
    ap.add_argument("--extra-noise", help="more noise, used for training only (see extra_noise.py)")
    ap.add_argument("--cache", default=os.path.join(here, "cache"))
    a = ap.parse_args()
    if a.speech and a.noise:
        rows, root = scan_dirs(a.speech, a.noise), "/"
    else:
        rows, root = read_manifest(a.data), a.data
    if a.extra_noise:
        rows += scan_dir("noise", os.path.abspath(a.extra_noise), TRAIN_ONLY)
    prepare_cache(rows, root, a.cache)
    print(f"cache written to {a.cache}")


if __name__ == "__main__":
    main()
