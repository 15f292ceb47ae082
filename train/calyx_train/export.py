"""Write the engine's weight blob from a checkpoint, or check a blob file.

    python3 -m calyx_train.export --checkpoint runs/main/best.pt --out weights.bin
    python3 -m calyx_train.export --check weights.bin
"""
import argparse
import os
import sys

import torch

from .blob import BLOB_BYTES, RECORD_SIZES, export_records, read_blob, write_blob
from .model import Network


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--checkpoint")
    ap.add_argument("--out")
    ap.add_argument("--check")
    ap.add_argument("--random-seed", type=int, help="export freshly initialised weights with this seed")
    a = ap.parse_args(argv)
    if a.check:
        size = os.path.getsize(a.check)
        recs = read_blob(a.check)
        ok = size == BLOB_BYTES and [r.size for r in recs] == RECORD_SIZES
        finite = all(bool(torch.isfinite(torch.from_numpy(r)).all()) for r in recs)
        print(f"{a.check}: {size} bytes, {len(recs)} records, layout {'ok' if ok else 'WRONG'}, "
              f"values {'finite' if finite else 'NOT FINITE'}")
        return 0 if ok and finite else 1
    net = Network()
    if a.random_seed is not None:
        torch.manual_seed(a.random_seed)
        net = Network()
        # give batch normalisation non-trivial statistics so the folding is exercised
        for m in net.modules():
            if isinstance(m, torch.nn.BatchNorm1d):
                m.running_mean.uniform_(-0.2, 0.2)
                m.running_var.uniform_(0.5, 2.0)
                m.weight.data.uniform_(0.5, 1.5)
                m.bias.data.uniform_(-0.2, 0.2)
    elif a.checkpoint:
        ck = torch.load(a.checkpoint, map_location="cpu")
        net.load_state_dict(ck["net"])
    else:
        ap.error("--checkpoint, --random-seed or --check is required")
    write_blob(a.out, export_records(net))
    print(f"wrote {a.out} ({os.path.getsize(a.out)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
