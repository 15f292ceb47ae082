"""Weight blob: 90 records, each a little-endian int32 element count followed by
that many little-endian float32 values, no header and no padding.

`export_records` folds the trainable network into the engine's records
(batch normalisation into scale and bias, the two GRU bias sets into b_r, b_z,
b_in, b_hn); `import_records` loads records back into a network.
"""
import struct

import numpy as np
import torch

RECORD_SIZES = [
    576, 64, 64, 192, 4096, 64, 64, 192, 4096, 64, 64, 192, 4096, 64, 64,
    576, 4096, 64, 64, 192, 4096, 64, 64, 196608,
    32768, 65536, 65536, 65536, 65536, 65536, 65536, 256, 256, 256, 256,
    8192, 131072, 131072, 131072, 131072, 131072, 131072, 512, 512, 512, 512,
    16384, 64, 64, 64, 192, 4096, 64, 64, 64, 64, 64, 192, 4096, 64, 64,
    64, 64, 64, 192, 4096, 64, 64, 64, 64, 64, 192, 1, 1,
    8192, 131072, 131072, 131072, 131072, 131072, 131072, 512, 512, 512, 512,
    30720, 1600, 100, 10, 10,
]
RECORD_COUNT = 90
BLOB_BYTES = 4 * RECORD_COUNT + 4 * sum(RECORD_SIZES)  # 9,213,008


def _layout(net):
    """(kind, object) in record order; 'w' one tensor, 'bn' scale+bias, 'gru' ten tensors."""
    L = []
    w = lambda m: L.append(("w", m.weight))  # noqa: E731
    bn = lambda m: L.append(("bn", m))       # noqa: E731
    w(net.e0_conv); bn(net.e0_bn)
    for blk in (net.e1, net.e2, net.e3):
        w(blk.dw); w(blk.pw); bn(blk.bn)
    w(net.c0_conv); w(net.c0_pw); bn(net.c0_bn)
    w(net.c1.dw); w(net.c1.pw); bn(net.c1.bn)
    w(net.c_lin)
    w(net.emb_lin); L.append(("gru", net.emb_gru))
    w(net.gain_lin_in); L.append(("gru", net.gain_gru)); w(net.gain_lin_out)
    w(net.d3_conv); bn(net.d3_bn)
    w(net.d3_block.dw); w(net.d3_block.pw); bn(net.d3_block.bn)
    for skip, up in ((net.d2_skip, net.d2_up), (net.d1_skip, net.d1_up)):
        w(skip.dw); bn(skip.bn)
        w(up.tr); w(up.pw); bn(up.bn)
    w(net.d0_skip.dw); bn(net.d0_skip.bn)
    w(net.gain_conv); bn(net.gain_bn)
    w(net.df_lin_in); L.append(("gru", net.df_gru)); w(net.df_lin_out)
    w(net.df_conv1); w(net.df_conv2); bn(net.df_bn)
    return L


@torch.no_grad()
def export_records(net):
    """List of 90 float32 numpy arrays in record order."""
    out = []
    for kind, obj in _layout(net):
        if kind == "w":
            out.append(obj.detach().reshape(-1))
        elif kind == "bn":
            scale = obj.weight / torch.sqrt(obj.running_var + obj.eps)
            out.append(scale)
            out.append(obj.bias - obj.running_mean * scale)
        else:
            per_layer = [layer.folded() for layer in obj.layers]
            for i in range(10):
                out.append(torch.cat([p[i].reshape(-1) for p in per_layer]))
    recs = [r.detach().cpu().numpy().astype(np.float32).reshape(-1) for r in out]
    sizes = [r.size for r in recs]
    if sizes != RECORD_SIZES:
        raise AssertionError(f"record sizes differ from the engine layout: {sizes}")
    return recs


@torch.no_grad()
def import_records(net, recs):
    """Load 90 records into `net`. Batch normalisation gets the folded factors as its
    affine part with zero mean and unit variance, so evaluation reproduces them."""
    if [r.size for r in recs] != RECORD_SIZES:
        raise ValueError("records do not match the engine layout")
    it = iter(recs)
    for kind, obj in _layout(net):
        if kind == "w":
            obj.copy_(torch.from_numpy(next(it).copy()).reshape(obj.shape))
        elif kind == "bn":
            obj.weight.copy_(torch.from_numpy(next(it).copy()))
            obj.bias.copy_(torch.from_numpy(next(it).copy()))
            obj.running_mean.zero_()
            obj.running_var.fill_(1.0 - obj.eps)
        else:
            tens = [torch.from_numpy(next(it).copy()) for _ in range(10)]
            n = len(obj.layers)
            for li, layer in enumerate(obj.layers):
                part = []
                for i, t in enumerate(tens):
                    per = t.numel() // n
                    chunk = t[li * per:(li + 1) * per]
                    part.append(chunk.reshape(256, 256) if i < 6 else chunk)
                layer.load_folded(part)


def write_blob(path, recs):
    with open(path, "wb") as f:
        for r in recs:
            r = np.ascontiguousarray(r, dtype="<f4")
            f.write(struct.pack("<i", r.size))
            f.write(r.tobytes())


def read_blob(path, count=RECORD_COUNT):
    """Parse `count` records; rejects negative counts and truncated data."""
    with open(path, "rb") as f:
        data = f.read()
    recs, pos = [], 0
    for i in range(count):
        if pos + 4 > len(data):
            raise ValueError(f"record {i}: no element count")
        (n,) = struct.unpack_from("<i", data, pos)
        if n < 0:
            raise ValueError(f"record {i}: negative element count {n}")
        if pos + 4 + 4 * n > len(data):
            raise ValueError(f"record {i}: {n} elements run past the end")
        recs.append(np.frombuffer(data, dtype="<f4", count=n, offset=pos + 4).astype(np.float32))
        pos += 4 + 4 * n
    return recs


@torch.no_grad()
def recalibrate_batch_norm(net, forwards):
    """Give a blob-loaded network batch statistics that match its folded factors.

    A blob keeps only each normalisation's folded scale s and bias b, so
    `import_records` loads them with zero mean and unit variance. Training mode
    normalises by the batch's own statistics instead, which would change every
    layer at the first step. This measures the mean m and variance v that reach
    each normalisation (in evaluation mode, so the folded network runs
    unchanged) over the batches that `forwards()` runs, then sets
    weight = s * sqrt(v + eps), bias = b + s * m and the running statistics to
    (m, v): evaluation still gives s * x + b, and training on batches like these
    gives nearly the same."""
    bns = [m for m in net.modules() if isinstance(m, torch.nn.modules.batchnorm._BatchNorm)]
    sums = {bn: [0.0, 0.0, 0] for bn in bns}

    def hook(mod, inputs):
        # channels are the last axis; every other axis is a sample
        x = inputs[0].reshape(-1, mod.num_features).double()
        acc = sums[mod]
        acc[0] = acc[0] + x.sum(0)
        acc[1] = acc[1] + (x * x).sum(0)
        acc[2] += x.shape[0]

    was_training = net.training
    net.eval()
    handles = [bn.register_forward_pre_hook(hook) for bn in bns]
    try:
        forwards()
    finally:
        for h in handles:
            h.remove()
        net.train(was_training)
    for bn in bns:
        s1, s2, n = sums[bn]
        if n == 0:
            continue
        mean = s1 / n
        var = (s2 / n - mean * mean).clamp_min(0.0)
        scale = bn.weight / torch.sqrt(bn.running_var + bn.eps)
        shift = bn.bias - bn.running_mean * scale
        bn.weight.copy_(scale * torch.sqrt(var.float() + bn.eps))
        bn.bias.copy_(shift + scale * mean.float())
        bn.running_mean.copy_(mean.float())
        bn.running_var.copy_(var.float())
