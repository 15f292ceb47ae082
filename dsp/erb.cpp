#include "erb.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "dsp_common.h"

#if !defined(CALYX_FORCE_SCALAR) && defined(__SSE2__)
#include <emmintrin.h>
#define CALYX_ERB_SSE2 1
#elif !defined(CALYX_FORCE_SCALAR) && defined(__ARM_NEON) && defined(__aarch64__)
#include <arm_neon.h>
#define CALYX_ERB_NEON 1
#endif

struct erb_state {
    uint32_t sample_rate;
    uint32_t num_bands;
    uint32_t num_bins;
    float **band_weights;   // num_bands arrays of num_bins weights
    uint32_t initialised;
    uint32_t band_capacity;  // sizes the arrays were allocated for
    uint32_t bin_capacity;
};

namespace {

// Glasberg-Moore ERB-number scale: E(f) = 9.265 ln(1 + f / 228.84552).
constexpr float kErbScale = 9.265f;
constexpr float kErbCornerHz = 228.84552f;        // 24.7 * 9.265
constexpr float kErbInverseScale = 0.107933074f;  // 1 / 9.265
constexpr float kErbHalfRateToCorner = 0.00218488f;  // 1 / (2 * 228.84552)
constexpr double kErbPowerFloor = 1e-10;            // -100 dB
constexpr float kErbEmptyLevel = -100.0f;

// End bin (exclusive) of band b of a layout, given where the band starts.
// Bands narrower than two bins are widened to two.
long band_end(float e_high, uint32_t b, uint32_t num_bands, float bins_per_hz, long start) {
    const float e_low = 0.0f;
    float e_b = (e_high - e_low) * static_cast<float>(b + 1) / static_cast<float>(num_bands) + e_low;
    float f_b = kErbCornerHz * std::exp(e_b * kErbInverseScale) - kErbCornerHz;
    float p_b = f_b * bins_per_hz;
    long end = std::lround(p_b);
    return end < start + 2 ? start + 2 : end;
}

// Multiply-add of the band sums: fused where the target has it in hardware;
// elsewhere a library fma costs more than the rounding it saves.
inline double madd(double a, double b, double c) {
#if defined(__FMA__) || defined(__ARM_FEATURE_FMA)
    return std::fma(a, b, c);
#else
    return a * b + c;
#endif
}

void release_arrays(erb_state *s) {
    if (s->band_weights != nullptr) {
        for (uint32_t b = 0; b < s->band_capacity; ++b) dsp_free_aligned(s->band_weights[b]);
        dsp_free_handle(s->band_weights);
    }
    s->band_weights = nullptr;
    s->band_capacity = 0;
    s->bin_capacity = 0;
}

// sum over k of power[k] * weight[k] in double precision, as 16 interleaved
// partial sums (eight two-lane accumulators) plus a scalar remainder.
double weighted_sum(const double *power, const float *weight, uint32_t n) {
    const uint32_t n16 = n & ~15u;
#if defined(CALYX_ERB_SSE2)
    __m128d acc[8];
    for (int a = 0; a < 8; ++a) acc[a] = _mm_setzero_pd();
    for (uint32_t k = 0; k < n16; k += 16) {
        for (int q = 0; q < 4; ++q) {
            __m128 w = _mm_load_ps(weight + k + 4 * q);  // weight rows are 64-byte aligned
            __m128d w_lo = _mm_cvtps_pd(w);
            __m128d w_hi = _mm_cvtps_pd(_mm_movehl_ps(w, w));
            __m128d p_lo = _mm_loadu_pd(power + k + 4 * q);
            __m128d p_hi = _mm_loadu_pd(power + k + 4 * q + 2);
            acc[2 * q] = _mm_add_pd(acc[2 * q], _mm_mul_pd(p_lo, w_lo));
            acc[2 * q + 1] = _mm_add_pd(acc[2 * q + 1], _mm_mul_pd(p_hi, w_hi));
        }
    }
    __m128d s = _mm_add_pd(_mm_add_pd(_mm_add_pd(acc[0], acc[1]), _mm_add_pd(acc[2], acc[3])),
                           _mm_add_pd(_mm_add_pd(acc[4], acc[5]), _mm_add_pd(acc[6], acc[7])));
    double lanes[2];
    _mm_storeu_pd(lanes, s);
    double sum = lanes[0] + lanes[1];
#elif defined(CALYX_ERB_NEON)
    float64x2_t acc[8];
    for (int a = 0; a < 8; ++a) acc[a] = vdupq_n_f64(0.0);
    for (uint32_t k = 0; k < n16; k += 16) {
        for (int q = 0; q < 4; ++q) {
            float32x4_t w = vld1q_f32(weight + k + 4 * q);
            acc[2 * q] = vfmaq_f64(acc[2 * q], vld1q_f64(power + k + 4 * q), vcvt_f64_f32(vget_low_f32(w)));
            acc[2 * q + 1] =
                vfmaq_f64(acc[2 * q + 1], vld1q_f64(power + k + 4 * q + 2), vcvt_high_f64_f32(w));
        }
    }
    float64x2_t s = vaddq_f64(vaddq_f64(vaddq_f64(acc[0], acc[1]), vaddq_f64(acc[2], acc[3])),
                              vaddq_f64(vaddq_f64(acc[4], acc[5]), vaddq_f64(acc[6], acc[7])));
    double sum = vgetq_lane_f64(s, 0) + vgetq_lane_f64(s, 1);
#else
    // Scalar reference: lane j of accumulator a holds the bins k = 2a + j mod 16.
    double acc[16] = {0.0};
    for (uint32_t k = 0; k < n16; k += 16)
        for (int j = 0; j < 16; ++j) acc[j] = madd(power[k + j], static_cast<double>(weight[k + j]), acc[j]);
    double lane[2];
    for (int l = 0; l < 2; ++l)
        lane[l] = ((acc[0 + l] + acc[2 + l]) + (acc[4 + l] + acc[6 + l])) +
                  ((acc[8 + l] + acc[10 + l]) + (acc[12 + l] + acc[14 + l]));
    double sum = lane[0] + lane[1];
#endif
    for (uint32_t k = n16; k < n; ++k) sum = madd(power[k], static_cast<double>(weight[k]), sum);
    return sum;
}

}  // namespace

extern "C" int32_t erb_create(erb_state **handle) {
    if (handle == nullptr || *handle != nullptr) return DSP_ERR_INVALID;
    *handle = static_cast<erb_state *>(dsp_alloc_handle(sizeof(erb_state)));
    return DSP_OK;
}

extern "C" int32_t erb_setup(erb_state *state, unsigned sample_rate, int num_bins, int num_bands) {
    if (state == nullptr || sample_rate == 0 || num_bins < 0 || num_bands < 0) return DSP_ERR_INVALID;
    const uint32_t bins = static_cast<uint32_t>(num_bins);
    const uint32_t bands = static_cast<uint32_t>(num_bands);

    const float rate = static_cast<float>(sample_rate);
    const float e_high = kErbScale * std::log(1.0f + rate * kErbHalfRateToCorner);
    // Edge frequency to bin index of a (2 * num_bins - 2)-point transform.
    const float bins_per_hz = (2.0f * static_cast<float>(bins) - 2.0f) * (1.0f / rate);

    // Refuse a layout whose widened bands would reach past the last bin
    // before anything is changed.
    long start = 0;
    for (uint32_t b = 0; b + 1 < bands; ++b) {
        start = band_end(e_high, b, bands, bins_per_hz, start);
        if (start > static_cast<long>(bins)) return DSP_ERR_INVALID;
    }

    if (state->band_weights != nullptr && (bands > state->band_capacity || bins > state->bin_capacity))
        release_arrays(state);
    if (state->band_weights == nullptr && bands > 0) {
        state->band_weights = static_cast<float **>(dsp_alloc_handle(sizeof(float *) * bands));
        for (uint32_t b = 0; b < bands; ++b)
            state->band_weights[b] = static_cast<float *>(dsp_alloc_aligned_array(bins, sizeof(float)));
        state->band_capacity = bands;
        state->bin_capacity = bins;
    }
    state->sample_rate = sample_rate;
    state->num_bins = bins;
    state->num_bands = bands;
    // A repeated setup clears every weight so no bin keeps an old band.
    for (uint32_t b = 0; b < bands; ++b) std::memset(state->band_weights[b], 0, sizeof(float) * bins);

    start = 0;
    for (uint32_t b = 0; b < bands; ++b) {
        long end = b + 1 < bands ? band_end(e_high, b, bands, bins_per_hz, start) : static_cast<long>(bins);
        if (end > start) {
            const float w = 1.0f / static_cast<float>(end - start);
            for (long k = start; k < end; ++k) state->band_weights[b][k] = w;
        }
        start = end;
    }
    state->initialised = 1;
    return DSP_OK;
}

extern "C" int32_t erb_freq_forward(erb_state *state, const double *power, float *levels) {
    if (state == nullptr || power == nullptr || levels == nullptr || !state->initialised) return DSP_ERR_INVALID;
    if (state->num_bands == 0) return DSP_OK;
    if (state->num_bins == 0) {
        for (uint32_t b = 0; b < state->num_bands; ++b) levels[b] = kErbEmptyLevel;
        return DSP_OK;
    }
    for (uint32_t b = 0; b < state->num_bands; ++b) {
        double x = kErbPowerFloor + weighted_sum(power, state->band_weights[b], state->num_bins);
        levels[b] = static_cast<float>(10.0 * std::log10(x));
    }
    return DSP_OK;
}

extern "C" int32_t erb_destroy(erb_state **handle) {
    if (handle == nullptr || *handle == nullptr) return DSP_ERR_INVALID;
    release_arrays(*handle);
    dsp_free_handle(*handle);
    *handle = nullptr;
    return DSP_OK;
}
