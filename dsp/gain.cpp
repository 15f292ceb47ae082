#include "gain.h"

#include <cstddef>

#include "dsp_common.h"

namespace {

// `current` holds this until the first block: that block applies the target
// flat, without a ramp from an unknown earlier gain.
constexpr float kGainNoBlockYet = 3.4028235e38f;

}  // namespace

struct gain_state {
    uint32_t channels;
    uint32_t frames;
    uint32_t ramp;
    uint32_t initialised;
    float target;   // set by gain_update
    float current;  // reached at the end of the previous block
};

namespace {

int32_t check_ready(const gain_state *g) {
    if (g == nullptr) return DSP_ERR_INVALID;
    return g->initialised ? DSP_OK : DSP_ERR_NOT_SETUP;
}

void scale_block(gain_state *g, const float *input, float *output) {
    const uint32_t ch = g->channels;
    const size_t count = static_cast<size_t>(g->frames) * ch;
    const float target = g->target;
    const float current = g->current;
    if (g->ramp != 0 && current != target && current != kGainNoBlockYet) {
        // Straight line from `current`; the target itself is reached by the next block.
        const float delta = target - current;
        const float step = 1.0f / static_cast<float>(g->frames);
        for (uint32_t f = 0; f < g->frames; ++f) {
            const float v = current + (delta * static_cast<float>(f)) * step;
            const size_t base = static_cast<size_t>(f) * ch;
            for (uint32_t c = 0; c < ch; ++c) output[base + c] = input[base + c] * v;
        }
    } else {
        for (size_t i = 0; i < count; ++i) output[i] = input[i] * target;
    }
    g->current = target;
}

}  // namespace

extern "C" int32_t gain_create(gain_state **slot) {
    if (slot == nullptr || *slot != nullptr) return DSP_ERR_INVALID;
    *slot = static_cast<gain_state *>(dsp_alloc_handle(sizeof(gain_state)));
    return DSP_OK;
}

extern "C" int32_t gain_setup(gain_state *gain, uint32_t channels, uint32_t frames, uint32_t ramp) {
    if (gain == nullptr) return DSP_ERR_INVALID;
    if (channels == 0) return DSP_ERR_CHANNELS;
    if (frames == 0) return DSP_ERR_FRAMES;
    gain->channels = channels;
    gain->frames = frames;
    gain->ramp = ramp;
    gain->initialised = 1;
    gain->target = 1.0f;
    gain->current = kGainNoBlockYet;
    return DSP_OK;
}

extern "C" int32_t gain_update(gain_state *gain, float value) {
    int32_t rc = check_ready(gain);
    if (rc != DSP_OK) return rc;
    gain->target = value;
    return DSP_OK;
}

extern "C" int32_t gain_process(gain_state *gain, const float *input, float *output) {
    int32_t rc = check_ready(gain);
    if (rc != DSP_OK) return rc;
    if (input == nullptr || output == nullptr) return DSP_ERR_INVALID;
    scale_block(gain, input, output);
    return DSP_OK;
}

extern "C" int32_t gain_process_inplace(gain_state *gain, float *data) { return gain_process(gain, data, data); }

extern "C" int32_t gain_flush(gain_state *gain) {
    int32_t rc = check_ready(gain);
    if (rc != DSP_OK) return rc;
    gain->current = kGainNoBlockYet;
    return DSP_OK;
}

extern "C" int32_t gain_reset(gain_state *gain) {
    int32_t rc = check_ready(gain);
    if (rc != DSP_OK) return rc;
    gain->initialised = 0;
    return DSP_OK;
}

extern "C" int32_t gain_destroy(gain_state **slot) {
    if (slot == nullptr || *slot == nullptr) return DSP_ERR_INVALID;
    dsp_free_handle(*slot);
    *slot = nullptr;
    return DSP_OK;
}
