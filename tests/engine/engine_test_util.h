// Shared helpers of the engine tests: seeded test signals, delay-aligned
// comparisons, and a stream processor running on a chosen weight set.
#ifndef CALYX_TESTS_ENGINE_TEST_UTIL_H
#define CALYX_TESTS_ENGINE_TEST_UTIL_H

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "calyx_proc.h"
#include "params.h"
#include "weight_sets.h"

namespace engine_test {

constexpr uint32_t kLimiterDelay = 31;
constexpr uint32_t kFrameDelayHops = 3;

// Seed of the randomised cases; CALYX_SEED=<n> replays a failure.
inline uint32_t test_seed() {
    const char *s = std::getenv("CALYX_SEED");
    return s ? static_cast<uint32_t>(std::strtoul(s, nullptr, 10)) : 20261208u;
}

inline std::string seed_note() { return "replay with CALYX_SEED=" + std::to_string(test_seed()); }

inline uint32_t internal_rate_of(uint32_t rate) {
    return rate % 11025 == 0 ? 44100u : 48000u;
}

// Host samples per 10 ms internal hop.
inline uint32_t hop_of(uint32_t rate) {
    return static_cast<uint32_t>(static_cast<float>(rate) * 480.0f /
                                     static_cast<float>(internal_rate_of(rate)) +
                                 0.5f);
}

// A speech-band test signal: a few partials between 200 Hz and 3 kHz under a
// syllable-rate envelope, with a little seeded noise, peak about 0.5.
inline std::vector<float> speech_like(uint32_t rate, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const double f[] = {220.0, 470.0, 910.0, 1530.0, 2700.0};
    const double a[] = {0.16, 0.12, 0.08, 0.05, 0.03};
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double env = 0.6 + 0.4 * std::sin(2.0 * M_PI * 4.0 * t);
        double v = 0.0;
        for (int p = 0; p < 5; ++p) v += a[p] * std::sin(2.0 * M_PI * f[p] * t + p);
        x[i] = static_cast<float>(env * v + 0.002 * noise(rng));
    }
    return x;
}

// Normalised correlation of y[lag ...] with x[0 ...] over `count` samples
// starting at x[from].
inline double correlation_at(const std::vector<float> &x, const std::vector<float> &y,
                             size_t lag, size_t from, size_t count) {
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (size_t i = from; i < from + count; ++i) {
        const double a = x[i], b = y[i + lag];
        xy += a * b;
        xx += a * a;
        yy += b * b;
    }
    return (xx > 0.0 && yy > 0.0) ? xy / std::sqrt(xx * yy) : 0.0;
}

struct BestLag {
    size_t lag = 0;
    double corr = -2.0;
};

// The lag in [lo, hi] at which y follows x most closely.
inline BestLag best_lag(const std::vector<float> &x, const std::vector<float> &y, size_t lo,
                        size_t hi, size_t from, size_t count) {
    BestLag best;
    for (size_t lag = lo; lag <= hi; ++lag) {
        const double c = correlation_at(x, y, lag, from, count);
        if (c > best.corr) best = {lag, c};
    }
    return best;
}

inline bool all_finite(const std::vector<float> &v) {
    for (float s : v)
        if (!std::isfinite(s)) return false;
    return true;
}

// Weight-set variants that make the network's effect predictable.
// Encoded once per test program.
inline const std::vector<unsigned char> &transparent_weights() {
    static const std::vector<unsigned char> blob =
        calyx_weights::encode_blob(calyx_weights::transparent_set());
    return blob;
}

// Band gains of (almost exactly) zero: the enhanced path is silent, so the
// output is (1 - intensity) x the delayed input.
inline const std::vector<unsigned char> &muting_weights() {
    static const std::vector<unsigned char> blob = [] {
        calyx_weights::WeightSet set = calyx_weights::transparent_set();
        set[73][0] = -100.0f;  // bias of the band-gain sigmoid
        return calyx_weights::encode_blob(set);
    }();
    return blob;
}

// A stream processor on its own weight table.
class Proc {
public:
    Proc(const calyx_weights::WeightSet &set, uint32_t rate, uint32_t block_size)
        : Proc(calyx_weights::encode_blob(set), rate, block_size) {}
    Proc(const std::vector<unsigned char> &blob, uint32_t rate, uint32_t block_size) {
        params_ = load_from_array(blob.data(), static_cast<int32_t>(blob.size()), 90);
        rc_ = calyx_proc_setup(&proc_, 1, rate, internal_rate_of(rate), block_size, params_, 90);
    }
    ~Proc() {
        calyx_proc_destroy(&proc_);
        destroy_params(params_, 90);
    }
    Proc(const Proc &) = delete;
    Proc &operator=(const Proc &) = delete;

    int32_t setup_result() const { return rc_; }
    calyx_proc *get() { return &proc_; }
    void update(float intensity) { calyx_proc_update(&proc_, intensity); }
    // Runs `in` through in calls of `block` frames (the last may be shorter).
    std::vector<float> run(const std::vector<float> &in, size_t block) {
        std::vector<float> out(in.size());
        for (size_t pos = 0; pos < in.size(); pos += block) {
            const size_t n = std::min(block, in.size() - pos);
            calyx_proc_process(&proc_, in.data() + pos, out.data() + pos,
                               static_cast<uint32_t>(n));
        }
        return out;
    }

private:
    calyx_proc proc_{};
    param_record *params_ = nullptr;
    int32_t rc_ = -1;
};

}  // namespace engine_test

#endif  // CALYX_TESTS_ENGINE_TEST_UTIL_H
