#include "reference_model.h"

#include <cmath>

namespace {

using Vec = std::vector<double>;
using Weights = std::vector<float>;

enum class Act { kNone, kRelu, kSigmoid, kTanh };

double activate(double v, Act act) {
    switch (act) {
        case Act::kRelu: return v > 0.0 ? v : 0.0;
        case Act::kSigmoid: return 1.0 / (1.0 + std::exp(-v));
        case Act::kTanh: return std::tanh(v);
        case Act::kNone: break;
    }
    return v;
}

// One output frame of a grouped 2-D convolution over an input of
// channels x S0 frames x S1 bins (the whole window: no time padding).
// y[oc][f] = sum_{c,a,b} W[oc][c][a][b] * x[g*I + c][a][f*D1 + b - P1].
Vec conv(const Vec &x, int S0, int S1, const Weights &w, int G, int I, int O, int K1, int P1,
         int D1, int T1) {
    Vec y(size_t(G * O * T1), 0.0);
    for (int oc = 0; oc < G * O; ++oc) {
        const int g = oc / O;
        for (int f = 0; f < T1; ++f) {
            double acc = 0.0;
            for (int c = 0; c < I; ++c)
                for (int a = 0; a < S0; ++a)
                    for (int b = 0; b < K1; ++b) {
                        const int bin = f * D1 + b - P1;
                        if (bin < 0 || bin >= S1) continue;
                        acc += double(w[size_t(((oc * I + c) * S0 + a) * K1 + b)]) *
                               x[size_t(((g * I + c) * S0 + a) * S1 + bin)];
                    }
            y[size_t(oc * T1 + f)] = acc;
        }
    }
    return y;
}

void norm(Vec &x, int C, int W, const Weights &scale, const Weights &bias, Act act) {
    for (int c = 0; c < C; ++c)
        for (int f = 0; f < W; ++f) {
            double &v = x[size_t(c * W + f)];
            v = activate(v * scale[size_t(c)] + bias[size_t(c)], act);
        }
}

Vec linear(const Vec &in, const Weights &w, int I, int O, Act act) {
    const int G = 8;
    Vec out(size_t(G * O));
    for (int g = 0; g < G; ++g)
        for (int o = 0; o < O; ++o) {
            double acc = 0.0;
            for (int i = 0; i < I; ++i) acc += in[size_t(g * I + i)] * w[size_t((g * I + i) * O + o)];
            out[size_t(g * O + o)] = activate(acc, act);
        }
    return out;
}

// One GRU layer of 256 units; records first .. first + 9, layer `layer`.
Vec gru(const Vec &x, Vec &h, size_t h_off, const calyx_weights::WeightSet &ws, int first,
        int layer) {
    const size_t n = 256, m_off = size_t(layer) * n * n, v_off = size_t(layer) * n;
    auto dot = [&](int rec, const Vec &v, size_t v0, size_t j) {
        double acc = 0.0;
        for (size_t k = 0; k < n; ++k) acc += double(ws[size_t(rec)][m_off + j * n + k]) * v[v0 + k];
        return acc;
    };
    auto bias = [&](int rec, size_t j) { return double(ws[size_t(rec)][v_off + j]); };
    Vec y(n);
    for (size_t j = 0; j < n; ++j) {
        const double r = activate(bias(first + 6, j) + dot(first, x, 0, j) + dot(first + 3, h, h_off, j), Act::kSigmoid);
        const double z = activate(bias(first + 7, j) + dot(first + 1, x, 0, j) + dot(first + 4, h, h_off, j), Act::kSigmoid);
        const double s_in = bias(first + 8, j) + dot(first + 2, x, 0, j);
        const double s_hn = bias(first + 9, j) + dot(first + 5, h, h_off, j);
        const double cand = std::tanh(s_in + r * s_hn);
        y[j] = (1.0 - z) * cand + z * h[h_off + j];
    }
    for (size_t j = 0; j < n; ++j) h[h_off + j] = y[j];
    return y;
}

// Stride-2 depthwise transposed convolution doubling the bins of 64 maps.
Vec upsample(const Vec &x, int W_in, const Weights &w) {
    Vec y(size_t(64 * 2 * W_in), 0.0);
    for (int c = 0; c < 64; ++c)
        for (int m = 0; m < W_in; ++m) {
            const double next = m + 1 < W_in ? x[size_t(c * W_in + m + 1)] : 0.0;
            const double cur = x[size_t(c * W_in + m)];
            y[size_t(c * 2 * W_in + 2 * m)] = w[size_t(c * 3 + 1)] * cur;
            y[size_t(c * 2 * W_in + 2 * m + 1)] = w[size_t(c * 3 + 2)] * cur + w[size_t(c * 3)] * next;
        }
    return y;
}

// [C][K][W] window: the K - 1 past frames (oldest first) then `now`;
// updates the history.
Vec window(std::deque<Vec> &past, const Vec &now, int K, int C, int W) {
    while (int(past.size()) < K - 1) past.push_front(Vec(now.size(), 0.0));
    Vec out(size_t(C * K * W));
    for (int c = 0; c < C; ++c)
        for (int k = 0; k < K; ++k) {
            const Vec &frame = k < K - 1 ? past[size_t(k)] : now;
            for (int f = 0; f < W; ++f) out[size_t((c * K + k) * W + f)] = frame[size_t(c * W + f)];
        }
    past.pop_front();
    past.push_back(now);
    return out;
}

// [64][W] map <-> bin-major vector.
Vec to_bin_major(const Vec &x, int W) {
    Vec y(x.size());
    for (int c = 0; c < 64; ++c)
        for (int f = 0; f < W; ++f) y[size_t(f * 64 + c)] = x[size_t(c * W + f)];
    return y;
}

Vec add(Vec a, const Vec &b) {
    for (size_t i = 0; i < a.size(); ++i) a[i] += b[i];
    return a;
}

Vec relu(Vec a) {
    for (double &v : a) v = activate(v, Act::kRelu);
    return a;
}

}  // namespace

ReferenceModel::ReferenceModel(const calyx_weights::WeightSet &weights)
    : w_(weights), h_emb_(256, 0.0), h_gain_(512, 0.0), h_df_(512, 0.0) {}

void ReferenceModel::run(const float *band, const float *spec, std::vector<double> &gains,
                         std::vector<double> &coefs) {
    const auto &w = w_;
    // Band encoder: 32 -> 16 -> 8 -> 8 bands, 64 channels.
    Vec e0 = conv(window(band_past_, Vec(band, band + 32), 3, 1, 32), 3, 32, w[0], 1, 1, 64, 3, 1, 1, 32);
    norm(e0, 64, 32, w[1], w[2], Act::kRelu);
    Vec e1 = conv(conv(e0, 1, 32, w[3], 64, 1, 1, 3, 1, 2, 16), 1, 16, w[4], 1, 64, 64, 1, 0, 1, 16);
    norm(e1, 64, 16, w[5], w[6], Act::kRelu);
    Vec e2 = conv(conv(e1, 1, 16, w[7], 64, 1, 1, 3, 1, 2, 8), 1, 8, w[8], 1, 64, 64, 1, 0, 1, 8);
    norm(e2, 64, 8, w[9], w[10], Act::kRelu);
    Vec e3 = conv(conv(e2, 1, 8, w[11], 64, 1, 1, 3, 1, 1, 8), 1, 8, w[12], 1, 64, 64, 1, 0, 1, 8);
    norm(e3, 64, 8, w[13], w[14], Act::kRelu);

    // Spectrum encoder: 96 -> 48 bins.
    Vec c0 = conv(window(spec_past_, Vec(spec, spec + 192), 3, 2, 96), 3, 96, w[15], 2, 1, 32, 3, 1, 1, 96);
    c0 = conv(c0, 1, 96, w[16], 1, 64, 64, 1, 0, 1, 96);
    norm(c0, 64, 96, w[17], w[18], Act::kRelu);
    Vec c1 = conv(conv(c0, 1, 96, w[19], 64, 1, 1, 3, 1, 2, 48), 1, 48, w[20], 1, 64, 64, 1, 0, 1, 48);
    norm(c1, 64, 48, w[21], w[22], Act::kRelu);
    const Vec c_emb = linear(to_bin_major(c1, 48), w[23], 384, 64, Act::kNone);

    // Joint embedding and the one-layer GRU.
    Vec cat = to_bin_major(e3, 8);
    const Vec c_emb_pos = relu(c_emb);
    cat.insert(cat.end(), c_emb_pos.begin(), c_emb_pos.end());
    const Vec emb = gru(linear(cat, w[24], 128, 32, Act::kRelu), h_emb_, 0, w, 25, 0);

    // Band-gain decoder.
    Vec g = linear(emb, w[35], 32, 32, Act::kRelu);
    g = gru(g, h_gain_, 0, w, 36, 0);
    g = gru(g, h_gain_, 256, w, 36, 1);
    const Vec gain_emb = linear(g, w[46], 32, 64, Act::kRelu);

    Vec d3 = conv(e3, 1, 8, w[47], 64, 1, 1, 1, 0, 1, 8);
    norm(d3, 64, 8, w[48], w[49], Act::kRelu);
    for (int c = 0; c < 64; ++c)
        for (int f = 0; f < 8; ++f) d3[size_t(c * 8 + f)] += gain_emb[size_t(f * 64 + c)];
    Vec d3_main = conv(conv(d3, 1, 8, w[50], 64, 1, 1, 3, 1, 1, 8), 1, 8, w[51], 1, 64, 64, 1, 0, 1, 8);
    norm(d3_main, 64, 8, w[52], w[53], Act::kRelu);

    Vec d2 = conv(e2, 1, 8, w[54], 64, 1, 1, 1, 0, 1, 8);
    norm(d2, 64, 8, w[55], w[56], Act::kNone);
    d2 = add(relu(d2), d3_main);
    Vec d2_main = conv(upsample(d2, 8, w[57]), 1, 16, w[58], 1, 64, 64, 1, 0, 1, 16);
    norm(d2_main, 64, 16, w[59], w[60], Act::kRelu);

    Vec d1 = conv(e1, 1, 16, w[61], 64, 1, 1, 1, 0, 1, 16);
    norm(d1, 64, 16, w[62], w[63], Act::kNone);
    d1 = add(relu(d1), d2_main);
    Vec d1_main = conv(upsample(d1, 16, w[64]), 1, 32, w[65], 1, 64, 64, 1, 0, 1, 32);
    norm(d1_main, 64, 32, w[66], w[67], Act::kRelu);

    Vec d0 = conv(e0, 1, 32, w[68], 64, 1, 1, 1, 0, 1, 32);
    norm(d0, 64, 32, w[69], w[70], Act::kNone);
    d0 = add(relu(d0), d1_main);
    gains = conv(d0, 1, 32, w[71], 1, 64, 1, 3, 1, 1, 32);
    norm(gains, 1, 32, w[72], w[73], Act::kSigmoid);

    // Deep-filter decoder.
    Vec d = linear(emb, w[74], 32, 32, Act::kRelu);
    d = gru(d, h_df_, 0, w, 75, 0);
    d = gru(d, h_df_, 256, w, 75, 1);
    const Vec df_lin = linear(d, w[85], 32, 120, Act::kTanh);
    Vec branch = conv(window(c0_past_, c0, 5, 64, 96), 5, 96, w[86], 2, 32, 5, 1, 0, 1, 96);
    branch = conv(branch, 1, 96, w[87], 1, 10, 10, 1, 0, 1, 96);
    norm(branch, 10, 96, w[88], w[89], Act::kRelu);
    coefs.assign(960, 0.0);
    for (int t = 0; t < 5; ++t)
        for (int f = 0; f < 96; ++f)
            for (int k = 0; k < 2; ++k)
                coefs[size_t((t * 96 + f) * 2 + k)] = df_lin[size_t(f * 10 + 2 * t + k)] + branch[size_t((2 * t + k) * 96 + f)];
}
