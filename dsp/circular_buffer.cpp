#include "circular_buffer.h"

#include <cstring>

#include "dsp_common.h"

struct circular_buffer_state {
    uint32_t read_index;   // oldest stored sample
    uint32_t write_index;  // slot of the next sample
    uint32_t capacity;
    uint32_t count;        // 0 .. capacity; full is count == capacity
    float *data;           // capacity slots, null while no storage
};

namespace {

// Common prologue of every operation that needs storage.
int32_t check_ready(const circular_buffer_state *cb) {
    if (cb == nullptr) return DSP_ERR_INVALID;
    if (cb->data == nullptr) return DSP_ERR_NOT_SETUP;
    return DSP_OK;
}

uint32_t advance(const circular_buffer_state *cb, uint32_t pos, uint32_t n) {
    // pos < capacity and n <= capacity, so the sum fits in 64 bits trivially and
    // needs at most one subtraction.
    uint64_t next = static_cast<uint64_t>(pos) + n;
    if (next >= cb->capacity) next -= cb->capacity;
    return static_cast<uint32_t>(next);
}

// Copies the n oldest samples into out in at most two pieces.
void copy_front(const circular_buffer_state *cb, float *out, uint32_t n) {
    if (n == 0) return;
    const uint32_t to_end = cb->capacity - cb->read_index;
    if (n >= to_end) {
        std::memcpy(out, cb->data + cb->read_index, sizeof(float) * to_end);
        std::memcpy(out + to_end, cb->data, sizeof(float) * (n - to_end));
    } else {
        std::memcpy(out, cb->data + cb->read_index, sizeof(float) * n);
    }
}

void discard_front(circular_buffer_state *cb, uint32_t n) {
    cb->read_index = advance(cb, cb->read_index, n);
    cb->count -= n;
}

}  // namespace

extern "C" int32_t circular_buffer_create(circular_buffer_state **slot) {
    if (slot == nullptr || *slot != nullptr) return DSP_ERR_INVALID;
    *slot = static_cast<circular_buffer_state *>(dsp_alloc_handle(sizeof(circular_buffer_state)));
    return DSP_OK;
}

extern "C" int32_t circular_buffer_destroy(circular_buffer_state **slot) {
    if (slot == nullptr || *slot == nullptr) return DSP_ERR_INVALID;
    dsp_free_handle(*slot);
    *slot = nullptr;
    return DSP_OK;
}

extern "C" int32_t circular_buffer_init(circular_buffer_state *cb, uint32_t capacity) {
    // The size is reported through a signed 32-bit status, so larger rings
    // could not report their count.
    if (cb == nullptr || capacity == 0 || capacity > INT32_MAX || cb->data != nullptr)
        return DSP_ERR_INVALID;
    cb->data = static_cast<float *>(dsp_alloc_aligned_array(capacity, sizeof(float)));
    cb->capacity = capacity;
    cb->count = 0;
    // Fresh storage starts empty at position 0: positions kept from an older,
    // larger ring could otherwise point past the new storage.
    cb->read_index = 0;
    cb->write_index = 0;
    return DSP_OK;
}

extern "C" int32_t circular_buffer_free(circular_buffer_state *cb) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    dsp_free_aligned(cb->data);
    cb->data = nullptr;
    return DSP_OK;
}

extern "C" int32_t circular_buffer_clear(circular_buffer_state *cb) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    std::memset(cb->data, 0, sizeof(float) * cb->capacity);
    cb->read_index = 0;
    cb->write_index = 0;
    cb->count = 0;
    return DSP_OK;
}

extern "C" int32_t circular_buffer_enqueue(circular_buffer_state *cb, float sample) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    if (cb->count == cb->capacity) return DSP_ERR_INVALID;
    cb->data[cb->write_index] = sample;
    cb->write_index = advance(cb, cb->write_index, 1);
    ++cb->count;
    return DSP_OK;
}

extern "C" int32_t circular_buffer_enqueueForce(circular_buffer_state *cb, float sample) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    cb->data[cb->write_index] = sample;
    cb->write_index = advance(cb, cb->write_index, 1);
    if (cb->count == cb->capacity) {
        // The slot just written was the oldest one: the read position follows.
        cb->read_index = cb->write_index;
    } else {
        ++cb->count;
    }
    return DSP_OK;
}

extern "C" int32_t circular_buffer_dequeue(circular_buffer_state *cb) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    if (cb->count == 0) return DSP_ERR_INVALID;
    discard_front(cb, 1);
    return DSP_OK;
}

extern "C" int32_t circular_buffer_dequeue_count(circular_buffer_state *cb, uint32_t n) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    if (cb->count < n) return DSP_ERR_INVALID;
    discard_front(cb, n);
    return DSP_OK;
}

extern "C" int32_t circular_buffer_dequeue_data(circular_buffer_state *cb, float *out) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    if (cb->count == 0 || out == nullptr) return DSP_ERR_INVALID;
    *out = cb->data[cb->read_index];
    discard_front(cb, 1);
    return DSP_OK;
}

extern "C" int32_t circular_buffer_dequeue_data_count(circular_buffer_state *cb, float *out,
                                                      uint32_t n) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    if (cb->count < n || (out == nullptr && n != 0)) return DSP_ERR_INVALID;
    copy_front(cb, out, n);
    discard_front(cb, n);
    return DSP_OK;
}

extern "C" int32_t circular_buffer_readFront(circular_buffer_state *cb, float *out, uint32_t n) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    if (cb->count < n || (out == nullptr && n != 0)) return DSP_ERR_INVALID;
    copy_front(cb, out, n);
    return DSP_OK;
}

extern "C" int32_t circular_buffer_readBack(circular_buffer_state *cb, float *out, uint32_t n) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    if (cb->count < n) return DSP_ERR_INVALID;
    if (n == 0) return DSP_OK;
    if (out == nullptr) return DSP_ERR_INVALID;
    uint32_t pos = cb->write_index;
    for (uint32_t i = 0; i < n; ++i) {
        pos = pos == 0 ? cb->capacity - 1 : pos - 1;
        out[i] = cb->data[pos];
    }
    return DSP_OK;
}

extern "C" int32_t circular_buffer_readAll(circular_buffer_state *cb, float *out,
                                           uint32_t *count) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    if (out == nullptr || count == nullptr) return DSP_ERR_INVALID;
    *count = cb->count;
    copy_front(cb, out, cb->count);
    return DSP_OK;
}

extern "C" int32_t circular_buffer_size(circular_buffer_state *cb) {
    const int32_t rc = check_ready(cb);
    if (rc != DSP_OK) return rc;
    return static_cast<int32_t>(cb->count);
}
