// WAV file library: the header record shared by OWavReader and OWavWriter,
// result codes and the supported-format tables.
//
// All integers in a file are little-endian. The writer always lays out
// 116 bytes before the first sample: RIFF/RF64 header (12), "JUNK" or "ds64"
// (36), "ORVL" (12), "fmt " (48), "data" header (8).
#ifndef CALYX_WAV_HEADER_H
#define CALYX_WAV_HEADER_H

#include <cstdint>

namespace OWavIO {

// Result codes. 1 is success; the reader uses 1000-1005, the writer 2000-2004.
constexpr unsigned int kWavOk = 1;
constexpr unsigned int kReaderNotOpen = 1000;          // file stream whose file is not open
constexpr unsigned int kReaderOpenFailed = 1001;       // path could not be opened
constexpr unsigned int kReaderEmptyFile = 1002;        // zero-length file
constexpr unsigned int kReaderBadSampleRate = 1003;    // below 4000 Hz, or no "fmt " chunk
constexpr unsigned int kReaderBadChannels = 1004;      // zero channels
constexpr unsigned int kReaderBadBitsPerSample = 1005; // not 16/24/32, or 32-bit integer PCM
constexpr unsigned int kWriterNotOpen = 2000;
constexpr unsigned int kWriterOpenFailed = 2001;
constexpr unsigned int kWriterBadSampleRate = 2002;
constexpr unsigned int kWriterBadChannels = 2003;
constexpr unsigned int kWriterBadBitsPerSample = 2004;

// Format tags of the "fmt " chunk and codes of the extensible sub-format.
constexpr uint16_t kWavFormatPcm = 1;
constexpr uint16_t kWavFormatIeeeFloat = 3;
constexpr uint16_t kWavFormatExtensible = 0xFFFE;

// Four-character chunk identifiers as little-endian u32 values.
constexpr uint32_t wavFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}
constexpr uint32_t kIdRiff = wavFourCC('R', 'I', 'F', 'F');
constexpr uint32_t kIdRf64 = wavFourCC('R', 'F', '6', '4');
constexpr uint32_t kIdWave = wavFourCC('W', 'A', 'V', 'E');
constexpr uint32_t kIdDs64 = wavFourCC('d', 's', '6', '4');
constexpr uint32_t kIdJunk = wavFourCC('J', 'U', 'N', 'K');
constexpr uint32_t kIdOrvl = wavFourCC('O', 'R', 'V', 'L');
constexpr uint32_t kIdFmt = wavFourCC('f', 'm', 't', ' ');
constexpr uint32_t kIdData = wavFourCC('d', 'a', 't', 'a');

constexpr unsigned int kWavHeaderBytes = 116;    // bytes before the first sample
constexpr unsigned int kWavHeaderAfterSize = 108; // bytes from offset 8 to the first sample
constexpr unsigned int kDs64BodyBytes = 28;
constexpr unsigned int kFmtBasicBytes = 16;
constexpr unsigned int kFmtExtensibleBytes = 40;
constexpr unsigned int kOrvlBodyBytes = 4;
constexpr unsigned int kOrvlExtensionVersion = 100;
constexpr unsigned int kMinSampleRate = 4000;

// Bits per sample that reader and writer accept: 16-bit PCM, 24-bit PCM, 32-bit float.
extern const uint32_t kReaderSupportBitsPerSample[3];
extern const uint32_t kWriterSupportBitsPerSample[3];

// In-memory header record, field order and widths as in the file.
struct WavHeader {
    uint32_t riffId;
    uint32_t riffSize;
    uint32_t waveId;
    uint32_t fmtId;
    uint32_t fmtSize;
    uint16_t formatTag;
    uint16_t numChannels;
    uint32_t sampleRate;
    uint32_t bytesPerSecond;
    uint16_t blockAlignment;
    uint16_t bitsPerSample;
    uint16_t extensionSize;
    uint16_t validBitsPerSample;
    uint32_t channelMask;
    uint32_t subFormatCode;
    uint16_t subFormatWord1; // 0x0000
    uint16_t subFormatWord2; // 0x0010
    uint32_t subFormatTail[2]; // 80 00 00 AA 00 38 9B 71
    uint32_t dataId;
    uint32_t dataSize;
    uint32_t extensionVersion;
};

// Predicates shared by reader and writer.
bool wavSupportsSampleRate(unsigned int sampleRate);   // 4000 Hz or more
bool wavSupportsNumChannels(unsigned int numChannels); // any nonzero count
bool wavTableHasBits(const uint32_t (&table)[3], unsigned int bitsPerSample);

} // namespace OWavIO

#endif // CALYX_WAV_HEADER_H
