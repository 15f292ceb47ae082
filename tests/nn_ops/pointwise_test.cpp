// Pointwise, normalisation and layout operators against direct loops and
// the hand-checked edge values.
#include <gtest/gtest.h>

#include <cmath>

#include "nn/ops_pointwise.h"
#include "nn_test_util.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

bool is_positive_zero(float v) { return v == 0.0f && !std::signbit(v); }

TEST(Rectify, ReplaceMapsNegativesSignedZeroAndNaNToPositiveZero) {
    // 4 values take the one-by-one path, 36 the vector steps and the tail.
    for (uint32_t n : {4u, 36u}) {
        std::vector<float> src(n);
        const float pattern[4] = {-0.0f, -1.0f, kNaN, 2.0f};
        for (uint32_t i = 0; i < n; ++i) src[i] = pattern[i % 4];
        nn_test::Poisoned dst(n);
        EXPECT_EQ(op_relu_replace(dst.data(), src.data(), n), dst.data());
        for (uint32_t i = 0; i < n; ++i) {
            if (i % 4 == 3) EXPECT_EQ(dst[i], 2.0f);
            else EXPECT_TRUE(is_positive_zero(dst[i])) << "n " << n << " i " << i << ": " << dst[i];
        }
        EXPECT_TRUE(dst.guards_intact());
    }
}

TEST(Rectify, NormaliseAndRectifyMapsNaNToPositiveZero) {
    std::vector<float> x(32);
    for (int i = 0; i < 32; ++i) x[i] = i % 3 == 0 ? kNaN : (i % 3 == 1 ? -0.0f : 1.0f);
    const float s = 1.0f, b = -0.0f;
    op_bn_relu(x.data(), &s, &b, 1, 1, 1, 32);
    for (int i = 0; i < 32; ++i) {
        if (i % 3 == 2) EXPECT_EQ(x[i], 1.0f);
        else EXPECT_TRUE(is_positive_zero(x[i])) << i << ": " << x[i];
    }
}

TEST(Rectify, SumRectifiesOnlyTheFirstOperand) {
    for (uint32_t n : {3u, 33u}) {
        std::vector<float> acc(n), add(n);
        const float a[3] = {-3.0f, 2.0f, kNaN}, d[3] = {1.0f, -5.0f, -0.5f}, want[3] = {1.0f, -3.0f, -0.5f};
        for (uint32_t i = 0; i < n; ++i) acc[i] = a[i % 3], add[i] = d[i % 3];
        EXPECT_EQ(op_relu_sum(acc.data(), add.data(), n), acc.data());
        for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(acc[i], want[i % 3]) << "n " << n << " i " << i;
    }
}

TEST(Rectify, RandomRunsAndRemaindersMatchDirectLoop) {
    std::mt19937 rng(nn_test::seed());
    SCOPED_TRACE(nn_test::seed_note());
    for (uint32_t n : {0u, 1u, 15u, 16u, 17u, 512u, 2048u}) {
        const std::vector<float> src = nn_test::random_vec(rng, n);
        const std::vector<float> add = nn_test::random_vec(rng, n);
        nn_test::Poisoned dst(n);
        op_relu_replace_float(dst.data(), src.data(), n);
        std::vector<float> acc = src;
        acc.resize(n + 1, 7.0f);  // one value past the count stays
        op_relu_sum_float(acc.data(), add.data(), n);
        for (uint32_t i = 0; i < n; ++i) {
            ASSERT_EQ(dst[i], src[i] > 0 ? src[i] : 0.0f);
            ASSERT_EQ(acc[i], (src[i] > 0 ? src[i] : 0.0f) + add[i]);
        }
        EXPECT_EQ(acc[n], 7.0f);
        EXPECT_TRUE(dst.guards_intact());
    }
}

enum class Act { none, relu, sigmoid };

void check_bn(Act act, uint32_t N, uint32_t C, uint32_t H, uint32_t W, std::mt19937 &rng) {
    const size_t n = (size_t)N * C * H * W;
    const std::vector<float> x0 = nn_test::random_vec(rng, n, -3.0f, 3.0f);
    const std::vector<float> scale = nn_test::random_vec(rng, C, -2.0f, 2.0f);
    const std::vector<float> bias = nn_test::random_vec(rng, C);
    std::vector<float> x = x0, xt = x0;
    x.push_back(kNaN);  // one value past the map must stay
    float *r = nullptr;
    switch (act) {
    case Act::none:
        r = op_bn(x.data(), scale.data(), bias.data(), N, C, H, W);
        op_bn_float(xt.data(), scale.data(), bias.data(), N, C, H, W);
        break;
    case Act::relu:
        r = op_bn_relu(x.data(), scale.data(), bias.data(), N, C, H, W);
        op_bn_relu_float(xt.data(), scale.data(), bias.data(), N, C, H, W);
        break;
    case Act::sigmoid:
        r = op_bn_sigmod(x.data(), scale.data(), bias.data(), N, C, H, W);
        op_bn_sigmod_float(xt.data(), scale.data(), bias.data(), N, C, H, W);
        break;
    }
    EXPECT_EQ(r, x.data());
    EXPECT_TRUE(std::isnan(x[n]));
    for (size_t i = 0; i < n; ++i) {
        const size_t c = (i / ((size_t)H * W)) % C;
        double v = (double)x0[i] * scale[c] + bias[c];
        if (act == Act::relu) v = v > 0 ? v : 0;
        if (act == Act::sigmoid) v = 1.0 / (std::exp(-v) + 1.0);
        ASSERT_NEAR(x[i], v, 2e-6) << "element " << i;
        ASSERT_EQ(x[i], xt[i]);
    }
}

TEST(Normalise, AffineWithEachActivationUsesItsChannelsFactors) {
    std::mt19937 rng(nn_test::seed());
    SCOPED_TRACE(nn_test::seed_note());
    for (Act act : {Act::none, Act::relu, Act::sigmoid}) {
        check_bn(act, 1, 64, 1, 8, rng);
        check_bn(act, 1, 10, 1, 96, rng);
        check_bn(act, 1, 1, 1, 32, rng);
        check_bn(act, 2, 3, 2, 5, rng);  // N and H beyond one
    }
}

TEST(Normalise, SigmoidOfZeroAffineIsOneHalf) {
    std::vector<float> x(32, 17.0f);
    const float zero = 0.0f;
    op_bn_sigmod(x.data(), &zero, &zero, 1, 1, 1, 32);
    for (float v : x) EXPECT_EQ(v, 0.5f);
}

TEST(Normalise, ZeroDimensionTouchesNothing) {
    std::vector<float> x(8, kNaN);
    const float s = 2.0f, b = 1.0f;
    op_bn_relu(x.data(), &s, &b, 1, 1, 0, 8);
    op_bn(x.data(), &s, &b, 0, 1, 1, 8);
    for (float v : x) EXPECT_TRUE(std::isnan(v));
}

TEST(Layout, TransposesAreBinMajor) {
    std::mt19937 rng(nn_test::seed());
    const std::vector<float> big = nn_test::random_vec(rng, 64 * 48);
    nn_test::Poisoned flat(3072);
    EXPECT_EQ(op_transpose_48x64_to_64x48(flat.data(), big.data()), flat.data());
    for (int c = 0; c < 64; ++c)
        for (int f = 0; f < 48; ++f) ASSERT_EQ(flat[f * 64 + c], big[c * 48 + f]);
    EXPECT_TRUE(flat.guards_intact());

    const std::vector<float> map = nn_test::random_vec(rng, 512);
    std::vector<float> cat(1024, kNaN);
    op_transpose_8x64_to_2x8x64(cat.data(), map.data());
    for (int c = 0; c < 64; ++c)
        for (int f = 0; f < 8; ++f) ASSERT_EQ(cat[f * 64 + c], map[c * 8 + f]);
    for (int i = 512; i < 1024; ++i) ASSERT_TRUE(std::isnan(cat[i])) << i;
}

TEST(Layout, AccumulateTransposeInvertsTranspose) {
    std::mt19937 rng(nn_test::seed());
    const std::vector<float> map = nn_test::random_vec(rng, 512);
    std::vector<float> cat(1024);
    op_transpose_8x64_to_2x8x64_float(cat.data(), map.data());
    std::vector<float> back(512, 0.0f);
    op_accumulate_transpose_8x64_to_64x8(back.data(), cat.data());
    EXPECT_EQ(back, map);
    // Adding, not storing: a second pass doubles the map.
    op_accumulate_transpose_8x64_to_64x8_float(back.data(), cat.data());
    for (int i = 0; i < 512; ++i) ASSERT_EQ(back[i], 2.0f * map[i]);
}

}  // namespace
