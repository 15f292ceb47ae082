"""Random variations of the training noise and speech: each must do what its
name says, since a wrong filter or slope would only show as a weaker model."""
import math
import pathlib
import tempfile

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


def test_extra_noise_is_used_for_training_only():
    with tempfile.TemporaryDirectory() as tmp:
        check_extra_noise_split(pathlib.Path(tmp))


def write_tiny_corpus(tmp_path, layout, seed):
    """Three 0.1 s white-noise files at 16 kHz in each tmp_path/kind/folder."""
    import soundfile as sf
    rng = np.random.default_rng(seed)
    for kind, folders in layout:
        for folder in folders:
            (tmp_path / kind / folder).mkdir(parents=True)
            for k in range(3):
                sf.write(str(tmp_path / kind / folder / f"{k}.wav"),
                         0.1 * rng.standard_normal(1600), 16000)


def check_extra_noise_split(tmp_path):
    from calyx_train.data import TRAIN_ONLY, Corpus, prepare_cache, scan_dir, scan_dirs
    write_tiny_corpus(tmp_path, (("speech", ("spk_a", "spk_b")), ("noise", ("rain", "hum")),
                                 ("extra", ("crowd",))), 6)
    rows = scan_dirs(str(tmp_path / "speech"), str(tmp_path / "noise"))
    plain = tmp_path / "plain"
    prepare_cache(rows, "/", str(plain))
    rows += scan_dir("noise", str(tmp_path / "extra"), TRAIN_ONLY)
    extended = tmp_path / "extended"
    prepare_cache(rows, "/", str(extended))
    a, b = Corpus(str(plain)), Corpus(str(extended))
    paths = {part: [e["path"] for e in b.split[part][1]] for part in ("train", "valid")}
    # each three-file category gives one file to validation; extra ones give none
    assert paths["valid"] == [e["path"] for e in a.split["valid"][1]] and len(paths["valid"]) == 2
    extra = [p for p in paths["train"] if "/extra/" in p]
    assert len(extra) == 3 and not any("/extra/" in p for p in paths["valid"])
    assert {e["group"] for e in b.split["train"][1]} == {"rain", "hum", TRAIN_ONLY + "crowd"}
    # resampled to 48 kHz on the way into the cache
    assert all(e["length"] == 4800 for e in b.index["noise"])


def test_joined_clips_cross_fade_and_typing_has_pauses():
    from calyx_train.extra_noise import FADE, join, typing
    a, b = np.ones(1000, np.float32), -np.ones(1000, np.float32)
    j = join([a, b])
    assert len(j) == 2000 - FADE and j[0] == 1.0 and j[-1] == -1.0
    assert np.all(np.diff(j[1000 - FADE:1000]) < 0)  # a ramp, not a step
    click = np.hanning(480).astype(np.float32)
    keys = [("1e-0", click), ("1e-1", 0.5 * click), ("2f-0", click)]
    x = typing(np.random.default_rng(7), keys, 10.0)
    assert x.shape == (10 * RATE,) and np.isfinite(x).all()
    active = np.abs(x) > 1e-3
    # key sounds fill some of the time but not all of it
    assert 0.02 < active.mean() < 0.6


def test_each_mixture_names_what_it_holds():
    with tempfile.TemporaryDirectory() as tmp:
        check_mixture_descriptions(pathlib.Path(tmp))


def check_mixture_descriptions(tmp_path):
    from calyx_train.data import Corpus, Mixer, parse_noise_weight, prepare_cache, scan_dirs
    write_tiny_corpus(tmp_path, (("speech", ("spk_a", "spk_b")), ("noise", ("rain", "hum"))), 8)
    prepare_cache(scan_dirs(str(tmp_path / "speech"), str(tmp_path / "noise")), "/",
                  str(tmp_path / "cache"))
    corpus = Corpus(str(tmp_path / "cache"))
    mixer = Mixer(corpus, "train", 4800)
    groups = {e["group"] for e in corpus.split["train"][0]}
    noises = {e["path"] for e in corpus.split["train"][1]}
    seen = {"babble": 0, "reverb": 0, "two noises": 0}
    draw_rng = np.random.default_rng(9)
    for _ in range(60):
        mixer.draw(draw_rng, snr_db=0.0)
        parts = mixer.last_mix.split(" + ")
        assert parts[0] in groups
        recordings = [p for p in parts[1:] if p in noises]
        seen["two noises"] += len(recordings) == 2
        for p in parts[1:]:
            if p.startswith("reverb"):
                seen["reverb"] += 1
                assert 0.2 <= float(p.split()[1]) <= 0.9
            elif p == "babble":
                seen["babble"] += 1
            else:
                assert p in noises, p
        # exactly one noise source: babble, or one or two recordings
        assert ("babble" in parts) != bool(recordings)
    assert all(n > 0 for n in seen.values()), seen
    # a noise-free draw names no noise even though one was drawn and scaled away
    mixer.draw(draw_rng, snr_db=math.inf, reverb=False)
    parts = mixer.last_mix.split(" + ")
    assert parts[0] in groups and parts[1:] == ["no noise"]
    # the babble share is what --babble asks for, and 0 turns babble off
    for share, low, high in ((0.0, 0, 0), (0.6, 25, 47)):
        shared = Mixer(corpus, "train", 4800, babble=share)
        share_rng = np.random.default_rng(10)
        count = 0
        for _ in range(60):
            shared.draw(share_rng, snr_db=5.0)
            count += "babble" in shared.last_mix.split(" + ")
        assert low <= count <= high, (share, count)
    # a noise weight draws the named group's recordings more often, and the
    # default keeps the old stream draw for draw
    def rain_share(weight):
        mx = Mixer(corpus, "train", 4800, babble=0.0, noise_weight=weight)
        rng = np.random.default_rng(11)
        names = []
        for _ in range(60):
            mx.draw(rng, snr_db=5.0, reverb=False)
            names.append(mx.last_mix)
        return sum("rain" in n for n in names), names
    plain, plain_names = rain_share(None)
    assert rain_share({})[1] == plain_names
    assert rain_share({"rain": 8.0})[0] > plain + 10, plain
    for bad in ("music", "music=-1", "=2", "music=nan"):
        try:
            parse_noise_weight(bad)
        except ValueError:
            continue
        raise AssertionError(f"accepted {bad!r}")
    assert parse_noise_weight(" music=2, crowd=1.5,") == {"music": 2.0, "crowd": 1.5}
    def descriptions(mx):
        rng = np.random.default_rng(13)
        out = []
        for _ in range(20):
            mx.draw(rng)
            out.append(mx.last_mix)
        return out

    # --speech-vary: each talker named with its rate, the speech's band edge moved
    # by that rate; 0 draws no extra random numbers, so old runs replay as they were
    assert descriptions(Mixer(corpus, "train", 9600, speech_vary=0.0)) == \
        descriptions(Mixer(corpus, "train", 9600))
    varied = Mixer(corpus, "train", 9600, speech_vary=1.0)
    vary_rng = np.random.default_rng(12)
    rates, edges = [], []
    for _ in range(30):
        _, clean = varied.draw(vary_rng, snr_db=math.inf, reverb=False)
        named = [p for p in varied.last_mix.split(" + ") if p.startswith("speech x")]
        assert len(named) == 1, varied.last_mix
        rates.append(float(named[0][len("speech x"):]))
        # the 16 kHz recordings hold nothing above 8 kHz until played faster
        power = np.abs(np.fft.rfft(clean)) ** 2
        edges.append(np.searchsorted(np.cumsum(power) / power.sum(), 0.99) * RATE / len(clean))
    assert 0.85 <= min(rates) < 0.95 and 1.05 < max(rates) <= 1.15, rates
    assert np.corrcoef(rates, edges)[0, 1] > 0.9, (rates, edges)
    # the trainer refuses a group name that weights nothing (a typo) and names the groups
    import contextlib
    import io
    from calyx_train.train import main as train_main
    err = io.StringIO()
    try:
        with contextlib.redirect_stderr(err):
            train_main(["--minutes", "1", "--cache", str(tmp_path / "cache"), "--run", str(tmp_path / "run"),
                        "--noise-weight", "rian=2"])
    except SystemExit as e:
        assert e.code == 2
    else:
        raise AssertionError("a misspelt noise group was accepted")
    assert "no noise group contains rian" in err.getvalue() and "hum" in err.getvalue(), err.getvalue()
