// The fixed end-to-end probe inside one build: it is deterministic, it
// exercises the network (the output is not the input), and the scalar and
// vector network kernels give the same audio up to rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine_probe.h"
#include "nn_simd.h"

namespace {

// Same bound as the cross-architecture comparison in tools/run_matrix.sh:
// -80 dB re full scale, far below audibility yet far above float rounding
// (a wrong lane or a dropped tap moves samples by 1e-2 or more).
constexpr double kBound = 1e-4;

const std::vector<float> &probe() {
    static const std::vector<float> out = engine_probe::run();
    return out;
}

TEST(EngineProbe, DeterministicFiniteAndProcessed) {
    const std::vector<float> &a = probe();
    ASSERT_EQ(a.size(), 48000u + 44100u + 16000u);
    const std::vector<float> b = engine_probe::run();
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));

    // Random weights change the signal: compare with the input at the
    // 48 kHz configuration's delay (three hops plus the limiter's 31).
    const std::vector<float> in = engine_probe::make_input(11, 48000);
    double energy = 0.0, diff = 0.0;
    for (size_t i = 1471; i < 48000; ++i) {
        ASSERT_TRUE(std::isfinite(a[i])) << i;
        energy += a[i] * static_cast<double>(a[i]);
        diff += std::fabs(a[i] - in[i - 1471]);
    }
    EXPECT_GT(energy, 1e-3);
    EXPECT_GT(diff, 1.0);
}

TEST(EngineProbe, ScalarNetworkKernelsAgreeWithActiveSet) {
    using namespace calyx_nn;
    const kernel_set &active = active_kernels();
    ASSERT_TRUE(select_kernels(isa_scalar));
    const std::vector<float> scalar = engine_probe::run();
    // Back to the set the process started with.
    for (int i = isa_count - 1; i >= 0; --i) {
        const kernel_set *k = kernels_for(static_cast<kernel_isa>(i));
        if (k == &active) {
            ASSERT_TRUE(select_kernels(static_cast<kernel_isa>(i)));
        }
    }
    ASSERT_EQ(&active, &active_kernels());
    SCOPED_TRACE(active.name);
    EXPECT_LE(engine_probe::max_abs_diff(probe(), scalar), kBound);
}

TEST(EngineProbe, RawFilesRoundTripAndRejectTruncation) {
    const std::vector<float> v = {0.0f, -1.5f, 3.25e-7f, 1.0f};
    const std::string path = testing::TempDir() + "calyx_probe_roundtrip.raw";
    ASSERT_TRUE(engine_probe::write_raw(path, v));
    std::vector<float> back;
    ASSERT_TRUE(engine_probe::read_raw(path, &back));
    EXPECT_EQ(v, back);
    FILE *f = std::fopen(path.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    std::fputc(0, f);
    std::fclose(f);
    EXPECT_FALSE(engine_probe::read_raw(path, &back));
    std::remove(path.c_str());
    EXPECT_TRUE(std::isinf(engine_probe::max_abs_diff(v, {0.0f})));
    EXPECT_TRUE(std::isinf(engine_probe::max_abs_diff({NAN}, {0.0f})));
}

}  // namespace
