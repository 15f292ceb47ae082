// Test-side owner of a model_state: every buffer 64-byte aligned and
// exactly its listed size (so AddressSanitizer sees any overrun), the
// persistent part zeroed, the workspace poisoned with NaN so that a stage
// reading a buffer before writing it shows up in the outputs.
#ifndef CALYX_TESTS_NN_MODEL_STATE_BUFFERS_H
#define CALYX_TESTS_NN_MODEL_STATE_BUFFERS_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "nn/model.h"

class ModelStateBuffers {
public:
    ModelStateBuffers() {
        std::memset(&state_, 0, sizeof state_);
        int index = 0;
#define CALYX_ALLOC_(name, floats)                                                    \
        state_.name = allocate(floats);                                               \
        fill(state_.name, floats, index < CALYX_MODEL_STATE_PERSISTENT ? 0.0f : kNaN); \
        ++index;
        CALYX_MODEL_STATE_BUFFERS(CALYX_ALLOC_)
#undef CALYX_ALLOC_
    }
    ~ModelStateBuffers() {
#define CALYX_FREE_(name, floats) std::free(state_.name);
        CALYX_MODEL_STATE_BUFFERS(CALYX_FREE_)
#undef CALYX_FREE_
    }
    ModelStateBuffers(const ModelStateBuffers &) = delete;
    ModelStateBuffers &operator=(const ModelStateBuffers &) = delete;

    model_state *get() { return &state_; }

    // Overwrites every workspace buffer (not the rings, GRU states or
    // positions) with `value`.
    void poison_workspace(float value) {
        int index = 0;
#define CALYX_POISON_(name, floats) \
        if (index++ >= CALYX_MODEL_STATE_PERSISTENT) fill(state_.name, floats, value);
        CALYX_MODEL_STATE_BUFFERS(CALYX_POISON_)
#undef CALYX_POISON_
    }

    static constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

private:
    static dtype_t *allocate(size_t floats) {
        void *p = nullptr;
        if (posix_memalign(&p, 64, floats * sizeof(dtype_t)) != 0) throw std::bad_alloc();
        return static_cast<dtype_t *>(p);
    }
    static void fill(dtype_t *p, size_t floats, float value) {
        for (size_t i = 0; i < floats; ++i) p[i] = value;
    }
    model_state state_;
};

#endif  // CALYX_TESTS_NN_MODEL_STATE_BUFFERS_H
