// Frame window, window convolution, transposed convolution and deep-filter
// coefficient operators.
#include <gtest/gtest.h>

#include "nn/ops_frame.h"
#include "nn_test_util.h"

namespace {

// Frame n (1-based) of channel c, value at bin w: distinct everywhere.
float frame_value(int n, int c, int w) { return n * 1000.0f + c * 100.0f + w; }

void check_window_sequence(uint32_t K, uint32_t C, uint32_t W, int frames) {
    std::vector<float> ring(C * (K - 1) * W, 0.0f), in(C * W);
    uint32_t pos = 0;
    for (int n = 1; n <= frames; ++n) {
        for (uint32_t c = 0; c < C; ++c)
            for (uint32_t w = 0; w < W; ++w) in[c * W + w] = frame_value(n, c, w);
        nn_test::Poisoned window(C * K * W);
        op_framewise(in.data(), window.data(), &pos, ring.data(), 1, K, C, W);
        ASSERT_TRUE(window.guards_intact());
        EXPECT_EQ(pos, (uint32_t)n % (K - 1)) << "counter after frame " << n;
        // Slot j holds frame n - (K - 1) + j, silence before frame 1.
        for (uint32_t c = 0; c < C; ++c)
            for (uint32_t j = 0; j < K; ++j) {
                const int src = n - (int)(K - 1) + (int)j;
                for (uint32_t w = 0; w < W; ++w)
                    ASSERT_EQ(window[(c * K + j) * W + w], src >= 1 ? frame_value(src, c, w) : 0.0f)
                        << "K " << K << " frame " << n << " channel " << c << " slot " << j;
            }
    }
}

TEST(Framewise, ThreeFrameWindowSlidesOldestFirst) {
    check_window_sequence(3, 1, 32, 7);
    check_window_sequence(3, 2, 96, 5);
}

TEST(Framewise, FiveFrameWindowCyclesCounterThroughFourSlots) {
    check_window_sequence(5, 64, 96, 9);
    check_window_sequence(5, 3, 5, 11);
}

TEST(Framewise, SeveralNewFramesEqualOneAtATime) {
    const uint32_t K = 4, C = 2, W = 3;
    std::vector<float> ring_a(C * (K - 1) * W, 0.0f), ring_b = ring_a;
    std::vector<float> win_a(C * K * W), win_b(C * K * W);
    uint32_t pos_a = 0, pos_b = 0;
    std::mt19937 rng(nn_test::seed());
    const std::vector<float> frames = nn_test::random_vec(rng, C * 2 * W);  // [c][n][w]
    op_framewise(frames.data(), win_a.data(), &pos_a, ring_a.data(), 2, K, C, W);
    for (uint32_t n = 0; n < 2; ++n) {
        std::vector<float> one(C * W);
        for (uint32_t c = 0; c < C; ++c)
            for (uint32_t w = 0; w < W; ++w) one[c * W + w] = frames[(c * 2 + n) * W + w];
        op_framewise(one.data(), win_b.data(), &pos_b, ring_b.data(), 1, K, C, W);
    }
    EXPECT_EQ(win_a, win_b);
    EXPECT_EQ(ring_a, ring_b);
    EXPECT_EQ(pos_a, pos_b);
}

TEST(Framewise, OutOfRangeCounterStaysInsideRing) {
    std::vector<float> ring(2 * 4, 0.0f), in(4, 1.0f), window(3 * 4 + nn_test::kGuard, -1.0f);
    uint32_t pos = 7;  // never produced by the operator itself
    op_framewise(in.data(), window.data(), &pos, ring.data(), 1, 3, 1, 4);
    EXPECT_LT(pos, 2u);
}

// Direct evaluation of the window convolution in double.
std::vector<double> conv2d_reference(const std::vector<float> &in, const std::vector<float> &w,
                                     int G, int I, int O, int H, int W_in, int W_out, int pad,
                                     int K_h, int K_w, std::vector<double> *mag) {
    std::vector<double> out(G * O * W_out, 0.0);
    mag->assign(out.size(), 0.0);
    for (int g = 0; g < G; ++g)
        for (int o = 0; o < O; ++o)
            for (int x = 0; x < W_out; ++x)
                for (int i = 0; i < I; ++i)
                    for (int a = 0; a < K_h; ++a)
                        for (int b = 0; b < K_w; ++b) {
                            const int row = a - pad, col = x + b;
                            if (row < 0 || row >= H || col >= W_in) continue;
                            const double t = (double)w[(((g * O + o) * I + i) * K_h + a) * K_w + b] *
                                             in[((g * I + i) * H + row) * W_in + col];
                            out[(g * O + o) * W_out + x] += t;
                            (*mag)[(g * O + o) * W_out + x] += std::fabs(t);
                        }
    return out;
}

struct Conv2dCase { int G, I, O, H, W_in, W_out, pad, K_h, K_w; };

class Conv2dLd : public nn_test::PerIsa {};

TEST_P(Conv2dLd, GraphShapesAndGenericShapesMatchDirectFormula) {
    const Conv2dCase cases[] = {
        {2, 32, 5, 5, 96, 96, 0, 5, 1},   // deep-filter window convolution
        {1, 10, 10, 1, 96, 96, 0, 1, 1},  // its pointwise follow-up
        {3, 2, 3, 4, 9, 7, 0, 4, 1},      // narrower output than input
        {2, 3, 2, 3, 10, 10, 0, 3, 3},    // frequency taps run off the end
        {1, 2, 3, 3, 8, 6, 1, 3, 2},      // a padded row above the window
        {1, 2, 2, 2, 6, 6, 0, 1, 1},      // kernel shorter than the window
    };
    std::mt19937 rng(nn_test::seed());
    SCOPED_TRACE(nn_test::seed_note());
    for (const Conv2dCase &k : cases) {
        const std::vector<float> in = nn_test::random_vec(rng, k.G * k.I * k.H * k.W_in);
        const std::vector<float> w = nn_test::random_vec(rng, k.G * k.O * k.I * k.K_h * k.K_w);
        nn_test::Poisoned out(k.G * k.O * k.W_out), twin(k.G * k.O * k.W_out);
        op_conv2d_ld(in.data(), out.data(), w.data(), k.G, k.I, k.O, k.H, k.W_in, k.W_out, k.pad,
                     k.K_h, k.K_w);
        op_conv2d_ld_float(in.data(), twin.data(), w.data(), k.G, k.I, k.O, k.H, k.W_in, k.W_out,
                           k.pad, k.K_h, k.K_w);
        std::vector<double> mag;
        const std::vector<double> ref = conv2d_reference(in, w, k.G, k.I, k.O, k.H, k.W_in,
                                                         k.W_out, k.pad, k.K_h, k.K_w, &mag);
        for (size_t i = 0; i < ref.size(); ++i) {
            ASSERT_TRUE(nn_test::close(out[i], ref[i], mag[i])) << i << ": " << out[i] << " vs " << ref[i];
            ASSERT_EQ(out[i], twin[i]);
        }
        EXPECT_TRUE(out.guards_intact());
    }
}

TEST_P(Conv2dLd, NoInputChannelsOrRowsWriteZeros) {
    const std::vector<float> in(96, 1.0f), w(96, 1.0f);
    nn_test::Poisoned out(2 * 3 * 8);
    op_conv2d_ld(in.data(), out.data(), w.data(), 2, 0, 3, 1, 8, 8, 0, 1, 1);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f);
    nn_test::Poisoned out2(2 * 3 * 8);
    op_conv2d_ld(in.data(), out2.data(), w.data(), 2, 1, 3, 1, 8, 8, 0, 0, 1);
    for (size_t i = 0; i < out2.size(); ++i) ASSERT_EQ(out2[i], 0.0f);
    nn_test::Poisoned none(4);
    op_conv2d_ld(in.data(), none.data(), w.data(), 0, 1, 3, 1, 8, 8, 0, 1, 1);
    EXPECT_TRUE(std::isnan(none[0]));
}

CALYX_INSTANTIATE_PER_ISA(Conv2dLd);

TEST(ConvTranspose, DoublesBinsWithShiftedTaps) {
    const float in[2] = {1.0f, 2.0f}, w[3] = {1.0f, 10.0f, 100.0f};
    nn_test::Poisoned out(4);
    op_conv_tr(in, out.data(), w, 1, 1, 1, 2, 1, 4, 3);
    EXPECT_EQ(out[0], 10.0f);
    EXPECT_EQ(out[1], 102.0f);
    EXPECT_EQ(out[2], 20.0f);
    EXPECT_EQ(out[3], 200.0f);
    EXPECT_TRUE(out.guards_intact());
}

TEST(ConvTranspose, GraphShapesMatchDirectFormula) {
    std::mt19937 rng(nn_test::seed());
    SCOPED_TRACE(nn_test::seed_note());
    for (uint32_t W_in : {8u, 16u, 1u, 5u}) {
        const uint32_t C = 64, M = W_in == 5 ? 2 : 1, W_out = 2 * W_in;
        const std::vector<float> in = nn_test::random_vec(rng, C * W_in);
        const std::vector<float> w = nn_test::random_vec(rng, C * M * 3);
        nn_test::Poisoned out(C * M * W_out), twin(C * M * W_out);
        op_conv_tr(in.data(), out.data(), w.data(), C, M, 1, W_in, 1, W_out, 3);
        op_conv_tr_float(in.data(), twin.data(), w.data(), C, M, 1, W_in, 1, W_out, 3);
        for (uint32_t c = 0; c < C; ++c)
            for (uint32_t j = 0; j < M; ++j) {
                const float *t = &w[(c * M + j) * 3];
                const float *x = &in[c * W_in];
                const size_t o = (size_t)(c * M + j) * W_out;
                for (uint32_t m = 0; m < W_in; ++m) {
                    const double next = m + 1 < W_in ? (double)t[0] * x[m + 1] : 0.0;
                    ASSERT_NEAR(out[o + 2 * m], (double)t[1] * x[m], 1e-6);
                    ASSERT_NEAR(out[o + 2 * m + 1], (double)t[2] * x[m] + next, 1e-6);
                }
            }
        for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], twin[i]);
        EXPECT_TRUE(out.guards_intact());
    }
}

TEST(DeepFilterCoefs, ZeroConvolutionBranchReordersLinearOutput) {
    std::mt19937 rng(nn_test::seed());
    const std::vector<float> lin = nn_test::random_vec(rng, 960);
    const std::vector<float> conv(960, 0.0f);
    nn_test::Poisoned coefs(960);
    op_compute_df_coefs(coefs.data(), lin.data(), conv.data());
    for (int t = 0; t < 5; ++t)
        for (int f = 0; f < 96; ++f)
            for (int k = 0; k < 2; ++k)
                ASSERT_EQ(coefs[(t * 96 + f) * 2 + k], lin[f * 10 + 2 * t + k]);
    EXPECT_TRUE(coefs.guards_intact());
}

TEST(DeepFilterCoefs, AddsConvolutionBranchByTapAndComponent) {
    std::mt19937 rng(nn_test::seed());
    const std::vector<float> lin = nn_test::random_vec(rng, 960);
    const std::vector<float> conv = nn_test::random_vec(rng, 960);
    std::vector<float> coefs(960), twin(960);
    op_compute_df_coefs(coefs.data(), lin.data(), conv.data());
    op_compute_df_coefs_float(twin.data(), lin.data(), conv.data());
    for (int t = 0; t < 5; ++t)
        for (int f = 0; f < 96; ++f)
            for (int k = 0; k < 2; ++k)
                ASSERT_EQ(coefs[(t * 96 + f) * 2 + k],
                          lin[f * 10 + 2 * t + k] + conv[(2 * t + k) * 96 + f]);
    EXPECT_EQ(coefs, twin);
}

}  // namespace
