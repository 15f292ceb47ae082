import copy
import os
import struct
import tempfile

import numpy as np
import torch

from calyx_train.blob import (BLOB_BYTES, RECORD_SIZES, export_records, import_records,
                              read_blob, recalibrate_batch_norm, write_blob)
from calyx_train.model import Network
from common import random_features, random_network


def test_layout_matches_engine_blob():
    assert len(RECORD_SIZES) == 90
    assert sum(RECORD_SIZES) == 2303162
    assert BLOB_BYTES == 9213008
    assert RECORD_SIZES[0] == 576 and RECORD_SIZES[-2:] == [10, 10] and max(RECORD_SIZES) == 196608
    recs = export_records(Network())
    assert [r.size for r in recs] == RECORD_SIZES


def test_export_import_round_trip_reproduces_outputs():
    net = random_network(3)
    erb, spec = random_features(4, 2, 12)
    with torch.no_grad():
        g0, c0, _ = net(erb, spec)
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "w.bin")
        write_blob(path, export_records(net))
        assert os.path.getsize(path) == BLOB_BYTES
        back = Network().eval()
        import_records(back, read_blob(path))
        # a second export is bit-identical: folding is exact after import
        path2 = os.path.join(d, "w2.bin")
        write_blob(path2, export_records(back))
        assert open(path, "rb").read() == open(path2, "rb").read()
    with torch.no_grad():
        g1, c1, _ = back(erb, spec)
    assert torch.max(torch.abs(g1 - g0)) < 1e-5
    assert torch.max(torch.abs(c1 - c0)) < 1e-5


def test_gru_biases_fold_into_four_vectors():
    net = random_network(5)
    recs = export_records(net)
    layer = net.emb_gru.layers[0]
    H = 256
    assert np.allclose(recs[31], (layer.b_ih[:H] + layer.b_hh[:H]).detach().numpy())
    assert np.allclose(recs[33], layer.b_ih[2 * H:].detach().numpy())
    assert np.allclose(recs[34], layer.b_hh[2 * H:].detach().numpy())
    # two-layer records hold layer 0 then layer 1
    l1 = net.gain_gru.layers[1]
    assert np.allclose(recs[36][65536:].reshape(256, 256), l1.w_ih[:H].detach().numpy())


def test_reader_rejects_malformed_files():
    with tempfile.TemporaryDirectory() as d:
        neg = os.path.join(d, "neg.bin")
        with open(neg, "wb") as f:
            f.write(struct.pack("<i", -1) + b"\0" * 16)
        short = os.path.join(d, "short.bin")
        with open(short, "wb") as f:
            f.write(struct.pack("<i", 4) + b"\0" * 12)
        for path, count in ((neg, 1), (short, 1), (short, 2)):
            try:
                read_blob(path, count)
            except ValueError:
                continue
            raise AssertionError(f"{path} accepted")


def test_batch_norm_recalibration_keeps_folded_outputs_and_matches_training_mode():
    net = random_network(7)
    erb, spec = random_features(4, 2, 40)
    back = Network()
    import_records(back, read_blob_from(net))
    with torch.no_grad():
        g_eval, c_eval, _ = back.eval()(erb, spec)
        # (on a copy: a training-mode pass updates the running statistics)
        g_raw, _, _ = copy.deepcopy(back).train()(erb, spec)
    # without recalibration training mode normalises by batch statistics the folded
    # factors never saw, so the output moves far
    raw_err = float(torch.max(torch.abs(g_raw - g_eval)))
    assert raw_err > 1e-2

    back.train()
    recalibrate_batch_norm(back, lambda: back(erb, spec))
    assert back.training
    with torch.no_grad():
        g0, c0, _ = back.eval()(erb, spec)
        g1, c1, _ = back.train()(erb, spec)
    assert torch.max(torch.abs(g0 - g_eval)) < 1e-4 and torch.max(torch.abs(c0 - c_eval)) < 1e-4
    # on the batch it was measured on, training mode now gives the folded result
    assert torch.max(torch.abs(g1 - g_eval)) < 1e-3 < raw_err
    assert torch.max(torch.abs(c1 - c_eval)) < 1e-3


def read_blob_from(net):
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "w.bin")
        write_blob(path, export_records(net))
        return read_blob(path)
