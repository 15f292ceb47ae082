// Shared helpers of the network operator tests: seeded random data,
// poisoned output buffers with guard values, and the instruction-set
// fixture that runs a test once per available set of inner loops.
#ifndef CALYX_TESTS_NN_OPS_UTIL_H
#define CALYX_TESTS_NN_OPS_UTIL_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "nn/nn_simd.h"

namespace nn_test {

// Seed of every random test; CALYX_SEED=<n> replays another one.
inline uint32_t seed() {
    const char *s = std::getenv("CALYX_SEED");
    return s ? static_cast<uint32_t>(std::strtoul(s, nullptr, 10)) : 20261208u;
}

inline std::string seed_note() { return "replay with CALYX_SEED=" + std::to_string(seed()); }

inline std::vector<float> random_vec(std::mt19937 &rng, size_t n, float lo = -1.0f,
                                     float hi = 1.0f) {
    std::uniform_real_distribution<float> d(lo, hi);
    std::vector<float> v(n);
    for (auto &x : v) x = d(rng);
    return v;
}

const size_t kGuard = 16;
const float kGuardValue = 12345.678f;

// Output buffer of n floats filled with NaN, followed by guard values that
// must survive the call.
struct Poisoned {
    std::vector<float> buf;
    explicit Poisoned(size_t n) : buf(n + kGuard, std::numeric_limits<float>::quiet_NaN()) {
        for (size_t i = n; i < n + kGuard; ++i) buf[i] = kGuardValue;
    }
    float *data() { return buf.data(); }
    float operator[](size_t i) const { return buf[i]; }
    size_t size() const { return buf.size() - kGuard; }
    bool guards_intact() const {
        for (size_t i = size(); i < buf.size(); ++i)
            if (buf[i] != kGuardValue) return false;
        return true;
    }
};

// |got - ref| within float rounding of a sum whose terms have absolute sum
// `mag`.
inline bool close(double got, double ref, double mag) {
    return std::fabs(got - ref) <= 2e-6 * mag + 1e-6;
}

inline const char *isa_name(calyx_nn::kernel_isa isa) {
    switch (isa) {
    case calyx_nn::isa_scalar: return "scalar";
    case calyx_nn::isa_vec4: return "vec4";
    case calyx_nn::isa_avx2: return "avx2";
    default: return "?";
    }
}

// Runs each test once per instruction set this build and CPU offer; the
// operators pick up the selected set.
class PerIsa : public ::testing::TestWithParam<calyx_nn::kernel_isa> {
protected:
    void SetUp() override {
        if (!calyx_nn::select_kernels(GetParam()))
            GTEST_SKIP() << isa_name(GetParam()) << " not available here";
    }
    void TearDown() override {
        for (int i = calyx_nn::isa_count - 1; i >= 0; --i)
            if (calyx_nn::select_kernels(static_cast<calyx_nn::kernel_isa>(i))) break;
    }
};

inline std::string isa_param_name(const ::testing::TestParamInfo<calyx_nn::kernel_isa> &info) {
    return isa_name(info.param);
}

#define CALYX_INSTANTIATE_PER_ISA(suite)                                                      \
    INSTANTIATE_TEST_SUITE_P(Isa, suite,                                                     \
                             ::testing::Values(calyx_nn::isa_scalar, calyx_nn::isa_vec4,     \
                                               calyx_nn::isa_avx2),                          \
                             nn_test::isa_param_name)

}  // namespace nn_test

#endif  // CALYX_TESTS_NN_OPS_UTIL_H
