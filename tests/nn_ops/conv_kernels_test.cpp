// Every generated convolution kernel against a direct double-precision
// evaluation of its shape's formula, on seeded random data, for every set
// of inner loops; plus the padding, stride and grouping edges by hand.
#include <gtest/gtest.h>

#include "nn/conv_kernels.h"
#include "nn_test_util.h"

namespace {

using kernel_fn = void (*)(const float *, float *, const float *, float *);

// The generated kernels take a scratch row or not; tests call both alike.
inline void invoke(void (*f)(const float *, float *, const float *, float *), const float *in,
                   float *out, const float *w, float *s) {
    f(in, out, w, s);
}
inline void invoke(void (*f)(const float *, float *, const float *), const float *in, float *out,
                   const float *w, float *) {
    f(in, out, w);
}

struct Shape {
    const char *name;
    kernel_fn plain, twin;
    int G, I, O, S0, S1, T0, T1, P0, P1, K0, K1, D0, D1;
    bool scratch;
    int in_size() const { return G * I * S0 * S1; }
    int out_size() const { return G * O * T0 * T1; }
    int w_size() const { return G * O * I * K0 * K1; }
};

#define CALYX_CONV_KERNEL(n, G, I, O, S0, S1, T0, T1, P0, P1, K0, K1, D0, D1, SCR)            \
    Shape{#n,                                                                                 \
          [](const float *in, float *out, const float *w, float *s) { invoke(n, in, out, w, s); }, \
          [](const float *in, float *out, const float *w, float *s) {                         \
              invoke(n##_float, in, out, w, s);                                               \
          },                                                                                  \
          G, I, O, S0, S1, T0, T1, P0, P1, K0, K1, D0, D1, SCR != 0},
const Shape kShapes[] = {
#include "nn/kernels/kernel_registry.inc"
};
#undef CALYX_CONV_KERNEL

// Direct evaluation: y[oc][t][f] with out-of-range input reading as zero.
// Returns the value and, in mag, the absolute sum of its terms.
double reference(const Shape &s, const std::vector<float> &x, const std::vector<float> &w, int oc,
                 int t, int f, double *mag) {
    const int gr = oc / s.O;
    double acc = 0.0, m = 0.0;
    for (int c = 0; c < s.I; ++c)
        for (int a = 0; a < s.K0; ++a)
            for (int b = 0; b < s.K1; ++b) {
                const int ti = t * s.D0 + a - s.P0, fi = f * s.D1 + b - s.P1;
                if (ti < 0 || ti >= s.S0 || fi < 0 || fi >= s.S1) continue;
                const double term = (double)w[((oc * s.I + c) * s.K0 + a) * s.K1 + b] *
                                    x[((gr * s.I + c) * s.S0 + ti) * s.S1 + fi];
                acc += term;
                m += std::fabs(term);
            }
    *mag = m;
    return acc;
}

std::vector<float> run(const Shape &s, kernel_fn fn, const std::vector<float> &x,
                       const std::vector<float> &w) {
    nn_test::Poisoned out(s.out_size());
    std::vector<float> scratch(s.T1, std::numeric_limits<float>::quiet_NaN());
    fn(x.data(), out.data(), w.data(), scratch.data());
    EXPECT_TRUE(out.guards_intact()) << s.name << " wrote past its output";
    return std::vector<float>(out.buf.begin(), out.buf.begin() + s.out_size());
}

class ConvKernels : public nn_test::PerIsa {};

TEST_P(ConvKernels, EveryShapeMatchesDirectFormula) {
    std::mt19937 rng(nn_test::seed());
    for (const Shape &s : kShapes) {
        SCOPED_TRACE(std::string(s.name) + " " + nn_test::seed_note());
        ASSERT_EQ((s.S1 + 2 * s.P1 - s.K1) / s.D1 + 1, s.T1);
        const std::vector<float> x = nn_test::random_vec(rng, s.in_size());
        const std::vector<float> w = nn_test::random_vec(rng, s.w_size());
        const std::vector<float> y = run(s, s.plain, x, w);
        const std::vector<float> yt = run(s, s.twin, x, w);
        int bad = 0;
        for (int oc = 0; oc < s.G * s.O; ++oc)
            for (int f = 0; f < s.T1; ++f) {
                double mag;
                const double ref = reference(s, x, w, oc, 0, f, &mag);
                const size_t k = (size_t)oc * s.T1 + f;
                if (!nn_test::close(y[k], ref, mag) && bad++ < 5)
                    ADD_FAILURE() << "oc " << oc << " f " << f << ": " << y[k] << " vs " << ref;
                if (y[k] != yt[k] && bad++ < 5)
                    ADD_FAILURE() << "plain and _float entries differ at " << k;
            }
    }
}

const Shape &shape(const char *name) {
    for (const Shape &s : kShapes)
        if (std::string(s.name) == name) return s;
    ADD_FAILURE() << "no kernel " << name;
    return kShapes[0];
}

TEST_P(ConvKernels, StrideTwoEdgesOnThirtyTwoBins) {
    const Shape &s = shape("op_convolution_g64_i1_o1_si01_si132_so01_so116_p00_p11_k01_k13_st01_st12");
    std::mt19937 rng(nn_test::seed());
    const std::vector<float> x = nn_test::random_vec(rng, s.in_size());
    const std::vector<float> w = nn_test::random_vec(rng, s.w_size());
    const std::vector<float> y = run(s, s.plain, x, w);
    for (int c = 0; c < 64; ++c) {
        const float *xc = &x[c * 32];
        const float *wc = &w[c * 3];
        EXPECT_NEAR(y[c * 16], wc[1] * xc[0] + wc[2] * xc[1], 1e-6);
        EXPECT_NEAR(y[c * 16 + 15], wc[0] * xc[29] + wc[1] * xc[30] + wc[2] * xc[31], 1e-6);
    }
}

TEST_P(ConvKernels, StrideOneEdgesLoseOuterTaps) {
    const Shape &s = shape("op_convolution_g64_i1_o1_si01_si18_so01_so18_p00_p11_k01_k13_st01_st11");
    std::mt19937 rng(nn_test::seed());
    const std::vector<float> x = nn_test::random_vec(rng, s.in_size());
    const std::vector<float> w = nn_test::random_vec(rng, s.w_size());
    const std::vector<float> y = run(s, s.plain, x, w);
    for (int c = 0; c < 64; ++c) {
        const float *xc = &x[c * 8];
        const float *wc = &w[c * 3];
        EXPECT_NEAR(y[c * 8], wc[1] * xc[0] + wc[2] * xc[1], 1e-6);
        EXPECT_NEAR(y[c * 8 + 7], wc[0] * xc[6] + wc[1] * xc[7], 1e-6);
    }
}

TEST_P(ConvKernels, FirstWindowUsesOnlyCurrentFrameTaps) {
    for (const char *name : {"op_convolution_g1_i1_o64_si03_si132_so01_so132_p00_p11_k03_k13_st01_st11",
                             "op_convolution_g2_i1_o32_si03_si196_so01_so196_p00_p11_k03_k13_st01_st11"}) {
        const Shape &s = shape(name);
        std::mt19937 rng(nn_test::seed());
        std::vector<float> x = nn_test::random_vec(rng, s.in_size());
        // Two silent past frames in every channel, as after set-up.
        for (int ch = 0; ch < s.G * s.I; ++ch)
            for (int i = 0; i < 2 * s.S1; ++i) x[ch * 3 * s.S1 + i] = 0.0f;
        std::vector<float> w = nn_test::random_vec(rng, s.w_size());
        const std::vector<float> y = run(s, s.plain, x, w);
        // Wiping the time taps 0 and 1 must change nothing.
        for (int oc = 0; oc < s.G * s.O; ++oc)
            for (int i = 0; i < 6; ++i) w[oc * 9 + i] = 0.0f;
        EXPECT_EQ(y, run(s, s.plain, x, w)) << name;
    }
}

TEST_P(ConvKernels, GroupsStayApart) {
    const Shape &s = shape("op_convolution_g2_i1_o32_si03_si196_so01_so196_p00_p11_k03_k13_st01_st11");
    std::mt19937 rng(nn_test::seed());
    std::vector<float> x = nn_test::random_vec(rng, s.in_size());
    for (int i = 3 * 96; i < 6 * 96; ++i) x[i] = 0.0f;  // input channel 1 silent
    const std::vector<float> y = run(s, s.plain, x, nn_test::random_vec(rng, s.w_size()));
    for (int k = 32 * 96; k < 64 * 96; ++k) ASSERT_EQ(y[k], 0.0f) << k;
    int nonzero = 0;
    for (int k = 0; k < 32 * 96; ++k) nonzero += y[k] != 0.0f;
    EXPECT_GT(nonzero, 32 * 90);
}

TEST_P(ConvKernels, DepthwiseOneByOneWithUnitWeightsCopies) {
    for (const char *name : {"op_convolution_g64_i1_o1_si01_si18_so01_so18_p00_p10_k01_k11_st01_st11",
                             "op_convolution_g64_i1_o1_si01_si116_so01_so116_p00_p10_k01_k11_st01_st11",
                             "op_convolution_g64_i1_o1_si01_si132_so01_so132_p00_p10_k01_k11_st01_st11"}) {
        const Shape &s = shape(name);
        std::mt19937 rng(nn_test::seed());
        const std::vector<float> x = nn_test::random_vec(rng, s.in_size());
        EXPECT_EQ(run(s, s.plain, x, std::vector<float>(64, 1.0f)), x) << name;
    }
}

CALYX_INSTANTIATE_PER_ISA(ConvKernels);

}  // namespace
