#include "resampler.h"

#include <cmath>

#include "dsp_common.h"
#include "iir.h"

// Fifth-order low-passes, b0..b5 then a0..a5 (a0 = 1, so the filter's
// normalisation leaves them as they are).
const float kLpCoeffLow48000Family[12] = {
    0.42340088f, 2.1170044f, 4.234009f, 4.234009f, 2.1170044f, 0.42340088f,
    1.0f,        3.3108075f, 4.584606f, 3.2749815f, 1.1991647f, 0.17926796f};
const float kLpCoeff32000[12] = {
    0.025777487f, 0.12888743f, 0.25777486f,  0.25777486f,  0.12888743f,  0.025777487f,
    1.0f,         -0.8208706f, 0.86950684f, -0.30841535f, 0.09338441f, -0.008725755f};
const float kLpCoeff64000[12] = {
    0.12754749f, 0.63773745f, 1.2754749f, 1.2754749f, 0.63773745f, 0.12754749f,
    1.0f,        1.2322942f,  1.1666856f, 0.5206825f, 0.14587766f, 0.01597978f};
const float kLpCoeff96000[12] = {
    0.025777487f, 0.12888743f, 0.25777486f,  0.25777486f,  0.12888743f,  0.025777487f,
    1.0f,         -0.8208706f, 0.86950684f, -0.30841535f, 0.09338441f, -0.008725755f};
const float kLpCoeff192000[12] = {
    0.0015257271f, 0.0076286355f, 0.015257271f, 0.015257271f, 0.0076286355f, 0.0015257271f,
    1.0f,          -2.891746f,    3.6260054f,   -2.3854043f,  0.81455433f,   -0.11458619f};
const float kLpCoeffLow44100Family[12] = {
    0.6220847f, 3.1104233f, 6.2208467f, 6.2208467f, 3.1104233f, 0.6220847f,
    1.0f,       4.055779f,  6.65369f,   5.509901f,  2.3003502f, 0.38698933f};
const float kLpCoeff88200[12] = {
    0.035983358f, 0.17991678f, 0.35983357f, 0.35983357f, 0.17991678f, 0.035983358f,
    1.0f,         -0.4576942f, 0.7067341f,  -0.1603017f, 0.06704105f, -0.0043118517f};
const float kLpCoeff176400[12] = {
    0.002181846f, 0.0109092295f, 0.021818459f, 0.021818459f, 0.0109092295f, 0.002181846f,
    1.0f,         -2.706996f,    3.2483225f,   -2.0609448f,  0.68308794f,   -0.09365039f};

struct resampler_state {
    uint32_t channels;         // external -> internal direction
    uint32_t return_channels;  // internal -> external direction
    uint32_t external_rate;
    uint32_t internal_rate;
    uint32_t external_frames;  // E
    uint32_t internal_frames;  // I
    float down_factor;         // D
    float up_factor;           // U
    bool same_rate;            // conversion is a copy
    bool initialised;
    const float *lowpass_num;  // b0..b5
    const float *lowpass_den;  // a0..a5
    float *scratch_up;         // F x max(channels, return_channels), F = max(E, I)
    float *scratch_filtered;
    iir_state *forward_filter;
    iir_state *return_filter;
    uint32_t filter_frames;  // F
};

namespace {

constexpr uint32_t kLowPassOrder = 5;
constexpr float kOutputLimit = 0.9999f;

struct RateEntry {
    uint32_t external_rate;
    uint32_t internal_rate;
    const float *table;  // null: equal rates, copy
};

const RateEntry kRateTable[] = {
    {6000, 48000, kLpCoeffLow48000Family},  {8000, 48000, kLpCoeffLow48000Family},
    {12000, 48000, kLpCoeffLow48000Family}, {16000, 48000, kLpCoeffLow48000Family},
    {24000, 48000, kLpCoeffLow48000Family}, {32000, 48000, kLpCoeff32000},
    {48000, 48000, nullptr},                {64000, 48000, kLpCoeff64000},
    {96000, 48000, kLpCoeff96000},          {192000, 48000, kLpCoeff192000},
    {11025, 44100, kLpCoeffLow44100Family}, {22050, 44100, kLpCoeffLow44100Family},
    {44100, 44100, nullptr},                {88200, 44100, kLpCoeff88200},
    {176400, 44100, kLpCoeff176400},
};

const RateEntry *find_rate(uint32_t rate) {
    for (const RateEntry &e : kRateTable)
        if (e.external_rate == rate) return &e;
    return nullptr;
}

// Single-precision index rules: both factors and every quotient are float,
// truncated toward zero. Clamping to the last valid frame only guards
// against block sizes far outside the engine's, where float rounding could
// otherwise reach one past the end.
uint32_t index_of(float value, uint32_t limit) {
    const uint32_t idx = static_cast<uint32_t>(value);
    return idx < limit ? idx : limit - 1;
}

int32_t release(resampler_state *r) {
    if (r->forward_filter != nullptr) {
        const int32_t rc = iir_destroy(&r->forward_filter);
        if (rc != DSP_OK) return rc;
    }
    if (r->return_filter != nullptr) {
        const int32_t rc = iir_destroy(&r->return_filter);
        if (rc != DSP_OK) return rc;
    }
    dsp_free_aligned(r->scratch_up);
    dsp_free_aligned(r->scratch_filtered);
    r->scratch_up = nullptr;
    r->scratch_filtered = nullptr;
    return DSP_OK;
}

int32_t check_ready(const resampler_state *r) {
    if (r == nullptr) return DSP_ERR_INVALID;
    if (!r->initialised) return DSP_ERR_NOT_SETUP;
    return DSP_OK;
}

// Repeat: out frame j takes in frame trunc(j / factor), for trunc(factor x
// in_frames) frames.
void repeat(const float *in, uint32_t in_frames, float factor, float *out, uint32_t out_cap,
            uint32_t k) {
    uint32_t n = static_cast<uint32_t>(factor * static_cast<float>(in_frames));
    if (n > out_cap) n = out_cap;
    for (uint32_t j = 0; j < n; ++j) {
        const uint32_t src = index_of(static_cast<float>(j) / factor, in_frames);
        for (uint32_t ch = 0; ch < k; ++ch)
            out[static_cast<size_t>(j) * k + ch] = in[static_cast<size_t>(src) * k + ch];
    }
}

// Decimate: out frame j takes in frame trunc(factor x j).
void pick(const float *in, uint32_t in_frames, float factor, float *out, uint32_t out_frames,
          uint32_t k) {
    for (uint32_t j = 0; j < out_frames; ++j) {
        const uint32_t src = index_of(factor * static_cast<float>(j), in_frames);
        for (uint32_t ch = 0; ch < k; ++ch)
            out[static_cast<size_t>(j) * k + ch] = in[static_cast<size_t>(src) * k + ch];
    }
}

void copy(const float *in, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = in[i];
}

float clamp_output(float y) {
    if (y > kOutputLimit) return kOutputLimit;
    if (y < -kOutputLimit) return -kOutputLimit;
    if (std::isnan(y)) return -kOutputLimit;
    return y;
}

}  // namespace

extern "C" int32_t static_resampler_get_internal_sample_rate(uint32_t rate, uint32_t *out) {
    const RateEntry *e = find_rate(rate);
    if (e == nullptr) return DSP_ERR_SAMPLE_RATE;
    if (out == nullptr) return DSP_ERR_INVALID;
    *out = e->internal_rate;
    return DSP_OK;
}

extern "C" int32_t resampler_create(resampler_state **slot) {
    if (slot == nullptr || *slot != nullptr) return DSP_ERR_INVALID;
    *slot = static_cast<resampler_state *>(dsp_alloc_handle(sizeof(resampler_state)));
    return DSP_OK;
}

extern "C" int32_t resampler_setup(resampler_state *resampler, uint32_t channels,
                                   uint32_t external_rate, uint32_t external_frames,
                                   uint32_t return_channels) {
    if (resampler == nullptr) return DSP_ERR_INVALID;
    if (channels == 0) return DSP_ERR_CHANNELS;
    // Release whatever an earlier setup (successful or not) left behind.
    int32_t rc = release(resampler);
    if (rc != DSP_OK) return rc;

    resampler_state *r = resampler;
    r->channels = channels;
    r->return_channels = return_channels == 0 ? channels : return_channels;
    r->external_rate = external_rate;
    r->external_frames = external_frames;
    r->same_rate = false;
    r->initialised = false;

    const RateEntry *e = find_rate(external_rate);
    if (e == nullptr) return DSP_ERR_SAMPLE_RATE;
    r->internal_rate = e->internal_rate;
    const float ext = static_cast<float>(external_rate);
    const float in = static_cast<float>(e->internal_rate);
    // Upsampling uses only U, downsampling only D; the other factor is 1.
    // 32000 -> 48000 gives 1.5000001 in single precision, and the index rules
    // below depend on exactly that value.
    r->up_factor = 1.0f;
    r->down_factor = 1.0f;
    if (e->internal_rate > external_rate)
        r->up_factor = external_rate == 32000 ? in * 0.00003125f : in / ext;
    else if (e->internal_rate < external_rate)
        r->down_factor = ext / in;
    r->lowpass_num = e->table;
    r->lowpass_den = e->table != nullptr ? e->table + 6 : nullptr;

    const float e_frames = static_cast<float>(external_frames);
    const float i_frames = e->internal_rate >= external_rate ? e_frames * r->up_factor
                                                             : e_frames / r->down_factor;
    // Block sizes whose internal count would not fit 32 bits are out of range.
    if (!(i_frames < 4294967040.0f)) return DSP_ERR_INVALID;
    r->internal_frames = static_cast<uint32_t>(i_frames);
    const uint32_t frames =
        external_frames > r->internal_frames ? external_frames : r->internal_frames;
    r->filter_frames = frames;

    if (e->table != nullptr) {
        rc = iir_create(&r->forward_filter);
        if (rc == DSP_OK) rc = iir_create(&r->return_filter);
        if (rc == DSP_OK)
            rc = iir_setup(r->forward_filter, r->channels, frames, kLowPassOrder, r->lowpass_den,
                           r->lowpass_num);
        if (rc == DSP_OK)
            rc = iir_setup(r->return_filter, r->return_channels, frames, kLowPassOrder,
                           r->lowpass_den, r->lowpass_num);
        if (rc != DSP_OK) return rc;
        const uint32_t k = r->channels > r->return_channels ? r->channels : r->return_channels;
        const size_t n = static_cast<size_t>(frames) * k;
        if (k != 0 && n / k != frames) return DSP_ERR_INVALID;
        r->scratch_up = static_cast<float *>(dsp_alloc_aligned_array(n, sizeof(float)));
        r->scratch_filtered = static_cast<float *>(dsp_alloc_aligned_array(n, sizeof(float)));
    } else {
        r->same_rate = true;
    }
    r->initialised = true;
    return DSP_OK;
}

extern "C" int32_t resampler_run_external_to_internal(resampler_state *resampler,
                                                      const float *input, float *output) {
    const int32_t rc = check_ready(resampler);
    if (rc != DSP_OK) return rc;
    if (input == nullptr || output == nullptr) return DSP_ERR_INVALID;
    const resampler_state *r = resampler;
    const uint32_t k = r->channels;
    if (r->same_rate) {
        copy(input, output, static_cast<size_t>(r->external_frames) * k);
        return DSP_OK;
    }
    repeat(input, r->external_frames, r->up_factor, r->scratch_up, r->filter_frames, k);
    iir_process(r->forward_filter, r->scratch_up, r->scratch_filtered);
    pick(r->scratch_filtered, r->filter_frames, r->down_factor, output, r->internal_frames, k);
    return DSP_OK;
}

extern "C" int32_t resampler_run_internal_to_external(resampler_state *resampler,
                                                      const float *input, float *output) {
    const int32_t rc = check_ready(resampler);
    if (rc != DSP_OK) return rc;
    if (input == nullptr || output == nullptr) return DSP_ERR_INVALID;
    const resampler_state *r = resampler;
    const uint32_t k = r->return_channels;
    if (r->same_rate) {
        copy(input, output, static_cast<size_t>(r->external_frames) * k);
        return DSP_OK;
    }
    repeat(input, r->internal_frames, r->down_factor, r->scratch_up, r->filter_frames, k);
    iir_process(r->return_filter, r->scratch_up, r->scratch_filtered);
    pick(r->scratch_filtered, r->filter_frames, r->up_factor, output, r->external_frames, k);
    const size_t n = static_cast<size_t>(r->external_frames) * k;
    for (size_t i = 0; i < n; ++i) output[i] = clamp_output(output[i]);
    return DSP_OK;
}

extern "C" int32_t resampler_get_external_samples(resampler_state *resampler, uint32_t *out) {
    const int32_t rc = check_ready(resampler);
    if (rc != DSP_OK) return rc;
    if (out == nullptr) return DSP_ERR_INVALID;
    *out = resampler->external_frames;
    return DSP_OK;
}

extern "C" int32_t resampler_get_internal_samples(resampler_state *resampler, uint32_t *out) {
    const int32_t rc = check_ready(resampler);
    if (rc != DSP_OK) return rc;
    if (out == nullptr) return DSP_ERR_INVALID;
    *out = resampler->internal_frames;
    return DSP_OK;
}

extern "C" int32_t resampler_get_internal_sample_rate(resampler_state *resampler,
                                                      uint32_t *out) {
    const int32_t rc = check_ready(resampler);
    if (rc != DSP_OK) return rc;
    if (out == nullptr) return DSP_ERR_INVALID;
    *out = resampler->internal_rate;
    return DSP_OK;
}

extern "C" int32_t resampler_destroy(resampler_state **slot) {
    if (slot == nullptr || *slot == nullptr) return DSP_ERR_INVALID;
    const int32_t rc = release(*slot);
    if (rc != DSP_OK) return rc;
    dsp_free_handle(*slot);
    *slot = nullptr;
    return DSP_OK;
}
