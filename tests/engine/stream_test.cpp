// End-to-end behaviour through the CX_* interface with the transparent weight
// set (band gains 1, deep filter = identity on its newest tap): the engine
// then reproduces its input, delayed, at every rate and block size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "calyx.h"
#include "engine_test_util.h"

namespace {

using engine_test::best_lag;
using engine_test::hop_of;
using engine_test::speech_like;

constexpr uint32_t kRates[] = {8000,  11025, 16000, 22050,  24000,  32000, 44100,
                               48000, 64000, 88200, 96000, 176400, 192000};
constexpr float kGuard = 1234.5f;

struct Engine {
    CX_HANDLE *h = nullptr;
    uint32_t channels;
    Engine(uint32_t ch, uint32_t rate, uint32_t block, float intensity = 1.0f) : channels(ch) {
        EXPECT_EQ(CX_CREATE(&h), 0);
        const CX_CONFIG c{ch, ch, rate, block};
        EXPECT_EQ(CX_SETUP(h, &c, &intensity), 0);
    }
    ~Engine() { CX_DESTROY(&h); }
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Queue latency in host samples, from the reported milliseconds.
    size_t queue_latency(uint32_t rate) {
        float ms = 0.0f;
        EXPECT_EQ(CX_GET_LATENCY(h, &ms), 0);
        return static_cast<size_t>(std::lround((ms - 30.0f) * rate / 1000.0f));
    }

    // Feeds interleaved `in` in calls of the given sizes (cycled). Each call
    // writes into a buffer with guard values behind it, which must survive.
    std::vector<float> run(const std::vector<float> &in, const std::vector<uint32_t> &sizes) {
        const size_t frames = in.size() / channels;
        std::vector<float> out(in.size());
        size_t pos = 0, call = 0;
        while (pos < frames) {
            const size_t n = std::min<size_t>(sizes[call++ % sizes.size()], frames - pos);
            std::vector<float> buf(n * channels + 8, kGuard);
            EXPECT_EQ(CX_PROCESS(h, in.data() + pos * channels, buf.data(), static_cast<uint32_t>(n)), 0);
            for (size_t g = n * channels; g < buf.size(); ++g)
                EXPECT_EQ(buf[g], kGuard) << "output overrun";
            std::copy(buf.begin(), buf.begin() + n * channels, out.begin() + pos * channels);
            pos += n;
        }
        return out;
    }
};

TEST(EngineStream, IntensityOneReproducesInputWithinWindowOverlapError) {
    // At the internal rates the resampler is a copy, so the chain is exactly
    // analysis, identity, synthesis: each output sample is the input sample
    // 3 hops + 31 earlier times w^2[i] + w^2[i+480], between 1.0000027 and
    // 1.0016345.
    for (uint32_t rate : {48000u, 44100u}) {
        Engine e(1, rate, 480);
        const std::vector<float> in = speech_like(rate, 480 * 60, 21);
        const std::vector<float> out = e.run(in, {480});
        const size_t delay = 1440 + 31;
        // Before the first input sample arrives only transform round-off.
        for (size_t i = 0; i < delay; ++i) ASSERT_LE(std::fabs(out[i]), 1e-7f) << rate << " " << i;
        double worst = 0.0;
        for (size_t i = delay; i < out.size(); ++i) {
            const double x = in[i - delay];
            const double err = out[i] - x;
            ASSERT_LE(std::fabs(err), 0.0017 * std::fabs(x) + 2e-6) << rate << " sample " << i;
            worst = std::max(worst, std::fabs(err));
        }
        std::printf("rate %u: worst deviation from the delayed input %.3g\n", rate, worst);
    }
}

TEST(EngineStream, EveryRateAndBlockSizeFollowsInput) {
    std::mt19937 rng(engine_test::test_seed());
    std::uniform_int_distribution<uint32_t> any_size(1, 1500);
    std::vector<uint32_t> random_sizes(64);
    for (uint32_t &s : random_sizes) s = any_size(rng);

    for (uint32_t rate : kRates) {
        for (uint32_t block : {0u, 480u, 256u, 1000u}) {
            SCOPED_TRACE(::testing::Message() << "rate " << rate << " block " << block << ", "
                                              << engine_test::seed_note());
            Engine e(1, rate, block);
            const size_t frames = block ? rate / 2 / block * block : rate / 2;  // ~0.5 s, whole blocks
            const std::vector<float> in = speech_like(rate, frames, rate + block);
            const std::vector<float> out =
                e.run(in, block == 0 ? random_sizes : std::vector<uint32_t>{block});
            ASSERT_EQ(out.size(), in.size());
            ASSERT_TRUE(engine_test::all_finite(out));

            const size_t nominal = e.queue_latency(rate) + 3 * hop_of(rate) + 31;
            const size_t span = frames / 3;
            const size_t from = frames - span - nominal - 64;
            const auto best = best_lag(in, out, nominal - 8, nominal + 40, from, span);
            std::printf("rate %6u block %4u: lag %zu (nominal %zu) correlation %.5f\n", rate,
                        block, best.lag, nominal, best.corr);
            EXPECT_GT(best.corr, 0.97);
            // Only the resampling filters add anything to the nominal delay.
            EXPECT_GE(best.lag, nominal);
            EXPECT_LE(best.lag, nominal + 24);
        }
    }
}

TEST(EngineStream, ZerosInZerosOut) {
    for (uint32_t rate : {8000u, 44100u, 48000u, 96000u}) {
        Engine e(2, rate, 0);
        const std::vector<float> in(2 * rate / 2, 0.0f);
        const std::vector<float> out = e.run(in, {333, 1, 960});
        for (float v : out) ASSERT_EQ(v, 0.0f) << rate;
    }
}

std::vector<float> channel(const std::vector<float> &inter, size_t c, size_t channels) {
    std::vector<float> out(inter.size() / channels);
    for (size_t f = 0; f < out.size(); ++f) out[f] = inter[f * channels + c];
    return out;
}

TEST(EngineStream, IdenticalChannelsGiveIdenticalOutput) {
    const uint32_t rate = 32000;
    const std::vector<float> mono = speech_like(rate, rate / 2, 5);
    std::vector<float> stereo(2 * mono.size());
    for (size_t f = 0; f < mono.size(); ++f) stereo[2 * f] = stereo[2 * f + 1] = mono[f];
    Engine e(2, rate, 0);
    const std::vector<float> out = e.run(stereo, {317, 64, 1000});
    const std::vector<float> l = channel(out, 0, 2), r = channel(out, 1, 2);
    EXPECT_EQ(0, std::memcmp(l.data(), r.data(), l.size() * sizeof(float)));
}

TEST(EngineStream, ChannelsNeverInfluenceEachOther) {
    const uint32_t rate = 16000, block = 160;
    const std::vector<float> a = speech_like(rate, rate / 2, 8);
    std::vector<float> b = speech_like(rate, rate / 2, 9);
    for (size_t i = 0; i < b.size(); ++i) b[i] *= (i / 800) % 2 ? 1.8f : -0.3f;  // loud, clipping

    std::vector<float> three(3 * a.size());
    for (size_t f = 0; f < a.size(); ++f) {
        three[3 * f] = a[f];
        three[3 * f + 1] = b[f];
        three[3 * f + 2] = 0.0f;
    }
    Engine multi(3, rate, block), solo_a(1, rate, block), solo_b(1, rate, block);
    const std::vector<float> out = multi.run(three, {block});
    const std::vector<float> ref_a = solo_a.run(a, {block});
    const std::vector<float> ref_b = solo_b.run(b, {block});
    const std::vector<float> got_a = channel(out, 0, 3), got_b = channel(out, 1, 3),
                             got_c = channel(out, 2, 3);
    EXPECT_EQ(0, std::memcmp(got_a.data(), ref_a.data(), ref_a.size() * sizeof(float)));
    EXPECT_EQ(0, std::memcmp(got_b.data(), ref_b.data(), ref_b.size() * sizeof(float)));
    for (float v : got_c) ASSERT_EQ(v, 0.0f);
    // The loud channel was limited below full scale.
    for (float v : got_b) ASSERT_LE(std::fabs(v), 0.99999f);
}

}  // namespace
