// Windows and spectral utilities: closed-form examples and properties over
// seeded random inputs, compared with double-precision formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "dsp/spectral.h"
#include "test_seed.h"

namespace {

constexpr double kPiD = 3.14159265358979323846;

// Window of n samples with one guard value on either side, to catch stray writes.
std::vector<float> guarded_window(void (*make)(float *, unsigned), unsigned n) {
    const float guard = -12345.0f;
    std::vector<float> w(n + 2, guard);
    make(w.data() + 1, n);
    EXPECT_EQ(w.front(), guard);
    EXPECT_EQ(w.back(), guard);
    return std::vector<float>(w.begin() + 1, w.end() - 1);
}

}  // namespace

TEST(Windows, SmallExamples) {
    EXPECT_EQ(guarded_window(hann_window, 0).size(), 0u);
    EXPECT_EQ(guarded_window(sine_window, 0).size(), 0u);
    std::vector<float> h4 = guarded_window(hann_window, 4);
    const float want4[] = {0.0f, 0.5f, 1.0f, 0.5f};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(h4[i], want4[i], 1e-7f) << i;
    EXPECT_EQ(guarded_window(hann_window, 1)[0], 0.0f);
    std::vector<float> s2 = guarded_window(sine_window, 2);
    EXPECT_NEAR(s2[0], 0.70710677f, 1e-7f);
    EXPECT_NEAR(s2[1], 0.70710677f, 1e-7f);
}

TEST(Windows, FollowTheirFormulasForManyLengths) {
    // Lengths that leave every remainder after the groups of four, and the engine's 960.
    for (unsigned n : {1u, 2u, 3u, 5u, 6u, 7u, 8u, 13u, 64u, 479u, 960u, 1023u}) {
        SCOPED_TRACE(n);
        std::vector<float> h = guarded_window(hann_window, n);
        std::vector<float> s = guarded_window(sine_window, n);
        for (unsigned i = 0; i < n; ++i) {
            double hann = 0.5 - 0.5 * std::cos(2.0 * kPiD * i / n);
            double sine = std::sin(kPiD * (i + 0.5) / n);
            EXPECT_NEAR(h[i], hann, 2e-6) << i;
            EXPECT_NEAR(s[i], sine, 2e-6) << i;
        }
        // The sine window squared overlaps to one at 50 % (analysis x synthesis).
        if (n % 2 == 0 && n >= 4) {
            for (unsigned i = 0; i < n / 2; ++i) EXPECT_NEAR(s[i] * s[i] + s[i + n / 2] * s[i + n / 2], 1.0f, 1e-5f);
        }
    }
}

TEST(PhaseWrap, ExamplesAndRange) {
    const float pi = 3.1415927f;
    EXPECT_EQ(wrap_degree(0.0f), 0.0f);
    EXPECT_NEAR(wrap_degree(1.5f * pi), -0.5f * pi, 1e-6f);
    EXPECT_EQ(wrap_degree(-pi), pi);
    EXPECT_EQ(wrap_degree(pi), pi);

    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-40.0f, 40.0f);
    for (int i = 0; i < 2000; ++i) {
        float x = dist(rng);
        float y = wrap_degree(x);
        EXPECT_GT(y, -pi - 1e-6f) << x;
        EXPECT_LE(y, pi) << x;
        double turns = (static_cast<double>(x) - y) / (2.0 * kPiD);
        EXPECT_NEAR(turns, std::round(turns), 1e-5) << x;
    }
}

TEST(PhaseWrap, WithMagnitude) {
    float phase[3] = {7.0f, 7.0f, -7.0f};
    const float magnitude[3] = {1.0f, 0.0f, 2.0f};
    EXPECT_TRUE(wrap_degree_with_magnitude(phase, magnitude, 3));
    EXPECT_EQ(phase[0], 0.7168145f);
    EXPECT_EQ(phase[1], 0.0f);
    EXPECT_EQ(phase[2], -0.7168145f);

    float silent_phase[2] = {7.0f, -3.0f};
    const float silent[2] = {0.0f, 0.0f};
    EXPECT_FALSE(wrap_degree_with_magnitude(silent_phase, silent, 2));
    EXPECT_EQ(silent_phase[0], 0.0f);
    EXPECT_EQ(silent_phase[1], 0.0f);
    EXPECT_FALSE(wrap_degree_with_magnitude(nullptr, nullptr, 0));

    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-100.0f, 100.0f);
    std::vector<float> p(500), m(500, 1.0f);
    for (float &v : p) v = dist(rng);
    std::vector<float> original = p;
    EXPECT_TRUE(wrap_degree_with_magnitude(p.data(), m.data(), 500));
    for (size_t i = 0; i < p.size(); ++i) {
        EXPECT_GT(p[i], -3.1415927f) << original[i];
        EXPECT_LT(p[i], 3.1415927f) << original[i];
        double turns = (static_cast<double>(original[i]) - p[i]) / (2.0 * kPiD);
        EXPECT_NEAR(turns, std::round(turns), 1e-5) << original[i];
    }
}

TEST(SpectrumMagnitudes, ExamplesAndRandomSpectra) {
    const float spectrum[4] = {-2.0f, 3.0f, 3.0f, 4.0f};
    float out[6] = {9, 9, 9, 9, 9, 9};
    convert_frequency_to_absolute_value(spectrum, out, 4);
    EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{2, 3, 5, 5}));
    EXPECT_EQ(out[4], 9.0f);
    convert_frequency_to_absolute_value_real(spectrum, out, 4);
    EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{2, 3, 5, 0}));
    float two[3] = {9, 9, 9};
    convert_frequency_to_absolute_value(spectrum, two, 2);
    EXPECT_EQ(std::vector<float>(two, two + 3), (std::vector<float>{2, 3, 9}));

    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    std::normal_distribution<float> dist(0.0f, 10.0f);
    std::vector<float> s(960), mag(960), real(960);
    for (float &v : s) v = dist(rng);
    convert_frequency_to_absolute_value(s.data(), mag.data(), 960);
    convert_frequency_to_absolute_value_real(s.data(), real.data(), 960);
    for (int k = 2; k < 960; k += 2) {
        float want = static_cast<float>(std::hypot(static_cast<double>(s[k]), static_cast<double>(s[k + 1])));
        EXPECT_NEAR(mag[k], want, want * 2e-7f) << k;
        EXPECT_EQ(mag[k + 1], mag[k]);
        EXPECT_EQ(real[k], mag[k]);
        EXPECT_EQ(real[k + 1], 0.0f);
    }
    // In place.
    std::vector<float> in_place = s;
    convert_frequency_to_absolute_value(in_place.data(), in_place.data(), 960);
    EXPECT_EQ(in_place, mag);
}

TEST(IntegerAndDegreeHelpers, Examples) {
    EXPECT_EQ(greatest_common_divisor(48000, 44100), 300);
    EXPECT_EQ(greatest_common_divisor(44100, 48000), 300);
    EXPECT_EQ(greatest_common_divisor(0, 7), 0);
    EXPECT_EQ(greatest_common_divisor(7, 0), 0);
    EXPECT_EQ(greatest_common_divisor(7, 7), 7);
    EXPECT_EQ(greatest_common_divisor(480, 256), 32);
    // Would trap with a 32-bit remainder.
    EXPECT_EQ(greatest_common_divisor(std::numeric_limits<int>::min(), -1), -1);

    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(1, 200000);
    for (int i = 0; i < 1000; ++i) {
        int a = dist(rng), b = dist(rng);
        EXPECT_EQ(greatest_common_divisor(a, b), std::gcd(a, b)) << a << ", " << b;
    }

    EXPECT_EQ(mod(-30.0f, 360.0f), 330.0f);
    EXPECT_EQ(mod(390.0f, 360.0f), 30.0f);
    EXPECT_NEAR(cosd(60.0f), 0.5f, 1e-7f);
    EXPECT_NEAR(sind(30.0f), 0.5f, 1e-7f);
    EXPECT_NEAR(atan2d(1.0f, 1.0f), 45.0f, 1e-5f);
    EXPECT_NEAR(atan2d(-1.0f, -1.0f), -135.0f, 1e-4f);
    EXPECT_NEAR(acosd(0.5f), 60.0f, 1e-4f);
    EXPECT_NEAR(asind(-0.5f), -30.0f, 1e-4f);
}
