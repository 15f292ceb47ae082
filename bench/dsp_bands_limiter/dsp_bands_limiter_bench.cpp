// Cost per engine hop of the ERB band levels (481 bins, 32 bands), the output
// limiter, the ramped gain and the window generators.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "dsp/erb.h"
#include "dsp/gain.h"
#include "dsp/limiter.h"
#include "dsp/spectral.h"

namespace {

void BM_ErbFreqForward(benchmark::State &state) {
    erb_state *erb = nullptr;
    erb_create(&erb);
    erb_setup(erb, 48000, 481, 32);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    std::vector<double> power(481);
    for (double &p : power) p = dist(rng);
    std::vector<float> levels(32);
    for (auto _ : state) {
        erb_freq_forward(erb, power.data(), levels.data());
        benchmark::DoNotOptimize(levels.data());
    }
    state.SetItemsProcessed(state.iterations() * 481 * 32);  // multiply-adds
    erb_destroy(&erb);
}
BENCHMARK(BM_ErbFreqForward);

// One hop of loud noise, so the gain keeps moving; argument: channels.
void BM_LimiterHop(benchmark::State &state) {
    const uint32_t channels = static_cast<uint32_t>(state.range(0));
    limiter_state *lim = nullptr;
    limiter_create(&lim);
    limiter_setup(lim, channels, 48000, 480, 0.99999f);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> dist(-3.0f, 3.0f);
    std::vector<float> hop(480 * channels);
    for (float &v : hop) v = dist(rng);
    std::vector<float> out(hop.size());
    for (auto _ : state) {
        limiter_process(lim, hop.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 480);  // frames
    limiter_destroy(&lim);
}
BENCHMARK(BM_LimiterHop)->Arg(1)->Arg(2)->Arg(6);

void BM_GainRampHop(benchmark::State &state) {
    gain_state *gain = nullptr;
    gain_create(&gain);
    gain_setup(gain, 1, 480, 1);
    std::vector<float> hop(480, 0.5f);
    float target = 0.0f;
    for (auto _ : state) {
        target = target == 0.0f ? 1.0f : 0.0f;  // every hop ramps
        gain_update(gain, target);
        gain_process_inplace(gain, hop.data());
        benchmark::DoNotOptimize(hop.data());
    }
    state.SetItemsProcessed(state.iterations() * 480);
    gain_destroy(&gain);
}
BENCHMARK(BM_GainRampHop);

void BM_Windows960(benchmark::State &state) {
    std::vector<float> w(960);
    for (auto _ : state) {
        hann_window(w.data(), 960);
        sine_window(w.data(), 960);
        benchmark::DoNotOptimize(w.data());
    }
}
BENCHMARK(BM_Windows960);

}  // namespace

BENCHMARK_MAIN();
