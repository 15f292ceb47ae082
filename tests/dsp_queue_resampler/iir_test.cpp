// IIR filters: closed-form responses, coefficient normalisation, channel
// independence, flush, and the engine's high-pass measured in frequency.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/iir.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Filter {
    iir_state *f = nullptr;
    Filter() { EXPECT_EQ(iir_create(&f), 0); }
    ~Filter() { EXPECT_EQ(iir_destroy(&f), 0); }
};

struct FilterHq {
    iir_hq_state *f = nullptr;
    FilterHq() { EXPECT_EQ(iir_hq_create(&f), 0); }
    ~FilterHq() { EXPECT_EQ(iir_hq_destroy(&f), 0); }
};

std::vector<float> impulse(size_t n) {
    std::vector<float> x(n, 0.0f);
    x[0] = 1.0f;
    return x;
}

TEST(Iir, LifeCycleCodes) {
    EXPECT_EQ(iir_create(nullptr), -1);
    Filter filt;
    iir_state *taken = filt.f;
    EXPECT_EQ(iir_create(&taken), -1);
    const float den[2] = {1.0f, 0.0f}, num[2] = {1.0f, 0.0f};
    float x = 1.0f, y = 0.0f;
    EXPECT_EQ(iir_process(filt.f, &x, &y), 9);
    EXPECT_EQ(iir_update(filt.f, den, num), 9);
    EXPECT_EQ(iir_flush(filt.f), 9);
    EXPECT_EQ(iir_reset(filt.f), 9);
    EXPECT_EQ(iir_setup(nullptr, 1, 1, 1, den, num), -1);
    EXPECT_EQ(iir_setup(filt.f, 1, 1, 0, den, num), -1);
    EXPECT_EQ(iir_setup(filt.f, 0, 1, 1, den, num), 1);
    EXPECT_EQ(iir_setup(filt.f, 1, 0, 1, den, num), 4);
    ASSERT_EQ(iir_setup(filt.f, 1, 1, 1, den, num), 0);
    EXPECT_EQ(iir_update(filt.f, nullptr, num), -1);
    EXPECT_EQ(iir_process(filt.f, &x, &y), 0);
    EXPECT_EQ(y, 1.0f);
    EXPECT_EQ(iir_reset(filt.f), 0);
    EXPECT_EQ(iir_process(filt.f, &x, &y), 9);
    EXPECT_EQ(iir_destroy(nullptr), -1);
    // Destroy works in any state, including right after create.
    iir_state *fresh = nullptr;
    ASSERT_EQ(iir_create(&fresh), 0);
    EXPECT_EQ(iir_destroy(&fresh), 0);
    EXPECT_EQ(fresh, nullptr);
    EXPECT_EQ(iir_destroy(&fresh), -1);
}

TEST(Iir, PassThroughAndTwoSampleMean) {
    const uint32_t seed = 7;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(64), y(64);
    for (float &v : x) v = dist(rng);
    {
        Filter filt;
        const float den[2] = {1.0f, 0.0f}, num[2] = {1.0f, 0.0f};
        ASSERT_EQ(iir_setup(filt.f, 1, 64, 1, den, num), 0);
        ASSERT_EQ(iir_process(filt.f, x.data(), y.data()), 0);
        EXPECT_EQ(x, y);
    }
    {
        Filter filt;
        const float den[2] = {1.0f, 0.0f}, num[2] = {0.5f, 0.5f};
        ASSERT_EQ(iir_setup(filt.f, 1, 64, 1, den, num), 0);
        ASSERT_EQ(iir_process(filt.f, x.data(), y.data()), 0);
        EXPECT_EQ(y[0], 0.5f * x[0]);
        for (size_t n = 1; n < x.size(); ++n) EXPECT_FLOAT_EQ(y[n], 0.5f * (x[n] + x[n - 1]));
    }
}

// One pole at 0.5: the impulse response is 0.5^n, exact in float.
TEST(Iir, OnePoleImpulseResponseIsGeometric) {
    Filter filt;
    const float den[2] = {1.0f, -0.5f}, num[2] = {1.0f, 0.0f};
    ASSERT_EQ(iir_setup(filt.f, 1, 40, 1, den, num), 0);
    std::vector<float> x = impulse(40), y(40);
    ASSERT_EQ(iir_process(filt.f, x.data(), y.data()), 0);
    for (int n = 0; n < 40; ++n) EXPECT_EQ(y[n], std::ldexp(1.0f, -n)) << n;
    // The state carries across calls: the next block continues the decay.
    std::vector<float> zeros(40, 0.0f);
    ASSERT_EQ(iir_process(filt.f, zeros.data(), y.data()), 0);
    EXPECT_EQ(y[0], std::ldexp(1.0f, -40));
}

// Output for an impulse is b0 * s after normalisation by s.
float first_output(iir_state *f) {
    float x[4] = {1.0f, 0.0f, 0.0f, 0.0f}, y[4];
    EXPECT_EQ(iir_flush(f), 0);
    EXPECT_EQ(iir_process(f, x, y), 0);
    return y[0];
}

TEST(Iir, CoefficientNormalisation) {
    Filter filt;
    const float unit_den[3] = {1.0f, 0.0f, 0.0f};
    const float num[3] = {0.8f, 0.0f, 0.0f};
    ASSERT_EQ(iir_setup(filt.f, 1, 4, 2, unit_den, num), 0);
    EXPECT_EQ(first_output(filt.f), 0.8f);

    // a0 = 2: everything scaled by 1 / 2.00001, not 1 / 2.
    const float den2[3] = {2.0f, 0.0f, 0.0f};
    ASSERT_EQ(iir_update(filt.f, den2, num), 0);
    const float s = 1.0f / (2.0f + 0.00001f);
    EXPECT_EQ(first_output(filt.f), 0.8f * s);
    EXPECT_NE(first_output(filt.f), 0.4f);

    // Feedback scaled too: a1 = 1 with a0 = 2 gives a pole at -a1 * s.
    const float den_fb[3] = {2.0f, 1.0f, 0.0f};
    const float num_fb[3] = {2.0f, 0.0f, 0.0f};
    ASSERT_EQ(iir_update(filt.f, den_fb, num_fb), 0);
    {
        float x[4] = {1.0f, 0.0f, 0.0f, 0.0f}, y[4];
        ASSERT_EQ(iir_flush(filt.f), 0);
        ASSERT_EQ(iir_process(filt.f, x, y), 0);
        EXPECT_EQ(y[0], 2.0f * s);
        EXPECT_FLOAT_EQ(y[1], -(1.0f * s) * y[0]);
    }

    // a0 within 1e-5 of 1 is copied unchanged.
    const float den_close[3] = {1.000005f, 0.0f, 0.0f};
    ASSERT_EQ(iir_update(filt.f, den_close, num), 0);
    EXPECT_EQ(first_output(filt.f), 0.8f);

    // a0 near zero is refused and the previous coefficients stay.
    const float den_tiny[3] = {0.000001f, 0.0f, 0.0f};
    const float other_num[3] = {0.1f, 0.0f, 0.0f};
    EXPECT_EQ(iir_update(filt.f, den_tiny, other_num), -1);
    EXPECT_EQ(first_output(filt.f), 0.8f);
    const float den_nan[3] = {NAN, 0.0f, 0.0f};
    EXPECT_EQ(iir_update(filt.f, den_nan, other_num), -1);
    EXPECT_EQ(first_output(filt.f), 0.8f);
}

TEST(Iir, RefusedSetupLeavesSilence) {
    Filter filt;
    const float den_tiny[2] = {0.0f, 0.5f}, num[2] = {1.0f, 1.0f};
    EXPECT_EQ(iir_setup(filt.f, 1, 4, 1, den_tiny, num), -1);
    float x[4] = {1.0f, 2.0f, 3.0f, 4.0f}, y[4] = {9, 9, 9, 9};
    ASSERT_EQ(iir_process(filt.f, x, y), 0);
    for (float v : y) EXPECT_EQ(v, 0.0f);
    const float den_ok[2] = {1.0f, 0.0f};
    ASSERT_EQ(iir_update(filt.f, den_ok, num), 0);
    ASSERT_EQ(iir_process(filt.f, x, y), 0);
    EXPECT_EQ(y[1], 3.0f);
}

// A resonant 4th-order filter: flush makes a block repeat exactly, the
// in-place variant equals the separate one, and interleaved channels equal
// separate mono filters.
TEST(Iir, FlushInPlaceAndChannelIndependence) {
    const float den[5] = {1.0f, -2.2f, 2.4f, -1.3f, 0.4f};
    const float num[5] = {0.05f, 0.1f, 0.0f, -0.1f, -0.05f};
    const uint32_t frames = 256, seed = 11;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> left(frames), right(frames), stereo(2 * frames);
    for (uint32_t n = 0; n < frames; ++n) {
        left[n] = dist(rng);
        right[n] = (n % 17 == 0) ? 1.0f : 0.0f;
        stereo[2 * n] = left[n];
        stereo[2 * n + 1] = right[n];
    }
    Filter mono_l, mono_r, both, inplace;
    ASSERT_EQ(iir_setup(mono_l.f, 1, frames, 4, den, num), 0);
    ASSERT_EQ(iir_setup(mono_r.f, 1, frames, 4, den, num), 0);
    ASSERT_EQ(iir_setup(both.f, 2, frames, 4, den, num), 0);
    ASSERT_EQ(iir_setup(inplace.f, 2, frames, 4, den, num), 0);
    std::vector<float> out_l(frames), out_r(frames), out_both(2 * frames);
    for (int block = 0; block < 3; ++block) {
        ASSERT_EQ(iir_process(mono_l.f, left.data(), out_l.data()), 0);
        ASSERT_EQ(iir_process(mono_r.f, right.data(), out_r.data()), 0);
        ASSERT_EQ(iir_process(both.f, stereo.data(), out_both.data()), 0);
        std::vector<float> data = stereo;
        ASSERT_EQ(iir_process_inplace(inplace.f, data.data()), 0);
        EXPECT_EQ(data, out_both);
        for (uint32_t n = 0; n < frames; ++n) {
            ASSERT_EQ(out_both[2 * n], out_l[n]) << block << " " << n;
            ASSERT_EQ(out_both[2 * n + 1], out_r[n]) << block << " " << n;
        }
    }
    std::vector<float> first(frames), again(frames);
    Filter fresh;
    ASSERT_EQ(iir_setup(fresh.f, 1, frames, 4, den, num), 0);
    ASSERT_EQ(iir_process(fresh.f, left.data(), first.data()), 0);
    ASSERT_EQ(iir_flush(mono_l.f), 0);
    ASSERT_EQ(iir_process(mono_l.f, left.data(), again.data()), 0);
    EXPECT_EQ(first, again);
}

TEST(IirHq, SetupChecksDenominatorFirst) {
    FilterHq filt;
    const double den_bad[2] = {0.999, 0.0}, den[2] = {1.0, 0.0}, num[2] = {1.0, 0.0};
    // A bad a0 is reported before the channel and frame checks.
    EXPECT_EQ(iir_hq_setup(filt.f, 0, 0, 1, den_bad, num), -1);
    EXPECT_EQ(iir_hq_setup(filt.f, 0, 0, 0, den, num), -1);
    EXPECT_EQ(iir_hq_setup(filt.f, 1, 1, 1, nullptr, num), -1);
    EXPECT_EQ(iir_hq_setup(filt.f, 0, 1, 1, den, num), 1);
    EXPECT_EQ(iir_hq_setup(filt.f, 1, 0, 1, den, num), 4);
    float x = 0.5f, y = 0.0f;
    EXPECT_EQ(iir_hq_process(filt.f, &x, &y), 9);
    EXPECT_EQ(iir_hq_update(filt.f, den, num), 9);
    ASSERT_EQ(iir_hq_setup(filt.f, 1, 1, 1, den, num), 0);
    EXPECT_EQ(iir_hq_update(filt.f, den_bad, num), -1);
    ASSERT_EQ(iir_hq_process(filt.f, &x, &y), 0);
    EXPECT_EQ(y, 0.5f);
    // No normalisation in double precision: b0 = 3 stays 3.
    const double num3[2] = {3.0, 0.0};
    ASSERT_EQ(iir_hq_update(filt.f, den, num3), 0);
    ASSERT_EQ(iir_hq_process(filt.f, &x, &y), 0);
    EXPECT_EQ(y, 1.5f);
    EXPECT_EQ(iir_hq_reset(filt.f), 0);
    EXPECT_EQ(iir_hq_flush(filt.f), 9);
    iir_hq_state *fresh = nullptr;
    ASSERT_EQ(iir_hq_create(&fresh), 0);
    EXPECT_EQ(iir_hq_destroy(&fresh), 0);
    EXPECT_EQ(iir_hq_destroy(&fresh), -1);
}

// Every input/output flavour of the double filter computes the same thing.
TEST(IirHq, ProcessVariantsAgree) {
    const uint32_t frames = 480, seed = 5;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> xf(frames);
    std::vector<double> xd(frames);
    for (uint32_t n = 0; n < frames; ++n) xd[n] = xf[n] = dist(rng);

    FilterHq a, b, c, d, e, g;
    for (iir_hq_state *f : {a.f, b.f, c.f, d.f, e.f, g.f})
        ASSERT_EQ(iir_hq_setup(f, 1, frames, 3, kCxHighPassDen, kCxHighPassNum), 0);
    for (int block = 0; block < 2; ++block) {
        std::vector<double> ref(frames), to_d(frames), inplace_d = xd;
        std::vector<float> out_f(frames), from_d(frames), inplace_f = xf;
        ASSERT_EQ(iir_hq_process_double(a.f, xd.data(), ref.data()), 0);
        ASSERT_EQ(iir_hq_process(b.f, xf.data(), out_f.data()), 0);
        ASSERT_EQ(iir_hq_process_to_double(c.f, xf.data(), to_d.data()), 0);
        ASSERT_EQ(iir_hq_process_from_double(d.f, xd.data(), from_d.data()), 0);
        ASSERT_EQ(iir_hq_process_inplace(e.f, inplace_f.data()), 0);
        ASSERT_EQ(iir_hq_process_inplace_double(g.f, inplace_d.data()), 0);
        for (uint32_t n = 0; n < frames; ++n) {
            ASSERT_EQ(to_d[n], ref[n]);
            ASSERT_EQ(inplace_d[n], ref[n]);
            ASSERT_EQ(out_f[n], float(ref[n]));
            ASSERT_EQ(from_d[n], float(ref[n]));
            ASSERT_EQ(inplace_f[n], float(ref[n]));
        }
    }
}

// Magnitude of the steady-state response to a sine of `freq` (cycles/sample).
double sine_gain(iir_hq_state *f, double freq) {
    const uint32_t frames = 480;
    EXPECT_EQ(iir_hq_flush(f), 0);
    std::vector<double> x(frames), y(frames);
    double peak = 0.0;
    for (uint32_t block = 0; block < 100; ++block) {
        for (uint32_t n = 0; n < frames; ++n)
            x[n] = std::sin(2.0 * kPi * freq * double(block * frames + n));
        EXPECT_EQ(iir_hq_process_double(f, x.data(), y.data()), 0);
        if (block >= 90)
            for (double v : y) peak = std::max(peak, std::fabs(v));
    }
    return peak;
}

TEST(IirHq, EngineHighPassRemovesDc) {
    FilterHq filt;
    ASSERT_EQ(iir_hq_setup(filt.f, 1, 480, 3, kCxHighPassDen, kCxHighPassNum), 0);
    std::vector<float> x(480, 0.5f), y(480);
    float last = 1.0f;
    for (int block = 0; block < 200; ++block) {
        ASSERT_EQ(iir_hq_process(filt.f, x.data(), y.data()), 0);
        last = y[479];
    }
    EXPECT_LT(std::fabs(last), 1e-6f);
    // Passband: near half the rate the gain is 1; the stop band is at DC.
    EXPECT_NEAR(sine_gain(filt.f, 0.49), 1.0, 0.01);
    EXPECT_NEAR(sine_gain(filt.f, 0.25), 1.0, 0.01);
    EXPECT_LT(sine_gain(filt.f, 10.0 / 48000.0), 0.2);
}

}  // namespace
