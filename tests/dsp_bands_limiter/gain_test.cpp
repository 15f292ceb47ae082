// Ramped gain: the ramp examples, flat blocks, continuity across blocks and
// the handle life cycle.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/gain.h"
#include "test_seed.h"

namespace {

struct Gain {
    gain_state *g = nullptr;
    Gain() { EXPECT_EQ(gain_create(&g), 0); }
    Gain(uint32_t channels, uint32_t frames, uint32_t ramp) : Gain() {
        EXPECT_EQ(gain_setup(g, channels, frames, ramp), 0);
    }
    ~Gain() {
        if (g != nullptr) gain_destroy(&g);
    }
};

// Per-frame factors of one block, read back from a block of ones.
std::vector<float> factors(gain_state *g, uint32_t channels, uint32_t frames) {
    std::vector<float> block(static_cast<size_t>(channels) * frames, 1.0f);
    EXPECT_EQ(gain_process_inplace(g, block.data()), 0);
    std::vector<float> per_frame(frames);
    for (uint32_t f = 0; f < frames; ++f) {
        per_frame[f] = block[static_cast<size_t>(f) * channels];
        for (uint32_t c = 1; c < channels; ++c) EXPECT_EQ(block[static_cast<size_t>(f) * channels + c], per_frame[f]);
    }
    return per_frame;
}

}  // namespace

TEST(GainRamp, ExamplesOfTheRampRule) {
    Gain gain(1, 4, 1);
    // The first block uses the target flat, even with ramping on.
    ASSERT_EQ(gain_update(gain.g, 0.25f), 0);
    EXPECT_EQ(factors(gain.g, 1, 4), (std::vector<float>{0.25f, 0.25f, 0.25f, 0.25f}));
    ASSERT_EQ(gain_update(gain.g, 1.0f), 0);
    EXPECT_EQ(factors(gain.g, 1, 4), (std::vector<float>{0.25f, 0.4375f, 0.625f, 0.8125f}));
    // From 1 to 0: 1, 0.75, 0.5, 0.25, and the next block reaches 0.
    EXPECT_EQ(factors(gain.g, 1, 4), (std::vector<float>{1.0f, 1.0f, 1.0f, 1.0f}));
    ASSERT_EQ(gain_update(gain.g, 0.0f), 0);
    EXPECT_EQ(factors(gain.g, 1, 4), (std::vector<float>{1.0f, 0.75f, 0.5f, 0.25f}));
    EXPECT_EQ(factors(gain.g, 1, 4), (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f}));
    // An update to the value in effect keeps the block flat.
    ASSERT_EQ(gain_update(gain.g, 0.0f), 0);
    EXPECT_EQ(factors(gain.g, 1, 4), (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f}));
    // After a flush the next block jumps to the target.
    ASSERT_EQ(gain_update(gain.g, 0.5f), 0);
    ASSERT_EQ(gain_flush(gain.g), 0);
    EXPECT_EQ(factors(gain.g, 1, 4), (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f}));
}

TEST(GainRamp, RampOffAppliesChangesAtOnce) {
    Gain gain(2, 8, 0);
    EXPECT_EQ(factors(gain.g, 2, 8), std::vector<float>(8, 1.0f));
    ASSERT_EQ(gain_update(gain.g, -0.3f), 0);
    EXPECT_EQ(factors(gain.g, 2, 8), std::vector<float>(8, -0.3f));
}

TEST(GainRamp, EngineSizedRampsAreStraightAndJoinUp) {
    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> level(0.0f, 1.0f);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    Gain gain(2, 480, 1);
    float previous = 1.0f;
    bool first = true;
    for (int block = 0; block < 40; ++block) {
        const float target = block % 3 == 0 ? previous : level(rng);
        ASSERT_EQ(gain_update(gain.g, target), 0);
        std::vector<float> in(960), out(960, std::nanf(""));
        for (float &v : in) v = sample(rng);
        ASSERT_EQ(gain_process(gain.g, in.data(), out.data()), 0);
        const float start = first ? target : previous;
        for (uint32_t f = 0; f < 480; ++f) {
            const double want = start + (static_cast<double>(target) - start) * f / 480.0;
            for (uint32_t c = 0; c < 2; ++c) {
                const float x = in[2 * f + c];
                EXPECT_NEAR(out[2 * f + c], x * want, 1e-6) << "block " << block << " frame " << f;
            }
        }
        previous = target;
        first = false;
    }
}

TEST(GainLifecycle, ResultCodes) {
    EXPECT_EQ(gain_create(nullptr), -1);
    EXPECT_EQ(gain_destroy(nullptr), -1);
    gain_state *none = nullptr;
    EXPECT_EQ(gain_destroy(&none), -1);

    Gain gain;
    gain_state *held = gain.g;
    EXPECT_EQ(gain_create(&gain.g), -1);
    EXPECT_EQ(gain.g, held);

    float buf[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(gain_update(gain.g, 0.5f), 9);
    EXPECT_EQ(gain_process(gain.g, buf, buf), 9);
    EXPECT_EQ(gain_process_inplace(gain.g, buf), 9);
    EXPECT_EQ(gain_flush(gain.g), 9);
    EXPECT_EQ(gain_reset(gain.g), 9);
    EXPECT_EQ(gain_update(nullptr, 0.5f), -1);
    EXPECT_EQ(gain_process(nullptr, buf, buf), -1);
    EXPECT_EQ(gain_setup(nullptr, 1, 4, 1), -1);
    EXPECT_EQ(gain_setup(gain.g, 0, 4, 1), 1);
    EXPECT_EQ(gain_setup(gain.g, 1, 0, 1), 4);
    EXPECT_EQ(gain_update(gain.g, 0.5f), 9) << "refused setups leave it not set up";

    ASSERT_EQ(gain_setup(gain.g, 2, 4, 1), 0);
    EXPECT_EQ(gain_process(gain.g, nullptr, buf), -1);
    ASSERT_EQ(gain_update(gain.g, 0.5f), 0);
    ASSERT_EQ(gain_process_inplace(gain.g, buf), 0);
    // Setup again restores target 1 and forgets the previous block.
    ASSERT_EQ(gain_setup(gain.g, 2, 4, 1), 0);
    EXPECT_EQ(factors(gain.g, 2, 4), std::vector<float>(4, 1.0f));
    EXPECT_EQ(gain_reset(gain.g), 0);
    EXPECT_EQ(gain_update(gain.g, 0.5f), 9);
}
