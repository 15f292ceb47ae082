// TEMPORARY pass-through implementation of the CX_* interface so that the
// command-line program can be built and tested before the real engine lands.
// It validates arguments like the engine and copies input to output.
#include "calyx.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

struct CX_HANDLE {
    uint32_t channels;
    uint32_t sample_rate;
    uint32_t block_size;
    uint32_t initialised;
};

static bool supported_rate(uint32_t r) {
    static const uint32_t k[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100,
                                 48000, 64000, 88200, 96000, 176400, 192000};
    for (uint32_t v : k)
        if (v == r) return true;
    return false;
}
static bool valid_intensity(float v) { return v >= 0.0f && v <= 1.0f; }

extern "C" int32_t CX_GET_VERSION(const char **out) {
    if (!out) return 5;
    *out = "v1.1.2 (fefed85)";
    return 0;
}
extern "C" int32_t CX_CREATE(CX_HANDLE **slot) {
    if (!slot) return 5;
    if (*slot) return 3;
    *slot = static_cast<CX_HANDLE *>(calloc(1, sizeof(CX_HANDLE)));
    return 0;
}
extern "C" int32_t CX_SETUP(CX_HANDLE *h, const CX_CONFIG *c, const float *t) {
    if (!h) return 1;
    if (!c || !t) return 5;
    if (c->channels_in == 0) return 7;
    if (c->channels_in != c->channels_out) return 8;
    if (c->block_size >= 32768) return 10;
    if (!valid_intensity(*t)) return 11;
    if (h->initialised) return 4;
    if (!supported_rate(c->sample_rate)) return 9;
    h->channels = c->channels_in;
    h->sample_rate = c->sample_rate;
    h->block_size = c->block_size;
    h->initialised = 1;
    return 0;
}
extern "C" int32_t CX_UPDATE(CX_HANDLE *h, const float *t) {
    if (!h) return 1;
    if (!t) return 5;
    if (!valid_intensity(*t)) return 11;
    if (!h->initialised) return 2;
    return 0;
}
extern "C" int32_t CX_PROCESS(CX_HANDLE *h, const float *in, float *out, uint32_t frames) {
    if (!h) return 1;
    if (!in || !out) return 5;
    if (!h->initialised) return 2;
    if (h->block_size != 0 && frames != h->block_size) return 10;
    memmove(out, in, sizeof(float) * frames * h->channels);
    return 0;
}
extern "C" int32_t CX_GET_LATENCY(CX_HANDLE *h, float *out) {
    if (!h) return 1;
    if (!out) return 5;
    if (!h->initialised) return 2;
    *out = 0.0f;
    return 0;
}
extern "C" int32_t CX_DESTROY(CX_HANDLE **slot) {
    if (!slot) return 5;
    if (!*slot) return 1;
    free(*slot);
    *slot = nullptr;
    return 0;
}
