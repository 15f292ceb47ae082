import torch

from calyx_train import gru_native
from calyx_train.gru import StackedGRU
from common import random_features, random_network


def test_shapes_and_output_ranges():
    net = random_network(1)
    erb, spec = random_features(2, 3, 7)
    with torch.no_grad():
        gains, coefs, state = net(erb, spec)
    assert gains.shape == (3, 7, 32)
    assert coefs.shape == (3, 7, 5, 96, 2)
    assert bool(((gains > 0) & (gains < 1)).all())
    # each coefficient is tanh (> -1) plus a rectified value (>= 0)
    assert bool((coefs > -1).all())
    assert state["df_ring"].shape == (3, 4, 96, 64)


def test_sequence_equals_frame_by_frame():
    net = random_network(7)
    erb, spec = random_features(8, 2, 9)
    with torch.no_grad():
        g_all, c_all, _ = net(erb, spec)
        state = net.initial_state(2)
        for t in range(9):
            g, c, state = net(erb[:, t:t + 1], spec[:, t:t + 1], state)
            assert torch.max(torch.abs(g[:, 0] - g_all[:, t])) < 1e-5
            assert torch.max(torch.abs(c[:, 0] - c_all[:, t])) < 1e-5


def test_network_is_causal():
    net = random_network(9)
    erb, spec = random_features(10, 1, 8)
    erb2, spec2 = erb.clone(), spec.clone()
    erb2[:, 5:] += 1.0
    spec2[:, 5:] -= 1.0
    with torch.no_grad():
        g1, c1, _ = net(erb, spec)
        g2, c2, _ = net(erb2, spec2)
    assert torch.equal(g1[:, :5], g2[:, :5]) and torch.equal(c1[:, :5], c2[:, :5])
    assert not torch.equal(g1[:, 5], g2[:, 5])


def test_custom_gru_matches_torch_gru_with_gradients():
    torch.manual_seed(11)
    T, B, H = 6, 3, 256
    ours = StackedGRU(H, 2).double()
    ref = torch.nn.GRU(H, H, num_layers=2).double()
    with torch.no_grad():
        for i, layer in enumerate(ours.layers):
            getattr(ref, f"weight_ih_l{i}").copy_(layer.w_ih)
            getattr(ref, f"weight_hh_l{i}").copy_(layer.w_hh)
            getattr(ref, f"bias_ih_l{i}").copy_(layer.b_ih)
            getattr(ref, f"bias_hh_l{i}").copy_(layer.b_hh)
    x = torch.randn(T, B, H, dtype=torch.float64, requires_grad=True)
    h0 = torch.randn(2, B, H, dtype=torch.float64, requires_grad=True)
    w = torch.randn(T, B, H, dtype=torch.float64)
    y1, h1 = ours(x, h0)
    ((y1 * w).sum() + h1.sum()).backward()
    g_ours = [x.grad.clone(), h0.grad.clone()] + [p.grad.clone() for p in ours.parameters()]
    x.grad, h0.grad = None, None
    y2, h2 = ref(x, h0)
    ((y2 * w).sum() + h2.sum()).backward()
    g_ref = [x.grad, h0.grad]
    for i in range(2):
        g_ref += [getattr(ref, f"{n}_l{i}").grad for n in ("weight_ih", "weight_hh", "bias_ih", "bias_hh")]
    assert torch.max(torch.abs(y1 - y2)) < 1e-12
    for a, b in zip(g_ours, g_ref):
        assert torch.max(torch.abs(a - b)) < 1e-9


def _gru_run(layer, x, h0, w):
    x = x.clone().requires_grad_(True)
    h0 = h0.clone().requires_grad_(True)
    layer.zero_grad()
    y, h = layer(x, h0)
    ((y * w).sum() + 0.5 * h.sum()).backward()
    return [y.detach(), x.grad, h0.grad] + [p.grad.clone() for p in layer.parameters()]


def test_native_gru_loops_match_pytorch_loops():
    # The compiled loops are what training runs on; they must be built here
    # and agree with the PyTorch loops in values and every gradient.
    assert gru_native.available(), "native recurrent loops failed to build"
    torch.manual_seed(12)
    T, B, H = 37, 3, 48
    layer = StackedGRU(H, 2)
    # scale 40 drives the gates deep into saturation (the exp clamps)
    for scale in (1.0, 40.0):
        x, h0, w = scale * torch.randn(T, B, H), torch.randn(2, B, H), torch.randn(T, B, H)
        native = _gru_run(layer, x, h0, w)
        saved, gru_native._lib = gru_native._lib, None
        try:
            ref = _gru_run(layer, x, h0, w)
        finally:
            gru_native._lib = saved
        for a, b in zip(native, ref):
            assert torch.max(torch.abs(a - b)) < 1e-5 * (1.0 + torch.max(torch.abs(b)))
