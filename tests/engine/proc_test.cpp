// Stream and frame processor on their own weight tables: the state built at
// setup, the intensity blend, the spectrum-normalisation floor, and
// streaming invariance with a random (non-trivial) network.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/limiter.h"
#include "dsp/resampler.h"
#include "engine_test_util.h"
#include "frame_processor.h"

namespace {

using engine_test::hop_of;
using engine_test::internal_rate_of;
using engine_test::Proc;
using engine_test::speech_like;

constexpr uint32_t kRates[] = {8000,  11025, 16000, 22050,  24000,  32000, 44100,
                               48000, 64000, 88200, 96000, 176400, 192000};

TEST(StreamProcessor, HostHopPerRate) {
    const uint32_t expected[] = {80, 120, 160, 240, 240, 320, 480, 480, 640, 960, 960, 1920, 1920};
    for (size_t i = 0; i < 13; ++i) {
        Proc p(engine_test::transparent_weights(), kRates[i], 0);
        ASSERT_EQ(p.setup_result(), 0);
        uint32_t e = 0, in = 0, lat = 0;
        resampler_get_external_samples(p.get()->resampler, &e);
        resampler_get_internal_samples(p.get()->resampler, &in);
        calyx_proc_get_queue_latency(p.get(), &lat);
        EXPECT_EQ(e, expected[i]) << kRates[i];
        EXPECT_EQ(in, 480u) << kRates[i];
        EXPECT_EQ(lat, expected[i]) << kRates[i];  // free mode: one hop
    }
    Proc hop_block(engine_test::transparent_weights(), 8000, 80);
    uint32_t lat = 99;
    calyx_proc_get_queue_latency(hop_block.get(), &lat);
    EXPECT_EQ(lat, 0u);
}

TEST(StreamProcessor, InitialState) {
    Proc p(engine_test::transparent_weights(), 48000, 480);
    const calyx_proc *r = p.get();
    ASSERT_EQ(r->initialised, 1u);
    EXPECT_EQ(r->param_count, 90);
    EXPECT_EQ(r->intensity, 1.0f);
    EXPECT_EQ(r->dry_level, 0.0f);

    // Sine window over 961 points: distinct ends, overlap-add close to 1.
    for (int i = 0; i < 960; ++i)
        ASSERT_EQ(r->window[i], sinf(fmaf(static_cast<float>(i), static_cast<float>(M_PI / 961),
                                          static_cast<float>(M_PI / 1922))))
            << i;
    EXPECT_NEAR(r->window[0], 0.0016345, 1e-7);
    EXPECT_NEAR(r->window[959], 0.0049036, 1e-7);
    for (int i = 0; i < 480; ++i) {
        const float s = r->window[i] * r->window[i] + r->window[i + 480] * r->window[i + 480];
        ASSERT_GE(s, 1.0000027f - 1e-6f);
        ASSERT_LE(s, 1.0016345f + 1e-6f);
    }

    EXPECT_EQ(r->erb_norm[0], -60.0f);
    EXPECT_EQ(r->erb_norm[1], -60.967743f);
    EXPECT_EQ(r->erb_norm[31], -90.0f);
    EXPECT_EQ(r->spec_norm[0], 0.001f);
    EXPECT_EQ(r->spec_norm[95], 0.0001f);
    for (int k = 1; k < 96; ++k) ASSERT_LT(r->spec_norm[k], r->spec_norm[k - 1]);

    // One band per bin; contiguous bands, 2 bins at the bottom, 67 at the top.
    const int edges[] = {0,  2,  4,  6,  8,   10,  12,  14,  16,  18,  20,  22,  24,  26,  31,  36,  43,
                         50, 58, 68, 80, 93, 108, 126, 146, 170, 198, 229, 266, 308, 358, 414, 481};
    for (int b = 0; b < 32; ++b)
        for (int k = 0; k < 481; ++k) {
            const float want = (k >= edges[b] && k < edges[b + 1]) ? 1.0f : 0.0f;
            ASSERT_EQ(r->erb_matrix[k * 32 + b], want) << "bin " << k << " band " << b;
        }

    // The network's memory starts empty.
    EXPECT_EQ(r->model_state.band_window_pos + r->model_state.spec_window_pos +
                  r->model_state.df_window_pos,
              0u);
    for (int i = 0; i < 24576; ++i) ASSERT_EQ(r->model_state.df_ring[i], 0.0f);
    for (int i = 0; i < 512; ++i) ASSERT_EQ(r->model_state.df_gru_state[i], 0.0f);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(r->model_state.gru_scratch) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(r->spec) % 64, 0u);
}

TEST(StreamProcessor, UpdateSetsBothLevels) {
    Proc p(engine_test::transparent_weights(), 48000, 480);
    p.update(0.3f);
    EXPECT_EQ(p.get()->intensity, 0.3f);
    EXPECT_EQ(p.get()->dry_level, 1.0f - 0.3f);
}

TEST(StreamProcessor, MismatchedInternalRateIsRefused) {
    const std::vector<unsigned char> &blob = engine_test::transparent_weights();
    param_record *params = load_from_array(blob.data(), static_cast<int32_t>(blob.size()), 90);
    calyx_proc proc{};
    EXPECT_NE(calyx_proc_setup(&proc, 1, 44100, 48000, 480, params, 90), 0);
    EXPECT_EQ(proc.initialised, 0u);
    EXPECT_EQ(proc.queue, nullptr);
    EXPECT_NE(calyx_proc_setup(&proc, 1, 44000, 48000, 480, params, 90), 0);
    EXPECT_EQ(calyx_proc_destroy(&proc), 0);
    destroy_params(params, 90);
}

// Reference for intensity 0: resample in, delay three internal hops,
// resample out, limit; exactly what the dry path does.
std::vector<float> dry_reference(const std::vector<float> &in, uint32_t rate) {
    const uint32_t hop = hop_of(rate);
    resampler_state *rs = nullptr;
    limiter_state *lim = nullptr;
    resampler_create(&rs);
    resampler_setup(rs, 1, rate, hop, 1);
    limiter_create(&lim);
    limiter_setup(lim, 1, rate, hop, 0.99999f);
    std::vector<std::vector<float>> internal(3, std::vector<float>(480, 0.0f));
    std::vector<float> out(in.size());
    for (size_t pos = 0; pos + hop <= in.size(); pos += hop) {
        std::vector<float> cur(480);
        resampler_run_external_to_internal(rs, in.data() + pos, cur.data());
        internal.push_back(cur);
        resampler_run_internal_to_external(rs, internal[internal.size() - 4].data(), out.data() + pos);
        limiter_process_inplace(lim, out.data() + pos);
    }
    limiter_destroy(&lim);
    resampler_destroy(&rs);
    return out;
}

TEST(FrameProcessor, IntensityZeroIsTheResampledDelayedLimitedInput) {
    const std::vector<unsigned char> blob = calyx_weights::encode_blob(calyx_weights::random_set(3));
    for (uint32_t rate : {8000u, 22050u, 48000u, 64000u, 176400u}) {
        const uint32_t hop = hop_of(rate);
        Proc p(blob, rate, hop);
        p.update(0.0f);
        std::vector<float> in = speech_like(rate, hop * 40, rate);
        for (size_t i = hop * 20; i < hop * 22; ++i) in[i] *= 3.0f;  // make the limiter work
        const std::vector<float> out = p.run(in, hop);
        const std::vector<float> ref = dry_reference(in, rate);
        EXPECT_EQ(0, std::memcmp(out.data(), ref.data(), out.size() * sizeof(float))) << rate;
    }
}

TEST(FrameProcessor, IntensityOneDropsTheDryPath) {
    // Muted network: the enhanced path is silent, so anything heard is dry.
    Proc p(engine_test::muting_weights(), 48000, 480);
    const std::vector<float> in = speech_like(48000, 480 * 30, 2);
    const std::vector<float> out = p.run(in, 480);
    for (float v : out) ASSERT_LT(std::fabs(v), 1e-30f);
}

TEST(FrameProcessor, IntensityChangesRampOverOneHopWithoutClicks) {
    // Muted network: output = dry gain x the input 1471 samples earlier.
    const size_t delay = 1440 + 31;
    Proc p(engine_test::muting_weights(), 48000, 480);
    const std::vector<float> in = speech_like(48000, 480 * 40, 4);
    std::vector<float> out(in.size());
    std::vector<float> expected_gain(in.size(), 0.0f);
    // Intensity per hop, set before processing that hop.
    std::vector<float> intensity(40, 1.0f);
    for (size_t h = 10; h < 20; ++h) intensity[h] = 0.0f;
    for (size_t h = 20; h < 30; ++h) intensity[h] = 0.6f;
    float current = 1.0f;
    for (size_t h = 0; h < 40; ++h) {
        p.update(intensity[h]);
        calyx_proc_process(p.get(), in.data() + h * 480, out.data() + h * 480, 480);
        // The dry gain moves from 1 - old to 1 - new across this hop's
        // samples; it acts on the hop written three calls earlier, which
        // leaves the engine 31 samples late.
        const float from = 1.0f - current, to = 1.0f - intensity[h];
        for (size_t i = 0; i < 480; ++i) {
            const size_t n = h * 480 + i + 31;
            if (n < expected_gain.size())
                expected_gain[n] = from + (to - from) * static_cast<float>(i) / 480.0f;
        }
        current = intensity[h];
    }
    float max_step = 0.0f;
    for (size_t n = delay; n < out.size(); ++n) {
        const float want = expected_gain[n] * in[n - delay];
        ASSERT_NEAR(out[n], want, 1e-6f) << "sample " << n;
        max_step = std::max(max_step, std::fabs(out[n] - out[n - 1]));
    }
    // No step larger than the input's own largest step.
    float in_step = 0.0f;
    for (size_t n = 1; n < in.size(); ++n) in_step = std::max(in_step, std::fabs(in[n] - in[n - 1]));
    EXPECT_LE(max_step, in_step * 1.01f);
}

TEST(FrameProcessor, FirstTwoHopsAreSilentWhateverTheNetwork) {
    Proc p(calyx_weights::random_set(17), 48000, 480);
    const std::vector<float> in = speech_like(48000, 480 * 8, 6);
    const std::vector<float> out = p.run(in, 480);
    for (size_t i = 0; i < 2 * 480 + 31; ++i) ASSERT_EQ(out[i], 0.0f) << i;
    EXPECT_TRUE(engine_test::all_finite(out));
}

TEST(FrameProcessor, SilentMeansDecayOntoTheFloorAndStay) {
    // Start where some 15 s of digital silence bring the magnitude means;
    // they shrink by 0.99 per hop until the floor holds them, and the
    // features stay finite throughout.
    Proc p(calyx_weights::random_set(5), 8000, 0);
    calyx_proc *r = p.get();
    for (int k = 0; k < 96; ++k) r->spec_norm[k] = 2e-8f;
    const std::vector<float> silence(80, 0.0f);
    std::vector<float> out(80);
    float previous = r->spec_norm[0];
    for (int hop = 0; hop < 100; ++hop) {
        calyx_proc_process(r, silence.data(), out.data(), 80);
        for (float v : out) ASSERT_EQ(v, 0.0f);
        const float now = r->spec_norm[0];
        ASSERT_GE(now, kSpecNormFloor);
        if (previous > kSpecNormFloor) {
            ASSERT_LT(now, previous);
        }
        previous = now;
    }
    for (int k = 0; k < 96; ++k) ASSERT_EQ(r->spec_norm[k], kSpecNormFloor) << k;
    for (int k = 0; k < 192; ++k) ASSERT_TRUE(std::isfinite(r->spec_feat[k]));
    // Sound after the silence is handled normally.
    EXPECT_TRUE(engine_test::all_finite(p.run(speech_like(8000, 80 * 20, 9), 80)));
    for (int k = 0; k < 192; ++k) ASSERT_TRUE(std::isfinite(r->spec_feat[k]));
}

TEST(FrameProcessor, RandomBlockSplitsMatchHopBlocksExactly) {
    // Free mode delays by exactly one hop more than block mode with the hop
    // as block size; the frame processor sees the same hops either way.
    std::mt19937 rng(engine_test::test_seed());
    for (uint32_t rate : {16000u, 48000u}) {
        SCOPED_TRACE(engine_test::seed_note());
        const uint32_t hop = hop_of(rate);
        const std::vector<float> in = speech_like(rate, hop * 30, 12);
        Proc fixed(calyx_weights::random_set(99), rate, hop);
        Proc free_mode(calyx_weights::random_set(99), rate, 0);
        const std::vector<float> a = fixed.run(in, hop);
        std::vector<float> b(in.size());
        std::uniform_int_distribution<size_t> size(0, 2 * hop + 7);
        for (size_t pos = 0; pos < in.size();) {
            const size_t n = std::min(size(rng), in.size() - pos);
            calyx_proc_process(free_mode.get(), in.data() + pos, b.data() + pos, static_cast<uint32_t>(n));
            pos += n;
        }
        ASSERT_TRUE(engine_test::all_finite(a));
        for (size_t i = 0; i < hop; ++i) ASSERT_EQ(b[i], 0.0f);
        EXPECT_EQ(0, std::memcmp(a.data(), b.data() + hop, (in.size() - hop) * sizeof(float))) << rate;
    }
}

}  // namespace
