// Seed of the randomised tests: CALYX_TEST_SEED replays a failing run.
#ifndef CALYX_TESTS_DSP_BANDS_LIMITER_TEST_SEED_H
#define CALYX_TESTS_DSP_BANDS_LIMITER_TEST_SEED_H

#include <cstdint>
#include <cstdlib>
#include <string>

inline uint32_t test_seed() {
    const char *env = std::getenv("CALYX_TEST_SEED");
    return env != nullptr ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : 20261208u;
}

inline std::string seed_note(uint32_t seed) { return "replay with CALYX_TEST_SEED=" + std::to_string(seed); }

#endif
