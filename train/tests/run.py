"""Minimal test runner (no pytest): runs every test_* function of the test_*.py
modules in this folder and ends with a line "N passed, M failed"."""
import importlib
import os
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, HERE)


def main():
    import torch
    torch.set_num_threads(2)
    only = sys.argv[1:]
    passed = failed = 0
    for name in sorted(f[:-3] for f in os.listdir(HERE) if f.startswith("test_") and f.endswith(".py")):
        mod = importlib.import_module(name)
        for fn in sorted(k for k in dir(mod) if k.startswith("test_")):
            if only and not any(o in f"{name}.{fn}" for o in only):
                continue
            t = time.time()
            try:
                getattr(mod, fn)()
                passed += 1
                print(f"ok    {name}.{fn} ({time.time() - t:.1f} s)", flush=True)
            except Exception:  # report every failure, keep going
                failed += 1
                print(f"FAIL  {name}.{fn}", flush=True)
                traceback.print_exc()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
