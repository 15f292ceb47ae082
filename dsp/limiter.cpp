#include "limiter.h"

#include <cmath>
#include <cstring>

#include "dsp_common.h"

namespace {

constexpr uint32_t kLimiterDelayFrames = 31;
constexpr uint32_t kLimiterRingFrames = 32;    // frame leaving the ring + the 31 behind it
constexpr uint32_t kLimiterTreeSize = 64;      // root at 1, leaves at 32 .. 63
constexpr float kLimiterMaxThreshold = 0.9999999f;
constexpr float kLimiterAttackCoeff = 0.93057203f;   // 10^(-1/32): 90 % of a step in 32 frames
constexpr float kLimiterReleaseLog2 = -3.321928f;    // log2(1/10)
constexpr float kLimiterReleaseFramesPerHz = 0.016687501f;
// 32 attack steps close 90 % of the gap, so aiming at (10 d - g) / 9 lands on d.
constexpr float kLimiterAttackAim = 0.11111111f;

}  // namespace

struct limiter_state {
    uint32_t channels;
    uint32_t sample_rate;
    uint32_t frames;
    uint32_t write_pos;  // sample index in delay_ring of the next stored frame
    uint32_t read_pos;   // sample index in delay_ring of the next frame to leave
    float target_gain;
    float gain;
    float release_coeff;
    float attack_coeff;
    float threshold;
    float *delay_ring;   // kLimiterRingFrames * channels
    float *peak_tree;    // kLimiterTreeSize
    float *bypass_line;  // (frames + 31) * channels
    uint32_t first_block;
    uint32_t initialised;
};

namespace {

bool threshold_in_range(float t) { return t >= 0.0f && t <= kLimiterMaxThreshold; }  // NaN fails both

void release_arrays(limiter_state *l) {
    dsp_free_aligned(l->delay_ring);
    dsp_free_aligned(l->peak_tree);
    dsp_free_aligned(l->bypass_line);
    l->delay_ring = nullptr;
    l->peak_tree = nullptr;
    l->bypass_line = nullptr;
}

void set_start_values(limiter_state *l) {
    const uint32_t k = l->channels;
    l->write_pos = kLimiterDelayFrames * k;
    l->read_pos = 0;
    l->target_gain = 1.0f;
    l->gain = 1.0f;
    l->attack_coeff = kLimiterAttackCoeff;
    // 10^(-1/L) with a release of L = floor(rate * 0.0166875) + 1 frames.
    const float release_frames =
        std::floor(static_cast<float>(l->sample_rate) * kLimiterReleaseFramesPerHz) + 1.0f;
    l->release_coeff = std::exp2(kLimiterReleaseLog2 / release_frames);
    l->first_block = 1;
    std::memset(l->delay_ring, 0, sizeof(float) * kLimiterRingFrames * k);
    std::memset(l->peak_tree, 0, sizeof(float) * kLimiterTreeSize);
    std::memset(l->bypass_line, 0, sizeof(float) * (static_cast<size_t>(l->frames) + kLimiterDelayFrames) * k);
}

// Largest magnitude of one frame, at least `floor`; NaN samples are ignored.
float frame_peak(const float *frame, uint32_t channels, float floor) {
    float m = floor;
    for (uint32_t c = 0; c < channels; ++c) m = std::fmax(m, std::fabs(frame[c]));
    return m;
}

// Stores a frame peak in leaf `slot` and updates the maxima up to the root,
// stopping as soon as a node keeps its value.
void tree_update(float *tree, uint32_t slot, float peak) {
    uint32_t k = kLimiterRingFrames + slot;
    tree[k] = peak;
    while (k > 1) {
        const uint32_t p = k / 2;
        const float larger = std::fmax(tree[2 * p], tree[2 * p + 1]);
        if (larger == tree[p]) break;
        tree[p] = larger;
        k = p;
    }
}

void limit_block(limiter_state *l, const float *input, float *output) {
    const uint32_t ch = l->channels;
    const uint32_t ring = kLimiterRingFrames * ch;
    const float threshold = l->threshold;
    uint32_t write_pos = l->write_pos;
    uint32_t read_pos = l->read_pos;
    float gain = l->gain;
    float target = l->target_gain;

    if (l->first_block) {
        const float p = frame_peak(input, ch, threshold);
        // p is 0 only for a zero threshold on a silent frame: start muted.
        gain = p > 0.0f ? threshold / p : 0.0f;
        l->first_block = 0;
    }

    for (uint32_t f = 0; f < l->frames; ++f) {
        const float *in = input + static_cast<size_t>(f) * ch;
        // Copy first: output may alias input, and frame f is read before it is written.
        std::memcpy(l->delay_ring + write_pos, in, sizeof(float) * ch);
        tree_update(l->peak_tree, write_pos / ch, frame_peak(in, ch, threshold));

        if (threshold > 0.0f) {
            const float needed = threshold / l->peak_tree[1];  // root >= threshold, so <= 1
            if (needed >= gain)
                target = needed;
            else
                target = std::fmin(target, std::fma(10.0f, needed, -gain) * kLimiterAttackAim);
            const float q = target < gain ? l->attack_coeff : l->release_coeff;
            // A target kept from a louder frame that has already left can pull
            // the gain through zero; a negative gain would flip the sign and
            // pass the threshold, so it stops at 0 and releases from there.
            gain = std::fmax(std::fma(gain - target, q, target), 0.0f);
        } else {
            // A zero threshold allows no output at all: mute at once instead of
            // dividing 0 by a silent ring's peak of 0. A later positive
            // threshold releases from 0.
            target = 0.0f;
            gain = 0.0f;
        }

        float *out = output + static_cast<size_t>(f) * ch;
        const float *leaving = l->delay_ring + read_pos;
        for (uint32_t c = 0; c < ch; ++c) out[c] = leaving[c] * gain;

        write_pos = read_pos;
        read_pos = (read_pos + ch) % ring;
    }
    l->write_pos = write_pos;
    l->read_pos = read_pos;
    l->gain = gain;
    l->target_gain = target;
}

int32_t check_ready(const limiter_state *l) {
    if (l == nullptr) return DSP_ERR_INVALID;
    return l->initialised ? DSP_OK : DSP_ERR_NOT_SETUP;
}

}  // namespace

extern "C" int32_t limiter_create(limiter_state **slot) {
    if (slot == nullptr || *slot != nullptr) return DSP_ERR_INVALID;
    *slot = static_cast<limiter_state *>(dsp_alloc_handle(sizeof(limiter_state)));
    return DSP_OK;
}

extern "C" int32_t limiter_setup(limiter_state *limiter, uint32_t channels, uint32_t sample_rate,
                                 uint32_t frames, float threshold) {
    if (limiter == nullptr) return DSP_ERR_INVALID;
    if (channels == 0) return DSP_ERR_CHANNELS;
    if (sample_rate == 0) return DSP_ERR_SAMPLE_RATE;
    if (frames == 0) return DSP_ERR_FRAMES;
    // Sample positions are 32-bit: the bypass line of (frames + 31) * channels
    // samples must be addressable.
    const uint64_t line = (static_cast<uint64_t>(frames) + kLimiterDelayFrames) * channels;
    if (line > UINT32_MAX) return DSP_ERR_INVALID;

    if (limiter->initialised) release_arrays(limiter);
    limiter->channels = channels;
    limiter->sample_rate = sample_rate;
    limiter->frames = frames;
    limiter->delay_ring = static_cast<float *>(dsp_alloc_aligned_array(kLimiterRingFrames * channels, sizeof(float)));
    limiter->peak_tree = static_cast<float *>(dsp_alloc_aligned_array(kLimiterTreeSize, sizeof(float)));
    limiter->bypass_line = static_cast<float *>(dsp_alloc_aligned_array(static_cast<size_t>(line), sizeof(float)));
    set_start_values(limiter);
    limiter->initialised = 1;
    if (!threshold_in_range(threshold)) return DSP_ERR_INVALID;
    limiter->threshold = threshold;
    return DSP_OK;
}

extern "C" int32_t limiter_update(limiter_state *limiter, float threshold) {
    int32_t rc = check_ready(limiter);
    if (rc != DSP_OK) return rc;
    if (!threshold_in_range(threshold)) return DSP_ERR_INVALID;
    limiter->threshold = threshold;
    return DSP_OK;
}

extern "C" int32_t limiter_process(limiter_state *limiter, const float *input, float *output) {
    int32_t rc = check_ready(limiter);
    if (rc != DSP_OK) return rc;
    if (input == nullptr || output == nullptr) return DSP_ERR_INVALID;
    limit_block(limiter, input, output);
    return DSP_OK;
}

extern "C" int32_t limiter_process_inplace(limiter_state *limiter, float *data) {
    return limiter_process(limiter, data, data);
}

extern "C" int32_t limiter_bypass(limiter_state *limiter, const float *input, float *output) {
    int32_t rc = check_ready(limiter);
    if (rc != DSP_OK) return rc;
    if (input == nullptr || output == nullptr) return DSP_ERR_INVALID;
    const size_t held = static_cast<size_t>(kLimiterDelayFrames) * limiter->channels;
    const size_t block = static_cast<size_t>(limiter->frames) * limiter->channels;
    float *line = limiter->bypass_line;
    std::memmove(line + held, input, sizeof(float) * block);
    std::memmove(output, line, sizeof(float) * block);
    std::memmove(line, line + block, sizeof(float) * held);
    return DSP_OK;
}

extern "C" int32_t limiter_delay_sample_count(limiter_state *limiter, uint32_t *out) {
    int32_t rc = check_ready(limiter);
    if (rc != DSP_OK) return rc;
    if (out == nullptr) return DSP_ERR_INVALID;
    *out = kLimiterDelayFrames;
    return DSP_OK;
}

extern "C" int32_t limiter_flush(limiter_state *limiter) {
    int32_t rc = check_ready(limiter);
    if (rc != DSP_OK) return rc;
    set_start_values(limiter);
    return DSP_OK;
}

extern "C" int32_t limiter_reset(limiter_state *limiter) {
    int32_t rc = check_ready(limiter);
    if (rc != DSP_OK) return rc;
    release_arrays(limiter);
    limiter->initialised = 0;
    return DSP_OK;
}

extern "C" int32_t limiter_destroy(limiter_state **slot) {
    if (slot == nullptr || *slot == nullptr) return DSP_ERR_INVALID;
    release_arrays(*slot);
    dsp_free_handle(*slot);
    *slot = nullptr;
    return DSP_OK;
}
