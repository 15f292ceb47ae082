// The network graph: transparent weights give exact unity outputs, random
// weights agree with a plain double-precision reference, and the state is
// the only memory (deterministic, per-stream, workspace never read stale).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model_state_buffers.h"
#include "nn/model.h"
#include "nn/params.h"
#include "reference_model.h"
#include "weight_sets.h"

namespace {

using calyx_weights::WeightSet;

struct TableDeleter {
    void operator()(param_record *t) const { destroy_params(t, calyx_weights::kRecordCount); }
};
using Table = std::unique_ptr<param_record, TableDeleter>;

Table load(const WeightSet &set) {
    const std::vector<unsigned char> b = calyx_weights::encode_blob(set);
    return Table(load_from_array(b.data(), int32_t(b.size()), calyx_weights::kRecordCount));
}

// Seeded feature frames: band levels around the normalised range, spectrum
// values of either sign.
struct Frames {
    std::vector<float> band, spec;
    int count;
    Frames(int n, uint32_t seed, float scale = 1.0f) : band(size_t(32 * n)), spec(size_t(192 * n)), count(n) {
        uint32_t s = seed;
        auto next = [&s, scale] {
            s = s * 1664525u + 1013904223u;
            return scale * (float(int32_t(s >> 8) - (1 << 23)) / float(1 << 23));
        };
        for (float &v : band) v = next();
        for (float &v : spec) v = next();
    }
    const float *b(int i) const { return band.data() + 32 * i; }
    const float *s(int i) const { return spec.data() + 192 * i; }
};

struct Outputs {
    std::vector<float> gains = std::vector<float>(32), coefs = std::vector<float>(960);
    bool operator==(const Outputs &o) const {
        return std::memcmp(gains.data(), o.gains.data(), 32 * 4) == 0 &&
               std::memcmp(coefs.data(), o.coefs.data(), 960 * 4) == 0;
    }
};

Outputs run_frame(const Frames &f, int i, const param_record *p, model_state *s) {
    Outputs o;
    model(f.b(i), f.s(i), o.gains.data(), o.coefs.data(), p, s);
    return o;
}

std::vector<Outputs> run_all(const Frames &f, const param_record *p) {
    ModelStateBuffers state;
    std::vector<Outputs> out;
    for (int i = 0; i < f.count; ++i) out.push_back(run_frame(f, i, p, state.get()));
    return out;
}

void expect_transparent(const Outputs &o) {
    for (int b = 0; b < 32; ++b) ASSERT_EQ(o.gains[size_t(b)], 1.0f) << "band " << b;
    for (int t = 0; t < 5; ++t)
        for (int f = 0; f < 96; ++f) {
            const float re = o.coefs[size_t((t * 96 + f) * 2)], im = o.coefs[size_t((t * 96 + f) * 2 + 1)];
            ASSERT_EQ(re, t == 4 ? 1.0f : 0.0f) << "tap " << t << " bin " << f;
            ASSERT_EQ(im, 0.0f) << "tap " << t << " bin " << f;
        }
}

// ---------------------------------------------------------------------------

TEST(ModelTransparent, EmbeddedBlobIsTheGeneratedTransparentSet) {
    ASSERT_EQ(PARAMS_90_size, uint32_t(CALYX_PARAMS_90_BYTES));
    const std::vector<unsigned char> expected = calyx_weights::encode_blob(calyx_weights::transparent_set());
    ASSERT_EQ(expected.size(), size_t(CALYX_PARAMS_90_BYTES));
    EXPECT_EQ(std::memcmp(PARAMS_90, expected.data(), expected.size()), 0);
}

TEST(ModelTransparent, UnityGainsAndTapFourIdentityOnEveryFrame) {
    Table p(load_from_array(PARAMS_90, CALYX_PARAMS_90_BYTES, CALYX_PARAMS_90_COUNT));
    ASSERT_NE(p, nullptr);
    for (float scale : {1.0f, 1e-6f, 1e6f}) {
        SCOPED_TRACE("input scale " + std::to_string(scale));
        const Frames f(7, 101, scale);
        for (const Outputs &o : run_all(f, p.get())) expect_transparent(o);
    }
    // Silence as well (zero features, as after a quiet start).
    Frames zero(3, 1);
    std::fill(zero.band.begin(), zero.band.end(), 0.0f);
    std::fill(zero.spec.begin(), zero.spec.end(), 0.0f);
    for (const Outputs &o : run_all(zero, p.get())) expect_transparent(o);
}

// ---------------------------------------------------------------------------

// Frames 0 .. 7 cover the start (all-zero history), the filled three-frame
// windows and the filled five-frame deep-filter window.
TEST(ModelReference, RandomWeightsMatchThePlainReference) {
    for (uint64_t seed : {1u, 2u}) {
        SCOPED_TRACE("weight seed " + std::to_string(seed));
        const WeightSet set = calyx_weights::random_set(seed);
        Table p = load(set);
        ASSERT_NE(p, nullptr);
        ReferenceModel ref(set);
        ModelStateBuffers state;
        const Frames f(8, uint32_t(seed * 7919));
        std::vector<double> ref_gains, ref_coefs;
        double worst = 0.0;
        for (int i = 0; i < f.count; ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            const Outputs o = run_frame(f, i, p.get(), state.get());
            ref.run(f.b(i), f.s(i), ref_gains, ref_coefs);
            for (int b = 0; b < 32; ++b) {
                ASSERT_NEAR(o.gains[size_t(b)], ref_gains[size_t(b)], 5e-5) << "band " << b;
                worst = std::max(worst, std::fabs(o.gains[size_t(b)] - ref_gains[size_t(b)]));
            }
            for (int k = 0; k < 960; ++k) {
                ASSERT_NEAR(o.coefs[size_t(k)], ref_coefs[size_t(k)], 5e-5 * (1.0 + std::fabs(ref_coefs[size_t(k)]))) << "coef " << k;
                worst = std::max(worst, std::fabs(o.coefs[size_t(k)] - ref_coefs[size_t(k)]));
            }
        }
        // The random weights must actually exercise the network: outputs
        // vary from band to band and coefficients are not all zero.
        EXPECT_GT(std::fabs(ref_gains[0] - ref_gains[17]), 1e-3);
        double energy = 0.0;
        for (double c : ref_coefs) energy += c * c;
        EXPECT_GT(energy, 1.0);
        RecordProperty("worst_abs_error_seed_" + std::to_string(seed), std::to_string(worst));
    }
}

// ---------------------------------------------------------------------------

class ModelStreams : public testing::Test {
protected:
    void SetUp() override { p_ = load(calyx_weights::random_set(5)); ASSERT_NE(p_, nullptr); }
    Table p_;
};

TEST_F(ModelStreams, SameFramesGiveBitIdenticalOutputs) {
    const Frames f(9, 31);
    EXPECT_EQ(run_all(f, p_.get()), run_all(f, p_.get()));
}

TEST_F(ModelStreams, InterleavedStreamsDoNotInfluenceEachOther) {
    const Frames a(9, 41), other(9, 42);
    const std::vector<Outputs> alone = run_all(a, p_.get());
    ModelStateBuffers s1, s2, s3;
    for (int i = 0; i < a.count; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        // s2 sees the same frames as s1; s3, run in between, sees others.
        const Outputs o1 = run_frame(a, i, p_.get(), s1.get());
        run_frame(other, i, p_.get(), s3.get());
        const Outputs o2 = run_frame(a, i, p_.get(), s2.get());
        EXPECT_TRUE(o1 == alone[size_t(i)]);
        EXPECT_TRUE(o2 == alone[size_t(i)]);
    }
}

// Working buffers are rewritten before they are read: overwriting them
// between frames (NaN, huge values) leaves every output bit unchanged.
TEST_F(ModelStreams, WorkspaceContentsBetweenFramesDoNotMatter) {
    const Frames f(9, 51);
    const std::vector<Outputs> clean = run_all(f, p_.get());
    ModelStateBuffers state;
    for (int i = 0; i < f.count; ++i) {
        state.poison_workspace(i % 2 ? 1e30f : ModelStateBuffers::kNaN);
        EXPECT_TRUE(run_frame(f, i, p_.get(), state.get()) == clean[size_t(i)]) << "frame " << i;
    }
}

TEST_F(ModelStreams, RingPositionsAdvanceOncePerFrame) {
    const Frames f(9, 61);
    ModelStateBuffers state;
    for (int i = 0; i < f.count; ++i) {
        run_frame(f, i, p_.get(), state.get());
        EXPECT_EQ(state.get()->band_window_pos, uint32_t((i + 1) % 2));
        EXPECT_EQ(state.get()->spec_window_pos, uint32_t((i + 1) % 2));
        EXPECT_EQ(state.get()->df_window_pos, uint32_t((i + 1) % 4));
    }
}

TEST_F(ModelStreams, StagesCalledInOrderReproduceModel) {
    const Frames f(6, 71);
    const std::vector<Outputs> whole = run_all(f, p_.get());
    ModelStateBuffers state;
    for (int i = 0; i < f.count; ++i) {
        Outputs o;
        encoder_01(f.b(i), p_.get(), state.get());
        encoder_02(f.s(i), p_.get(), state.get());
        encoder_03(p_.get(), state.get());
        decoder_01(o.gains.data(), p_.get(), state.get());
        decoder_02(o.coefs.data(), p_.get(), state.get());
        EXPECT_TRUE(o == whole[size_t(i)]) << "frame " << i;
    }
}

// Output ranges hold for any weights: gains are sigmoids, each coefficient
// is a tanh plus a rectified value.
TEST_F(ModelStreams, OutputsStayInTheirRanges) {
    const Frames f(6, 81, 4.0f);
    for (const Outputs &o : run_all(f, p_.get())) {
        for (float g : o.gains) {
            EXPECT_GE(g, 0.0f);
            EXPECT_LE(g, 1.0f);
        }
        for (float c : o.coefs) {
            EXPECT_TRUE(std::isfinite(c));
            EXPECT_GE(c, -1.0f);
        }
    }
}

}  // namespace
