// Weight-set generator for the 90-record parameter table: the transparent
// set (band gains of exactly 1, deep-filter tap 4 = 1 + 0i, every other tap
// 0) and seeded random sets for tests. Build-time tool and test support
// only; nothing here is part of the engine.
#ifndef CALYX_NN_WEIGHT_SETS_H
#define CALYX_NN_WEIGHT_SETS_H

#include <cstdint>
#include <string>
#include <vector>

namespace calyx_weights {

constexpr int kRecordCount = 90;
constexpr int64_t kBlobBytes = 9213008;

// Element count of record `index` (0 outside 0 .. 89).
int32_t record_length(int index);

using WeightSet = std::vector<std::vector<float>>;

// All weights zero except two folded-normalisation pairs: the band-gain
// sigmoid gets scale 0 and bias 100 (1 / (1 + e^-100) rounds to 1.0f), the
// deep-filter branch's last normalisation gets scale 0 and bias 1 on channel
// 8 (tap 4, real part), 0 elsewhere. The output does not depend on finite
// inputs.
WeightSet transparent_set();

// Uniform weights scaled by 1/sqrt(fan-in), normalisation scales in
// [0.5, 1.5], biases in [-0.1, 0.1]. Same seed, same set, on every platform.
WeightSet random_set(uint64_t seed);

// The blob format: per record a little-endian int32 count and the floats.
std::vector<unsigned char> encode_blob(const WeightSet &set);

// Writes encode_blob(set) to path; false on any I/O failure.
bool write_blob(const std::string &path, const WeightSet &set);

}  // namespace calyx_weights

#endif  // CALYX_NN_WEIGHT_SETS_H
