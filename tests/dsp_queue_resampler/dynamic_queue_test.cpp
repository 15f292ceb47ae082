// Dynamic queue: with a copying callback the output stream must equal the
// input delayed by exactly the reported latency, whatever the call sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/dynamic_queue.h"

namespace {

// Host-side hops of the engine for every supported host rate.
const uint32_t kEngineHops[] = {80, 120, 160, 240, 320, 480, 640, 960, 1920};

struct CopyState {
    uint32_t in_channels = 1;
    uint32_t out_channels = 1;
    uint32_t hop = 0;
    int32_t calls = 0;
};

// Copies input channel (ch % in_channels) to output channel ch; returns the
// running call count so the queue's returned result can be traced.
int32_t copy_callback(void *user, const float *in, float *out) {
    CopyState *s = static_cast<CopyState *>(user);
    for (uint32_t f = 0; f < s->hop; ++f)
        for (uint32_t ch = 0; ch < s->out_channels; ++ch)
            out[f * s->out_channels + ch] = in[f * s->in_channels + ch % s->in_channels];
    return ++s->calls;
}

struct Queue {
    dynamic_queue_state *q = nullptr;
    CopyState state;
    Queue() { EXPECT_EQ(dynamic_queue_create(&q), 0); }
    ~Queue() { EXPECT_EQ(dynamic_queue_destroy(&q), 0); }
    int32_t setup(uint32_t in_ch, uint32_t out_ch, uint32_t block, uint32_t hop, uint32_t mode) {
        state = CopyState{in_ch, out_ch, hop, 0};
        return dynamic_queue_setup(q, &state, copy_callback, in_ch, out_ch, block, hop, mode);
    }
    uint32_t latency() {
        uint32_t l = 0;
        EXPECT_EQ(dynamic_queue_get_latency(q, &l), 0);
        return l;
    }
};

// Distinct, nonzero values so a misplaced or repeated sample shows.
float tagged(size_t i) { return float(i % 100000 + 1) * (i % 2 ? 1.0f : -1.0f); }

// Streams `calls` (frame counts) through a mono-or-more queue and checks that
// output frame n equals input frame n - delay (zeros before the stream).
void expect_delayed_copy(Queue &queue, const std::vector<uint32_t> &calls, uint32_t channels,
                         uint32_t delay) {
    size_t frame = 0;
    std::vector<float> in, out;
    for (size_t c = 0; c < calls.size(); ++c) {
        const uint32_t n = calls[c];
        in.assign(size_t(n) * channels, 0.0f);
        out.assign(size_t(n) * channels, NAN);
        for (size_t i = 0; i < in.size(); ++i) in[i] = tagged(frame * channels + i);
        ASSERT_GE(dynamic_queue_process(queue.q, in.data(), out.data(), n), 0);
        for (uint32_t f = 0; f < n; ++f)
            for (uint32_t ch = 0; ch < channels; ++ch) {
                const size_t pos = frame + f;
                const float want = pos < delay ? 0.0f : tagged((pos - delay) * channels + ch);
                ASSERT_EQ(out[size_t(f) * channels + ch], want)
                    << "call " << c << " frame " << pos << " channel " << ch;
            }
        frame += n;
    }
}

TEST(DynamicQueue, SetupArgumentCodes) {
    Queue queue;
    uint32_t l = 0;
    EXPECT_EQ(dynamic_queue_get_latency(queue.q, &l), 9);
    EXPECT_EQ(dynamic_queue_setup(nullptr, nullptr, copy_callback, 1, 1, 1, 480, 0), -1);
    EXPECT_EQ(queue.setup(0, 1, 480, 480, 1), 1);
    EXPECT_EQ(queue.setup(1, 0, 480, 480, 1), -1);
    EXPECT_EQ(queue.setup(1, 1, 480, 0, 1), 4);
    EXPECT_EQ(queue.setup(1, 1, 0, 480, 1), 4);
    EXPECT_EQ(dynamic_queue_setup(queue.q, nullptr, nullptr, 1, 1, 480, 480, 0), -1);
    EXPECT_EQ(dynamic_queue_get_latency(queue.q, &l), 9);
    EXPECT_EQ(queue.setup(1, 1, 0, 480, 0), 0);
    EXPECT_EQ(dynamic_queue_get_latency(queue.q, nullptr), -1);
    EXPECT_EQ(dynamic_queue_get_latency(nullptr, &l), -1);
    float x = 1.0f, y = 0.0f;
    EXPECT_EQ(dynamic_queue_process(queue.q, &x, nullptr, 1), -1);
    EXPECT_EQ(dynamic_queue_process(nullptr, &x, &y, 1), -1);
    dynamic_queue_state *other = queue.q;
    EXPECT_EQ(dynamic_queue_create(&other), -1);
    EXPECT_EQ(dynamic_queue_create(nullptr), -1);
}

TEST(DynamicQueue, LatencyExamples) {
    struct Case {
        uint32_t block, mode, latency;
    } cases[] = {{256, 1, 448}, {1000, 1, 440}, {480, 1, 0}, {960, 1, 0}, {0, 0, 480},
                 {256, 0, 480}};
    for (const Case &c : cases) {
        Queue queue;
        ASSERT_EQ(queue.setup(1, 1, c.block, 480, c.mode), 0);
        EXPECT_EQ(queue.latency(), c.latency) << "block " << c.block << " mode " << c.mode;
    }
    // Multichannel latency counts samples of both pre-loaded rings.
    Queue stereo;
    ASSERT_EQ(stereo.setup(2, 2, 256, 480, 1), 0);
    EXPECT_EQ(stereo.latency(), 2u * 448u);
}

TEST(DynamicQueue, ZeroFramesDoNothing) {
    Queue queue;
    EXPECT_EQ(dynamic_queue_process(queue.q, nullptr, nullptr, 0), 9);
    ASSERT_EQ(queue.setup(1, 1, 0, 4, 0), 0);
    EXPECT_EQ(dynamic_queue_process(queue.q, nullptr, nullptr, 0), 0);
    EXPECT_EQ(queue.state.calls, 0);
    expect_delayed_copy(queue, {3, 0, 5}, 1, 4);
}

// Free mode: random call sizes, including 0 and more than two hops, for
// every engine hop; the delay is always exactly one hop.
TEST(DynamicQueue, FreeModeRandomCallSizes) {
    const uint32_t seed = 4242;
    std::mt19937 rng(seed);
    for (uint32_t hop : kEngineHops) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " hop " << hop);
        Queue queue;
        ASSERT_EQ(queue.setup(1, 1, 0, hop, 0), 0);
        ASSERT_EQ(queue.latency(), hop);
        std::vector<uint32_t> calls;
        uint32_t total = 0;
        while (total < 8 * hop) {
            uint32_t n = rng() % (hop + 1);
            if (rng() % 8 == 0) n = 0;
            if (rng() % 8 == 0) n = 2 * hop + 1 + rng() % hop;
            calls.push_back(n);
            total += n;
        }
        expect_delayed_copy(queue, calls, 1, hop);
        EXPECT_EQ(uint32_t(queue.state.calls), total / hop);
    }
}

TEST(DynamicQueue, FreeModeOutputIndependentOfCallSizes) {
    for (uint32_t n : {1u, 479u, 1000u}) {
        Queue queue;
        ASSERT_EQ(queue.setup(1, 1, 0, 480, 0), 0);
        expect_delayed_copy(queue, std::vector<uint32_t>(3000 / n + 2, n), 1, 480);
    }
}

// Block mode for every block size 1..2000 with the engine's 48 kHz hop, and a
// spread of sizes for every other engine hop: the delay is the latency, and
// the output never runs short (a short ring would show as zeros).
TEST(DynamicQueue, BlockModeEveryBlockSize) {
    for (uint32_t block = 1; block <= 2000; ++block) {
        Queue queue;
        ASSERT_EQ(queue.setup(1, 1, block, 480, 1), 0);
        const uint32_t latency = queue.latency();
        ASSERT_LT(latency, 480u);
        const uint32_t calls = (2 * 480 + latency) / block + 2;
        expect_delayed_copy(queue, std::vector<uint32_t>(calls, block), 1, latency);
        if (HasFatalFailure()) {
            ADD_FAILURE() << "block size " << block;
            return;
        }
    }
}

TEST(DynamicQueue, BlockModeEveryEngineHop) {
    for (uint32_t hop : kEngineHops)
        for (uint32_t block : {1u, 7u, 64u, 100u, 256u, 441u, 480u, 512u, 1000u, 1024u, 4096u}) {
            SCOPED_TRACE(testing::Message() << "hop " << hop << " block " << block);
            Queue queue;
            ASSERT_EQ(queue.setup(1, 1, block, hop, 1), 0);
            const uint32_t latency = queue.latency();
            if (block % hop == 0) {
                EXPECT_EQ(latency, 0u);
            }
            const uint32_t calls = (3 * hop + latency) / block + 2;
            expect_delayed_copy(queue, std::vector<uint32_t>(calls, block), 1, latency);
        }
}

TEST(DynamicQueue, BlockEqualToHopCallsBackOncePerCall) {
    Queue queue;
    ASSERT_EQ(queue.setup(1, 1, 480, 480, 1), 0);
    std::vector<float> in(480, 0.25f), out(480);
    for (int32_t call = 1; call <= 5; ++call) {
        EXPECT_EQ(dynamic_queue_process(queue.q, in.data(), out.data(), 480), call);
        EXPECT_EQ(queue.state.calls, call);
        EXPECT_EQ(out[0], 0.25f);
    }
    // A call that completes no hop returns 0.
    Queue free_mode;
    ASSERT_EQ(free_mode.setup(1, 1, 0, 480, 0), 0);
    EXPECT_EQ(dynamic_queue_process(free_mode.q, in.data(), out.data(), 100), 0);
}

TEST(DynamicQueue, StereoStaysAlignedPerChannel) {
    Queue queue;
    ASSERT_EQ(queue.setup(2, 2, 256, 480, 1), 0);
    expect_delayed_copy(queue, std::vector<uint32_t>(12, 256), 2, 448);
    Queue free_mode;
    ASSERT_EQ(free_mode.setup(2, 2, 0, 160, 0), 0);
    expect_delayed_copy(free_mode, {1, 333, 0, 50, 700, 160, 3}, 2, 160);
}

TEST(DynamicQueue, FlushDiscardsWaitingSamples) {
    for (uint32_t mode : {0u, 1u}) {
        Queue queue;
        ASSERT_EQ(queue.setup(1, 1, 256, 480, mode), 0);
        const uint32_t latency = queue.latency();
        std::vector<float> old_in(256, 77.0f), out(256);
        for (int i = 0; i < 3; ++i)
            ASSERT_GE(dynamic_queue_process(queue.q, old_in.data(), out.data(), 256), 0);
        ASSERT_EQ(dynamic_queue_flush(queue.q), 0);
        EXPECT_EQ(queue.latency(), latency);
        // After the flush the stream starts over: pre-load zeros, then the new
        // input; nothing of the old 77s comes out.
        expect_delayed_copy(queue, std::vector<uint32_t>(10, 256), 1, latency);
    }
}

TEST(DynamicQueue, ResetAndDestroyInAnyState) {
    dynamic_queue_state *q = nullptr;
    // Destroy on a queue that was never set up releases the handle.
    ASSERT_EQ(dynamic_queue_create(&q), 0);
    EXPECT_EQ(dynamic_queue_destroy(&q), 0);
    EXPECT_EQ(q, nullptr);
    EXPECT_EQ(dynamic_queue_destroy(&q), -1);
    EXPECT_EQ(dynamic_queue_destroy(nullptr), -1);

    CopyState s{1, 1, 480, 0};
    ASSERT_EQ(dynamic_queue_create(&q), 0);
    EXPECT_EQ(dynamic_queue_reset(q), 9);
    EXPECT_EQ(dynamic_queue_flush(q), 9);
    ASSERT_EQ(dynamic_queue_setup(q, &s, copy_callback, 1, 1, 0, 480, 0), 0);
    ASSERT_EQ(dynamic_queue_reset(q), 0);
    float x = 1.0f, y = 0.0f;
    EXPECT_EQ(dynamic_queue_process(q, &x, &y, 1), 9);
    EXPECT_EQ(dynamic_queue_reset(q), 9);
    // Set up again after a reset, then destroy after a reset.
    ASSERT_EQ(dynamic_queue_setup(q, &s, copy_callback, 1, 1, 0, 480, 0), 0);
    ASSERT_EQ(dynamic_queue_setup(q, &s, copy_callback, 1, 1, 480, 480, 1), 0);
    ASSERT_EQ(dynamic_queue_reset(q), 0);
    EXPECT_EQ(dynamic_queue_destroy(&q), 0);
    EXPECT_EQ(q, nullptr);
}

TEST(DynamicQueue, PlanarAndInterleavedVariantsMix) {
    const uint32_t seed = 99;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    Queue a, b;
    ASSERT_EQ(a.setup(2, 2, 0, 120, 0), 0);
    ASSERT_EQ(b.setup(2, 2, 0, 120, 0), 0);
    for (int call = 0; call < 12; ++call) {
        const uint32_t n = 1 + rng() % 300;
        std::vector<float> inter(2 * n), planar(2 * n), out_a(2 * n), out_b(2 * n);
        for (uint32_t f = 0; f < n; ++f)
            for (uint32_t ch = 0; ch < 2; ++ch) {
                inter[f * 2 + ch] = dist(rng);
                planar[ch * n + f] = inter[f * 2 + ch];
            }
        ASSERT_GE(dynamic_queue_process(a.q, inter.data(), out_a.data(), n), 0);
        if (call % 2) {
            ASSERT_GE(dynamic_queue_process_planar(b.q, planar.data(), out_b.data(), n), 0);
            for (uint32_t f = 0; f < n; ++f)
                for (uint32_t ch = 0; ch < 2; ++ch)
                    ASSERT_EQ(out_b[ch * n + f], out_a[f * 2 + ch]) << "call " << call;
        } else {
            ASSERT_GE(dynamic_queue_process(b.q, inter.data(), out_b.data(), n), 0);
            ASSERT_EQ(out_a, out_b) << "call " << call;
        }
    }
}

// Callback that writes fixed values, to check the 16-bit conversions.
struct FixedOut {
    std::vector<float> seen;
    std::vector<float> values;
};
int32_t fixed_callback(void *user, const float *in, float *out) {
    FixedOut *s = static_cast<FixedOut *>(user);
    s->seen.assign(in, in + s->values.size());
    for (size_t i = 0; i < s->values.size(); ++i) out[i] = s->values[i];
    return 0;
}

TEST(DynamicQueue, SixteenBitConversions) {
    FixedOut fixed;
    fixed.values = {1.0f, 0.5f, -1.0f, -0.5f, 0.0f, 1.5f, -2.0f, NAN};
    const uint32_t hop = uint32_t(fixed.values.size());
    dynamic_queue_state *q = nullptr;
    ASSERT_EQ(dynamic_queue_create(&q), 0);
    ASSERT_EQ(dynamic_queue_setup(q, &fixed, fixed_callback, 1, 1, hop, hop, 1), 0);
    std::vector<int16_t> in = {-32768, 32767, 16384, 0, -1, 1, 2, 3}, out(hop, 123);
    ASSERT_EQ(dynamic_queue_process_s16(q, in.data(), out.data(), hop), 0);
    EXPECT_EQ(fixed.seen[0], -1.0f);
    EXPECT_EQ(fixed.seen[1], 32767.0f / 32768.0f);
    EXPECT_EQ(fixed.seen[2], 0.5f);
    // Within +-1 the output truncates; beyond it saturates (no wrap-around);
    // NaN leaves as silence.
    EXPECT_EQ(out, (std::vector<int16_t>{32767, 16383, -32767, -16383, 0, 32767, -32768, 0}));

    // Planar 16-bit with two channels: channel blocks stay apart.
    FixedOut stereo;
    stereo.values = {0.25f, -0.25f, 0.5f, -0.5f};
    ASSERT_EQ(dynamic_queue_setup(q, &stereo, fixed_callback, 2, 2, 2, 2, 1), 0);
    std::vector<int16_t> planar_in = {100, 200, -100, -200}, planar_out(4);
    ASSERT_EQ(dynamic_queue_process_s16_planar(q, planar_in.data(), planar_out.data(), 2), 0);
    EXPECT_EQ(stereo.seen,
              (std::vector<float>{100 / 32768.0f, -100 / 32768.0f, 200 / 32768.0f, -200 / 32768.0f}));
    EXPECT_EQ(planar_out, (std::vector<int16_t>{8191, 16383, -8191, -16383}));
    EXPECT_EQ(dynamic_queue_destroy(&q), 0);
}

// Different channel counts in and out: the callback maps them and the delay
// in frames stays hop - gcd.
TEST(DynamicQueue, DifferentChannelCountsInAndOut) {
    Queue queue;
    ASSERT_EQ(queue.setup(1, 2, 0, 160, 0), 0);
    EXPECT_EQ(queue.latency(), 320u);
    size_t frame = 0;
    for (uint32_t n : {100u, 400u, 3u, 500u}) {
        std::vector<float> in(n), out(2 * n);
        for (uint32_t f = 0; f < n; ++f) in[f] = tagged(frame + f);
        ASSERT_GE(dynamic_queue_process(queue.q, in.data(), out.data(), n), 0);
        for (uint32_t f = 0; f < n; ++f) {
            const size_t pos = frame + f;
            const float want = pos < 160 ? 0.0f : tagged(pos - 160);
            ASSERT_EQ(out[2 * f], want);
            ASSERT_EQ(out[2 * f + 1], want);
        }
        frame += n;
    }
}

}  // namespace
