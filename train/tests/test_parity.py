"""Parity of the PyTorch network with the C++ `model`, frame by frame, through
the helper program tests/train_parity/calyx_model_runner of a build folder
named by CALYX_BUILD_DIR (skipped, and reported as such, when there is none)."""
import os
import subprocess
import tempfile

import numpy as np
import torch

from calyx_train.blob import export_records, write_blob
from common import random_features, random_network

FRAMES = 200


def _runner():
    build = os.environ.get("CALYX_BUILD_DIR")
    if not build:
        return None
    path = os.path.join(build, "tests", "train_parity", "calyx_model_runner")
    return path if os.access(path, os.X_OK) else None


def test_cpp_model_matches_reference_on_random_weights():
    runner = _runner()
    if runner is None:
        print("      (skipped: no calyx_model_runner in CALYX_BUILD_DIR)")
        return
    net = random_network(41)
    erb, spec = random_features(42, 1, FRAMES)
    erb = erb * 0.5
    with torch.no_grad():
        gains, coefs, _ = net(erb, spec)
    with tempfile.TemporaryDirectory() as d:
        blob = os.path.join(d, "w.bin")
        write_blob(blob, export_records(net))
        files = [os.path.join(d, n) for n in ("band.f32", "spec.f32", "gains.f32", "coefs.f32")]
        erb[0].numpy().astype(np.float32).tofile(files[0])
        spec[0].numpy().astype(np.float32).tofile(files[1])
        subprocess.run([runner, blob, str(FRAMES)] + files, check=True)
        g_cpp = np.fromfile(files[2], dtype=np.float32).reshape(FRAMES, 32)
        c_cpp = np.fromfile(files[3], dtype=np.float32).reshape(FRAMES, 960)
    g_ref = gains[0].numpy()
    c_ref = coefs[0].numpy().reshape(FRAMES, 960)  # [tap][bin][re/im] per frame
    dg = float(np.max(np.abs(g_cpp - g_ref)))
    dc = float(np.max(np.abs(c_cpp - c_ref)))
    print(f"      max abs difference over {FRAMES} frames: gains {dg:.2e}, coefficients {dc:.2e}")
    assert dg <= 1e-4 and dc <= 1e-4, (dg, dc)
