import numpy as np
import torch

from calyx_train.model import Network


def random_network(seed):
    """Initialised network with non-trivial normalisation statistics, in eval mode."""
    torch.manual_seed(seed)
    net = Network()
    g = torch.Generator().manual_seed(seed + 1)
    for m in net.modules():
        if isinstance(m, torch.nn.BatchNorm1d):
            m.running_mean.copy_(torch.rand(m.num_features, generator=g) * 0.4 - 0.2)
            m.running_var.copy_(torch.rand(m.num_features, generator=g) * 1.5 + 0.5)
            m.bias.data.copy_(torch.rand(m.num_features, generator=g) * 0.4 - 0.2)
    return net.eval()


def random_features(seed, batch, frames):
    rng = np.random.default_rng(seed)
    erb = torch.from_numpy(rng.standard_normal((batch, frames, 32)).astype(np.float32))
    spec = torch.from_numpy(rng.standard_normal((batch, frames, 192)).astype(np.float32))
    return erb, spec
