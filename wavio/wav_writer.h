// OWavIO::OWavWriter: writes RIFF WAVE files with 16-bit or 24-bit integer or
// 32-bit float samples from interleaved float (or 16-bit) samples. The
// 116-byte header is written at creation and rewritten at close with the
// final sizes; the file turns into RF64 (its "JUNK" chunk becomes "ds64")
// when the sizes no longer fit 32 bits. Results: 1 success, 2000-2004.
#ifndef CALYX_WAV_WRITER_H
#define CALYX_WAV_WRITER_H

#include <cstdint>
#include <fstream>

#include "wav_header.h"

namespace OWavIO {

class OWavWriter {
public:
    OWavWriter();
    // Closes a still-open file without rewriting its header.
    ~OWavWriter();
    OWavWriter(const OWavWriter &) = delete;
    OWavWriter &operator=(const OWavWriter &) = delete;

    // Validates the format (before any file is touched), creates or truncates
    // `path` and writes the header. Plain "fmt " form.
    unsigned int createWavWriter(const char *path, unsigned int sampleRate,
                                 unsigned short numChannels, unsigned short bitsPerSample);
    // Extensible "fmt " form when validBitsPerSample or channelMask is nonzero.
    unsigned int createWavWriter(const char *path, unsigned int sampleRate,
                                 unsigned short numChannels, unsigned short bitsPerSample,
                                 unsigned short validBitsPerSample, unsigned int channelMask);

    // Appends `count` samples (frames x channels). 16-bit output saturates at
    // +-32767, 24-bit at full scale; 32-bit copies. 1, or 0 when not open.
    unsigned int writeAudioSamples(const float *in, unsigned long long count);
    // 16-bit files only; 0 when not open, not 16-bit, or `count` is 0.
    unsigned int writeAudioSamples(const short *in, unsigned long long count);

    // Rewrites the header with the final sizes and closes; 2000 when not open.
    unsigned int closeWavWriter();

    // Header fields; 2000 when the file is not open.
    unsigned int getSampleRate();
    unsigned short getNumChannels();
    unsigned int getBytesPerSecond();
    unsigned short getBlockAlignment();
    unsigned short getBitsPerSample();
    unsigned short getValidBitsPerSample();
    unsigned int getChannelMask();

    bool isSupportSampleRate(unsigned int sampleRate);
    bool isSupportNumChannels(unsigned int numChannels);
    bool isSupportBitsPerSample(unsigned short bitsPerSample);

protected:
    // Header steps; protected so that tests can drive the close-time header
    // with byte counts that would take gigabytes to produce.
    void _writeWavHeader();
    void _writeRiffChunk();
    void _writeDs64Chunk();
    void _writeJunkChunk();
    void _writeOrvlChunk();
    void _writeFormatChunk();
    void _writeExtensibleData();
    void _writeValidBpsData();
    void _writeChannelMaskData();
    void _writeSubFormatData();
    void _writePcmSubFormatData();
    void _writeIeeeFloatSubFormatData();
    void _writeDataChunk();
    void _writeRiffData();
    void _writeRf64Data();
    void _write4ByteString(const char *s);
    void _writeInt16(unsigned short v);
    void _writeInt32(unsigned int v);
    void _writeInt64(unsigned long long v);
    void _writeJunkBytes(long long n);
    bool _reInitByteBuffer(unsigned long long capacity);

    WavHeader m_header;
    std::ofstream m_file;
    char *m_buffer;
    unsigned long long m_bufferCapacity;
    unsigned long long m_dataBytes;
    unsigned short m_bitsPerSample;
    bool m_rf64;
};

} // namespace OWavIO

#endif // CALYX_WAV_WRITER_H
