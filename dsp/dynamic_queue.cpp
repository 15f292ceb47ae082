#include "dynamic_queue.h"

#include <cmath>
#include <cstring>

#include "circular_buffer.h"
#include "dsp_common.h"
#include "spectral.h"

struct dynamic_queue_state {
    uint32_t in_channels;
    uint32_t out_channels;
    uint32_t block_size;  // frames per call promised in block mode
    uint32_t hop_size;    // frames per callback
    uint32_t block_mode;  // 1 = block mode, anything else = free mode
    uint32_t latency;     // samples of pre-loaded zeros in both rings
    uint32_t initialised;
    float *in_frame;   // hop_size x in_channels, handed to the callback
    float *out_frame;  // hop_size x out_channels, filled by the callback
    circular_buffer_state *in_ring;
    circular_buffer_state *out_ring;
    void *user_data;  // not owned
    dynamic_queue_frame_callback frame_callback;
};

namespace {

// Releases frame buffers and rings, whichever exist; a queue that was never
// set up (or was reset) has none and passes through untouched.
int32_t release_storage(dynamic_queue_state *q) {
    dsp_free_aligned(q->in_frame);
    q->in_frame = nullptr;
    dsp_free_aligned(q->out_frame);
    q->out_frame = nullptr;
    circular_buffer_state **rings[2] = {&q->in_ring, &q->out_ring};
    for (circular_buffer_state **ring : rings) {
        if (*ring == nullptr) continue;
        // A ring without storage answers 9 to free; that is not a failure here.
        const int32_t rc = circular_buffer_free(*ring);
        if (rc != DSP_OK && rc != DSP_ERR_NOT_SETUP) return rc;
    }
    for (circular_buffer_state **ring : rings) {
        if (*ring == nullptr) continue;
        const int32_t rc = circular_buffer_destroy(ring);
        if (rc != DSP_OK) return rc;
    }
    return DSP_OK;
}

int32_t enqueue_zeros(circular_buffer_state *ring, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t rc = circular_buffer_enqueue(ring, 0.0f);
        if (rc != DSP_OK) return rc;
    }
    return DSP_OK;
}

// Empties both rings and restores the pre-load that sets the latency.
int32_t initialise(dynamic_queue_state *q) {
    std::memset(q->in_frame, 0, sizeof(float) * q->hop_size * q->in_channels);
    std::memset(q->out_frame, 0, sizeof(float) * q->hop_size * q->out_channels);
    int32_t rc = circular_buffer_clear(q->in_ring);
    if (rc != DSP_OK) return rc;
    rc = circular_buffer_clear(q->out_ring);
    if (rc != DSP_OK) return rc;

    uint32_t in_zeros = 0;
    uint32_t out_zeros = q->hop_size * q->out_channels;
    if (q->block_mode == 1) {
        // Block size reduced into 1..hop; pre-loading the input ring with r - g
        // frames makes every hop boundary coincide with a block boundary
        // shifted by a multiple of g, so the output ring never runs dry.
        const uint32_t r = (q->block_size - 1) % q->hop_size + 1;
        const uint32_t g = static_cast<uint32_t>(greatest_common_divisor(
            static_cast<int>(q->hop_size), static_cast<int>(r)));
        in_zeros = (r - g) * q->in_channels;
        out_zeros = (q->hop_size - r) * q->out_channels;
    }
    rc = enqueue_zeros(q->in_ring, in_zeros);
    if (rc != DSP_OK) return rc;
    rc = enqueue_zeros(q->out_ring, out_zeros);
    if (rc != DSP_OK) return rc;
    q->latency = in_zeros + out_zeros;
    return DSP_OK;
}

int32_t check_ready(const dynamic_queue_state *q) {
    if (q == nullptr) return DSP_ERR_INVALID;
    if (q->initialised != 1) return DSP_ERR_NOT_SETUP;
    return DSP_OK;
}

// Temporary array of the planar and 16-bit variants (frames x channels).
// Setup keeps channels below 2^30, so the row size cannot overflow even on
// 32-bit targets, and the helper checks frames x row for overflow.
float *temp_array(uint32_t frames, uint32_t channels) {
    return static_cast<float *>(
        dsp_alloc_aligned_array(frames, static_cast<size_t>(channels) * sizeof(float)));
}

void interleave(const float *planar, float *interleaved, uint32_t frames, uint32_t channels) {
    for (uint32_t ch = 0; ch < channels; ++ch)
        for (uint32_t f = 0; f < frames; ++f)
            interleaved[static_cast<size_t>(f) * channels + ch] =
                planar[static_cast<size_t>(ch) * frames + f];
}

void deinterleave(const float *interleaved, float *planar, uint32_t frames, uint32_t channels) {
    for (uint32_t ch = 0; ch < channels; ++ch)
        for (uint32_t f = 0; f < frames; ++f)
            planar[static_cast<size_t>(ch) * frames + f] =
                interleaved[static_cast<size_t>(f) * channels + ch];
}

constexpr float kS16InScale = 0.000030517578125f;  // 2^-15: -32768 maps to -1.0
constexpr float kS16OutScale = 32767.0f;

float s16_to_float(int16_t s) { return static_cast<float>(s) * kS16InScale; }

int16_t float_to_s16(float y) {
    const float scaled = y * kS16OutScale;
    // Values within +-1.0 truncate to -32767..32767. Anything beyond saturates
    // instead of wrapping to the opposite sign; NaN becomes silence.
    if (std::isnan(scaled)) return 0;
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<int16_t>(static_cast<int32_t>(scaled));
}

// Shared body of the two 16-bit variants; `planar` selects the layout.
int32_t process_s16(dynamic_queue_state *q, const int16_t *input, int16_t *output,
                    uint32_t frames, bool planar) {
    const int32_t rc = check_ready(q);
    if (rc != DSP_OK) return rc;
    if (frames == 0) return DSP_OK;
    if (input == nullptr || output == nullptr) return DSP_ERR_INVALID;
    const size_t n_in = static_cast<size_t>(frames) * q->in_channels;
    const size_t n_out = static_cast<size_t>(frames) * q->out_channels;
    float *in_f = temp_array(frames, q->in_channels);
    float *out_f = temp_array(frames, q->out_channels);
    if (planar) {
        for (uint32_t ch = 0; ch < q->in_channels; ++ch)
            for (uint32_t f = 0; f < frames; ++f)
                in_f[static_cast<size_t>(f) * q->in_channels + ch] =
                    s16_to_float(input[static_cast<size_t>(ch) * frames + f]);
    } else {
        for (size_t i = 0; i < n_in; ++i) in_f[i] = s16_to_float(input[i]);
    }
    const int32_t result = dynamic_queue_process(q, in_f, out_f, frames);
    if (planar) {
        for (uint32_t ch = 0; ch < q->out_channels; ++ch)
            for (uint32_t f = 0; f < frames; ++f)
                output[static_cast<size_t>(ch) * frames + f] =
                    float_to_s16(out_f[static_cast<size_t>(f) * q->out_channels + ch]);
    } else {
        for (size_t i = 0; i < n_out; ++i) output[i] = float_to_s16(out_f[i]);
    }
    dsp_free_aligned(in_f);
    dsp_free_aligned(out_f);
    return result;
}

}  // namespace

extern "C" int32_t dynamic_queue_create(dynamic_queue_state **slot) {
    if (slot == nullptr || *slot != nullptr) return DSP_ERR_INVALID;
    *slot = static_cast<dynamic_queue_state *>(dsp_alloc_handle(sizeof(dynamic_queue_state)));
    return DSP_OK;
}

extern "C" int32_t dynamic_queue_setup(dynamic_queue_state *queue, void *user_data,
                                       dynamic_queue_frame_callback frame_callback,
                                       uint32_t in_channels, uint32_t out_channels,
                                       uint32_t block_size, uint32_t hop_size,
                                       uint32_t block_mode) {
    if (queue == nullptr) return DSP_ERR_INVALID;
    if (in_channels == 0) return DSP_ERR_CHANNELS;
    if (out_channels == 0) return DSP_ERR_INVALID;
    if (hop_size == 0) return DSP_ERR_FRAMES;
    if (block_size == 0 && block_mode == 1) return DSP_ERR_FRAMES;
    // Without a callback every whole hop would jump through a null pointer.
    if (frame_callback == nullptr) return DSP_ERR_INVALID;
    // Each ring holds two hops; its capacity must fit a signed 32-bit count.
    const uint64_t in_capacity = 2ull * in_channels * hop_size;
    const uint64_t out_capacity = 2ull * out_channels * hop_size;
    if (in_capacity > INT32_MAX || out_capacity > INT32_MAX) return DSP_ERR_INVALID;

    int32_t rc = release_storage(queue);
    if (rc != DSP_OK) return rc;
    queue->initialised = 0;
    queue->user_data = user_data;
    queue->frame_callback = frame_callback;
    queue->in_channels = in_channels;
    queue->out_channels = out_channels;
    queue->block_size = block_size;
    queue->hop_size = hop_size;
    queue->block_mode = block_mode;

    queue->in_frame = temp_array(hop_size, in_channels);
    queue->out_frame = temp_array(hop_size, out_channels);
    rc = circular_buffer_create(&queue->in_ring);
    if (rc == DSP_OK) rc = circular_buffer_create(&queue->out_ring);
    if (rc == DSP_OK) rc = circular_buffer_init(queue->in_ring, static_cast<uint32_t>(in_capacity));
    if (rc == DSP_OK)
        rc = circular_buffer_init(queue->out_ring, static_cast<uint32_t>(out_capacity));
    if (rc == DSP_OK) rc = initialise(queue);
    if (rc != DSP_OK) return rc;
    queue->initialised = 1;
    return DSP_OK;
}

extern "C" int32_t dynamic_queue_process(dynamic_queue_state *queue, const float *input,
                                         float *output, uint32_t frames) {
    const int32_t rc = check_ready(queue);
    if (rc != DSP_OK) return rc;
    if (frames == 0) return DSP_OK;
    if (input == nullptr || output == nullptr) return DSP_ERR_INVALID;

    const uint32_t hop = queue->hop_size;
    const uint32_t in_ch = queue->in_channels;
    const uint32_t out_ch = queue->out_channels;
    int32_t result = DSP_OK;
    uint32_t done = 0;
    while (done < frames) {
        const uint32_t piece = frames - done < hop ? frames - done : hop;
        const float *in = input + static_cast<size_t>(done) * in_ch;
        const uint32_t in_samples = piece * in_ch;
        for (uint32_t i = 0; i < in_samples; ++i) circular_buffer_enqueue(queue->in_ring, in[i]);

        if (static_cast<uint32_t>(circular_buffer_size(queue->in_ring)) / in_ch >= hop) {
            circular_buffer_dequeue_data_count(queue->in_ring, queue->in_frame, hop * in_ch);
            result = queue->frame_callback(queue->user_data, queue->in_frame, queue->out_frame);
            const uint32_t out_samples = hop * out_ch;
            for (uint32_t i = 0; i < out_samples; ++i)
                circular_buffer_enqueue(queue->out_ring, queue->out_frame[i]);
        }

        // A block-mode queue fed a call size other than its block size can run
        // short; the missing samples are delivered as silence.
        float *out = output + static_cast<size_t>(done) * out_ch;
        const uint32_t want = piece * out_ch;
        const uint32_t have = static_cast<uint32_t>(circular_buffer_size(queue->out_ring));
        const uint32_t take = have < want ? have : want;
        circular_buffer_dequeue_data_count(queue->out_ring, out, take);
        if (take < want) std::memset(out + take, 0, sizeof(float) * (want - take));
        done += piece;
    }
    return result;
}

extern "C" int32_t dynamic_queue_process_planar(dynamic_queue_state *queue, const float *input,
                                                float *output, uint32_t frames) {
    const int32_t rc = check_ready(queue);
    if (rc != DSP_OK) return rc;
    if (frames == 0) return DSP_OK;
    if (input == nullptr || output == nullptr) return DSP_ERR_INVALID;
    float *in_f = temp_array(frames, queue->in_channels);
    float *out_f = temp_array(frames, queue->out_channels);
    interleave(input, in_f, frames, queue->in_channels);
    const int32_t result = dynamic_queue_process(queue, in_f, out_f, frames);
    deinterleave(out_f, output, frames, queue->out_channels);
    dsp_free_aligned(in_f);
    dsp_free_aligned(out_f);
    return result;
}

extern "C" int32_t dynamic_queue_process_s16(dynamic_queue_state *queue, const int16_t *input,
                                             int16_t *output, uint32_t frames) {
    return process_s16(queue, input, output, frames, false);
}

extern "C" int32_t dynamic_queue_process_s16_planar(dynamic_queue_state *queue,
                                                    const int16_t *input, int16_t *output,
                                                    uint32_t frames) {
    return process_s16(queue, input, output, frames, true);
}

extern "C" int32_t dynamic_queue_flush(dynamic_queue_state *queue) {
    const int32_t rc = check_ready(queue);
    if (rc != DSP_OK) return rc;
    return initialise(queue);
}

extern "C" int32_t dynamic_queue_reset(dynamic_queue_state *queue) {
    const int32_t rc = check_ready(queue);
    if (rc != DSP_OK) return rc;
    queue->initialised = 0;
    return release_storage(queue);
}

extern "C" int32_t dynamic_queue_get_latency(dynamic_queue_state *queue, uint32_t *out) {
    const int32_t rc = check_ready(queue);
    if (rc != DSP_OK) return rc;
    if (out == nullptr) return DSP_ERR_INVALID;
    *out = queue->latency;
    return DSP_OK;
}

extern "C" int32_t dynamic_queue_destroy(dynamic_queue_state **slot) {
    if (slot == nullptr || *slot == nullptr) return DSP_ERR_INVALID;
    const int32_t rc = release_storage(*slot);
    if (rc != DSP_OK) return rc;
    dsp_free_handle(*slot);
    *slot = nullptr;
    return DSP_OK;
}
