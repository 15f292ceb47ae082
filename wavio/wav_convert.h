// Sample conversions between the file encodings and float. Reading scales
// 16-bit samples by 2^-15 and 24-bit samples by 2^-31 (after placing them in
// the top bytes of a 32-bit word), exactly; writing scales by 32767 for
// 16 bits and by 2^31 for 24 bits. Byte order is little-endian throughout.
#ifndef CALYX_WAV_CONVERT_H
#define CALYX_WAV_CONVERT_H

#include <cstddef>
#include <cstdint>

namespace OWavIO {

constexpr float kPcm16ReadScale = 3.0517578125e-05f;        // 2^-15, bits 0x38000000
constexpr float kPcm24ReadScale = 4.656612873077393e-10f;   // 2^-31, bits 0x30000000
constexpr float kPcm16WriteScale = 32767.0f;                // bits 0x46FFFE00
constexpr float kPcm24WriteScale = 2147483648.0f;           // 2^31

void wavPcm16ToFloat(const uint8_t *in, float *out, size_t count);
void wavPcm24ToFloat(const uint8_t *in, float *out, size_t count);
void wavFloat32ToFloat(const uint8_t *in, float *out, size_t count);

// 16 bits: trunc(x * 32767) saturated to -32767..32767 (never -32768); NaN gives 0.
void wavFloatToPcm16(const float *in, uint8_t *out, size_t count);
// 24 bits: bits 8-31 of trunc(x * 2^31) saturated to the 32-bit range; NaN gives 0.
void wavFloatToPcm24(const float *in, uint8_t *out, size_t count);
void wavFloatToFloat32(const float *in, uint8_t *out, size_t count);

} // namespace OWavIO

#endif // CALYX_WAV_CONVERT_H
