// Transparent and seeded random weight sets of the 90-record table.
#include "weight_sets.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace calyx_weights {
namespace {

enum Kind : char { kWeight = 'W', kScale = 'S', kBias = 'B' };

struct RecordInfo {
    int32_t length;
    Kind kind;
    int32_t fan_in;  // inputs summed into one output value (weights only)
};

// clang-format off
constexpr RecordInfo kRecords[kRecordCount] = {
    // encoder_01
    {576, kWeight, 9}, {64, kScale, 0}, {64, kBias, 0},
    {192, kWeight, 3}, {4096, kWeight, 64}, {64, kScale, 0}, {64, kBias, 0},
    {192, kWeight, 3}, {4096, kWeight, 64}, {64, kScale, 0}, {64, kBias, 0},
    {192, kWeight, 3}, {4096, kWeight, 64}, {64, kScale, 0}, {64, kBias, 0},
    // encoder_02
    {576, kWeight, 9}, {4096, kWeight, 64}, {64, kScale, 0}, {64, kBias, 0},
    {192, kWeight, 3}, {4096, kWeight, 64}, {64, kScale, 0}, {64, kBias, 0},
    {196608, kWeight, 384},
    // encoder_03: linear, GRU (6 matrices, 4 bias vectors)
    {32768, kWeight, 128},
    {65536, kWeight, 256}, {65536, kWeight, 256}, {65536, kWeight, 256},
    {65536, kWeight, 256}, {65536, kWeight, 256}, {65536, kWeight, 256},
    {256, kBias, 0}, {256, kBias, 0}, {256, kBias, 0}, {256, kBias, 0},
    // decoder_01: linear, two-layer GRU, linear
    {8192, kWeight, 32},
    {131072, kWeight, 256}, {131072, kWeight, 256}, {131072, kWeight, 256},
    {131072, kWeight, 256}, {131072, kWeight, 256}, {131072, kWeight, 256},
    {512, kBias, 0}, {512, kBias, 0}, {512, kBias, 0}, {512, kBias, 0},
    {16384, kWeight, 32},
    // decoder_01: convolution levels 3 .. 0 and the output convolution
    {64, kWeight, 1}, {64, kScale, 0}, {64, kBias, 0},
    {192, kWeight, 3}, {4096, kWeight, 64}, {64, kScale, 0}, {64, kBias, 0},
    {64, kWeight, 1}, {64, kScale, 0}, {64, kBias, 0},
    {192, kWeight, 2}, {4096, kWeight, 64}, {64, kScale, 0}, {64, kBias, 0},
    {64, kWeight, 1}, {64, kScale, 0}, {64, kBias, 0},
    {192, kWeight, 2}, {4096, kWeight, 64}, {64, kScale, 0}, {64, kBias, 0},
    {64, kWeight, 1}, {64, kScale, 0}, {64, kBias, 0},
    {192, kWeight, 192}, {1, kScale, 0}, {1, kBias, 0},
    // decoder_02: linear, two-layer GRU, tanh linear, deep-filter convolutions
    {8192, kWeight, 32},
    {131072, kWeight, 256}, {131072, kWeight, 256}, {131072, kWeight, 256},
    {131072, kWeight, 256}, {131072, kWeight, 256}, {131072, kWeight, 256},
    {512, kBias, 0}, {512, kBias, 0}, {512, kBias, 0}, {512, kBias, 0},
    {30720, kWeight, 32},
    {1600, kWeight, 160}, {100, kWeight, 10}, {10, kScale, 0}, {10, kBias, 0},
};
// clang-format on

// splitmix64: fixed arithmetic, so a seed means the same set everywhere.
struct SplitMix {
    uint64_t s;
    uint64_t next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [-1, 1): 24 random bits, exact in float.
    float symmetric() { return float(int32_t(next() >> 40) - (1 << 23)) / float(1 << 23); }
};

constexpr int kGainSigmoidScale = 72, kGainSigmoidBias = 73;
constexpr int kDfNormScale = 88, kDfNormBias = 89;
constexpr int kDfTap4RealChannel = 8;  // channel 2*tap + component

}  // namespace

int32_t record_length(int index) {
    return index >= 0 && index < kRecordCount ? kRecords[index].length : 0;
}

WeightSet transparent_set() {
    WeightSet set(kRecordCount);
    for (int i = 0; i < kRecordCount; ++i) set[size_t(i)].assign(size_t(kRecords[i].length), 0.0f);
    // Every map feeding the two outputs is zero; a zero scale discards it
    // and the bias alone decides the output.
    set[kGainSigmoidScale][0] = 0.0f;
    set[kGainSigmoidBias][0] = 100.0f;
    set[kDfNormBias][kDfTap4RealChannel] = 1.0f;
    (void)kDfNormScale;  // stays 0
    return set;
}

WeightSet random_set(uint64_t seed) {
    SplitMix rng{seed};
    WeightSet set(kRecordCount);
    for (int i = 0; i < kRecordCount; ++i) {
        const RecordInfo &r = kRecords[i];
        std::vector<float> &v = set[size_t(i)];
        v.resize(size_t(r.length));
        const float amp = r.kind == kWeight ? 1.0f / std::sqrt(float(r.fan_in)) : 0.0f;
        for (float &x : v) {
            const float u = rng.symmetric();
            switch (r.kind) {
                case kWeight: x = amp * u; break;
                case kScale: x = 1.0f + 0.5f * u; break;
                case kBias: x = 0.1f * u; break;
            }
        }
    }
    return set;
}

std::vector<unsigned char> encode_blob(const WeightSet &set) {
    std::vector<unsigned char> out;
    auto put32 = [&out](uint32_t u) {
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<unsigned char>(u >> (8 * b)));
    };
    for (const std::vector<float> &rec : set) {
        put32(uint32_t(rec.size()));
        for (float x : rec) {
            uint32_t bits;
            std::memcpy(&bits, &x, sizeof bits);
            put32(bits);
        }
    }
    return out;
}

bool write_blob(const std::string &path, const WeightSet &set) {
    const std::vector<unsigned char> bytes = encode_blob(set);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace calyx_weights
