// OWavIO::OWavReader: reads RIFF and RF64 WAVE files with 16-bit or 24-bit
// integer samples or 32-bit float samples, delivering interleaved samples as
// float (or as 16-bit integers for 16-bit files). Counts are in samples
// (frames x channels). Results: 1 success, codes 1000-1005 (wav_header.h).
//
// Reads never go past the end of the "data" chunk: the part of a block that
// lies beyond the data (or beyond a truncated file) is filled with zeros.
#ifndef CALYX_WAV_READER_H
#define CALYX_WAV_READER_H

#include <cstdint>
#include <istream>

#include "wav_header.h"

namespace OWavIO {

// Size fields of an RF64 "ds64" chunk.
struct Ds64Record {
    uint32_t id;
    uint32_t size;
    uint64_t riffSize;
    uint64_t dataSize;
    uint64_t sampleCount;
    uint32_t tableLength;
};

class OWavReader {
public:
    OWavReader();
    ~OWavReader();
    OWavReader(const OWavReader &) = delete;
    OWavReader &operator=(const OWavReader &) = delete;

    // Opens `path` (binary) and reads the header; the stream then stands at the
    // first data byte. `dataLength`, when not null, gets the data length in
    // bytes on success and 0 on failure.
    unsigned int createWavReader(const char *path, unsigned long long *dataLength);
    // The same on a caller-owned seekable stream; the reader never closes it.
    unsigned int createWavReader(std::istream &stream, unsigned long long *dataLength);

    // Header fields; 1000 when the stream is a file stream whose file is not open.
    unsigned int getSampleRate();
    unsigned short getNumChannels();
    unsigned short getBitsPerSample();
    unsigned int getBytesPerSecond();
    unsigned short getBlockAlignment();
    unsigned short getValidBitsPerSample();
    unsigned int getChannelMask();
    unsigned long long getDataLength();
    // Version from the "ORVL" chunk, 0 when the file has none.
    unsigned int getOWavIoExtensionVersion();

    bool isSupportSampleRate(unsigned int sampleRate);
    bool isSupportNumChannels(unsigned int numChannels);
    bool isSupportBitsPerSample(unsigned short bitsPerSample);

    // Reads `count` samples. Returns 1 while data remains after this block and
    // 0 for the block that reaches or passes the end of the data (that block
    // is filled and meant to be used).
    unsigned int readAudioSamples(float *out, unsigned long long count);
    // 16-bit files only (otherwise 0 and `out` untouched); no conversion.
    unsigned int readAudioSamples(short *out, unsigned long long count);

    unsigned int seekToWavDataBegin();
    unsigned int closeWavReader();

private:
    void _readWavHeader();
    void _readRiffChunk();
    void _readDs64Chunk();
    void _readOrvlChunk();
    void _readFormatChunk();
    void _readExtensibleData();
    void _readSubFormatData();
    void _readRiffData();
    void _readRf64Data();
    void _markUnsupportFormat();
    void _markDataLength(int chunkSize);
    void _markDataStartPosition();
    bool _skipBuffer(unsigned long long count);
    bool _reInitByteBuffer(unsigned long long capacity);
    static unsigned short _readInt16(const char *bytes);
    static unsigned int _readInt32(const char *bytes);

    unsigned int _create(unsigned long long *dataLength);
    bool _fileNotOpen() const;
    bool _readBytes(char *dst, unsigned long long count);
    unsigned long long _readDataBytes(unsigned long long count);
    bool _atEnd() const;

    WavHeader m_header;
    Ds64Record m_ds64;
    std::istream *m_stream;
    bool m_ownsStream;
    char *m_buffer;
    unsigned long long m_bufferCapacity;
    unsigned long long m_dataLength;
    unsigned long long m_consumed;
    std::streamoff m_dataStart;
    std::streamoff m_fileLength;
    unsigned short m_convertBits; // 0 marks an unsupported format
    bool m_rf64;
};

} // namespace OWavIO

#endif // CALYX_WAV_READER_H
