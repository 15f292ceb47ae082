#include "engine_probe.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "calyx_proc.h"
#include "params.h"
#include "weight_sets.h"

namespace engine_probe {
namespace {

struct Config {
    uint32_t rate;
    uint32_t block_size;  // 0: varying blocks
    uint32_t seed;
};

// One second per configuration keeps the run short under an emulator while
// the recurrent state still sees a hundred hops.
const Config kConfigs[] = {{48000, 480, 11}, {44100, 0, 12}, {16000, 0, 13}};

uint32_t internal_rate_of(uint32_t rate) { return rate % 11025 == 0 ? 44100 : 48000; }

// xorshift32: exact on every target, unlike the library's distributions.
struct Rng {
    uint32_t s;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    // Uniform in [-1, 1) with 24-bit resolution: exactly representable.
    float uniform() { return static_cast<float>(static_cast<int32_t>(next() >> 8) - (1 << 23)) / (1 << 23); }
};

}  // namespace

std::vector<float> make_input(uint32_t seed, size_t frames) {
    Rng rng{seed * 2654435761u + 1u};
    std::vector<float> x(frames);
    // Background noise at 1/16 of full scale plus bursts of louder, locally
    // correlated noise every 2400 samples (voiced-like energy in the low bins).
    float smooth = 0.0f;
    for (size_t i = 0; i < frames; ++i) {
        const float white = rng.uniform();
        smooth = 0.875f * smooth + 0.125f * white;  // powers of two: exact products
        const bool burst = (i / 2400) % 2 == 1;
        x[i] = 0.0625f * white + (burst ? 2.0f * smooth : 0.0f);
    }
    return x;
}

std::vector<float> run() {
    const std::vector<unsigned char> blob =
        calyx_weights::encode_blob(calyx_weights::random_set(kWeightSeed));
    param_record *params = load_from_array(blob.data(), static_cast<int32_t>(blob.size()), 90);
    std::vector<float> all;
    if (params == nullptr) return all;
    for (const Config &c : kConfigs) {
        calyx_proc proc;
        std::memset(&proc, 0, sizeof proc);
        if (calyx_proc_setup(&proc, 1, c.rate, internal_rate_of(c.rate), c.block_size, params,
                             90) != 0) {
            all.clear();
            break;
        }
        const std::vector<float> in = make_input(c.seed, c.rate);
        std::vector<float> out(in.size());
        Rng sizes{c.seed};
        size_t pos = 0;
        while (pos < in.size()) {
            size_t n = c.block_size ? c.block_size : 1 + sizes.next() % 1000;
            if (n > in.size() - pos) n = in.size() - pos;
            if (calyx_proc_process(&proc, in.data() + pos, out.data() + pos,
                                   static_cast<uint32_t>(n)) != 0)
                break;
            pos += n;
        }
        const bool whole = pos == in.size();
        calyx_proc_destroy(&proc);
        if (!whole) {
            all.clear();
            break;
        }
        all.insert(all.end(), out.begin(), out.end());
    }
    destroy_params(params, 90);
    return all;
}

double max_abs_diff(const std::vector<float> &a, const std::vector<float> &b) {
    const double inf = std::numeric_limits<double>::infinity();
    if (a.size() != b.size()) return inf;
    double m = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!std::isfinite(a[i]) || !std::isfinite(b[i])) return inf;
        const double d = std::fabs(static_cast<double>(a[i]) - b[i]);
        if (d > m) m = d;
    }
    return m;
}

bool write_raw(const std::string &path, const std::vector<float> &samples) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = true;
    for (float s : samples) {
        uint32_t u;
        std::memcpy(&u, &s, 4);
        const unsigned char b[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                                    static_cast<unsigned char>(u >> 16),
                                    static_cast<unsigned char>(u >> 24)};
        ok = ok && std::fwrite(b, 1, 4, f) == 4;
    }
    return std::fclose(f) == 0 && ok;
}

bool read_raw(const std::string &path, std::vector<float> *samples) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    samples->clear();
    unsigned char b[4];
    size_t got;
    while ((got = std::fread(b, 1, 4, f)) == 4) {
        const uint32_t u = b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
        float s;
        std::memcpy(&s, &u, 4);
        samples->push_back(s);
    }
    const bool ok = got == 0 && !std::ferror(f);  // a trailing partial sample is an error
    std::fclose(f);
    return ok;
}

}  // namespace engine_probe
