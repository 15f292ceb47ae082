// ERB band mapping: band layouts, band levels against direct means, refusal of
// layouts that do not fit, and the handle life cycle.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/erb.h"
#include "test_seed.h"

namespace {

struct Erb {
    erb_state *s = nullptr;
    Erb() { EXPECT_EQ(erb_create(&s), 0); }
    ~Erb() {
        if (s != nullptr) erb_destroy(&s);
    }
};

float level_of_mean(long double mean) { return static_cast<float>(10.0L * std::log10(mean + 1e-10L)); }

// Band of every bin, found by lighting one bin at a time: only the band that
// holds it rises above the -100 dB floor.
std::vector<int> band_of_each_bin(erb_state *s, int bins, int bands) {
    std::vector<int> owner(bins, -1);
    std::vector<double> power(bins, 0.0);
    std::vector<float> levels(bands);
    for (int k = 0; k < bins; ++k) {
        power[k] = 1.0;
        EXPECT_EQ(erb_freq_forward(s, power.data(), levels.data()), 0);
        power[k] = 0.0;
        for (int b = 0; b < bands; ++b) {
            if (levels[b] > -100.0f) {
                EXPECT_EQ(owner[k], -1) << "bin " << k << " lies in two bands";
                owner[k] = b;
            }
        }
    }
    return owner;
}

// Start bin of each band; checks that the bands are contiguous and in order.
std::vector<int> band_starts(erb_state *s, int bins, int bands) {
    std::vector<int> owner = band_of_each_bin(s, bins, bands);
    std::vector<int> starts;
    for (int k = 0; k < bins; ++k) {
        EXPECT_GE(owner[k], 0) << "bin " << k << " lies in no band";
        if (k == 0 || owner[k] != owner[k - 1]) {
            EXPECT_EQ(owner[k], static_cast<int>(starts.size())) << "bands out of order at bin " << k;
            starts.push_back(k);
        }
    }
    return starts;
}

// Levels from direct long double means over the given band starts.
std::vector<float> direct_levels(const std::vector<double> &power, const std::vector<int> &starts) {
    std::vector<float> out;
    for (size_t b = 0; b < starts.size(); ++b) {
        size_t end = b + 1 < starts.size() ? starts[b + 1] : power.size();
        long double sum = 0.0L;
        for (size_t k = starts[b]; k < end; ++k) sum += power[k];
        out.push_back(level_of_mean(sum / static_cast<long double>(end - starts[b])));
    }
    return out;
}

const std::vector<int> kStarts48000 = {0,  2,  4,  6,  8,  10, 12,  14,  16,  18,  20,  22,  24,  26,  31,  36,
                                       43, 50, 58, 68, 80, 93, 108, 126, 146, 170, 198, 229, 266, 308, 358, 414};
const std::vector<int> kStarts44100 = {0,  2,  4,  6,  8,  10, 12,  14,  16,  18,  20,  22,  24,  27,  32,  38,
                                       44, 52, 60, 71, 82, 96, 111, 129, 149, 173, 201, 232, 269, 311, 359, 415};

}  // namespace

TEST(ErbLayout, EngineLayoutsAt48000And44100) {
    for (unsigned rate : {48000u, 44100u}) {
        SCOPED_TRACE(rate);
        Erb erb;
        ASSERT_EQ(erb_setup(erb.s, rate, 481, 32), 0);
        EXPECT_EQ(band_starts(erb.s, 481, 32), rate == 48000 ? kStarts48000 : kStarts44100);
    }
}

TEST(ErbLevels, FlatZeroAndSingleBinSpectra) {
    Erb erb;
    ASSERT_EQ(erb_setup(erb.s, 48000, 481, 32), 0);
    std::vector<float> levels(32);
    for (double p : {0.0, 1e-7, 0.25, 1.0, 3.5e4}) {
        SCOPED_TRACE(p);
        std::vector<double> power(481, p);
        ASSERT_EQ(erb_freq_forward(erb.s, power.data(), levels.data()), 0);
        for (int b = 0; b < 32; ++b) {
            if (p == 0.0)
                EXPECT_EQ(levels[b], -100.0f) << "band " << b;
            else
                EXPECT_NEAR(levels[b], 10.0 * std::log10(p + 1e-10), 1e-4) << "band " << b;
        }
    }
    std::vector<double> power(481, 0.0);
    power[0] = 2.0;  // band 0 has two bins
    ASSERT_EQ(erb_freq_forward(erb.s, power.data(), levels.data()), 0);
    EXPECT_NEAR(levels[0], 0.0f, 1e-5);
    for (int b = 1; b < 32; ++b) EXPECT_EQ(levels[b], -100.0f);
    power[0] = 0.0;
    power[480] = 67.0;  // band 31 has 67 bins
    ASSERT_EQ(erb_freq_forward(erb.s, power.data(), levels.data()), 0);
    EXPECT_NEAR(levels[31], 0.0f, 1e-5);
    for (int b = 0; b < 31; ++b) EXPECT_EQ(levels[b], -100.0f);
}

TEST(ErbLevels, RandomSpectraMatchDirectBandMeans) {
    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    struct Case { unsigned rate; int bins, bands; };
    // Bin counts with every remainder modulo 16 that the layouts below reach.
    for (Case c : {Case{48000, 481, 32}, Case{44100, 481, 32}, Case{16000, 257, 20}, Case{8000, 17, 4},
                   Case{96000, 1024, 48}, Case{22050, 30, 1}}) {
        SCOPED_TRACE(c.bins);
        Erb erb;
        ASSERT_EQ(erb_setup(erb.s, c.rate, c.bins, c.bands), 0);
        std::vector<int> starts = band_starts(erb.s, c.bins, c.bands);
        ASSERT_EQ(static_cast<int>(starts.size()), c.bands);
        std::uniform_real_distribution<double> decade(-9.0, 3.0);
        std::vector<double> power(c.bins);
        std::vector<float> levels(c.bands);
        for (int trial = 0; trial < 20; ++trial) {
            for (double &p : power) p = std::pow(10.0, decade(rng));
            ASSERT_EQ(erb_freq_forward(erb.s, power.data(), levels.data()), 0);
            std::vector<float> want = direct_levels(power, starts);
            for (int b = 0; b < c.bands; ++b) EXPECT_NEAR(levels[b], want[b], 1e-4) << "band " << b;
        }
    }
}

TEST(ErbLayout, LayoutsThatDoNotFitAreRefused) {
    Erb erb;
    ASSERT_EQ(erb_setup(erb.s, 48000, 481, 32), 0);
    // 481 bins cannot hold 300 bands of at least two bins.
    EXPECT_EQ(erb_setup(erb.s, 48000, 481, 300), -1);
    EXPECT_EQ(erb_setup(erb.s, 48000, 1, 2), -1);
    EXPECT_EQ(erb_setup(erb.s, 48000, 0, 2), -1);
    // The refused calls left the earlier layout in place.
    EXPECT_EQ(band_starts(erb.s, 481, 32), kStarts48000);

    // Every band count a small spectrum accepts gives a whole, in-bounds layout
    // (the sanitizer build watches the weight arrays).
    for (int bands = 1; bands <= 40; ++bands) {
        Erb small;
        int rc = erb_setup(small.s, 16000, 40, bands);
        // 20 two-bin bands fill 40 bins; a 21st last band is left empty.
        if (bands > 21) {
            EXPECT_EQ(rc, -1) << bands << " bands cannot fit in 40 bins";
        } else {
            EXPECT_EQ(rc, 0) << bands;
        }
        if (rc != 0) continue;
        std::vector<int> owner = band_of_each_bin(small.s, 40, bands);
        for (int k = 0; k < 40; ++k) EXPECT_GE(owner[k], 0) << bands << " bands, bin " << k;
    }
}

TEST(ErbLayout, RepeatedSetupMatchesAFreshState) {
    const uint32_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    Erb reused;
    ASSERT_EQ(erb_setup(reused.s, 48000, 481, 32), 0);
    struct Case { unsigned rate; int bins, bands; };
    // Smaller, then larger than the first setup: no bin keeps an old weight and
    // the storage grows as needed.
    for (Case c : {Case{16000, 161, 16}, Case{96000, 1025, 48}, Case{48000, 481, 32}}) {
        SCOPED_TRACE(c.bins);
        Erb fresh;
        ASSERT_EQ(erb_setup(fresh.s, c.rate, c.bins, c.bands), 0);
        ASSERT_EQ(erb_setup(reused.s, c.rate, c.bins, c.bands), 0);
        std::vector<double> power(c.bins);
        for (double &p : power) p = dist(rng);
        std::vector<float> a(c.bands), b(c.bands);
        ASSERT_EQ(erb_freq_forward(fresh.s, power.data(), a.data()), 0);
        ASSERT_EQ(erb_freq_forward(reused.s, power.data(), b.data()), 0);
        EXPECT_EQ(a, b);
    }
}

TEST(ErbLifecycle, ArgumentsAndStates) {
    EXPECT_EQ(erb_create(nullptr), -1);
    EXPECT_EQ(erb_destroy(nullptr), -1);
    erb_state *none = nullptr;
    EXPECT_EQ(erb_destroy(&none), -1);

    Erb erb;
    erb_state *held = erb.s;
    EXPECT_EQ(erb_create(&erb.s), -1);
    EXPECT_EQ(erb.s, held);

    std::vector<double> power(481, 1.0);
    std::vector<float> levels(32, 7.0f);
    EXPECT_EQ(erb_freq_forward(erb.s, power.data(), levels.data()), -1) << "not set up";
    EXPECT_EQ(erb_setup(nullptr, 48000, 481, 32), -1);
    EXPECT_EQ(erb_setup(erb.s, 0, 481, 32), -1);
    EXPECT_EQ(erb_setup(erb.s, 48000, -1, 32), -1);
    EXPECT_EQ(erb_setup(erb.s, 48000, 481, -1), -1);
    ASSERT_EQ(erb_setup(erb.s, 48000, 481, 32), 0);
    EXPECT_EQ(erb_freq_forward(nullptr, power.data(), levels.data()), -1);
    EXPECT_EQ(erb_freq_forward(erb.s, nullptr, levels.data()), -1);
    EXPECT_EQ(erb_freq_forward(erb.s, power.data(), nullptr), -1);

    // No bands: nothing to write. One band over no bins: the floor.
    ASSERT_EQ(erb_setup(erb.s, 48000, 481, 0), 0);
    EXPECT_EQ(erb_freq_forward(erb.s, power.data(), levels.data()), 0);
    EXPECT_EQ(levels[0], 7.0f);
    ASSERT_EQ(erb_setup(erb.s, 48000, 0, 1), 0);
    EXPECT_EQ(erb_freq_forward(erb.s, power.data(), levels.data()), 0);
    EXPECT_EQ(levels[0], -100.0f);

    // A state that was never set up is released on its own.
    erb_state *bare = nullptr;
    ASSERT_EQ(erb_create(&bare), 0);
    EXPECT_EQ(erb_destroy(&bare), 0);
    EXPECT_EQ(bare, nullptr);
}
