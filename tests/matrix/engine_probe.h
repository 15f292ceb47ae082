// A fixed, seeded end-to-end run of the stream processor whose output every
// build of calyx should reproduce up to float rounding: random network
// weights (seed 2024), a generated noisy input with speech-like bursts, and
// three host configurations (48 kHz in 480-frame blocks, 44.1 kHz and 16 kHz
// in varying blocks). Used to compare architectures and instruction sets.
#ifndef CALYX_TESTS_MATRIX_ENGINE_PROBE_H
#define CALYX_TESTS_MATRIX_ENGINE_PROBE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine_probe {

constexpr uint64_t kWeightSeed = 2024;

// The input of one configuration: `frames` samples from an integer generator
// only, so that every platform feeds bit-identical samples.
std::vector<float> make_input(uint32_t seed, size_t frames);

// The outputs of all configurations, one after another.
std::vector<float> run();

// Largest |a[i] - b[i]|; infinity when the lengths differ or either side
// holds a non-finite sample.
double max_abs_diff(const std::vector<float> &a, const std::vector<float> &b);

// Little-endian float32 files without a header.
bool write_raw(const std::string &path, const std::vector<float> &samples);
bool read_raw(const std::string &path, std::vector<float> *samples);

}  // namespace engine_probe

#endif  // CALYX_TESTS_MATRIX_ENGINE_PROBE_H
