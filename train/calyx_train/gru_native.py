"""Native loops for the recurrent layers: gru_kernels.c, built on first use.

The shared library is compiled with the system C compiler (`$CC`, else `cc`)
for the machine it runs on and cached under `train/build/` (or
`$CALYX_TRAIN_BUILD`), named by a hash of the source and flags so an edit
rebuilds it. Without a compiler, or with CALYX_TRAIN_NATIVE=0, `available()`
is False and the recurrent layers keep their PyTorch loops.
"""
import ctypes
import hashlib
import os
import subprocess
import sys
import tempfile

import torch

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "gru_kernels.c")
# -fno-trapping-math lets the clamps in the gate loops become selects, so
# those loops vectorise.
FLAGS = ["-O3", "-march=native", "-fno-trapping-math", "-fPIC", "-shared", "-std=c99"]

_lib = None
_tried = False


def _cpu_flags():
    try:
        with open("/proc/cpuinfo") as f:
            return next((line for line in f if line.startswith(("flags", "Features"))), "")
    except OSError:
        return ""


def _build():
    cc = os.environ.get("CC", "cc")
    src = open(SOURCE, "rb").read()
    # -march=native code must not be reused on another CPU: the tag covers
    # the processor's feature flags as well as the source and the flags.
    tag = hashlib.sha1(src + " ".join([cc] + FLAGS + [_cpu_flags()]).encode()).hexdigest()[:12]
    out_dir = os.environ.get("CALYX_TRAIN_BUILD", os.path.join(os.path.dirname(HERE), "build"))
    path = os.path.join(out_dir, f"gru_kernels_{tag}.so")
    if not os.path.exists(path):
        os.makedirs(out_dir, exist_ok=True)
        fd, tmp = tempfile.mkstemp(suffix=".so", dir=out_dir)
        os.close(fd)
        try:
            subprocess.run([cc] + FLAGS + ["-o", tmp, SOURCE, "-lm"], check=True,
                           capture_output=True, text=True)
            os.replace(tmp, path)
        finally:
            if os.path.exists(tmp):
                os.unlink(tmp)
    lib = ctypes.CDLL(path)
    for fn in (lib.calyx_gru_forward, lib.calyx_gru_backward):
        fn.restype = None
    return lib


def available():
    """Builds or loads the library once; False (with one message) if that fails."""
    global _lib, _tried
    if not _tried:
        _tried = True
        if os.environ.get("CALYX_TRAIN_NATIVE", "1") != "0":
            try:
                _lib = _build()
            except (OSError, subprocess.CalledProcessError) as e:
                detail = getattr(e, "stderr", "") or str(e)
                print(f"calyx_train: native recurrent loops unavailable, using PyTorch loops ({detail.strip()})",
                      file=sys.stderr)
    return _lib is not None


def usable(*tensors):
    return available() and all(t.device.type == "cpu" and t.dtype == torch.float32 for t in tensors)


def _p(t):
    return ctypes.c_void_p(t.data_ptr())


def forward(xp, w_hh, b_hh, h0):
    """Same results as the PyTorch loop: (hs, r, z, n, ghn), each [T, B, H]."""
    T, B, G = xp.shape
    H = G // 3
    xp, b_hh, h0 = xp.contiguous(), b_hh.contiguous(), h0.contiguous()
    w_hh = w_hh.contiguous()
    hs, r, z, n, ghn = (xp.new_empty((T, B, H)) for _ in range(5))
    gh = xp.new_empty((B, G))
    panels = xp.new_empty((G, H))
    _lib.calyx_gru_forward(T, B, H, _p(xp), _p(w_hh), _p(b_hh), _p(h0), _p(hs), _p(r), _p(z), _p(n),
                           _p(ghn), _p(gh), _p(panels))
    return hs, r, z, n, ghn


def backward(d_hs, w_hh, h0, hs, r, z, n, ghn):
    """(d_xp, d_gh, d_h0) with d_xp, d_gh [T, B, 3H]."""
    T, B, H = hs.shape
    d_hs, w_hh, h0 = d_hs.contiguous(), w_hh.contiguous(), h0.contiguous()
    d_xp = hs.new_empty((T, B, 3 * H))
    d_gh = hs.new_empty((T, B, 3 * H))
    dh = hs.new_zeros((B, H))
    scratch = hs.new_empty((B, H))
    panels = hs.new_empty((3 * H, H))
    _lib.calyx_gru_backward(T, B, H, _p(d_hs), _p(w_hh), _p(h0), _p(hs), _p(r), _p(z), _p(n),
                            _p(ghn), _p(d_xp), _p(d_gh), _p(dh), _p(scratch), _p(panels))
    return d_xp, d_gh, dh
