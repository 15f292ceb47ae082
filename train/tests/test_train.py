import ctypes.util
import subprocess
import sys

from calyx_train.train import ALLOCATOR_VAR, allocator_environment, lr_at


def test_allocator_environment_preloads_once_and_respects_opt_out():
    env = allocator_environment({"PATH": "/bin", "LD_PRELOAD": "libx.so"}, "libtcmalloc_minimal.so.4")
    assert env["LD_PRELOAD"] == "libtcmalloc_minimal.so.4 libx.so"
    assert env["PATH"] == "/bin" and env[ALLOCATOR_VAR] == "tcmalloc"
    # the re-run itself, an explicit choice, a preloaded tcmalloc or none installed: stay
    assert allocator_environment(env, "libtcmalloc_minimal.so.4") is None
    assert allocator_environment({ALLOCATOR_VAR: "system"}, "libtcmalloc_minimal.so.4") is None
    assert allocator_environment({"LD_PRELOAD": "/opt/libtcmalloc.so"}, "libtcmalloc_minimal.so.4") is None
    assert allocator_environment({}, None) is None


def test_allocator_environment_really_loads_tcmalloc():
    lib = ctypes.util.find_library("tcmalloc_minimal")
    if lib is None:
        print("      (skipped: tcmalloc is not installed)")
        return
    env = allocator_environment({}, lib)
    maps = subprocess.run([sys.executable, "-c", "print(open('/proc/self/maps').read())"], env=env,
                          capture_output=True, text=True, check=True).stdout
    assert "tcmalloc" in maps


def test_learning_rate_warms_up_then_decays_to_five_percent():
    assert abs(lr_at(0.0, 0, 1.0, 10) - 0.1) < 1e-12
    assert abs(lr_at(0.0, 9, 1.0, 10) - 1.0) < 1e-12
    assert abs(lr_at(0.5, 100, 1.0, 10) - 0.525) < 1e-12
    assert abs(lr_at(1.0, 100, 1.0, 10) - 0.05) < 1e-12
    assert abs(lr_at(3.0, 100, 1.0, 10) - 0.05) < 1e-12
    # constant: the same warm-up, then the full rate to the end
    assert abs(lr_at(0.0, 4, 1.0, 10, constant=True) - 0.5) < 1e-12
    assert abs(lr_at(0.9, 100, 1.0, 10, constant=True) - 1.0) < 1e-12


def test_snr_draws_replay_old_stream_and_focus_narrows_range():
    import math
    import numpy as np
    from calyx_train.data import draw_snr
    old_rng, rng = np.random.default_rng(5), np.random.default_rng(5)
    for _ in range(500):
        old = old_rng.uniform(-5.0, 20.0) if old_rng.random() > 0.05 else math.inf
        assert draw_snr(rng, 0.0) == old
    rng = np.random.default_rng(6)
    every = [draw_snr(rng, 1.0) for _ in range(2000)]
    finite = [v for v in every if math.isfinite(v)]
    assert 0.02 < 1.0 - len(finite) / len(every) < 0.08
    assert all(-2.0 <= v <= 8.0 for v in finite)
    part = [draw_snr(rng, 0.3) for _ in range(4000)]
    above = sum(1 for v in part if math.isfinite(v) and v > 8.0) / len(part)
    # only the wide range reaches above 8 dB: 0.95 * 0.7 * 12/25 = 0.32
    assert 0.28 < above < 0.36
