// Cost per engine hop of the block adapter and the resampler.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/dynamic_queue.h"
#include "dsp/iir.h"
#include "dsp/resampler.h"

namespace {

std::vector<float> test_signal(size_t n) {
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = 0.5f * std::sin(0.013f * float(i));
    return x;
}

// Round trip external -> internal -> external of one hop; range(0) is the
// external rate, range(1) the engine's external frames for that rate.
void BM_ResamplerRoundTrip(benchmark::State &state) {
    const uint32_t rate = uint32_t(state.range(0)), frames = uint32_t(state.range(1));
    resampler_state *r = nullptr;
    resampler_create(&r);
    if (resampler_setup(r, 1, rate, frames, 0) != 0) state.SkipWithError("setup failed");
    std::vector<float> ext = test_signal(frames), internal(480), back(frames);
    for (auto _ : state) {
        resampler_run_external_to_internal(r, ext.data(), internal.data());
        resampler_run_internal_to_external(r, internal.data(), back.data());
        benchmark::DoNotOptimize(back.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * frames);
    resampler_destroy(&r);
}
BENCHMARK(BM_ResamplerRoundTrip)
    ->Args({16000, 160})
    ->Args({32000, 320})
    ->Args({48000, 480})
    ->Args({96000, 960})
    ->Args({192000, 1920});

// The fifth-order single-precision low-pass over range(0) frames.
void BM_IirOrder5(benchmark::State &state) {
    const uint32_t frames = uint32_t(state.range(0));
    iir_state *f = nullptr;
    iir_create(&f);
    iir_setup(f, 1, frames, 5, kLpCoeff192000 + 6, kLpCoeff192000);
    std::vector<float> x = test_signal(frames), y(frames);
    for (auto _ : state) {
        iir_process(f, x.data(), y.data());
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * frames);
    iir_destroy(&f);
}
BENCHMARK(BM_IirOrder5)->Arg(480)->Arg(1920);

int32_t copy_hop(void *user, const float *in, float *out) {
    const uint32_t hop = *static_cast<const uint32_t *>(user);
    for (uint32_t i = 0; i < hop; ++i) out[i] = in[i];
    return 0;
}

// Queue overhead alone (copying callback), hop 480, calls of range(0)
// frames in free mode.
void BM_DynamicQueueFreeMode(benchmark::State &state) {
    const uint32_t frames = uint32_t(state.range(0));
    uint32_t hop = 480;
    dynamic_queue_state *q = nullptr;
    dynamic_queue_create(&q);
    dynamic_queue_setup(q, &hop, copy_hop, 1, 1, 0, hop, 0);
    std::vector<float> x = test_signal(frames), y(frames);
    for (auto _ : state) {
        dynamic_queue_process(q, x.data(), y.data(), frames);
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * frames);
    dynamic_queue_destroy(&q);
}
BENCHMARK(BM_DynamicQueueFreeMode)->Arg(256)->Arg(480)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
