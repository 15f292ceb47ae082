"""Average the weights of several snapshots of one run into a blob.

    python3 -m calyx_train.average --out runs/r14/avg.bin runs/r14/snap_*.pt

Weights taken at intervals along a run at a constant learning rate wander
around a minimum; their mean sits nearer its middle, which tends to suit data
the run never saw better than any single snapshot. The batch normalisation
statistics of the mean are not the mean of the statistics, so they are
measured afresh on training batches before the normalisation is folded into
the blob. --skip drops the earliest snapshots (still close to the start).
"""
import argparse
import os
import sys

import torch

from .blob import export_records, write_blob
from .chain import Chain
from .model import Network
from .train import HERE, Batches, evaluate, format_eval, score, validation_set


def average_state_dicts(states):
    """Mean of every floating-point tensor; counters (integers) come from the last."""
    if not states:
        raise ValueError("no snapshots to average")
    keys = list(states[0])
    for s in states[1:]:
        if list(s) != keys:
            raise ValueError("snapshots hold different tensors")
    out = {}
    for k in keys:
        if states[0][k].is_floating_point():
            out[k] = sum(s[k].double() for s in states).div(len(states)).to(states[0][k].dtype)
        else:
            out[k] = states[-1][k].clone()
    return out


@torch.no_grad()
def measure_batch_norm(net, forwards):
    """Set each batch normalisation's running statistics to the plain mean over
    the batches that `forwards()` runs (training mode, momentum off), then
    leave the network in evaluation mode."""
    bns = [m for m in net.modules() if isinstance(m, torch.nn.modules.batchnorm._BatchNorm)]
    saved = [bn.momentum for bn in bns]
    for bn in bns:
        bn.reset_running_stats()
        bn.momentum = None  # cumulative average over all batches
    net.train()
    try:
        forwards()
    finally:
        for bn, m in zip(bns, saved):
            bn.momentum = m
        net.eval()


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("snapshots", nargs="+", help="snap_<step>.pt files (or checkpoints) of one run")
    ap.add_argument("--out", required=True, help="blob to write")
    ap.add_argument("--skip", type=int, default=0, help="leave out this many of the earliest snapshots")
    ap.add_argument("--cache", default=os.path.join(HERE, "cache"))
    ap.add_argument("--batches", type=int, default=32, help="training batches for the normalisation statistics")
    ap.add_argument("--seed", type=int, default=4242)
    ap.add_argument("--score", action="store_true", help="also score the result on validation")
    a = ap.parse_args(argv)
    paths = sorted(a.snapshots)[a.skip:]
    if not paths:
        ap.error("--skip leaves no snapshots")
    states = [torch.load(p, map_location="cpu")["net"] for p in paths]
    net, chain = Network(), Chain()
    net.load_state_dict(average_state_dicts(states))
    batches = iter(Batches(a.cache, 8, 3.0, a.seed, 0))

    def forwards():
        for _ in range(a.batches):
            chain(net, next(batches)[0])

    measure_batch_norm(net, forwards)
    write_blob(a.out, export_records(net))
    print(f"averaged {len(paths)} snapshots ({os.path.basename(paths[0])} .. "
          f"{os.path.basename(paths[-1])}) into {a.out}")
    if a.score:
        summ = evaluate(net, chain, validation_set(a.cache))
        print(f"score {score(summ):.2f} | {format_eval(summ)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
