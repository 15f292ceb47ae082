// Real-time factor of the whole engine (processing time / audio duration,
// single thread) with the built-in weights: mono at every supported rate and
// stereo at 48000 Hz, in blocks of one host hop.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "calyx.h"

namespace {

// Noisy speech-band signal, seeded, about 0.3 peak.
std::vector<float> test_signal(uint32_t rate, uint32_t channels, size_t frames) {
    std::vector<float> x(frames * channels);
    uint32_t state = 12345u;
    for (size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        for (uint32_t c = 0; c < channels; ++c) {
            state = state * 1664525u + 1013904223u;
            const double noise = (state >> 8) * (1.0 / 16777216.0) - 0.5;
            x[f * channels + c] = static_cast<float>(
                0.2 * std::sin(2.0 * M_PI * (310.0 + 40.0 * c) * t) *
                    (0.6 + 0.4 * std::sin(2.0 * M_PI * 3.0 * t)) +
                0.05 * noise);
        }
    }
    return x;
}

void BM_EngineRealTimeFactor(benchmark::State &state) {
    const uint32_t rate = static_cast<uint32_t>(state.range(0));
    const uint32_t channels = static_cast<uint32_t>(state.range(1));
    const uint32_t block = static_cast<uint32_t>(
        static_cast<float>(rate) * 480.0f / (rate % 11025 == 0 ? 44100.0f : 48000.0f) + 0.5f);
    CX_HANDLE *h = nullptr;
    CX_CREATE(&h);
    const CX_CONFIG config{channels, channels, rate, block};
    const float intensity = 1.0f;
    if (CX_SETUP(h, &config, &intensity) != 0) {
        state.SkipWithError("CX_SETUP failed");
        CX_DESTROY(&h);
        return;
    }
    const size_t blocks = 100;  // one second of audio per iteration
    const std::vector<float> in = test_signal(rate, channels, block * blocks);
    std::vector<float> out(in.size());
    for (auto _ : state) {
        for (size_t b = 0; b < blocks; ++b)
            CX_PROCESS(h, in.data() + b * block * channels, out.data() + b * block * channels,
                       block);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const double audio_seconds = static_cast<double>(blocks * block) / rate;
    // Seconds of single-thread CPU time per second of audio.
    state.counters["rtf"] = benchmark::Counter(
        audio_seconds * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    CX_DESTROY(&h);
}

BENCHMARK(BM_EngineRealTimeFactor)
    ->ArgNames({"rate", "channels"})
    ->Args({8000, 1})->Args({11025, 1})->Args({16000, 1})->Args({22050, 1})
    ->Args({24000, 1})->Args({32000, 1})->Args({44100, 1})->Args({48000, 1})
    ->Args({64000, 1})->Args({88200, 1})->Args({96000, 1})->Args({176400, 1})
    ->Args({192000, 1})->Args({48000, 2})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
