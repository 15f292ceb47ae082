// Heap taken by one engine handle, measured with glibc's allocator statistics:
//   calyx_engine_alloc [rate]
// Sets up handles of 1 and 8 channels (blocks of 480 frames), processes one second
// of audio in each, and prints one JSON object: bytes held after setup for each
// channel count, the per-channel share (difference / 7), the part every handle
// shares (the parsed parameter table), and the reported latency.
#if defined(__has_include)
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#endif

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "calyx.h"

namespace {

size_t heap_in_use() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    // glibc 2.33+: the only portable-enough view of the heap without interposing malloc
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;  // arena blocks in use + separately mapped blocks
#else
    return 0;
#endif
}

struct Measure {
    size_t after_setup = 0;
    float latency_ms = 0.0f;
};

bool measure(uint32_t channels, uint32_t rate, Measure& m) {
    std::vector<float> in(480u * channels), out(in.size());
    const size_t before = heap_in_use();
    CX_HANDLE* h = nullptr;
    const CX_CONFIG cfg = {channels, channels, rate, 480};
    const float intensity = 1.0f;
    if (CX_CREATE(&h) != 0 || CX_SETUP(h, &cfg, &intensity) != 0) {
        std::fprintf(stderr, "engine setup failed for %u channels at %u Hz\n", channels, rate);
        CX_DESTROY(&h);
        return false;
    }
    m.after_setup = heap_in_use() - before;
    for (size_t i = 0; i < in.size(); ++i) in[i] = 0.01f * float((i * 7919u) % 201u) / 100.0f - 0.01f;
    for (uint32_t b = 0; b < rate / 480u; ++b) {
        if (CX_PROCESS(h, in.data(), out.data(), 480) != 0) {
            CX_DESTROY(&h);
            return false;
        }
    }
    // nothing may stay allocated between calls
    if (heap_in_use() - before != m.after_setup) {
        std::fprintf(stderr, "heap grew by %zu bytes while processing\n", heap_in_use() - before - m.after_setup);
        CX_DESTROY(&h);
        return false;
    }
    CX_GET_LATENCY(h, &m.latency_ms);
    CX_DESTROY(&h);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t rate = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 48000u;
    Measure one, eight;
    if (!measure(1, rate, one) || !measure(8, rate, eight)) return 1;
    if (one.after_setup == 0) {
        std::fprintf(stderr, "allocator statistics unavailable on this platform\n");
        return 1;
    }
    const size_t per_channel = (eight.after_setup - one.after_setup) / 7;
    std::printf("{\"rate\": %u, \"bytes_1ch\": %zu, \"bytes_8ch\": %zu, \"per_channel\": %zu, "
                "\"shared\": %zu, \"latency_ms\": %.3f}\n",
                rate, one.after_setup, eight.after_setup, per_channel, one.after_setup - per_channel,
                double(one.latency_ms));
    return 0;
}
