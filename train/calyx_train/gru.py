"""Gated recurrent layers with a sequence-level backward pass.

The input projections of a whole sequence are one matrix product; only the
hidden-to-hidden product runs per step. The backward pass walks the sequence
once in reverse and forms the hidden weight gradient with a single product at
the end instead of accumulating it step by step, which is where stock
recurrent training spends most of its time on a small CPU.

Gate order in every stacked matrix is (reset, update, candidate), the order the
engine's records use: W_ir, W_iz, W_in / W_hr, W_hz, W_hn.
"""
import math

import torch
from torch import nn

from . import gru_native


class _GRUCore(torch.autograd.Function):
    """Recurrence h_t = GRU(xp_t, h_{t-1}) given input projections xp (bias included)."""

    @staticmethod
    def forward(ctx, xp, w_hh, b_hh, h0):
        # xp: [T, B, 3H]; w_hh: [3H, H]; b_hh: [3H]; h0: [B, H]
        if gru_native.usable(xp, w_hh, b_hh, h0):
            hs, r_all, z_all, n_all, ghn_all = gru_native.forward(xp, w_hh, b_hh, h0)
            ctx.save_for_backward(w_hh, h0, hs, r_all, z_all, n_all, ghn_all)
            return hs
        T = xp.shape[0]
        H = h0.shape[1]
        hs = xp.new_empty((T,) + h0.shape)
        r_all = xp.new_empty((T,) + h0.shape)
        z_all = xp.new_empty((T,) + h0.shape)
        n_all = xp.new_empty((T,) + h0.shape)
        ghn_all = xp.new_empty((T,) + h0.shape)
        w_t = w_hh.t()
        h = h0
        for t in range(T):
            gh = torch.addmm(b_hh, h, w_t)
            x_t = xp[t]
            r = torch.sigmoid(x_t[:, :H] + gh[:, :H])
            z = torch.sigmoid(x_t[:, H:2 * H] + gh[:, H:2 * H])
            ghn = gh[:, 2 * H:]
            n = torch.tanh(torch.addcmul(x_t[:, 2 * H:], r, ghn))
            h = torch.addcmul(n, z, h - n)
            hs[t] = h
            r_all[t] = r
            z_all[t] = z
            n_all[t] = n
            ghn_all[t] = ghn
        ctx.save_for_backward(w_hh, h0, hs, r_all, z_all, n_all, ghn_all)
        return hs

    @staticmethod
    def backward(ctx, d_hs):
        w_hh, h0, hs, r_all, z_all, n_all, ghn_all = ctx.saved_tensors
        H = h0.shape[1]
        if gru_native.usable(d_hs, hs):
            d_xp, d_gh, dh = gru_native.backward(d_hs, w_hh, h0, hs, r_all, z_all, n_all, ghn_all)
        else:
            d_xp, d_gh, dh = _GRUCore.backward_loop(d_hs, w_hh, h0, hs, r_all, z_all, n_all, ghn_all)
        h_prev_all = torch.cat([h0.unsqueeze(0), hs[:-1]], 0)
        d_w = d_gh.reshape(-1, 3 * H).t().mm(h_prev_all.reshape(-1, H))
        d_b = d_gh.reshape(-1, 3 * H).sum(0)
        return d_xp, d_w, d_b, dh

    @staticmethod
    def backward_loop(d_hs, w_hh, h0, hs, r_all, z_all, n_all, ghn_all):
        T = hs.shape[0]
        H = h0.shape[1]
        d_xp = d_hs.new_empty(hs.shape[:2] + (3 * H,))
        d_gh = d_hs.new_empty(hs.shape[:2] + (3 * H,))
        dh = torch.zeros_like(h0)
        for t in range(T - 1, -1, -1):
            dh = dh + d_hs[t]
            h_prev = hs[t - 1] if t > 0 else h0
            r, z, n = r_all[t], z_all[t], n_all[t]
            da_n = dh * (1.0 - z) * (1.0 - n * n)
            da_z = dh * (h_prev - n) * z * (1.0 - z)
            da_r = da_n * ghn_all[t] * r * (1.0 - r)
            d_xp[t, :, :H] = da_r
            d_xp[t, :, H:2 * H] = da_z
            d_xp[t, :, 2 * H:] = da_n
            d_gh[t, :, :H] = da_r
            d_gh[t, :, H:2 * H] = da_z
            d_gh[t, :, 2 * H:] = da_n * r
            dh = torch.addmm(dh * z, d_gh[t], w_hh)
        return d_xp, d_gh, dh


class GRULayer(nn.Module):
    """One gated recurrent layer in the usual two-bias parameterisation."""

    def __init__(self, size):
        super().__init__()
        self.size = size
        self.w_ih = nn.Parameter(torch.empty(3 * size, size))
        self.w_hh = nn.Parameter(torch.empty(3 * size, size))
        self.b_ih = nn.Parameter(torch.empty(3 * size))
        self.b_hh = nn.Parameter(torch.empty(3 * size))
        bound = 1.0 / math.sqrt(size)
        for p in self.parameters():
            nn.init.uniform_(p, -bound, bound)

    def forward(self, x, h0):
        """x: [T, B, H] -> (outputs [T, B, H], last state [B, H])."""
        T, B, _ = x.shape
        xp = torch.addmm(self.b_ih, x.reshape(T * B, -1), self.w_ih.t()).reshape(T, B, -1)
        hs = _GRUCore.apply(xp, self.w_hh, self.b_hh, h0)
        return hs, hs[-1]

    def folded(self):
        """The engine's ten tensors: W_ir, W_iz, W_in, W_hr, W_hz, W_hn, b_r, b_z, b_in, b_hn."""
        H = self.size
        wi, wh, bi, bh = self.w_ih, self.w_hh, self.b_ih, self.b_hh
        return [wi[:H], wi[H:2 * H], wi[2 * H:], wh[:H], wh[H:2 * H], wh[2 * H:],
                bi[:H] + bh[:H], bi[H:2 * H] + bh[H:2 * H], bi[2 * H:], bh[2 * H:]]

    @torch.no_grad()
    def load_folded(self, tensors):
        H = self.size
        w_ir, w_iz, w_in, w_hr, w_hz, w_hn, b_r, b_z, b_in, b_hn = tensors
        self.w_ih.copy_(torch.cat([w_ir, w_iz, w_in], 0))
        self.w_hh.copy_(torch.cat([w_hr, w_hz, w_hn], 0))
        self.b_ih.copy_(torch.cat([b_r, b_z, b_in], 0))
        self.b_hh.copy_(torch.cat([torch.zeros(2 * H), b_hn], 0))


class StackedGRU(nn.Module):
    """Layers of GRULayer; state [layers, B, H]."""

    def __init__(self, size, layers):
        super().__init__()
        self.layers = nn.ModuleList([GRULayer(size) for _ in range(layers)])

    def forward(self, x, h0):
        states = []
        for i, layer in enumerate(self.layers):
            x, h = layer(x, h0[i])
            states.append(h)
        return x, torch.stack(states, 0)
