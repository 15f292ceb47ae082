#include "wav_convert.h"

#include <cstring>

namespace OWavIO {

static inline float pcm16Sample(const uint8_t *p) {
    return float(int16_t(uint16_t(p[0] | (p[1] << 8)))) * kPcm16ReadScale;
}

static inline float pcm24Sample(const uint8_t *p) {
    const uint32_t u = (uint32_t(p[0]) << 8) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 24);
    return float(int32_t(u)) * kPcm24ReadScale;
}

void wavPcm16ToFloat(const uint8_t *in, float *out, size_t count) {
    size_t i = 0;
    // Whole blocks of 32 so that the compiler vectorises the inner loop.
    for (; i + 32 <= count; i += 32)
        for (size_t j = 0; j < 32; ++j) out[i + j] = pcm16Sample(in + 2 * (i + j));
    for (; i < count; ++i) out[i] = pcm16Sample(in + 2 * i);
}

void wavPcm24ToFloat(const uint8_t *in, float *out, size_t count) {
    size_t i = 0;
    for (; i + 16 <= count; i += 16)
        for (size_t j = 0; j < 16; ++j) out[i + j] = pcm24Sample(in + 3 * (i + j));
    for (; i + 8 <= count; i += 8)
        for (size_t j = 0; j < 8; ++j) out[i + j] = pcm24Sample(in + 3 * (i + j));
    for (; i < count; ++i) out[i] = pcm24Sample(in + 3 * i);
}

// Files are little-endian, as are all hosts this library targets.
void wavFloat32ToFloat(const uint8_t *in, float *out, size_t count) {
    if (count) std::memcpy(out, in, count * sizeof(float));
}

static inline int16_t pcm16FromFloat(float x) {
    float y = x * kPcm16WriteScale;
    y = y > 32767.0f ? 32767.0f : y;
    y = y < -32767.0f ? -32767.0f : y;
    y = (y == y) ? y : 0.0f; // NaN
    return int16_t(y);
}

void wavFloatToPcm16(const float *in, uint8_t *out, size_t count) {
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        for (size_t j = 0; j < 32; ++j) {
            const uint16_t v = uint16_t(pcm16FromFloat(in[i + j]));
            out[2 * (i + j)] = uint8_t(v);
            out[2 * (i + j) + 1] = uint8_t(v >> 8);
        }
    }
    for (; i < count; ++i) {
        const uint16_t v = uint16_t(pcm16FromFloat(in[i]));
        out[2 * i] = uint8_t(v);
        out[2 * i + 1] = uint8_t(v >> 8);
    }
}

void wavFloatToPcm24(const float *in, uint8_t *out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const float y = in[i] * kPcm24WriteScale;
        int32_t v;
        if (y >= 2147483648.0f)
            v = INT32_MAX;
        else if (y <= -2147483648.0f)
            v = INT32_MIN;
        else if (y != y)
            v = 0;
        else
            v = int32_t(y);
        const uint32_t u = uint32_t(v);
        out[3 * i] = uint8_t(u >> 8);
        out[3 * i + 1] = uint8_t(u >> 16);
        out[3 * i + 2] = uint8_t(u >> 24);
    }
}

void wavFloatToFloat32(const float *in, uint8_t *out, size_t count) {
    if (count) std::memcpy(out, in, count * sizeof(float));
}

} // namespace OWavIO
