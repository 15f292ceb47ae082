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
