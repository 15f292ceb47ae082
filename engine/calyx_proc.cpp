// Stream processor: builds, drives and tears down the components and buffers
// of one channel.
#include "calyx_proc.h"

#include <cmath>
#include <cstring>

#include "dsp_common.h"
#include "frame_processor.h"

namespace {

// Band edges (first bin of each band, then one past the last bin) at both
// internal rates: the first 13 bands hold 2 bins, the last one 67.
const uint32_t kErbEdges[CALYX_ERB_BANDS + 1] = {
    0,  2,  4,  6,  8,   10,  12,  14,  16,  18,  20,  22,  24,  26,  31,  36,  43,
    50, 58, 68, 80, 93, 108, 126, 146, 170, 198, 229, 266, 308, 358, 414, 481};

// Limiter threshold just below full scale (bits 0x3F7FFF58).
constexpr float kLimiterThreshold = 0.99999f;

// Sine window over 961 points: w[i] = sin(pi/1922 + i * pi/961).
constexpr float kWindowOffset = 0x1.ac7c5cp-10f;  // pi / 1922
constexpr float kWindowStep = 0x1.ac7c5cp-9f;     // pi / 961

// `spec` and `power` are taken larger than the 481 values they use.
constexpr size_t kSpecFloats = 1936;
constexpr size_t kPowerDoubles = 488;

float *alloc_floats(size_t n) {
    return static_cast<float *>(dsp_alloc_aligned_array(n, sizeof(float)));
}

template <typename T>
void release(T *&p) {
    dsp_free_aligned(p);
    p = nullptr;
}

// Host samples per hop: rate * 480 / internal rate, rounded half up in float.
uint32_t host_hop(uint32_t sample_rate, uint32_t internal_rate) {
    float v = static_cast<float>(sample_rate) * static_cast<float>(CALYX_HOP) /
                  static_cast<float>(internal_rate) +
              0.5f;
    return static_cast<uint32_t>(v);
}

void allocate_buffers(calyx_proc *p) {
    p->hop_in_buf = alloc_floats(CALYX_HOP);
    p->hop_out_buf = alloc_floats(CALYX_HOP);
    p->dry_delay = alloc_floats(CALYX_DRY_HOPS * CALYX_HOP);
    p->analysis = alloc_floats(CALYX_FFT_SIZE);
    p->overlap = alloc_floats(CALYX_FFT_SIZE);
    p->frame = alloc_floats(CALYX_FFT_SIZE);
    p->packed = alloc_floats(CALYX_FFT_SIZE);
    p->fft_work = alloc_floats(CALYX_FFT_SIZE);
    p->window = alloc_floats(CALYX_FFT_SIZE);
    p->spec = alloc_floats(kSpecFloats);
    p->power = static_cast<double *>(dsp_alloc_aligned_array(kPowerDoubles, sizeof(double)));
    p->erb_norm = alloc_floats(CALYX_ERB_BANDS);
    p->spec_norm = alloc_floats(CALYX_DF_BINS);
    p->erb_feat = alloc_floats(CALYX_ERB_BANDS);
    p->spec_feat = alloc_floats(2 * CALYX_DF_BINS);
    p->erb_gains = alloc_floats(CALYX_ERB_BANDS);
    p->df_coefs = alloc_floats(CALYX_DF_ORDER * CALYX_DF_BINS * 2);
    p->model_erb_in = alloc_floats(CALYX_ERB_BANDS);
    p->model_spec_in = alloc_floats(2 * CALYX_DF_BINS);
    p->model_gains_out = alloc_floats(CALYX_ERB_BANDS);
    p->model_df_out = alloc_floats(CALYX_DF_ORDER * CALYX_DF_BINS * 2);
#define CALYX_ALLOC_STATE_(name, floats) p->model_state.name = alloc_floats(floats);
    CALYX_MODEL_STATE_BUFFERS(CALYX_ALLOC_STATE_)
#undef CALYX_ALLOC_STATE_
    p->erb_matrix = alloc_floats(CALYX_BINS * CALYX_ERB_BANDS);
    p->spec_delay = alloc_floats(2 * CALYX_BINS * 2);
    p->df_history = alloc_floats(4 * CALYX_BINS * 2);
    p->df_taps = alloc_floats(CALYX_DF_ORDER * CALYX_DF_BINS * 2);
}

void release_buffers(calyx_proc *p) {
    release(p->hop_in_buf);
    release(p->hop_out_buf);
    release(p->dry_delay);
    release(p->analysis);
    release(p->overlap);
    release(p->frame);
    release(p->packed);
    release(p->fft_work);
    release(p->window);
    release(p->spec);
    release(p->power);
    release(p->erb_norm);
    release(p->spec_norm);
    release(p->erb_feat);
    release(p->spec_feat);
    release(p->erb_gains);
    release(p->df_coefs);
    release(p->model_erb_in);
    release(p->model_spec_in);
    release(p->model_gains_out);
    release(p->model_df_out);
    release(p->erb_matrix);
    release(p->spec_delay);
    release(p->df_history);
    release(p->df_taps);
#define CALYX_RELEASE_STATE_(name, floats) release(p->model_state.name);
    CALYX_MODEL_STATE_BUFFERS(CALYX_RELEASE_STATE_)
#undef CALYX_RELEASE_STATE_
}

void destroy_components(calyx_proc *p) {
    if (p->queue) dynamic_queue_destroy(&p->queue);
    if (p->resampler) resampler_destroy(&p->resampler);
    if (p->high_pass) iir_hq_destroy(&p->high_pass);
    if (p->limiter) limiter_destroy(&p->limiter);
    if (p->fft) {
        ovfft_destroy_setup(p->fft);
        p->fft = nullptr;
    }
    if (p->erb) erb_destroy(&p->erb);
    if (p->wet_gain) gain_destroy(&p->wet_gain);
    if (p->dry_gain) gain_destroy(&p->dry_gain);
}

// Sets up every component; returns the first refusal.
int32_t setup_components(calyx_proc *p, uint32_t channels, uint32_t sample_rate,
                         uint32_t internal_rate, uint32_t block_size, uint32_t hop_in) {
    int32_t rc = dynamic_queue_create(&p->queue);
    if (rc == 0)
        rc = dynamic_queue_setup(p->queue, p, calyx_process_inner, channels, channels, block_size,
                                 hop_in, block_size != 0 ? 1u : 0u);
    if (rc == 0) rc = resampler_create(&p->resampler);
    if (rc == 0) rc = resampler_setup(p->resampler, channels, sample_rate, hop_in, 1);
    if (rc == 0) {
        // The resampler derives its internal rate from the host rate; a
        // mismatched pair would feed the wrong number of samples per hop.
        uint32_t derived = 0;
        rc = resampler_get_internal_sample_rate(p->resampler, &derived);
        if (rc == 0 && derived != internal_rate) rc = DSP_ERR_SAMPLE_RATE;
    }
    if (rc == 0) rc = limiter_create(&p->limiter);
    if (rc == 0) rc = limiter_setup(p->limiter, channels, sample_rate, hop_in, kLimiterThreshold);
    if (rc == 0) rc = iir_hq_create(&p->high_pass);
    if (rc == 0)
        rc = iir_hq_setup(p->high_pass, channels, CALYX_HOP, 3, kCxHighPassDen, kCxHighPassNum);
    if (rc == 0) {
        p->fft = ovfft_new_setup(CALYX_FFT_SIZE, OVFFT_REAL);
        if (!p->fft) rc = DSP_ERR_INVALID;
    }
    if (rc == 0) rc = erb_create(&p->erb);
    if (rc == 0)
        rc = erb_setup(p->erb, internal_rate, CALYX_BINS, CALYX_ERB_BANDS);
    if (rc == 0) rc = gain_create(&p->wet_gain);
    if (rc == 0) rc = gain_create(&p->dry_gain);
    if (rc == 0) rc = gain_setup(p->wet_gain, channels, CALYX_HOP, 1);
    if (rc == 0) rc = gain_setup(p->dry_gain, channels, CALYX_HOP, 1);
    return rc;
}

void init_state(calyx_proc *p) {
    // Every buffer arrives zero-filled; only the non-zero starting values
    // are written here.
    for (uint32_t i = 0; i < CALYX_FFT_SIZE; ++i)
        p->window[i] = sinf(fmaf(static_cast<float>(i), kWindowStep, kWindowOffset));
    // Band-level means start on a line from -60 dB down to -90 dB.
    for (uint32_t b = 0; b < CALYX_ERB_BANDS; ++b)
        p->erb_norm[b] = static_cast<float>(-60.0 - b * 30.0 / 31.0);
    // Magnitude means start on a line from 0.001 down to 0.0001.
    for (uint32_t k = 0; k < CALYX_DF_BINS; ++k)
        p->spec_norm[k] = static_cast<float>(0.001 - k * 0.0009 / 95.0);
    for (uint32_t b = 0; b < CALYX_ERB_BANDS; ++b)
        for (uint32_t k = kErbEdges[b]; k < kErbEdges[b + 1]; ++k)
            p->erb_matrix[k * CALYX_ERB_BANDS + b] = 1.0f;
    p->model_state.band_window_pos = 0;
    p->model_state.spec_window_pos = 0;
    p->model_state.df_window_pos = 0;
}

}  // namespace

extern "C" int32_t calyx_proc_setup(calyx_proc *proc, uint32_t channels, uint32_t sample_rate,
                                    uint32_t internal_rate, uint32_t block_size,
                                    const param_record *params, int32_t param_count) {
    if (!proc) return DSP_ERR_INVALID;
    if (internal_rate == 0) return DSP_ERR_SAMPLE_RATE;
    if (proc->initialised) calyx_proc_destroy(proc);
    std::memset(proc, 0, sizeof(*proc));

    const uint32_t hop_in = host_hop(sample_rate, internal_rate);
    int32_t rc = setup_components(proc, channels, sample_rate, internal_rate, block_size, hop_in);
    if (rc != 0) {
        destroy_components(proc);
        return rc;
    }
    proc->dry_pos = 0;
    proc->param_count = param_count;
    proc->params = params;
    allocate_buffers(proc);
    init_state(proc);
    proc->intensity = 1.0f;
    proc->dry_level = 0.0f;
    gain_update(proc->wet_gain, 1.0f);
    gain_update(proc->dry_gain, 0.0f);
    proc->initialised = 1;
    return 0;
}

extern "C" int32_t calyx_proc_update(calyx_proc *proc, float intensity) {
    if (!proc || !proc->initialised) return DSP_ERR_INVALID;
    proc->intensity = intensity;
    proc->dry_level = 1.0f - intensity;
    gain_update(proc->wet_gain, intensity);
    gain_update(proc->dry_gain, 1.0f - intensity);
    return 0;
}

extern "C" int32_t calyx_proc_process(calyx_proc *proc, const float *input, float *output,
                                      uint32_t frames) {
    if (!proc || !proc->initialised) return DSP_ERR_INVALID;
    dynamic_queue_process(proc->queue, input, output, frames);
    return 0;
}

extern "C" int32_t calyx_proc_get_queue_latency(calyx_proc *proc, uint32_t *out) {
    if (!proc || !proc->initialised || !out) return DSP_ERR_INVALID;
    return dynamic_queue_get_latency(proc->queue, out);
}

extern "C" int32_t calyx_proc_destroy(calyx_proc *proc) {
    if (!proc || !proc->initialised) return 0;
    release_buffers(proc);
    destroy_components(proc);
    return 0;
}
