// The CX_* interface: argument checks, weight loading, one stream processor
// per channel, de-interleaving and interleaving around them.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "calyx.h"
#include "calyx_proc.h"
#include "calyx_testing.h"
#include "params.h"

struct CX_HANDLE {
    uint32_t channels;
    uint32_t sample_rate;
    uint32_t internal_rate;
    uint32_t block_size;
    param_record *params;
    int32_t param_count;
    calyx_proc *processors;
    uint32_t initialised;
};

namespace {

enum : int32_t {
    kOk = 0,
    kNullHandle = 1,
    kNotSetUp = 2,
    kSlotTaken = 3,
    kAlreadySetUp = 4,
    kNullArgument = 5,  // also: weights not loadable, scratch allocation failed
    kNoChannels = 7,
    kChannelMismatch = 8,
    kBadSampleRate = 9,
    kBadBlockSize = 10,
    kBadIntensity = 11,
};

constexpr int32_t kParamCount = 90;
constexpr int32_t kParamBytes = 9213008;
// Block sizes must fit in 15 bits.
constexpr uint32_t kMaxBlockSize = 32768;

void *(*g_scratch_alloc)(size_t) = std::malloc;

// Internal rate for a supported host rate, 0 for any other.
uint32_t internal_rate_for(uint32_t rate) {
    switch (rate) {
        case 11025: case 22050: case 44100: case 88200: case 176400:
            return 44100;
        case 8000: case 16000: case 24000: case 32000: case 48000:
        case 64000: case 96000: case 192000:
            return 48000;
        default:
            return 0;
    }
}

// NaN fails both comparisons.
bool valid_intensity(float v) { return v >= 0.0f && v <= 1.0f; }

void release_processors(CX_HANDLE *h, uint32_t count) {
    for (uint32_t c = 0; c < count; ++c) calyx_proc_destroy(&h->processors[c]);
    std::free(h->processors);
    h->processors = nullptr;
}

}  // namespace

extern "C" void calyx_set_scratch_allocator(void *(*alloc)(size_t)) {
    g_scratch_alloc = alloc ? alloc : std::malloc;
}

extern "C" int32_t CX_GET_VERSION(const char **out) {
    if (!out) return kNullArgument;
    *out = "v1.1.2 (fefed85)";
    return kOk;
}

extern "C" int32_t CX_CREATE(CX_HANDLE **slot) {
    if (!slot) return kNullArgument;
    if (*slot) return kSlotTaken;
    *slot = static_cast<CX_HANDLE *>(std::calloc(1, sizeof(CX_HANDLE)));
    return kOk;
}

extern "C" int32_t CX_SETUP(CX_HANDLE *handle, const CX_CONFIG *config, const float *intensity) {
    if (!handle) return kNullHandle;
    if (!config || !intensity) return kNullArgument;
    if (config->channels_in == 0) return kNoChannels;
    if (config->channels_in != config->channels_out) return kChannelMismatch;
    if (config->block_size >= kMaxBlockSize) return kBadBlockSize;
    if (!valid_intensity(*intensity)) return kBadIntensity;
    if (handle->initialised) return kAlreadySetUp;
    const uint32_t internal_rate = internal_rate_for(config->sample_rate);
    if (internal_rate == 0) return kBadSampleRate;

    handle->channels = config->channels_in;
    handle->sample_rate = config->sample_rate;
    handle->internal_rate = internal_rate;
    handle->block_size = config->block_size;
    handle->param_count = kParamCount;
    if (!handle->params) handle->params = load_from_array(PARAMS_90, kParamBytes, kParamCount);
    if (!handle->params) return kNullArgument;

    handle->processors =
        static_cast<calyx_proc *>(std::calloc(handle->channels, sizeof(calyx_proc)));
    if (!handle->processors) return kNullArgument;
    for (uint32_t c = 0; c < handle->channels; ++c) {
        calyx_proc *p = &handle->processors[c];
        if (calyx_proc_setup(p, 1, handle->sample_rate, internal_rate, handle->block_size,
                             handle->params, kParamCount) != 0) {
            release_processors(handle, c);
            return kNullArgument;
        }
        calyx_proc_update(p, *intensity);
    }
    handle->initialised = 1;
    return kOk;
}

extern "C" int32_t CX_UPDATE(CX_HANDLE *handle, const float *intensity) {
    if (!handle) return kNullHandle;
    if (!intensity) return kNullArgument;
    if (!valid_intensity(*intensity)) return kBadIntensity;
    if (!handle->initialised) return kNotSetUp;
    for (uint32_t c = 0; c < handle->channels; ++c)
        calyx_proc_update(&handle->processors[c], *intensity);
    return kOk;
}

extern "C" int32_t CX_PROCESS(CX_HANDLE *handle, const float *input, float *output,
                              uint32_t frames) {
    if (!handle) return kNullHandle;
    if (!input || !output) return kNullArgument;
    if (!handle->initialised) return kNotSetUp;
    if (handle->block_size != 0 && frames != handle->block_size) return kBadBlockSize;

    // Both scratch arrays are taken before any stream state changes, so a
    // failed allocation leaves every processor as it was.
    const size_t n = frames ? frames : 1;
    if (n > SIZE_MAX / sizeof(float)) return kNullArgument;
    float *in_ch = static_cast<float *>(g_scratch_alloc(n * sizeof(float)));
    float *out_ch = in_ch ? static_cast<float *>(g_scratch_alloc(n * sizeof(float))) : nullptr;
    if (!in_ch || !out_ch) {
        std::free(in_ch);
        return kNullArgument;
    }

    const size_t channels = handle->channels;
    for (size_t c = 0; c < channels; ++c) {
        // A non-finite sample would settle in the network's recurrent state
        // and in the running means for good; it enters as silence instead.
        for (size_t f = 0; f < frames; ++f) {
            const float v = input[f * channels + c];
            in_ch[f] = std::isfinite(v) ? v : 0.0f;
        }
        calyx_proc_process(&handle->processors[c], in_ch, out_ch, frames);
        for (size_t f = 0; f < frames; ++f) output[f * channels + c] = out_ch[f];
    }
    std::free(in_ch);
    std::free(out_ch);
    return kOk;
}

extern "C" int32_t CX_GET_LATENCY(CX_HANDLE *handle, float *out) {
    if (!handle) return kNullHandle;
    if (!out) return kNullArgument;
    if (!handle->initialised) return kNotSetUp;
    uint32_t queue = 0;
    calyx_proc_get_queue_latency(&handle->processors[0], &queue);
    // The frame processor's three hops count as 30 ms at either internal rate.
    *out = static_cast<float>(queue) * 1000.0f / static_cast<float>(handle->sample_rate) + 30.0f;
    return kOk;
}

extern "C" int32_t CX_DESTROY(CX_HANDLE **slot) {
    if (!slot) return kNullArgument;
    if (!*slot) return kNullHandle;
    CX_HANDLE *h = *slot;
    if (h->processors) release_processors(h, h->channels);
    destroy_params(h->params, h->param_count);
    std::free(h);
    *slot = nullptr;
    return kOk;
}
