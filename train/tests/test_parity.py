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


def _cli():
    build = os.environ.get("CALYX_BUILD_DIR")
    path = os.path.join(build, "cli", "calyx_cli") if build else None
    return path if path and os.access(path, os.X_OK) else None


def test_engine_matches_chain_with_shipped_weights():
    """calyx_cli (48 kHz, block 480, intensity 1) against the toolkit's chain and
    limiter with the blob built into it, on a seeded speech-like signal in noise,
    at a normal level and at one loud enough for the limiter to act: equal within
    1e-3 over the whole output."""
    import soundfile as sf
    from calyx_train.blob import import_records, read_blob
    from calyx_train.chain import Chain, limiter
    from calyx_train.model import Network
    from test_metrics import speech_like

    cli = _cli()
    if cli is None:
        print("      (skipped: no calyx_cli in CALYX_BUILD_DIR)")
        return
    blob = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                        "nn", "weights", "calyx_weights.bin")
    net = Network().eval()
    import_records(net, read_blob(blob))
    clean = speech_like(51, seconds=1.5)
    noise = np.random.default_rng(52).standard_normal(len(clean))
    peaks = []
    for level in (0.5, 12.0):
        x = (level * (clean + 0.02 * noise)).astype(np.float32)
        with tempfile.TemporaryDirectory() as d:
            src, dst = os.path.join(d, "in.wav"), os.path.join(d, "out.wav")
            sf.write(src, x, 48000, subtype="FLOAT")
            subprocess.run([cli, "-i", src, "-o", dst, "-t", "1"], check=True, stdout=subprocess.DEVNULL)
            y, _ = sf.read(dst, dtype="float32")
        with torch.no_grad():
            ref, _, _ = Chain()(net, torch.from_numpy(x)[None])
        ref = ref[0].numpy()
        diff = float(np.max(np.abs(y - limiter(ref))))
        peaks.append(float(np.abs(ref).max()))
        print(f"      level {level}: max abs difference engine vs chain+limiter {diff:.2e} "
              f"(chain peak {peaks[-1]:.3f}, output peak {np.abs(y).max():.3f})")
        assert diff <= 1e-3
    assert peaks[0] < 1.0 < peaks[1], peaks  # the second level does make the limiter act
