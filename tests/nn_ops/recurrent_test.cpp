// GRU and grouped-linear operators against direct double-precision
// evaluations of their formulas, for every set of inner loops.
#include <gtest/gtest.h>

#include "nn/ops_recurrent.h"
#include "nn_test_util.h"

namespace {

const int kU = 256;

// A parameter table whose records own std::vector storage.
struct Table {
    std::vector<std::vector<float>> store;
    std::vector<param_record> rec;
    void add(std::vector<float> v) {
        store.push_back(std::move(v));
        rec.clear();
        for (auto &s : store) rec.push_back(param_record{(int32_t)s.size(), s.data()});
    }
    const param_record *data() const { return rec.data(); }
};

// `pad` unrelated records, then ten GRU records of `layers` layers with
// weights drawn in [-wr, wr].
Table gru_table(std::mt19937 &rng, int layers, int pad, float wr) {
    Table t;
    for (int i = 0; i < pad; ++i) t.add(std::vector<float>(3, 99.0f));
    for (int i = 0; i < 6; ++i) t.add(nn_test::random_vec(rng, (size_t)layers * kU * kU, -wr, wr));
    for (int i = 0; i < 4; ++i) t.add(nn_test::random_vec(rng, (size_t)layers * kU));
    return t;
}

double sigmoid(double v) { return 1.0 / (1.0 + std::exp(-v)); }

// One layer of the GRU formulas in double; returns the new state.
std::vector<double> gru_reference(const param_record *r, int layer, const std::vector<double> &x,
                                  const std::vector<double> &h) {
    const size_t mo = (size_t)layer * kU * kU, vo = (size_t)layer * kU;
    std::vector<double> y(kU);
    for (int j = 0; j < kU; ++j) {
        double s[6] = {0, 0, 0, 0, 0, 0};
        for (int m = 0; m < 6; ++m) {
            const float *row = r[m].data + mo + (size_t)j * kU;
            const std::vector<double> &v = m < 3 ? x : h;
            for (int k = 0; k < kU; ++k) s[m] += row[k] * v[k];
        }
        const double rr = sigmoid(r[6].data[vo + j] + s[0] + s[3]);
        const double z = sigmoid(r[7].data[vo + j] + s[1] + s[4]);
        const double n = std::tanh(r[8].data[vo + j] + s[2] + rr * (r[9].data[vo + j] + s[5]));
        y[j] = (1 - z) * n + z * h[j];
    }
    return y;
}

std::vector<double> to_double(const float *p, int n) { return std::vector<double>(p, p + n); }

class Gru : public nn_test::PerIsa {};

TEST_P(Gru, OneLayerFollowsFormulasOverSeveralFrames) {
    std::mt19937 rng(nn_test::seed());
    SCOPED_TRACE(nn_test::seed_note());
    const Table t = gru_table(rng, 1, 25, 0.1f);
    std::vector<float> h(kU, 0.0f);
    std::vector<double> href(kU, 0.0);
    for (int frame = 0; frame < 4; ++frame) {
        const std::vector<float> x = nn_test::random_vec(rng, kU, -2.0f, 2.0f);
        nn_test::Poisoned y(kU);
        uint64_t cursor = 25;
        op_gru_nl1_io256(x.data(), y.data(), h.data(), t.data(), &cursor);
        EXPECT_EQ(cursor, 35u);
        href = gru_reference(t.data() + 25, 0, to_double(x.data(), kU), href);
        for (int j = 0; j < kU; ++j) {
            ASSERT_NEAR(y[j], href[j], 2e-5) << "frame " << frame << " unit " << j;
            ASSERT_EQ(y[j], h[j]) << "state is the output";
        }
        EXPECT_TRUE(y.guards_intact());
    }
}

TEST_P(Gru, TwoLayersUseSecondHalfOfEveryRecord) {
    std::mt19937 rng(nn_test::seed());
    SCOPED_TRACE(nn_test::seed_note());
    const Table t = gru_table(rng, 2, 36, 0.1f);
    std::vector<float> h = nn_test::random_vec(rng, 2 * kU, -0.5f, 0.5f);
    std::vector<double> h0 = to_double(h.data(), kU), h1 = to_double(h.data() + kU, kU);
    for (int frame = 0; frame < 3; ++frame) {
        const std::vector<float> x = nn_test::random_vec(rng, kU);
        nn_test::Poisoned y(kU), scratch(kU);
        uint64_t cursor = 36;
        op_gru_nl2_io256_float(x.data(), y.data(), h.data(), t.data(), &cursor, scratch.data());
        EXPECT_EQ(cursor, 46u);
        h0 = gru_reference(t.data() + 36, 0, to_double(x.data(), kU), h0);
        h1 = gru_reference(t.data() + 36, 1, h0, h1);
        for (int j = 0; j < kU; ++j) {
            ASSERT_NEAR(scratch[j], h0[j], 2e-5) << "layer 0 output, unit " << j;
            ASSERT_NEAR(h[j], h0[j], 2e-5);
            ASSERT_NEAR(y[j], h1[j], 3e-5) << "layer 1 output, unit " << j;
            ASSERT_EQ(h[kU + j], y[j]);
        }
        EXPECT_TRUE(y.guards_intact() && scratch.guards_intact());
    }
}

TEST_P(Gru, ZeroWeightsHalveTheState) {
    Table t;  // a one-layer block, then a two-layer block
    for (int i = 0; i < 6; ++i) t.add(std::vector<float>(kU * kU, 0.0f));
    for (int i = 0; i < 4; ++i) t.add(std::vector<float>(kU, 0.0f));
    for (int i = 0; i < 6; ++i) t.add(std::vector<float>(2 * kU * kU, 0.0f));
    for (int i = 0; i < 4; ++i) t.add(std::vector<float>(2 * kU, 0.0f));
    std::mt19937 rng(nn_test::seed());
    const std::vector<float> x = nn_test::random_vec(rng, kU);
    std::vector<float> h = nn_test::random_vec(rng, 2 * kU), y(kU), s(kU);
    const std::vector<float> h_start = h;
    uint64_t cursor = 0;
    op_gru_nl1_io256(x.data(), y.data(), h.data(), t.data(), &cursor);
    for (int j = 0; j < kU; ++j) ASSERT_EQ(y[j], h_start[j] * 0.5f);
    op_gru_nl2_io256(x.data(), y.data(), h.data(), t.data(), &cursor, s.data());
    EXPECT_EQ(cursor, 20u);
    for (int j = 0; j < kU; ++j) {
        ASSERT_EQ(h[j], h_start[j] * 0.25f);
        ASSERT_EQ(y[j], h_start[kU + j] * 0.5f);
    }
}

TEST_P(Gru, ZeroStateAndInputGiveBiasOnlyCandidate) {
    std::mt19937 rng(nn_test::seed());
    const Table t = gru_table(rng, 1, 0, 0.2f);
    const std::vector<float> x(kU, 0.0f);
    std::vector<float> h(kU, 0.0f), y(kU);
    uint64_t cursor = 0;
    op_gru_nl1_io256(x.data(), y.data(), h.data(), t.data(), &cursor);
    for (int j = 0; j < kU; ++j) {
        const double r = sigmoid(t.rec[6].data[j]), z = sigmoid(t.rec[7].data[j]);
        ASSERT_NEAR(y[j], (1 - z) * std::tanh(t.rec[8].data[j] + r * t.rec[9].data[j]), 1e-6);
    }
}

TEST_P(Gru, SecondLayerIgnoresInputWhenItsInputMatricesAreZero) {
    std::mt19937 rng(nn_test::seed());
    Table t = gru_table(rng, 2, 0, 0.1f);
    for (int m = 0; m < 3; ++m)
        for (int i = kU * kU; i < 2 * kU * kU; ++i) t.store[m][i] = 0.0f;
    const std::vector<float> h_start = nn_test::random_vec(rng, 2 * kU);
    std::vector<float> ha = h_start, hb = h_start, ya(kU), yb(kU), s(kU);
    uint64_t ca = 0, cb = 0;
    op_gru_nl2_io256(nn_test::random_vec(rng, kU).data(), ya.data(), ha.data(), t.data(), &ca, s.data());
    op_gru_nl2_io256(nn_test::random_vec(rng, kU).data(), yb.data(), hb.data(), t.data(), &cb, s.data());
    EXPECT_EQ(ya, yb);
    EXPECT_NE(std::vector<float>(ha.begin(), ha.begin() + kU),
              std::vector<float>(hb.begin(), hb.begin() + kU)) << "layer 0 still follows x";
}

CALYX_INSTANTIATE_PER_ISA(Gru);

struct LinearCase { uint32_t I, O, G, B; };

class GroupedLinear : public nn_test::PerIsa {};

enum class Act { none, relu, tanh };

void run_linear(Act act, const float *in, float *out, float *scratch, const float *w,
                const LinearCase &c, bool twin) {
    switch (act) {
    case Act::none:
        (twin ? op_grouped_linear_einsum_float : op_grouped_linear_einsum)(in, out, scratch, w, c.I, c.O, c.G, c.B);
        break;
    case Act::relu:
        (twin ? op_grouped_linear_einsum_relu_float : op_grouped_linear_einsum_relu)(in, out, scratch, w, c.I, c.O, c.G, c.B);
        break;
    case Act::tanh:
        (twin ? op_grouped_linear_einsum_tanh_float : op_grouped_linear_einsum_tanh)(in, out, scratch, w, c.I, c.O, c.G, c.B);
        break;
    }
}

TEST_P(GroupedLinear, GraphShapesAndOddShapesMatchDirectFormula) {
    const LinearCase cases[] = {{384, 64, 8, 1}, {128, 32, 8, 1}, {32, 32, 8, 1}, {32, 64, 8, 1},
                                {32, 120, 8, 1}, {7, 13, 3, 2},   {5, 97, 2, 1},  {1, 3, 1, 3}};
    std::mt19937 rng(nn_test::seed());
    SCOPED_TRACE(nn_test::seed_note());
    for (Act act : {Act::none, Act::relu, Act::tanh})
        for (const LinearCase &c : cases) {
            const size_t n_in = (size_t)c.B * c.G * c.I, n_out = (size_t)c.B * c.G * c.O;
            const std::vector<float> in = nn_test::random_vec(rng, n_in);
            const std::vector<float> w = nn_test::random_vec(rng, (size_t)c.G * c.I * c.O, -0.2f, 0.2f);
            nn_test::Poisoned out(n_out), twin(n_out), scratch(c.O);
            run_linear(act, in.data(), out.data(), scratch.data(), w.data(), c, false);
            run_linear(act, in.data(), twin.data(), scratch.data(), w.data(), c, true);
            for (uint32_t b = 0; b < c.B; ++b)
                for (uint32_t g = 0; g < c.G; ++g)
                    for (uint32_t o = 0; o < c.O; ++o) {
                        double acc = 0, mag = 0;
                        for (uint32_t i = 0; i < c.I; ++i) {
                            const double t = (double)in[(b * c.G + g) * c.I + i] * w[((size_t)g * c.I + i) * c.O + o];
                            acc += t;
                            mag += std::fabs(t);
                        }
                        if (act == Act::relu) acc = acc > 0 ? acc : 0;
                        if (act == Act::tanh) acc = std::tanh(acc);
                        const size_t k = ((size_t)b * c.G + g) * c.O + o;
                        ASSERT_TRUE(nn_test::close(out[k], acc, mag))
                            << "I " << c.I << " O " << c.O << " output " << k << ": " << out[k] << " vs " << acc;
                        ASSERT_EQ(out[k], twin[k]);
                    }
            EXPECT_TRUE(out.guards_intact() && scratch.guards_intact());
        }
}

TEST_P(GroupedLinear, ChunksStayApartAndEmptyInputGivesZeros) {
    std::mt19937 rng(nn_test::seed());
    std::vector<float> in(8 * 32, 0.0f);
    for (int i = 3 * 32; i < 4 * 32; ++i) in[i] = 1.0f + (float)i / 100.0f;
    const std::vector<float> w = nn_test::random_vec(rng, 8 * 32 * 32);
    std::vector<float> out(256), scratch(32);
    op_grouped_linear_einsum(in.data(), out.data(), scratch.data(), w.data(), 32, 32, 8, 1);
    for (int k = 0; k < 256; ++k) {
        if (k / 32 == 3) EXPECT_NE(out[k], 0.0f) << k;
        else ASSERT_EQ(out[k], 0.0f) << k;
    }
    nn_test::Poisoned zeros(16);
    op_grouped_linear_einsum_tanh(in.data(), zeros.data(), scratch.data(), w.data(), 0, 8, 2, 1);
    for (int k = 0; k < 16; ++k) ASSERT_EQ(zeros[k], 0.0f);
    nn_test::Poisoned untouched(4);
    op_grouped_linear_einsum_relu(in.data(), untouched.data(), scratch.data(), w.data(), 4, 4, 1, 0);
    EXPECT_TRUE(std::isnan(untouched[0]));
}

CALYX_INSTANTIATE_PER_ISA(GroupedLinear);

}  // namespace
