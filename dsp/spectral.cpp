#include "spectral.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kInvTwoPi = 0.15915494f;
constexpr float kDegToRad = 0.017453292f;
constexpr float kRadToDeg = 57.29578f;

}  // namespace

extern "C" void hann_window(float *w, unsigned n) {
    if (n == 0) return;
    // The body (a multiple of four samples) scales i by 2 pi / n; the tail
    // scales i * 2 pi by 1 / n. Either rounding order is within one ulp.
    const unsigned body = n & ~3u;
    const float step = kTwoPi / static_cast<float>(n);
    for (unsigned i = 0; i < body; ++i) w[i] = 0.5f - 0.5f * std::cos(static_cast<float>(i) * step);
    const float inv_n = 1.0f / static_cast<float>(n);
    for (unsigned i = body; i < n; ++i)
        w[i] = std::fma(-0.5f, std::cos(static_cast<float>(i) * kTwoPi * inv_n), 0.5f);
}

extern "C" void sine_window(float *w, unsigned n) {
    const float inv_n = n == 0 ? 0.0f : 1.0f / static_cast<float>(n);
    for (unsigned i = 0; i < n; ++i) w[i] = std::sin((static_cast<float>(i) * kPi + kHalfPi) * inv_n);
}

extern "C" float wrap_degree(float x) {
    float r = std::fmod(x + kPi, kTwoPi);
    return r > 0.0f ? r - kPi : r + kPi;
}

extern "C" bool wrap_degree_with_magnitude(float *phase, const float *magnitude, unsigned n) {
    bool any = false;
    for (unsigned i = 0; i < n; ++i) {
        if (magnitude[i] == 0.0f) {
            phase[i] = 0.0f;
            continue;
        }
        any = true;
        float p = phase[i] - kTwoPi * std::round(phase[i] * kInvTwoPi);
        if (p >= kPi)
            p -= kTwoPi;
        else if (p <= -kPi)
            p += kTwoPi;
        phase[i] = p;
    }
    return any;
}

namespace {

// Shared body of the two magnitude conversions. DC and Nyquist are real; every
// later pair is one complex bin. An odd trailing float has no partner and is
// left alone rather than read past the end.
void spectrum_magnitudes(const float *spectrum, float *out, unsigned n, bool zero_imaginary) {
    if (n == 0) return;
    out[0] = std::fabs(spectrum[0]);
    if (n == 1) return;
    out[1] = std::fabs(spectrum[1]);
    for (unsigned k = 2; k + 1 < n; k += 2) {
        const float re = spectrum[k];
        const float im = spectrum[k + 1];
        const float m = std::sqrt(std::fma(im, im, re * re));
        out[k] = m;
        out[k + 1] = zero_imaginary ? 0.0f : m;
    }
}

}  // namespace

extern "C" void convert_frequency_to_absolute_value(const float *spectrum, float *out, unsigned n) {
    spectrum_magnitudes(spectrum, out, n, false);
}

extern "C" void convert_frequency_to_absolute_value_real(const float *spectrum, float *out, unsigned n) {
    spectrum_magnitudes(spectrum, out, n, true);
}

extern "C" int greatest_common_divisor(int a, int b) {
    if (a == 0 || b == 0) return 0;
    // 64-bit remainders: INT_MIN % -1 would trap in 32 bits.
    int64_t x = a > b ? a : b;
    int64_t y = a > b ? b : a;
    while (true) {
        int64_t r = x % y;
        if (r == 0) return static_cast<int>(y);
        x = y;
        y = r;
    }
}

extern "C" float cosd(float degrees) { return std::cos(degrees * kDegToRad); }
extern "C" float sind(float degrees) { return std::sin(degrees * kDegToRad); }
extern "C" float atan2d(float y, float x) { return std::atan2(y, x) * kRadToDeg; }
extern "C" float acosd(float x) { return std::acos(x) * kRadToDeg; }
extern "C" float asind(float x) { return std::asin(x) * kRadToDeg; }

extern "C" float mod(float x, float a) {
    float r = std::fmod(x, a);
    return r >= 0.0f ? r : r + a;
}
