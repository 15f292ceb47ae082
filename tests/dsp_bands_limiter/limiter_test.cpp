// Look-ahead limiter: delay, gain trajectory around a peak, threshold
// handling (including zero), channel linking, block-size invariance and the
// handle life cycle.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/limiter.h"
#include "test_seed.h"

namespace {

constexpr float kEngineThreshold = 0.99999f;
constexpr uint32_t kDelay = 31;
// The gain lands on the needed reduction after 32 single-precision smoothing
// steps; its rounding may pass the threshold by a few parts per million (more
// for peaks far above it: about 2e-5 at 10000 times the threshold).
constexpr float kRoundingSlack = 1.0f + 1e-4f;

struct Limiter {
    limiter_state *l = nullptr;
    Limiter() { EXPECT_EQ(limiter_create(&l), 0); }
    Limiter(uint32_t channels, uint32_t rate, uint32_t frames, float threshold) : Limiter() {
        EXPECT_EQ(limiter_setup(l, channels, rate, frames, threshold), 0);
    }
    ~Limiter() {
        if (l != nullptr) limiter_destroy(&l);
    }
};

// Runs a whole interleaved signal through blocks of `frames` frames.
std::vector<float> run(limiter_state *l, const std::vector<float> &in, uint32_t channels, uint32_t frames) {
    const size_t block = static_cast<size_t>(frames) * channels;
    EXPECT_EQ(in.size() % block, 0u);
    std::vector<float> out(in.size(), std::nanf(""));
    for (size_t i = 0; i + block <= in.size(); i += block)
        EXPECT_EQ(limiter_process(l, in.data() + i, out.data() + i), 0);
    return out;
}

// Input delayed by 31 frames, zeros first.
std::vector<float> delayed(const std::vector<float> &in, uint32_t channels) {
    std::vector<float> out(in.size(), 0.0f);
    const size_t shift = static_cast<size_t>(kDelay) * channels;
    for (size_t i = shift; i < in.size(); ++i) out[i] = in[i - shift];
    return out;
}

// Random bursts: stretches of quiet noise and of loud noise up to `peak`.
std::vector<float> bursts(std::mt19937 &rng, size_t frames, uint32_t channels, float peak) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> length(1, 200);
    std::uniform_real_distribution<float> level(0.0f, 1.0f);
    std::vector<float> x(frames * channels);
    size_t f = 0;
    while (f < frames) {
        size_t len = std::min(frames - f, static_cast<size_t>(length(rng)));
        float amp = level(rng) < 0.5f ? 0.3f * level(rng) : peak * level(rng);
        for (size_t i = f * channels; i < (f + len) * channels; ++i) x[i] = amp * unit(rng);
        f += len;
    }
    return x;
}

}  // namespace

TEST(LimiterDelay, QuietSignalsPassUnchangedThirtyOneFramesLate) {
    for (uint32_t channels : {1u, 2u, 5u}) {
        SCOPED_TRACE(channels);
        Limiter lim(channels, 48000, 64, kEngineThreshold);
        std::vector<float> silence(64 * channels * 20, 0.0f);
        EXPECT_EQ(run(lim.l, silence, channels, 64), silence);
        // After silence the gain is still exactly 1: a constant 0.5 comes through
        // unchanged, 31 frames late (the first 31 of them still silence).
        std::vector<float> half(64 * channels * 20, 0.5f);
        std::vector<float> out = run(lim.l, half, channels, 64);
        EXPECT_EQ(out, delayed(half, channels));
    }
    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> quiet(-0.99f, 0.99f);
    std::vector<float> x(3 * 480 * 10);
    for (float &v : x) v = quiet(rng);
    Limiter lim(3, 44100, 480, kEngineThreshold);
    EXPECT_EQ(run(lim.l, x, 3, 480), delayed(x, 3));
}

TEST(LimiterDelay, DelayCountIsThirtyOneForAnyConfiguration) {
    for (uint32_t channels : {1u, 2u, 8u})
        for (uint32_t frames : {1u, 480u, 4096u}) {
            Limiter lim(channels, 96000, frames, 0.5f);
            uint32_t n = 0;
            EXPECT_EQ(limiter_delay_sample_count(lim.l, &n), 0);
            EXPECT_EQ(n, kDelay);
        }
}

TEST(LimiterGain, SingleLoudFrameIsHeldAtTheThreshold) {
    // Mono, 2.0 at frame 100 over a faint background of 0.01 that makes the
    // gain visible as output / 0.01.
    for (uint32_t rate : {48000u, 44100u}) {
        SCOPED_TRACE(rate);
        const size_t frames = 32 * 40;
        std::vector<float> x(frames, 0.01f);
        x[100] = 2.0f;
        Limiter lim(1, rate, 32, kEngineThreshold);
        std::vector<float> y = run(lim.l, x, 1, 32);
        EXPECT_LE(std::fabs(y[131]), kEngineThreshold * kRoundingSlack);
        EXPECT_NEAR(y[131], kEngineThreshold, 1e-5f) << "the gain lands on the needed reduction";
        // While the peak waits in the ring the gain falls monotonically from 1.
        EXPECT_NEAR(y[99], 0.01f, 1e-9f);
        for (size_t t = 100; t < 131; ++t) EXPECT_LT(y[t], y[t - 1]) << t;
        // Afterwards it recovers towards 1, closing the gap by 10^(-1/L) per frame.
        const double release_frames = std::floor(rate * 0.016687501) + 1.0;
        const double q = std::pow(10.0, -1.0 / release_frames);
        for (size_t t = 133; t < 400; ++t) {
            double gap = 1.0 - y[t] / 0.01, next = 1.0 - y[t + 1] / 0.01;
            EXPECT_NEAR(next / gap, q, 2e-4) << t;
        }
    }
}

TEST(LimiterGain, PeakOnOneChannelReducesBothEqually) {
    const size_t frames = 16 * 20;
    std::vector<float> x(frames * 2);
    for (size_t f = 0; f < frames; ++f) {
        x[2 * f] = 0.2f * std::sin(0.05f * f);
        x[2 * f + 1] = 0.3f;
    }
    for (size_t f = 120; f < 130; ++f) x[2 * f] = -3.0f;
    Limiter lim(2, 48000, 16, kEngineThreshold);
    std::vector<float> y = run(lim.l, x, 2, 16);
    bool reduced = false;
    for (size_t f = kDelay; f < frames; ++f) {
        const float g = y[2 * f + 1] / 0.3f;
        if (x[2 * (f - kDelay)] != 0.0f) {
            EXPECT_NEAR(y[2 * f] / x[2 * (f - kDelay)], g, 1e-5f) << f;
        }
        reduced = reduced || g < 0.5f;
        EXPECT_LE(std::fabs(y[2 * f]), kEngineThreshold) << f;
    }
    EXPECT_TRUE(reduced) << "the quiet channel was not reduced with the loud one";
}

TEST(LimiterGain, RandomLoudInputNeverExceedsTheThreshold) {
    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    for (uint32_t channels : {1u, 2u, 3u})
        for (uint32_t frames : {1u, 7u, 480u})
            for (float threshold : {kEngineThreshold, 0.5f, 0.01f}) {
                SCOPED_TRACE(testing::Message() << channels << " ch, " << frames << " frames, " << threshold);
                std::vector<float> x = bursts(rng, 480 * 7 * 4, channels, 100.0f);
                Limiter lim(channels, 48000, frames, threshold);
                std::vector<float> y = run(lim.l, x, channels, frames);
                size_t over = 0;
                for (float v : y) over += !(std::fabs(v) <= threshold * kRoundingSlack);
                EXPECT_EQ(over, 0u);
            }
}

TEST(LimiterGain, KeptTargetOfAnEarlierPeakNeverFlipsTheSign) {
    // A peak of 78 sets a steep target; a louder one of 87.5 arrives while the
    // gain is already low, so its own target is milder and the earlier one is
    // kept. When the first peak leaves, that kept target would drive the gain
    // through zero and emit the following loud frames inverted and far above
    // the threshold.
    const float threshold = 0.01f;
    std::vector<float> x(400, 0.001f);
    x[100] = 78.0f;
    x[124] = 87.5f;
    for (size_t t = 125; t < 180; ++t) x[t] = (t % 2 ? 40.0f : -40.0f);
    Limiter lim(1, 48000, 1, threshold);
    std::vector<float> y = run(lim.l, x, 1, 1);
    for (size_t t = kDelay; t < y.size(); ++t) {
        EXPECT_GE(y[t] * x[t - kDelay], 0.0f) << "sign flipped at " << t;
        EXPECT_LE(std::fabs(y[t]), threshold * kRoundingSlack) << t;
    }
}

TEST(LimiterGain, OutputDoesNotDependOnTheBlockSize) {
    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    std::vector<float> x = bursts(rng, 1 * 7 * 37 * 4, 2, 20.0f);
    Limiter one(2, 32000, 1, kEngineThreshold), many(2, 32000, 37, kEngineThreshold);
    Limiter odd(2, 32000, 7, kEngineThreshold);
    std::vector<float> a = run(one.l, x, 2, 1);
    EXPECT_EQ(a, run(many.l, x, 2, 37));
    EXPECT_EQ(a, run(odd.l, x, 2, 7));
}

TEST(LimiterThreshold, RangeChecks) {
    Limiter lim;
    // Out of range at setup: refused, yet set up, with the new handle's threshold 0.
    EXPECT_EQ(limiter_setup(lim.l, 1, 48000, 8, 1.0f), -1);
    std::vector<float> loud(8 * 40, 0.7f);
    std::vector<float> y = run(lim.l, loud, 1, 8);
    for (float v : y) EXPECT_EQ(v, 0.0f);

    ASSERT_EQ(limiter_setup(lim.l, 1, 48000, 8, 0.5f), 0);
    EXPECT_EQ(limiter_update(lim.l, -0.1f), -1);
    EXPECT_EQ(limiter_update(lim.l, 1.0f), -1);
    EXPECT_EQ(limiter_update(lim.l, std::nanf("")), -1);
    EXPECT_EQ(limiter_setup(lim.l, 1, 48000, 8, std::nanf("")), -1);
    // The refusals kept 0.5 (the setup refusal too).
    y = run(lim.l, loud, 1, 8);
    for (size_t t = kDelay; t < y.size(); ++t) EXPECT_LE(y[t], 0.5f);
    EXPECT_NEAR(y.back(), 0.5f, 1e-4f);
    EXPECT_EQ(limiter_update(lim.l, 0.9999999f), 0);
    EXPECT_EQ(limiter_setup(lim.l, 1, 48000, 8, 0.9999999f), 0);
    EXPECT_EQ(limiter_update(lim.l, 0.0f), 0);
}

TEST(LimiterThreshold, ZeroThresholdMutesAndRecovers) {
    // Silence at threshold 0 would ask for 0 / 0; the limiter mutes instead and
    // never produces NaN.
    Limiter lim(2, 48000, 16, 0.0f);
    std::vector<float> silence(2 * 16 * 10, 0.0f);
    std::vector<float> y = run(lim.l, silence, 2, 16);
    for (float v : y) EXPECT_EQ(v, 0.0f);
    std::vector<float> loud(2 * 16 * 10, 0.8f);
    y = run(lim.l, loud, 2, 16);
    for (float v : y) EXPECT_EQ(v, 0.0f);

    // Raised again: the gain releases from 0 and stays below the threshold.
    ASSERT_EQ(limiter_update(lim.l, 0.5f), 0);
    std::vector<float> quiet(2 * 16 * 600, 0.25f);
    y = run(lim.l, quiet, 2, 16);
    for (float v : y) {
        ASSERT_TRUE(std::isfinite(v));
        EXPECT_LE(v, 0.5f);
    }
    EXPECT_NEAR(y.back(), 0.25f, 1e-3f);

    // Lowered to 0 in mid-stream: silence from the next frame on.
    ASSERT_EQ(limiter_update(lim.l, 0.0f), 0);
    y = run(lim.l, quiet, 2, 16);
    for (float v : y) EXPECT_EQ(v, 0.0f);
}

TEST(LimiterState, FlushRestartsAndBypassKeepsItsOwnHistory) {
    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    std::vector<float> a = bursts(rng, 16 * 30, 2, 5.0f);
    std::vector<float> b = bursts(rng, 16 * 30, 2, 5.0f);

    // Flush: the next output is the same as a fresh limiter's, 31 silent frames first.
    Limiter used(2, 48000, 16, kEngineThreshold), fresh(2, 48000, 16, kEngineThreshold);
    run(used.l, a, 2, 16);
    ASSERT_EQ(limiter_flush(used.l), 0);
    std::vector<float> after_flush = run(used.l, b, 2, 16);
    EXPECT_EQ(after_flush, run(fresh.l, b, 2, 16));
    for (size_t i = 0; i < 2 * kDelay; ++i) EXPECT_EQ(after_flush[i], 0.0f);

    // Bypass: a plain 31-frame delay that leaves the limiter's state alone.
    Limiter with_bypass(2, 48000, 16, kEngineThreshold), without(2, 48000, 16, kEngineThreshold);
    std::vector<float> first = run(with_bypass.l, a, 2, 16);
    EXPECT_EQ(first, run(without.l, a, 2, 16));
    std::vector<float> passed(b.size());
    for (size_t i = 0; i < b.size(); i += 32) ASSERT_EQ(limiter_bypass(with_bypass.l, b.data() + i, passed.data() + i), 0);
    EXPECT_EQ(passed, delayed(b, 2));
    EXPECT_EQ(run(with_bypass.l, b, 2, 16), run(without.l, b, 2, 16));

    // In place equals out of place.
    Limiter in_place(2, 48000, 16, kEngineThreshold), copy(2, 48000, 16, kEngineThreshold);
    std::vector<float> data = a;
    for (size_t i = 0; i < data.size(); i += 32) ASSERT_EQ(limiter_process_inplace(in_place.l, data.data() + i), 0);
    EXPECT_EQ(data, run(copy.l, a, 2, 16));
}

TEST(LimiterState, ResultCodesAndLifeCycle) {
    EXPECT_EQ(limiter_create(nullptr), -1);
    EXPECT_EQ(limiter_destroy(nullptr), -1);
    limiter_state *none = nullptr;
    EXPECT_EQ(limiter_destroy(&none), -1);

    Limiter lim;
    limiter_state *held = lim.l;
    EXPECT_EQ(limiter_create(&lim.l), -1);
    EXPECT_EQ(lim.l, held);

    float buf[64] = {0};
    uint32_t n = 0;
    EXPECT_EQ(limiter_update(lim.l, 0.5f), 9);
    EXPECT_EQ(limiter_process(lim.l, buf, buf), 9);
    EXPECT_EQ(limiter_process_inplace(lim.l, buf), 9);
    EXPECT_EQ(limiter_bypass(lim.l, buf, buf), 9);
    EXPECT_EQ(limiter_delay_sample_count(lim.l, &n), 9);
    EXPECT_EQ(limiter_flush(lim.l), 9);
    EXPECT_EQ(limiter_reset(lim.l), 9);
    EXPECT_EQ(limiter_update(nullptr, 0.5f), -1);
    EXPECT_EQ(limiter_process(nullptr, buf, buf), -1);
    EXPECT_EQ(limiter_delay_sample_count(nullptr, &n), -1);

    EXPECT_EQ(limiter_setup(nullptr, 1, 48000, 8, 0.5f), -1);
    EXPECT_EQ(limiter_setup(lim.l, 0, 48000, 8, 0.5f), 1);
    EXPECT_EQ(limiter_setup(lim.l, 1, 0, 8, 0.5f), 3);
    EXPECT_EQ(limiter_setup(lim.l, 1, 48000, 0, 0.5f), 4);
    EXPECT_EQ(limiter_setup(lim.l, 0x10000u, 48000, 0x10000u, 0.5f), -1) << "line too long to address";
    EXPECT_EQ(limiter_update(lim.l, 0.5f), 9) << "refused setups leave it not set up";

    ASSERT_EQ(limiter_setup(lim.l, 2, 48000, 8, 0.5f), 0);
    EXPECT_EQ(limiter_process(lim.l, nullptr, buf), -1);
    // Setup again with other sizes replaces the arrays.
    ASSERT_EQ(limiter_setup(lim.l, 4, 16000, 16, 0.5f), 0);
    EXPECT_EQ(limiter_process_inplace(lim.l, buf), 0);
    EXPECT_EQ(limiter_reset(lim.l), 0);
    EXPECT_EQ(limiter_process_inplace(lim.l, buf), 9);
    ASSERT_EQ(limiter_setup(lim.l, 1, 48000, 8, 0.5f), 0);

    // Destroy works in every state.
    limiter_state *created = nullptr, *reset = nullptr;
    ASSERT_EQ(limiter_create(&created), 0);
    EXPECT_EQ(limiter_destroy(&created), 0);
    EXPECT_EQ(created, nullptr);
    ASSERT_EQ(limiter_create(&reset), 0);
    ASSERT_EQ(limiter_setup(reset, 1, 48000, 8, 0.5f), 0);
    ASSERT_EQ(limiter_reset(reset), 0);
    EXPECT_EQ(limiter_destroy(&reset), 0);
}
