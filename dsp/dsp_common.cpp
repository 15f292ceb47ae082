#include "dsp_common.h"

#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void out_of_memory() { std::exit(1); }

}  // namespace

extern "C" void *dsp_alloc_aligned(size_t bytes) {
    // Round up so that vector loops may touch a whole trailing 64-byte line;
    // a zero request still gets one line, so the result is never null.
    size_t rounded = bytes == 0 ? DSP_ALIGNMENT : bytes;
    if (rounded > SIZE_MAX - (DSP_ALIGNMENT - 1)) out_of_memory();
    rounded = (rounded + DSP_ALIGNMENT - 1) & ~static_cast<size_t>(DSP_ALIGNMENT - 1);
    void *ptr = nullptr;
    if (posix_memalign(&ptr, DSP_ALIGNMENT, rounded) != 0 || ptr == nullptr) out_of_memory();
    std::memset(ptr, 0, rounded);
    return ptr;
}

extern "C" void *dsp_alloc_aligned_array(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) out_of_memory();
    return dsp_alloc_aligned(count * size);
}

extern "C" void dsp_free_aligned(void *ptr) { std::free(ptr); }

extern "C" void *dsp_alloc_handle(size_t bytes) {
    void *ptr = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (ptr == nullptr) out_of_memory();
    return ptr;
}

extern "C" void dsp_free_handle(void *ptr) { std::free(ptr); }
