// WAV sample conversion throughput, per encoding and direction.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "wav_convert.h"

namespace {

constexpr size_t kSamples = 4800; // 100 ms of 48 kHz stereo

std::vector<float> signal() {
    std::vector<float> s(kSamples);
    uint32_t x = 1;
    for (float &v : s) {
        x = x * 1664525u + 1013904223u;
        v = float(int32_t(x)) * (1.0f / 2147483648.0f);
    }
    return s;
}

template <void (*Convert)(const uint8_t *, float *, size_t), size_t Bytes>
void BM_Read(benchmark::State &state) {
    std::vector<uint8_t> raw(kSamples * Bytes, 0x5A);
    std::vector<float> out(kSamples);
    for (auto _ : state) {
        Convert(raw.data(), out.data(), kSamples);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kSamples));
}

template <void (*Convert)(const float *, uint8_t *, size_t), size_t Bytes>
void BM_Write(benchmark::State &state) {
    const std::vector<float> in = signal();
    std::vector<uint8_t> raw(kSamples * Bytes);
    for (auto _ : state) {
        Convert(in.data(), raw.data(), kSamples);
        benchmark::DoNotOptimize(raw.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kSamples));
}

BENCHMARK_TEMPLATE(BM_Read, OWavIO::wavPcm16ToFloat, 2)->Name("read_pcm16");
BENCHMARK_TEMPLATE(BM_Read, OWavIO::wavPcm24ToFloat, 3)->Name("read_pcm24");
BENCHMARK_TEMPLATE(BM_Read, OWavIO::wavFloat32ToFloat, 4)->Name("read_float32");
BENCHMARK_TEMPLATE(BM_Write, OWavIO::wavFloatToPcm16, 2)->Name("write_pcm16");
BENCHMARK_TEMPLATE(BM_Write, OWavIO::wavFloatToPcm24, 3)->Name("write_pcm24");
BENCHMARK_TEMPLATE(BM_Write, OWavIO::wavFloatToFloat32, 4)->Name("write_float32");

} // namespace

BENCHMARK_MAIN();
