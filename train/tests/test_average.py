import torch

from calyx_train.average import average_state_dicts, measure_batch_norm


def test_average_takes_mean_of_weights_and_last_counter():
    a = {"w": torch.tensor([1.0, 2.0]), "n": torch.tensor(3)}
    b = {"w": torch.tensor([3.0, 6.0]), "n": torch.tensor(7)}
    c = {"w": torch.tensor([2.0, 1.0]), "n": torch.tensor(9)}
    out = average_state_dicts([a, b, c])
    assert torch.allclose(out["w"], torch.tensor([2.0, 3.0]))
    assert out["w"].dtype == torch.float32 and int(out["n"]) == 9
    for bad in ([], [a, {"v": torch.zeros(2), "n": torch.tensor(1)}]):
        try:
            average_state_dicts(bad)
        except ValueError:
            continue
        raise AssertionError(f"accepted {bad!r}")


def test_measured_batch_norm_statistics_are_the_mean_over_batches():
    torch.manual_seed(3)
    net = torch.nn.Sequential(torch.nn.Linear(4, 3), torch.nn.BatchNorm1d(3))
    bn = net[1]
    bn.running_mean.fill_(5.0)  # stale statistics that must not survive
    batches = [torch.randn(16, 4) * (i + 1) + i for i in range(3)]

    def forwards():
        for x in batches:
            net(x)

    measure_batch_norm(net, forwards)
    with torch.no_grad():
        h = [net[0](x) for x in batches]
    mean = torch.stack([x.mean(0) for x in h]).mean(0)
    var = torch.stack([x.var(0, unbiased=True) for x in h]).mean(0)
    assert torch.allclose(bn.running_mean, mean, atol=1e-5)
    assert torch.allclose(bn.running_var, var, atol=1e-4)
    assert not net.training and bn.momentum == 0.1
