// One `model` call per 10 ms frame, single thread, seeded random weights
// (the work does not depend on the values). Reports per frame: the exact
// multiply-add count, GFLOP/s (2 per multiply-add) and the weight bytes
// streamed per second; the stages are timed on their own too.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "nn/model.h"
#include "nn/params.h"
#include "nn_model/model_state_buffers.h"
#include "weight_sets.h"

namespace {

// Multiply-adds of one output frame of a convolution along frequency,
// counting only taps that meet a real input bin (padding contributes none).
int64_t conv_macs(int64_t out_channels, int64_t in_per_group, int64_t time_taps, int64_t in_bins,
                  int64_t out_bins, int64_t freq_taps, int64_t pad, int64_t stride) {
    int64_t taps = 0;
    for (int64_t f = 0; f < out_bins; ++f)
        for (int64_t b = 0; b < freq_taps; ++b) {
            const int64_t bin = f * stride + b - pad;
            taps += (bin >= 0 && bin < in_bins) ? 1 : 0;
        }
    return out_channels * in_per_group * time_taps * taps;
}

int64_t pw(int64_t bins) { return conv_macs(64, 64, 1, bins, bins, 1, 0, 1); }
int64_t dw3(int64_t in_bins, int64_t stride) { return conv_macs(64, 1, 1, in_bins, in_bins / stride, 3, 1, stride); }
int64_t dw1(int64_t bins) { return 64 * bins; }
int64_t norm(int64_t channels, int64_t bins) { return channels * bins; }  // one FMA per value
// Depthwise transposed convolution doubling the bins: 2 W_in - 1 products
// for the odd outputs' two taps, W_in for the even ones.
int64_t upsample(int64_t in_bins) { return 64 * (3 * in_bins - 1); }
int64_t linear(int64_t in, int64_t out) { return 8 * in * out; }
int64_t gru_layer() { return 6 * 256 * 256; }

struct MacCount {
    int64_t weights = 0;  // products of a weight and an activation
    int64_t norms = 0;    // folded normalisation multiply-adds
};

MacCount frame_macs() {
    MacCount m;
    // encoder_01
    m.weights += conv_macs(64, 1, 3, 32, 32, 3, 1, 1) + dw3(32, 2) + pw(16) + dw3(16, 2) + pw(8) +
                 dw3(8, 1) + pw(8);
    m.norms += norm(64, 32) + norm(64, 16) + norm(64, 8) + norm(64, 8);
    // encoder_02
    m.weights += conv_macs(64, 1, 3, 96, 96, 3, 1, 1) + pw(96) + dw3(96, 2) + pw(48) + linear(384, 64);
    m.norms += norm(64, 96) + norm(64, 48);
    // encoder_03
    m.weights += linear(128, 32) + gru_layer();
    // decoder_01
    m.weights += linear(32, 32) + 2 * gru_layer() + linear(32, 64);
    m.weights += dw1(8) + dw3(8, 1) + pw(8) + dw1(8) + upsample(8) + pw(16) + dw1(16) + upsample(16) +
                 pw(32) + dw1(32) + conv_macs(1, 64, 1, 32, 32, 3, 1, 1);
    m.norms += 2 * norm(64, 8) + norm(64, 8) + 2 * norm(64, 16) + 2 * norm(64, 32) + norm(64, 32) + norm(1, 32);
    // decoder_02
    m.weights += linear(32, 32) + 2 * gru_layer() + linear(32, 120) + 10 * 96 * 32 * 5 + 10 * 96 * 10;
    m.norms += norm(10, 96);
    return m;
}

int64_t weight_bytes() {
    int64_t n = 0;
    for (int i = 0; i < calyx_weights::kRecordCount; ++i) n += calyx_weights::record_length(i);
    return 4 * n;
}

struct Fixture {
    std::vector<unsigned char> blob = calyx_weights::encode_blob(calyx_weights::random_set(3));
    param_record *params = load_from_array(blob.data(), int32_t(blob.size()), calyx_weights::kRecordCount);
    ModelStateBuffers state;
    std::vector<float> band = std::vector<float>(32, 0.25f), spec = std::vector<float>(192, -0.125f);
    std::vector<float> gains = std::vector<float>(32), coefs = std::vector<float>(960);
    Fixture() {
        for (size_t i = 0; i < spec.size(); ++i) spec[i] = float(int(i % 7) - 3) * 0.1f;
    }
    ~Fixture() { destroy_params(params, calyx_weights::kRecordCount); }
};

void BM_ModelFrame(benchmark::State &st) {
    Fixture fx;
    for (auto _ : st) {
        model(fx.band.data(), fx.spec.data(), fx.gains.data(), fx.coefs.data(), fx.params, fx.state.get());
        benchmark::DoNotOptimize(fx.gains.data());
        benchmark::DoNotOptimize(fx.coefs.data());
        benchmark::ClobberMemory();
    }
    const MacCount m = frame_macs();
    const auto rate = benchmark::Counter::kIsIterationInvariantRate;
    st.counters["MACs/frame"] = benchmark::Counter(double(m.weights + m.norms));
    st.counters["weight_MACs/frame"] = benchmark::Counter(double(m.weights));
    st.counters["FLOP/s"] = benchmark::Counter(2.0 * double(m.weights + m.norms), rate);
    st.counters["weight_B/s"] = benchmark::Counter(double(weight_bytes()), rate);
    st.counters["frames/s"] = benchmark::Counter(1.0, rate);
    st.SetLabel("exact MACs/frame " + std::to_string(m.weights + m.norms) + " (weights " +
                std::to_string(m.weights) + ", normalisation " + std::to_string(m.norms) + ")");
}
BENCHMARK(BM_ModelFrame)->Unit(benchmark::kMicrosecond);

// Each stage alone on a warm state; together they are one frame.
template <int kStage>
void BM_Stage(benchmark::State &st) {
    Fixture fx;
    model(fx.band.data(), fx.spec.data(), fx.gains.data(), fx.coefs.data(), fx.params, fx.state.get());
    for (auto _ : st) {
        switch (kStage) {
            case 1: encoder_01(fx.band.data(), fx.params, fx.state.get()); break;
            case 2: encoder_02(fx.spec.data(), fx.params, fx.state.get()); break;
            case 3: encoder_03(fx.params, fx.state.get()); break;
            case 4: decoder_01(fx.gains.data(), fx.params, fx.state.get()); break;
            case 5: decoder_02(fx.coefs.data(), fx.params, fx.state.get()); break;
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Stage<1>)->Name("encoder_01")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stage<2>)->Name("encoder_02")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stage<3>)->Name("encoder_03")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stage<4>)->Name("decoder_01")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stage<5>)->Name("decoder_02")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
