import numpy as np
import torch

from calyx_train.chain import DELAY, Chain
from calyx_train.loss import si_sdr, total_loss
from common import random_network


def test_si_sdr_known_values():
    rng = np.random.default_rng(31)
    ref = torch.from_numpy(rng.standard_normal((1, 48000)))
    noise = torch.from_numpy(rng.standard_normal((1, 48000)))
    ref, noise = ref - ref.mean(), noise - noise.mean()
    noise = noise - (noise * ref).sum() / (ref * ref).sum() * ref  # orthogonal to ref
    noise = noise / noise.norm() * ref.norm() * 10 ** (-10 / 20)
    assert abs(float(si_sdr(3.0 * ref + 3.0 * noise, ref)) - 10.0) < 1e-6
    assert float(si_sdr(0.5 * ref, ref)) > 100


def test_loss_ranks_clean_over_noisy_and_has_gradients():
    torch.manual_seed(33)
    ch = Chain()
    net = random_network(34).train()
    t = torch.arange(480 * 40) / 48000.0
    clean = (0.1 * torch.sin(2 * np.pi * 220 * t) * torch.sin(2 * np.pi * 3 * t))[None]
    noisy = clean + 0.05 * torch.randn_like(clean)
    cs = ch.analyse(clean)
    # a perfect output: the clean signal, delayed like the chain's output
    perfect = torch.nn.functional.pad(clean, (DELAY, 0))[:, :clean.shape[1]]
    perfect_spec = torch.nn.functional.pad(cs, (0, 0, 2, 0))[:, :cs.shape[1]]
    l_perfect, _ = total_loss(perfect, perfect_spec, clean, cs)
    y, enh, _ = ch(net, noisy)
    l_net, parts = total_loss(y, enh, clean, cs)
    assert float(l_perfect) < 1e-3 < float(l_net)
    l_net.backward()
    assert net.df_conv1.weight.grad.abs().sum() > 0
    assert net.gain_conv.weight.grad.abs().sum() > 0
    assert all(np.isfinite(v) for v in parts.values())
    # the SI-SDR term rewards the perfect output by its (large) SI-SDR and the
    # network's output by its own, lower one
    with torch.no_grad():
        lp, pp = total_loss(perfect, perfect_spec, clean, cs, w_sisdr=0.01)
        ln, pn = total_loss(y, enh, clean, cs, w_sisdr=0.01)
    assert pp["sisdr"] > 40.0 > pn["sisdr"]
    assert abs(float(ln) - (float(l_net) - 0.01 * pn["sisdr"])) < 1e-5
    assert float(lp) < float(ln)
