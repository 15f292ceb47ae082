"""Reference network in PyTorch, record for record the engine's graph.

Feature maps are kept channels-last, [batch, frame, bin, channel], so that the
engine's bin-major flattening is a plain reshape and every pointwise
convolution is one matrix product. Each weight is stored in exactly the shape
of its engine record. Convolutions that span time are causal: the window of K
frames ends on the current frame, as the engine's frame rings assemble it.
Batched over a sequence the windows read zeros before the first frame (the
engine's zeroed rings); `forward` also takes the rings and recurrent states of
a previous call, so the same code runs one frame at a time.
"""
import math

import torch
import torch.nn.functional as F
from torch import nn

from .gru import StackedGRU

BANDS = 32
DF_BINS = 96
DF_ORDER = 5
CH = 64
EMB = 256


def _param(*shape, fan_in):
    bound = 1.0 / math.sqrt(fan_in)
    return nn.Parameter(torch.empty(*shape).uniform_(-bound, bound))


class Weight(nn.Module):
    """A bare weight tensor in its record shape."""

    def __init__(self, *shape, fan_in):
        super().__init__()
        self.weight = _param(*shape, fan_in=fan_in)


class BatchNorm(nn.BatchNorm1d):
    """Batch normalisation over every axis but the last (channels)."""

    def forward(self, x):
        return super().forward(x.reshape(-1, x.shape[-1])).reshape(x.shape)


def _causal(x, ring, frames):
    """Prepend `frames` past frames along time (dim 1): the ring, or zeros."""
    if ring is None:
        return F.pad(x, (0, 0, 0, 0, frames, 0))
    return torch.cat([ring, x], 1)


def _nchw(x):
    """[B, T, F, C] channels-last -> the same memory seen as [B, C, T, F] (a view:
    native convolutions run on it in their channels-last layout without copies)."""
    return x.permute(0, 3, 1, 2)


def _nhwc(y):
    return y.permute(0, 2, 3, 1)


def conv_window_3x3(x, weight, groups):
    """3x3 convolution over a causal 3-frame window, frequency padding 1.
    x [B, T+2, F, G] (time already extended), weight [G*O, 1, 3, 3] -> [B, T, F, G*O]."""
    return _nhwc(F.conv2d(_nchw(x), weight, padding=(0, 1), groups=groups))


def depthwise3(x, weight, stride):
    """Depthwise 1x3 along frequency, padding 1: y[f] = sum_b w_b x[stride*f + b - 1]."""
    C = x.shape[-1]
    return _nhwc(F.conv2d(_nchw(x), weight.reshape(C, 1, 1, 3), stride=(1, stride),
                          padding=(0, 1), groups=C))


def pointwise(x, weight):
    return x @ weight.reshape(weight.shape[0], -1).t()


def conv_transposed(x, weight):
    """Depthwise transposed convolution doubling the bins:
    y[2m] = w1 x[m]; y[2m+1] = w2 x[m] + w0 x[m+1] (x past the top bin is zero)."""
    C = x.shape[-1]
    return _nhwc(F.conv_transpose2d(_nchw(x), weight.reshape(C, 1, 1, 3), stride=(1, 2),
                                    padding=(0, 1), output_padding=(0, 1), groups=C))


class GroupedLinear(nn.Module):
    """Weights [group][input][output]; input chunk g feeds output chunk g only."""

    def __init__(self, inputs, outputs, groups=8):
        super().__init__()
        self.groups, self.inputs, self.outputs = groups, inputs, outputs
        self.weight = _param(groups, inputs, outputs, fan_in=inputs)

    def forward(self, x):
        shape = x.shape[:-1]
        x = x.reshape(-1, self.groups, self.inputs).transpose(0, 1)    # [G, N, I]
        y = torch.bmm(x, self.weight).transpose(0, 1)                  # [N, G, O]
        return y.reshape(shape + (self.groups * self.outputs,))


class DownBlock(nn.Module):
    """Depthwise 1x3 (frequency stride 1 or 2), pointwise 64->64, BN+ReLU."""

    def __init__(self, stride):
        super().__init__()
        self.stride = stride
        self.dw = Weight(CH, 1, 1, 3, fan_in=3)
        self.pw = Weight(CH, CH, 1, 1, fan_in=CH)
        self.bn = BatchNorm(CH)

    def forward(self, x):
        return F.relu(self.bn(pointwise(depthwise3(x, self.dw.weight, self.stride), self.pw.weight)))


class Skip(nn.Module):
    """Depthwise 1x1 and BN without activation: a decoder skip path."""

    def __init__(self):
        super().__init__()
        self.dw = Weight(CH, 1, 1, 1, fan_in=1)
        with torch.no_grad():
            self.dw.weight.fill_(1.0)
        self.bn = BatchNorm(CH)

    def forward(self, x):
        return self.bn(x * self.dw.weight.reshape(CH))


class UpBlock(nn.Module):
    """Transposed depthwise convolution (bins doubled), pointwise 64->64, BN+ReLU."""

    def __init__(self):
        super().__init__()
        self.tr = Weight(CH, 1, 3, fan_in=2)
        self.pw = Weight(CH, CH, 1, 1, fan_in=CH)
        self.bn = BatchNorm(CH)

    def forward(self, x):
        return F.relu(self.bn(pointwise(conv_transposed(x, self.tr.weight), self.pw.weight)))


class Network(nn.Module):
    def __init__(self):
        super().__init__()
        # encoder_01: band features
        self.e0_conv = Weight(CH, 1, 3, 3, fan_in=9)
        self.e0_bn = BatchNorm(CH)
        self.e1 = DownBlock(2)
        self.e2 = DownBlock(2)
        self.e3 = DownBlock(1)
        # encoder_02: spectrum features
        self.c0_conv = Weight(CH, 1, 3, 3, fan_in=9)
        self.c0_pw = Weight(CH, CH, 1, 1, fan_in=CH)
        self.c0_bn = BatchNorm(CH)
        self.c1 = DownBlock(2)
        self.c_lin = GroupedLinear(384, 64)
        # encoder_03: joint embedding
        self.emb_lin = GroupedLinear(128, 32)
        self.emb_gru = StackedGRU(EMB, 1)
        # decoder_01: band gains
        self.gain_lin_in = GroupedLinear(32, 32)
        self.gain_gru = StackedGRU(EMB, 2)
        self.gain_lin_out = GroupedLinear(32, 64)
        self.d3_conv = Weight(CH, fan_in=1)
        self.d3_bn = BatchNorm(CH)
        self.d3_block = DownBlock(1)
        self.d2_skip = Skip()
        self.d2_up = UpBlock()
        self.d1_skip = Skip()
        self.d1_up = UpBlock()
        self.d0_skip = Skip()
        self.gain_conv = Weight(1, CH, 1, 3, fan_in=3 * CH)
        self.gain_bn = BatchNorm(1)
        # decoder_02: deep-filter coefficients
        self.df_lin_in = GroupedLinear(32, 32)
        self.df_gru = StackedGRU(EMB, 2)
        self.df_lin_out = GroupedLinear(32, 120)
        self.df_conv1 = Weight(2 * DF_ORDER, 32, DF_ORDER, 1, fan_in=32 * DF_ORDER)
        self.df_conv2 = Weight(2 * DF_ORDER, 2 * DF_ORDER, 1, 1, fan_in=2 * DF_ORDER)
        self.df_bn = BatchNorm(2 * DF_ORDER)
        self._init_near_identity()

    @torch.no_grad()
    def _init_near_identity(self):
        """Start close to pass-through (gains about 0.73, deep filter about 1 + 0i on the
        newest tap) so early training refines a working chain, not a random one."""
        self.d3_conv.weight.fill_(1.0)
        self.gain_bn.bias.fill_(1.0)
        self.df_bn.weight.fill_(0.1)
        self.df_bn.bias.zero_()
        self.df_bn.bias[2 * (DF_ORDER - 1)] = 1.0
        self.df_lin_out.weight.mul_(0.1)

    def initial_state(self, batch=1):
        z = torch.zeros
        return {
            "band_ring": z(batch, 2, BANDS, 1),
            "spec_ring": z(batch, 2, DF_BINS, 2),
            "df_ring": z(batch, DF_ORDER - 1, DF_BINS, CH),
            "emb_h": z(1, batch, EMB),
            "gain_h": z(2, batch, EMB),
            "df_h": z(2, batch, EMB),
        }

    def _df_conv1(self, c0, ring):
        """Grouped (2 groups, 32 -> 5 channels) convolution over a causal 5-frame window
        of c0 [B, T, 96, 64] -> [B, T, 96, 10]."""
        x = _causal(c0, ring, DF_ORDER - 1)                             # [B, T+4, 96, 64]
        return _nhwc(F.conv2d(_nchw(x), self.df_conv1.weight, groups=2))

    def forward(self, erb_feat, spec_feat, state=None):
        """erb_feat [B, T, 32]; spec_feat [B, T, 192] (96 real parts, then 96 imaginary).

        Returns gains [B, T, 32], deep-filter coefficients [B, T, 5, 96, 2] (tap, bin,
        re/im) and the state after the last frame."""
        B, T, _ = erb_feat.shape
        st = state or {}
        zeros_h = lambda n: torch.zeros(n, B, EMB, dtype=erb_feat.dtype)  # noqa: E731

        # encoder_01
        band_in = _causal(erb_feat.unsqueeze(-1), st.get("band_ring"), 2)  # [B,T+2,32,1]
        e0 = F.relu(self.e0_bn(conv_window_3x3(band_in, self.e0_conv.weight, 1)))
        e1 = self.e1(e0)                                                  # [B,T,16,64]
        e2 = self.e2(e1)                                                  # 8 bins
        e3 = self.e3(e2)                                                  # 8 bins
        # encoder_02
        spec = spec_feat.reshape(B, T, 2, DF_BINS).transpose(2, 3)        # [B,T,96,2]
        spec_in = _causal(spec, st.get("spec_ring"), 2)
        c0 = conv_window_3x3(spec_in, self.c0_conv.weight, 2)
        c0 = F.relu(self.c0_bn(pointwise(c0, self.c0_pw.weight)))         # [B,T,96,64]
        c1 = self.c1(c0)                                                  # [B,T,48,64]
        c_emb = self.c_lin(c1.reshape(B, T, -1))                          # [B,T,512]
        # encoder_03
        emb_cat = torch.cat([e3.reshape(B, T, -1), F.relu(c_emb)], -1)    # [B,T,1024]
        emb = F.relu(self.emb_lin(emb_cat)).transpose(0, 1)               # [T,B,256]
        emb_out, emb_h = self.emb_gru(emb, st.get("emb_h", zeros_h(1)))
        # decoder_01
        g = F.relu(self.gain_lin_in(emb_out))
        g, gain_h = self.gain_gru(g, st.get("gain_h", zeros_h(2)))
        gain_emb = F.relu(self.gain_lin_out(g)).transpose(0, 1)           # [B,T,512]
        d3 = F.relu(self.d3_bn(e3 * self.d3_conv.weight)) + gain_emb.reshape(B, T, 8, CH)
        d3 = self.d3_block(d3)
        d2 = self.d2_up(F.relu(self.d2_skip(e2)) + d3)                    # 16 bins
        d1 = self.d1_up(F.relu(self.d1_skip(e1)) + d2)                    # 32 bins
        d0 = F.relu(self.d0_skip(e0)) + d1
        logit = _nhwc(F.conv2d(_nchw(d0), self.gain_conv.weight, padding=(0, 1)))  # [B,T,32,1]
        gains = torch.sigmoid(self.gain_bn(logit))[..., 0]                # [B,T,32]
        # decoder_02
        d = F.relu(self.df_lin_in(emb_out))
        d, df_h = self.df_gru(d, st.get("df_h", zeros_h(2)))
        df_lin = torch.tanh(self.df_lin_out(d)).transpose(0, 1)           # [B,T,960]: bin, tap, re/im
        conv = pointwise(self._df_conv1(c0, st.get("df_ring")), self.df_conv2.weight)
        conv = F.relu(self.df_bn(conv))                                   # [B,T,96,10]: tap*2 + re/im
        lin = df_lin.reshape(B, T, DF_BINS, DF_ORDER, 2).transpose(2, 3)
        conv = conv.reshape(B, T, DF_BINS, DF_ORDER, 2).transpose(2, 3)
        coefs = lin + conv                                                # [B,T,5,96,2]

        new_state = {
            "band_ring": band_in[:, -2:],
            "spec_ring": spec_in[:, -2:],
            "df_ring": _causal(c0, st.get("df_ring"), DF_ORDER - 1)[:, -(DF_ORDER - 1):],
            "emb_h": emb_h, "gain_h": gain_h, "df_h": df_h,
        }
        return gains, coefs, new_state
