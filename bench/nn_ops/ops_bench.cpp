// The heaviest network operators, once per instruction set (argument 0
// scalar, 1 SSE2/NEON, 2 AVX2+FMA). Reports multiply-adds and weight bytes
// streamed per second; the weights of each call are read once.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "nn/conv_kernels.h"
#include "nn/nn_simd.h"
#include "nn/ops_recurrent.h"

namespace {

std::vector<float> random_vec(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.1f, 0.1f);
    std::vector<float> v(n);
    for (auto &x : v) x = d(rng);
    return v;
}

bool use_isa(benchmark::State &st) {
    if (!calyx_nn::select_kernels(static_cast<calyx_nn::kernel_isa>(st.range(0)))) {
        st.SkipWithError("instruction set not available");
        return false;
    }
    st.SetLabel(calyx_nn::active_kernels().name);
    return true;
}

void report(benchmark::State &st, double macs, double weight_bytes) {
    const auto rate = benchmark::Counter::kIsIterationInvariantRate;
    st.counters["FLOP/s"] = benchmark::Counter(2.0 * macs, rate);
    st.counters["weight_B/s"] = benchmark::Counter(weight_bytes, rate);
}

struct GruWeights {
    std::vector<std::vector<float>> store;
    std::vector<param_record> rec;
    explicit GruWeights(int layers) {
        for (int i = 0; i < 10; ++i) {
            store.push_back(random_vec((size_t)layers * (i < 6 ? 256 * 256 : 256), 7 + i));
            rec.push_back(param_record{(int32_t)store.back().size(), store.back().data()});
        }
    }
};

void BM_GruTwoLayers(benchmark::State &st) {
    if (!use_isa(st)) return;
    GruWeights w(2);
    std::vector<float> x = random_vec(256, 1), y(256), h(512, 0.0f), s(256);
    for (auto _ : st) {
        uint64_t cursor = 0;
        op_gru_nl2_io256(x.data(), y.data(), h.data(), w.rec.data(), &cursor, s.data());
        benchmark::DoNotOptimize(y.data());
    }
    report(st, 2.0 * 6 * 256 * 256, 2.0 * 6 * 256 * 256 * 4);
}
BENCHMARK(BM_GruTwoLayers)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// The weight-streaming part of one GRU layer alone (no gate functions).
void BM_GruLayerSums(benchmark::State &st) {
    if (!use_isa(st)) return;
    GruWeights w(1);
    const float *W[6];
    for (int i = 0; i < 6; ++i) W[i] = w.store[i].data();
    std::vector<float> x = random_vec(256, 1), h = random_vec(256, 2), s(4 * 256);
    const calyx_nn::kernel_set &k = calyx_nn::active_kernels();
    for (auto _ : st) {
        k.gru_sums(W, x.data(), h.data(), 256, 256, s.data());
        benchmark::DoNotOptimize(s.data());
    }
    report(st, 6.0 * 256 * 256, 6.0 * 256 * 256 * 4);
}
BENCHMARK(BM_GruLayerSums)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_GroupedLinear384x64(benchmark::State &st) {
    if (!use_isa(st)) return;
    const std::vector<float> w = random_vec(8 * 384 * 64, 2), in = random_vec(3072, 3);
    std::vector<float> out(512), scratch(64);
    for (auto _ : st) {
        op_grouped_linear_einsum(in.data(), out.data(), scratch.data(), w.data(), 384, 64, 8, 1);
        benchmark::DoNotOptimize(out.data());
    }
    report(st, 8.0 * 384 * 64, 8.0 * 384 * 64 * 4);
}
BENCHMARK(BM_GroupedLinear384x64)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_GroupedLinearTanh32x120(benchmark::State &st) {
    if (!use_isa(st)) return;
    const std::vector<float> w = random_vec(8 * 32 * 120, 4), in = random_vec(256, 5);
    std::vector<float> out(960), scratch(128);
    for (auto _ : st) {
        op_grouped_linear_einsum_tanh(in.data(), out.data(), scratch.data(), w.data(), 32, 120, 8, 1);
        benchmark::DoNotOptimize(out.data());
    }
    report(st, 8.0 * 32 * 120, 8.0 * 32 * 120 * 4);
}
BENCHMARK(BM_GroupedLinearTanh32x120)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_Pointwise64At96Bins(benchmark::State &st) {
    if (!use_isa(st)) return;
    const std::vector<float> w = random_vec(64 * 64, 6), in = random_vec(64 * 96, 7);
    std::vector<float> out(64 * 96), scratch(96);
    for (auto _ : st) {
        op_convolution_g1_i64_o64_si01_si196_so01_so196_p00_p10_k01_k11_st01_st11(
            in.data(), out.data(), w.data(), scratch.data());
        benchmark::DoNotOptimize(out.data());
    }
    report(st, 64.0 * 64 * 96, 64.0 * 64 * 4);
}
BENCHMARK(BM_Pointwise64At96Bins)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_Pointwise64At8Bins(benchmark::State &st) {
    if (!use_isa(st)) return;
    const std::vector<float> w = random_vec(64 * 64, 8), in = random_vec(64 * 8, 9);
    std::vector<float> out(64 * 8), scratch(8);
    for (auto _ : st) {
        op_convolution_g1_i64_o64_si01_si18_so01_so18_p00_p10_k01_k11_st01_st11(
            in.data(), out.data(), w.data(), scratch.data());
        benchmark::DoNotOptimize(out.data());
    }
    report(st, 64.0 * 64 * 8, 64.0 * 64 * 4);
}
BENCHMARK(BM_Pointwise64At8Bins)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
