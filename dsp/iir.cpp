#include "iir.h"

#include <cmath>
#include <cstring>

#include "dsp_common.h"

const double kCxHighPassNum[4] = {0.993476375460134, -2.9804291263804, 2.9804291263804,
                                  -0.993476375460134};
const double kCxHighPassDen[4] = {1.0, -2.98691005397296, 2.97390564111071,
                                  -0.986995308597404};

struct iir_state {
    uint32_t channels;
    uint32_t frames;  // frames per process call
    uint32_t initialised;
    uint32_t order;   // N: N + 1 coefficients per polynomial
    float *x_history;  // (N + 1) x channels: value k steps back at k x channels + ch
    float *y_history;
    float *den;  // a0 .. aN
    float *num;  // b0 .. bN
};

struct iir_hq_state {
    uint32_t channels;
    uint32_t frames;
    uint32_t order;
    uint32_t initialised;
    double *x_history;
    double *y_history;
    double *den;
    double *num;
};

namespace {

constexpr float kA0Tolerance = 0.00001f;

template <typename Filter>
int32_t check_ready(const Filter *f) {
    if (f == nullptr) return DSP_ERR_INVALID;
    if (!f->initialised) return DSP_ERR_NOT_SETUP;
    return DSP_OK;
}

template <typename Filter>
void release_arrays(Filter *f) {
    dsp_free_aligned(f->x_history);
    dsp_free_aligned(f->y_history);
    dsp_free_aligned(f->den);
    dsp_free_aligned(f->num);
    f->x_history = nullptr;
    f->y_history = nullptr;
    f->den = nullptr;
    f->num = nullptr;
}

// Common part of both setups once the arguments are accepted: fresh zeroed
// histories and coefficient arrays, marked set up.
// (N + 1) x channels histories of T must be addressable (matters on 32-bit).
template <typename T>
bool sizes_fit(uint32_t channels, uint32_t order) {
    const uint64_t taps = static_cast<uint64_t>(order) + 1;
    return taps * channels <= SIZE_MAX / sizeof(T) / 2;
}

template <typename Filter, typename T>
void allocate(Filter *f, uint32_t channels, uint32_t frames, uint32_t order) {
    release_arrays(f);
    f->channels = channels;
    f->frames = frames;
    f->order = order;
    const size_t taps = static_cast<size_t>(order) + 1;
    f->x_history = static_cast<T *>(dsp_alloc_aligned_array(taps * channels, sizeof(T)));
    f->y_history = static_cast<T *>(dsp_alloc_aligned_array(taps * channels, sizeof(T)));
    f->den = static_cast<T *>(dsp_alloc_aligned_array(taps, sizeof(T)));
    f->num = static_cast<T *>(dsp_alloc_aligned_array(taps, sizeof(T)));
    f->initialised = 1;
}

inline float fused(float a, float b, float c) { return std::fmaf(a, b, c); }
inline double fused(double a, double b, double c) { return std::fma(a, b, c); }

// Direct form I, one channel after another. The history of a channel is
// shifted one step per frame; a0 never enters the recursion.
template <typename T, typename In, typename Out, typename Filter>
void run(Filter *f, const In *input, Out *output) {
    const uint32_t n_ch = f->channels;
    const uint32_t order = f->order;
    const T *a = f->den;
    const T *b = f->num;
    for (uint32_t ch = 0; ch < n_ch; ++ch) {
        T *xh = f->x_history + ch;
        T *yh = f->y_history + ch;
        for (uint32_t n = 0; n < f->frames; ++n) {
            for (uint32_t k = order; k >= 1; --k) {
                xh[static_cast<size_t>(k) * n_ch] = xh[static_cast<size_t>(k - 1) * n_ch];
                yh[static_cast<size_t>(k) * n_ch] = yh[static_cast<size_t>(k - 1) * n_ch];
            }
            const size_t idx = static_cast<size_t>(n) * n_ch + ch;
            const T x = static_cast<T>(input[idx]);
            xh[0] = x;
            T acc = b[0] * x;
            for (uint32_t k = 1; k <= order; ++k) {
                acc = fused(xh[static_cast<size_t>(k) * n_ch], b[k], acc);
                acc = fused(-yh[static_cast<size_t>(k) * n_ch], a[k], acc);
            }
            yh[0] = acc;
            output[idx] = static_cast<Out>(acc);
        }
    }
}

template <typename T, typename In, typename Out, typename Filter>
int32_t process(Filter *f, const In *input, Out *output) {
    const int32_t rc = check_ready(f);
    if (rc != DSP_OK) return rc;
    if (input == nullptr || output == nullptr) return DSP_ERR_INVALID;
    run<T>(f, input, output);
    return DSP_OK;
}

template <typename Filter, typename T>
int32_t flush(Filter *f) {
    const int32_t rc = check_ready(f);
    if (rc != DSP_OK) return rc;
    const size_t n = (static_cast<size_t>(f->order) + 1) * f->channels;
    std::memset(f->x_history, 0, sizeof(T) * n);
    std::memset(f->y_history, 0, sizeof(T) * n);
    return DSP_OK;
}

template <typename Filter>
int32_t reset(Filter *f) {
    const int32_t rc = check_ready(f);
    if (rc != DSP_OK) return rc;
    release_arrays(f);
    f->initialised = 0;
    return DSP_OK;
}

template <typename Filter>
int32_t create(Filter **slot) {
    if (slot == nullptr || *slot != nullptr) return DSP_ERR_INVALID;
    *slot = static_cast<Filter *>(dsp_alloc_handle(sizeof(Filter)));
    return DSP_OK;
}

template <typename Filter>
int32_t destroy(Filter **slot) {
    if (slot == nullptr || *slot == nullptr) return DSP_ERR_INVALID;
    release_arrays(*slot);
    dsp_free_handle(*slot);
    *slot = nullptr;
    return DSP_OK;
}

}  // namespace

// ---- single precision ----------------------------------------------------

extern "C" int32_t iir_create(iir_state **slot) { return create(slot); }

extern "C" int32_t iir_setup(iir_state *filter, uint32_t channels, uint32_t frames,
                             uint32_t order, const float *den, const float *num) {
    if (filter == nullptr || order == 0) return DSP_ERR_INVALID;
    if (channels == 0) return DSP_ERR_CHANNELS;
    if (frames == 0) return DSP_ERR_FRAMES;
    if (!sizes_fit<float>(channels, order)) return DSP_ERR_INVALID;
    allocate<iir_state, float>(filter, channels, frames, order);
    // A refused coefficient set leaves the zeroed coefficients: silence out.
    return iir_update(filter, den, num);
}

extern "C" int32_t iir_update(iir_state *filter, const float *den, const float *num) {
    const int32_t rc = check_ready(filter);
    if (rc != DSP_OK) return rc;
    if (den == nullptr || num == nullptr) return DSP_ERR_INVALID;
    const uint32_t taps = filter->order + 1;
    const float a0 = den[0];
    if (!std::isfinite(a0)) return DSP_ERR_INVALID;
    if (std::fabs(a0 - 1.0f) <= kA0Tolerance) {
        std::memcpy(filter->den, den, sizeof(float) * taps);
        std::memcpy(filter->num, num, sizeof(float) * taps);
        return DSP_OK;
    }
    if (std::fabs(a0) <= kA0Tolerance) return DSP_ERR_INVALID;
    // The offset keeps the divisor away from zero for a0 just above the limit.
    const float s = 1.0f / (a0 + kA0Tolerance);
    for (uint32_t k = 0; k < taps; ++k) {
        filter->den[k] = den[k] * s;
        filter->num[k] = num[k] * s;
    }
    return DSP_OK;
}

extern "C" int32_t iir_process(iir_state *filter, const float *input, float *output) {
    return process<float>(filter, input, output);
}

extern "C" int32_t iir_process_inplace(iir_state *filter, float *data) {
    // Each sample is read before it is overwritten, so in place equals out of place.
    return process<float>(filter, data, data);
}

extern "C" int32_t iir_flush(iir_state *filter) { return flush<iir_state, float>(filter); }

extern "C" int32_t iir_reset(iir_state *filter) { return reset(filter); }

extern "C" int32_t iir_destroy(iir_state **slot) { return destroy(slot); }

// ---- double precision ----------------------------------------------------

extern "C" int32_t iir_hq_create(iir_hq_state **slot) { return create(slot); }

extern "C" int32_t iir_hq_setup(iir_hq_state *filter, uint32_t channels, uint32_t frames,
                                uint32_t order, const double *den, const double *num) {
    if (filter == nullptr || order == 0 || den == nullptr || num == nullptr)
        return DSP_ERR_INVALID;
    if (den[0] != 1.0) return DSP_ERR_INVALID;
    if (channels == 0) return DSP_ERR_CHANNELS;
    if (frames == 0) return DSP_ERR_FRAMES;
    if (!sizes_fit<double>(channels, order)) return DSP_ERR_INVALID;
    allocate<iir_hq_state, double>(filter, channels, frames, order);
    const size_t taps = static_cast<size_t>(order) + 1;
    std::memcpy(filter->den, den, sizeof(double) * taps);
    std::memcpy(filter->num, num, sizeof(double) * taps);
    return DSP_OK;
}

extern "C" int32_t iir_hq_update(iir_hq_state *filter, const double *den, const double *num) {
    const int32_t rc = check_ready(filter);
    if (rc != DSP_OK) return rc;
    if (den == nullptr || num == nullptr || den[0] != 1.0) return DSP_ERR_INVALID;
    const size_t taps = static_cast<size_t>(filter->order) + 1;
    std::memcpy(filter->den, den, sizeof(double) * taps);
    std::memcpy(filter->num, num, sizeof(double) * taps);
    return DSP_OK;
}

extern "C" int32_t iir_hq_process(iir_hq_state *filter, const float *input, float *output) {
    return process<double>(filter, input, output);
}

extern "C" int32_t iir_hq_process_to_double(iir_hq_state *filter, const float *input,
                                            double *output) {
    return process<double>(filter, input, output);
}

extern "C" int32_t iir_hq_process_from_double(iir_hq_state *filter, const double *input,
                                              float *output) {
    return process<double>(filter, input, output);
}

extern "C" int32_t iir_hq_process_double(iir_hq_state *filter, const double *input,
                                         double *output) {
    return process<double>(filter, input, output);
}

extern "C" int32_t iir_hq_process_inplace(iir_hq_state *filter, float *data) {
    return process<double>(filter, data, data);
}

extern "C" int32_t iir_hq_process_inplace_double(iir_hq_state *filter, double *data) {
    return process<double>(filter, data, data);
}

extern "C" int32_t iir_hq_flush(iir_hq_state *filter) {
    return flush<iir_hq_state, double>(filter);
}

extern "C" int32_t iir_hq_reset(iir_hq_state *filter) { return reset(filter); }

extern "C" int32_t iir_hq_destroy(iir_hq_state **slot) { return destroy(slot); }
