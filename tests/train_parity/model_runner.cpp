// Runs the C++ network frame by frame on features from raw float files, for
// the training toolkit's parity test against its PyTorch network.
//
//   calyx_model_runner WEIGHTS.bin FRAMES BAND.f32 SPEC.f32 GAINS_OUT.f32 COEFS_OUT.f32
//
// BAND holds FRAMES x 32 floats, SPEC FRAMES x 192; the outputs receive
// FRAMES x 32 gains and FRAMES x 960 deep-filter coefficients (native floats).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "model.h"
#include "params.h"

namespace {

bool read_floats(const char *path, std::vector<float> &v) {
    FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    const size_t got = std::fread(v.data(), sizeof(float), v.size(), f);
    std::fclose(f);
    return got == v.size();
}

bool write_floats(const char *path, const std::vector<float> &v) {
    FILE *f = std::fopen(path, "wb");
    if (!f) return false;
    const size_t put = std::fwrite(v.data(), sizeof(float), v.size(), f);
    return std::fclose(f) == 0 && put == v.size();
}

struct State {
    model_state s{};
    std::vector<void *> blocks;
    bool ok = true;
    State() {
        std::memset(&s, 0, sizeof s);
#define CALYX_RUNNER_ALLOC_(name, floats)                                        \
        {                                                                        \
            void *p = nullptr;                                                   \
            if (posix_memalign(&p, 64, sizeof(dtype_t) * (floats)) != 0) {       \
                ok = false;                                                      \
            } else {                                                             \
                std::memset(p, 0, sizeof(dtype_t) * (floats));                   \
                blocks.push_back(p);                                             \
                s.name = static_cast<dtype_t *>(p);                              \
            }                                                                    \
        }
        CALYX_MODEL_STATE_BUFFERS(CALYX_RUNNER_ALLOC_)
#undef CALYX_RUNNER_ALLOC_
    }
    ~State() {
        for (void *p : blocks) std::free(p);
    }
};

}  // namespace

int main(int argc, char **argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s WEIGHTS FRAMES BAND SPEC GAINS_OUT COEFS_OUT\n", argv[0]);
        return 2;
    }
    const long frames = std::strtol(argv[2], nullptr, 10);
    if (frames <= 0 || frames > 1000000) {
        std::fprintf(stderr, "bad frame count %s\n", argv[2]);
        return 2;
    }
    const size_t n = static_cast<size_t>(frames);
    std::vector<float> band(n * 32), spec(n * 192), gains(n * 32), coefs(n * 960);
    if (!read_floats(argv[3], band) || !read_floats(argv[4], spec)) {
        std::fprintf(stderr, "cannot read the feature files\n");
        return 2;
    }
    param_record *params = load_from_file(argv[1], 90);
    if (!params) return 2;
    State st;
    if (!st.ok) {
        destroy_params(params, 90);
        return 1;
    }
    for (size_t t = 0; t < n; ++t) {
        model(&band[t * 32], &spec[t * 192], &gains[t * 32], &coefs[t * 960], params, &st.s);
    }
    destroy_params(params, 90);
    if (!write_floats(argv[5], gains) || !write_floats(argv[6], coefs)) {
        std::fprintf(stderr, "cannot write the outputs\n");
        return 2;
    }
    return 0;
}
