// The CX_* interface: result codes and the order of the checks, life cycle,
// latency, and the protections of CX_PROCESS (non-finite input, failed
// scratch allocation). Linked with the transparent weight set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "calyx.h"
#include "calyx_testing.h"
#include "engine_test_util.h"

namespace {

using engine_test::speech_like;

CX_CONFIG config(uint32_t channels, uint32_t rate, uint32_t block) {
    return CX_CONFIG{channels, channels, rate, block};
}

// A created and set-up handle, destroyed at scope exit.
struct Engine {
    CX_HANDLE *h = nullptr;
    int32_t setup_rc = -1;
    Engine(uint32_t channels, uint32_t rate, uint32_t block, float intensity = 1.0f) {
        CX_CREATE(&h);
        const CX_CONFIG c = config(channels, rate, block);
        setup_rc = CX_SETUP(h, &c, &intensity);
    }
    ~Engine() { CX_DESTROY(&h); }
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;
    float latency() {
        float ms = -1.0f;
        EXPECT_EQ(CX_GET_LATENCY(h, &ms), 0);
        return ms;
    }
};

TEST(EngineInterface, VersionAndCreateDestroyCodes) {
    const char *v = nullptr;
    EXPECT_EQ(CX_GET_VERSION(nullptr), 5);
    ASSERT_EQ(CX_GET_VERSION(&v), 0);
    EXPECT_STREQ(v, "v1.1.2 (fefed85)");

    EXPECT_EQ(CX_CREATE(nullptr), 5);
    CX_HANDLE *h = nullptr;
    ASSERT_EQ(CX_CREATE(&h), 0);
    ASSERT_NE(h, nullptr);
    CX_HANDLE *first = h;
    EXPECT_EQ(CX_CREATE(&h), 3);  // slot already holds a handle
    EXPECT_EQ(h, first);

    // Created but never set up: simply released.
    EXPECT_EQ(CX_DESTROY(nullptr), 5);
    EXPECT_EQ(CX_DESTROY(&h), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(CX_DESTROY(&h), 1);
}

TEST(EngineInterface, SetupChecksInOrder) {
    CX_HANDLE *h = nullptr;
    ASSERT_EQ(CX_CREATE(&h), 0);
    float one = 1.0f, zero = 0.0f, low = -0.01f, high = 1.01f;
    float nan = std::numeric_limits<float>::quiet_NaN();
    CX_CONFIG ok = config(1, 48000, 480);

    EXPECT_EQ(CX_SETUP(nullptr, &ok, &one), 1);
    EXPECT_EQ(CX_SETUP(h, nullptr, &one), 5);
    EXPECT_EQ(CX_SETUP(h, &ok, nullptr), 5);

    CX_CONFIG c = ok;
    c.channels_in = c.channels_out = 0;
    EXPECT_EQ(CX_SETUP(h, &c, &high), 7);  // channel error wins over intensity
    c = ok;
    c.channels_in = 2;
    EXPECT_EQ(CX_SETUP(h, &c, &high), 8);
    c = ok;
    c.block_size = 32768;
    EXPECT_EQ(CX_SETUP(h, &c, &high), 10);  // block size before intensity
    c.sample_rate = 44000;
    EXPECT_EQ(CX_SETUP(h, &c, &one), 10);  // block size before rate
    EXPECT_EQ(CX_SETUP(h, &ok, &low), 11);
    EXPECT_EQ(CX_SETUP(h, &ok, &high), 11);
    EXPECT_EQ(CX_SETUP(h, &ok, &nan), 11);
    c = ok;
    for (uint32_t bad : {0u, 44000u, 22000u, 12000u, 6000u, 384000u}) {
        c.sample_rate = bad;
        EXPECT_EQ(CX_SETUP(h, &c, &high), 11) << bad;  // intensity before rate
        EXPECT_EQ(CX_SETUP(h, &c, &one), 9) << bad;
    }

    // Still not set up after all refusals.
    float ms = 0.0f;
    EXPECT_EQ(CX_GET_LATENCY(h, &ms), 2);

    // 32767 frames and both intensity limits are accepted.
    c = ok;
    c.block_size = 32767;
    EXPECT_EQ(CX_SETUP(h, &c, &zero), 0);
    EXPECT_EQ(CX_SETUP(h, &ok, &one), 4);
    EXPECT_EQ(CX_SETUP(h, nullptr, &one), 5);  // argument checks come first
    EXPECT_EQ(CX_DESTROY(&h), 0);
}

TEST(EngineInterface, UpdateProcessLatencyCodes) {
    CX_HANDLE *h = nullptr;
    ASSERT_EQ(CX_CREATE(&h), 0);
    float one = 1.0f, bad = 2.0f, ms = 0.0f;
    std::vector<float> buf(480 * 2, 0.0f);

    EXPECT_EQ(CX_UPDATE(nullptr, &one), 1);
    EXPECT_EQ(CX_UPDATE(h, nullptr), 5);
    EXPECT_EQ(CX_UPDATE(h, &bad), 11);
    EXPECT_EQ(CX_UPDATE(h, &one), 2);
    EXPECT_EQ(CX_PROCESS(nullptr, buf.data(), buf.data(), 480), 1);
    EXPECT_EQ(CX_PROCESS(h, nullptr, buf.data(), 480), 5);
    EXPECT_EQ(CX_PROCESS(h, buf.data(), nullptr, 480), 5);
    EXPECT_EQ(CX_PROCESS(h, buf.data(), buf.data(), 480), 2);
    EXPECT_EQ(CX_GET_LATENCY(nullptr, &ms), 1);
    EXPECT_EQ(CX_GET_LATENCY(h, nullptr), 5);
    EXPECT_EQ(CX_GET_LATENCY(h, &ms), 2);

    const CX_CONFIG c = config(2, 48000, 480);
    ASSERT_EQ(CX_SETUP(h, &c, &one), 0);
    EXPECT_EQ(CX_PROCESS(h, buf.data(), buf.data(), 479), 10);
    EXPECT_EQ(CX_PROCESS(h, buf.data(), buf.data(), 0), 10);
    EXPECT_EQ(CX_PROCESS(h, buf.data(), buf.data(), 480), 0);
    EXPECT_EQ(CX_UPDATE(h, &bad), 11);
    EXPECT_EQ(CX_UPDATE(h, &one), 0);
    EXPECT_EQ(CX_DESTROY(&h), 0);
}

TEST(EngineInterface, LatencyValues) {
    EXPECT_FLOAT_EQ(Engine(1, 48000, 480).latency(), 30.0f);
    EXPECT_FLOAT_EQ(Engine(1, 48000, 960).latency(), 30.0f);
    EXPECT_FLOAT_EQ(Engine(1, 48000, 0).latency(), 40.0f);
    EXPECT_NEAR(Engine(1, 48000, 256).latency(), 30.0f + 448.0f / 48.0f, 1e-4f);
    EXPECT_NEAR(Engine(1, 48000, 1000).latency(), 30.0f + 440.0f / 48.0f, 1e-4f);
    EXPECT_FLOAT_EQ(Engine(1, 44100, 480).latency(), 30.0f);
    EXPECT_NEAR(Engine(1, 8000, 0).latency(), 40.0f, 1e-4f);
    EXPECT_FLOAT_EQ(Engine(3, 16000, 160).latency(), 30.0f);
}

TEST(EngineInterface, SecondSetupKeepsFirstConfiguration) {
    Engine e(1, 48000, 480);
    ASSERT_EQ(e.setup_rc, 0);
    float one = 1.0f;
    const CX_CONFIG other = config(2, 16000, 0);
    EXPECT_EQ(CX_SETUP(e.h, &other, &one), 4);
    EXPECT_FLOAT_EQ(e.latency(), 30.0f);
    std::vector<float> in = speech_like(48000, 480, 1), out(480);
    EXPECT_EQ(CX_PROCESS(e.h, in.data(), out.data(), 480), 0);
    EXPECT_EQ(CX_PROCESS(e.h, in.data(), out.data(), 160), 10);
}

TEST(EngineInterface, FreeModeAcceptsAnyFrameCountIncludingZero) {
    Engine e(2, 44100, 0);
    ASSERT_EQ(e.setup_rc, 0);
    std::vector<float> buf(2 * 1234, 0.25f);
    for (uint32_t n : {0u, 1u, 479u, 480u, 1234u}) EXPECT_EQ(CX_PROCESS(e.h, buf.data(), buf.data(), n), 0) << n;
}

// Interleaves `frames` samples per channel from per-channel signals.
std::vector<float> interleave(const std::vector<std::vector<float>> &ch) {
    const size_t c = ch.size(), n = ch[0].size();
    std::vector<float> out(c * n);
    for (size_t f = 0; f < n; ++f)
        for (size_t k = 0; k < c; ++k) out[f * c + k] = ch[k][f];
    return out;
}

std::vector<float> process_all(CX_HANDLE *h, const std::vector<float> &in, uint32_t channels,
                               uint32_t block) {
    std::vector<float> out(in.size());
    for (size_t f = 0; f + block <= in.size() / channels; f += block)
        EXPECT_EQ(CX_PROCESS(h, in.data() + f * channels, out.data() + f * channels, block), 0);
    return out;
}

TEST(EngineInterface, InPlaceEqualsSeparateBuffers) {
    const uint32_t block = 256;
    std::vector<float> in = interleave({speech_like(48000, 256 * 30, 3), speech_like(48000, 256 * 30, 4)});
    Engine a(2, 48000, block), b(2, 48000, block);
    std::vector<float> separate = process_all(a.h, in, 2, block);
    std::vector<float> inplace = in;
    for (size_t f = 0; f + block <= inplace.size() / 2; f += block)
        ASSERT_EQ(CX_PROCESS(b.h, inplace.data() + 2 * f, inplace.data() + 2 * f, block), 0);
    EXPECT_EQ(0, std::memcmp(separate.data(), inplace.data(), separate.size() * sizeof(float)));
}

TEST(EngineInterface, NonFiniteInputDoesNotPoisonTheStream) {
    const uint32_t rate = 48000, block = 480;
    Engine e(1, rate, block);
    std::vector<float> in = speech_like(rate, rate * 2, 7);
    // 50 ms burst of NaN and infinities after 0.3 s.
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity()};
    const size_t burst = rate * 3 / 10;
    for (size_t i = 0; i < rate / 20; ++i) in[burst + i] = specials[i % 3];
    std::vector<float> out = process_all(e.h, in, 1, block);
    // Finite again within one second after the burst, and from then on.
    for (size_t i = burst + rate / 20 + rate; i < out.size(); ++i)
        ASSERT_TRUE(std::isfinite(out[i])) << "sample " << i;
    // Treated as silence: nothing non-finite comes out at all.
    EXPECT_TRUE(engine_test::all_finite(out));
    // And the stream still follows its input afterwards.
    const size_t delay = 1440 + 31;
    EXPECT_GT(engine_test::correlation_at(in, out, delay, rate + rate / 2 - delay - 4800, 4800), 0.999);
}

// Scratch allocator that fails on a chosen call.
int g_alloc_calls = 0;
int g_fail_on = -1;
void *failing_alloc(size_t n) {
    return g_alloc_calls++ == g_fail_on ? nullptr : std::malloc(n);
}

TEST(EngineInterface, FailedScratchAllocationReturns5AndKeepsState) {
    const uint32_t rate = 48000, block = 480;
    std::vector<float> in = speech_like(rate, block * 40, 11);
    Engine ref(1, rate, block), probe(1, rate, block);
    std::vector<float> expected = process_all(ref.h, in, 1, block);

    std::vector<float> out(in.size(), 0.0f);
    for (size_t f = 0; f < in.size(); f += block) {
        if (f / block == 10 || f / block == 20) {
            // Fail the first, then the second of the two scratch arrays.
            std::vector<float> junk(block, 123.0f);
            g_alloc_calls = 0;
            g_fail_on = f / block == 10 ? 0 : 1;
            calyx_set_scratch_allocator(failing_alloc);
            EXPECT_EQ(CX_PROCESS(probe.h, in.data() + f, junk.data(), block), 5);
            calyx_set_scratch_allocator(nullptr);
            for (float v : junk) ASSERT_EQ(v, 123.0f);  // output untouched
        }
        ASSERT_EQ(CX_PROCESS(probe.h, in.data() + f, out.data() + f, block), 0);
    }
    // The failed calls left no trace in the stream.
    EXPECT_EQ(0, std::memcmp(expected.data(), out.data(), out.size() * sizeof(float)));
}

}  // namespace
