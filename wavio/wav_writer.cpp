#include "wav_writer.h"

#include <cstdlib>
#include <cstring>

#include "wav_convert.h"

namespace OWavIO {

static constexpr unsigned long long kInitialBufferBytes = 2048;
static constexpr unsigned int kFmtExtensionSize = 22;
// Last eight bytes of the KSDATAFORMAT sub-type identifiers, as two u32.
static constexpr uint32_t kSubFormatTail0 = 0xAA000080u; // 80 00 00 AA
static constexpr uint32_t kSubFormatTail1 = 0x719B3800u; // 00 38 9B 71

OWavWriter::OWavWriter()
    : m_header{}, m_file(), m_buffer(static_cast<char *>(std::malloc(kInitialBufferBytes))),
      m_bufferCapacity(m_buffer ? kInitialBufferBytes : 0), m_dataBytes(0), m_bitsPerSample(0),
      m_rf64(false) {}

OWavWriter::~OWavWriter() {
    if (m_file.is_open()) m_file.close();
    std::free(m_buffer);
}

unsigned int OWavWriter::createWavWriter(const char *path, unsigned int sampleRate,
                                         unsigned short numChannels,
                                         unsigned short bitsPerSample) {
    return createWavWriter(path, sampleRate, numChannels, bitsPerSample, 0, 0);
}

unsigned int OWavWriter::createWavWriter(const char *path, unsigned int sampleRate,
                                         unsigned short numChannels, unsigned short bitsPerSample,
                                         unsigned short validBitsPerSample,
                                         unsigned int channelMask) {
    if (!isSupportSampleRate(sampleRate)) return kWriterBadSampleRate;
    if (!isSupportNumChannels(numChannels)) return kWriterBadChannels;
    if (!isSupportBitsPerSample(bitsPerSample)) return kWriterBadBitsPerSample;

    // A file still open from an earlier creation is finished properly first,
    // so that its samples keep a valid header.
    if (m_file.is_open()) closeWavWriter();
    m_file.clear();
    if (path) m_file.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!m_file.is_open()) return kWriterOpenFailed;

    m_header = WavHeader{};
    m_dataBytes = 0;
    m_rf64 = false;
    m_bitsPerSample = bitsPerSample;
    m_header.bitsPerSample = bitsPerSample;
    m_header.numChannels = numChannels;
    m_header.validBitsPerSample = validBitsPerSample;
    m_header.channelMask = channelMask;
    m_header.blockAlignment = static_cast<uint16_t>((bitsPerSample / 8) * numChannels);
    m_header.sampleRate = sampleRate;
    m_header.bytesPerSecond = numChannels * sampleRate * (bitsPerSample / 8u);
    _writeWavHeader();
    return kWavOk;
}

void OWavWriter::_writeWavHeader() {
    // RF64 as soon as the RIFF size (data + 108) no longer fits 32 bits;
    // waiting for the data size alone to overflow would let the RIFF size
    // wrap for the last 108 bytes below 4 GiB.
    m_rf64 = m_dataBytes + kWavHeaderAfterSize > 0xFFFFFFFFull;
    _writeRiffChunk();
    if (m_rf64)
        _writeDs64Chunk();
    else
        _writeJunkChunk();
    _writeOrvlChunk();
    _writeFormatChunk();
    _writeDataChunk();
}

void OWavWriter::_writeRiffChunk() {
    if (m_rf64) {
        _writeRf64Data();
    } else {
        m_header.dataSize = static_cast<uint32_t>(m_dataBytes);
        m_header.riffSize = m_header.dataSize + kWavHeaderAfterSize;
        _writeRiffData();
    }
}

void OWavWriter::_writeRiffData() {
    m_header.riffId = kIdRiff;
    m_header.waveId = kIdWave;
    _write4ByteString("RIFF");
    _writeInt32(m_header.riffSize);
    _write4ByteString("WAVE");
}

void OWavWriter::_writeRf64Data() {
    m_header.riffId = kIdRf64;
    m_header.waveId = kIdWave;
    m_header.riffSize = 0xFFFFFFFFu;
    _write4ByteString("RF64");
    _writeInt32(0xFFFFFFFFu);
    _write4ByteString("WAVE");
}

void OWavWriter::_writeDs64Chunk() {
    // Sizes rounded up to even, as if the data chunk carried its pad byte.
    const unsigned long long data = m_dataBytes + (m_dataBytes & 1u);
    _write4ByteString("ds64");
    _writeInt32(kDs64BodyBytes);
    _writeInt64(data + kWavHeaderAfterSize);
    _writeInt64(data);
    _writeInt64(0);
    _writeInt32(0);
}

void OWavWriter::_writeJunkChunk() {
    _write4ByteString("JUNK");
    _writeInt32(kDs64BodyBytes);
    _writeJunkBytes(kDs64BodyBytes);
}

void OWavWriter::_writeOrvlChunk() {
    m_header.extensionVersion = kOrvlExtensionVersion;
    _write4ByteString("ORVL");
    _writeInt32(kOrvlBodyBytes);
    _writeInt32(kOrvlExtensionVersion);
}

void OWavWriter::_writeFormatChunk() {
    const bool extensible = m_header.validBitsPerSample != 0 || m_header.channelMask != 0;
    m_header.fmtId = kIdFmt;
    m_header.fmtSize = kFmtExtensibleBytes;
    m_header.formatTag = extensible ? kWavFormatExtensible
                         : m_header.bitsPerSample > 31 ? kWavFormatIeeeFloat
                                                       : kWavFormatPcm;
    m_header.extensionSize = kFmtExtensionSize;
    _write4ByteString("fmt ");
    _writeInt32(kFmtExtensibleBytes);
    _writeInt16(m_header.formatTag);
    _writeInt16(m_header.numChannels);
    _writeInt32(m_header.sampleRate);
    _writeInt32(m_header.bytesPerSecond);
    _writeInt16(m_header.blockAlignment);
    _writeInt16(m_header.bitsPerSample);
    _writeInt16(kFmtExtensionSize);
    if (extensible)
        _writeExtensibleData();
    else
        _writeJunkBytes(kFmtExtensionSize);
}

void OWavWriter::_writeExtensibleData() {
    _writeValidBpsData();
    _writeChannelMaskData();
    _writeSubFormatData();
}

void OWavWriter::_writeValidBpsData() {
    const uint16_t valid =
        m_header.validBitsPerSample ? m_header.validBitsPerSample : m_header.bitsPerSample;
    _writeInt16(valid);
}

void OWavWriter::_writeChannelMaskData() {
    uint32_t mask = m_header.channelMask;
    if (mask == 0) {
        // Front centre for mono, front left and right for stereo.
        mask = m_header.numChannels == 1 ? 4u : m_header.numChannels == 2 ? 3u : 0u;
    }
    _writeInt32(mask);
}

void OWavWriter::_writeSubFormatData() {
    if (m_header.bitsPerSample > 31)
        _writeIeeeFloatSubFormatData();
    else
        _writePcmSubFormatData();
}

void OWavWriter::_writePcmSubFormatData() {
    _writeInt32(kWavFormatPcm);
    _writeInt16(0x0000);
    _writeInt16(0x0010);
    _writeInt32(kSubFormatTail0);
    _writeInt32(kSubFormatTail1);
}

void OWavWriter::_writeIeeeFloatSubFormatData() {
    _writeInt32(kWavFormatIeeeFloat);
    _writeInt16(0x0000);
    _writeInt16(0x0010);
    _writeInt32(kSubFormatTail0);
    _writeInt32(kSubFormatTail1);
}

void OWavWriter::_writeDataChunk() {
    m_header.dataId = kIdData;
    _write4ByteString("data");
    _writeInt32(m_rf64 ? 0xFFFFFFFFu : m_header.dataSize);
}

void OWavWriter::_write4ByteString(const char *s) { m_file.write(s, 4); }

void OWavWriter::_writeInt16(unsigned short v) {
    const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    m_file.write(b, 2);
}

void OWavWriter::_writeInt32(unsigned int v) {
    const char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
    m_file.write(b, 4);
}

void OWavWriter::_writeInt64(unsigned long long v) {
    _writeInt32(static_cast<unsigned int>(v & 0xFFFFFFFFu));
    _writeInt32(static_cast<unsigned int>(v >> 32));
}

void OWavWriter::_writeJunkBytes(long long n) {
    static const char zeros[1024] = {};
    while (n > 0) {
        const long long piece = n < 1024 ? n : 1024;
        m_file.write(zeros, static_cast<std::streamsize>(piece));
        n -= piece;
    }
}

bool OWavWriter::_reInitByteBuffer(unsigned long long capacity) {
    if (capacity > static_cast<unsigned long long>(SIZE_MAX)) return false;
    char *fresh = static_cast<char *>(std::malloc(static_cast<size_t>(capacity)));
    if (!fresh) return false;
    std::free(m_buffer);
    m_buffer = fresh;
    m_bufferCapacity = capacity;
    return true;
}

unsigned int OWavWriter::writeAudioSamples(const float *in, unsigned long long count) {
    if (!m_file.is_open()) return 0;
    const unsigned int bytesPerSample = m_bitsPerSample / 8u;
    if (count > ~0ull / bytesPerSample) return 0;
    const unsigned long long bytes = bytesPerSample * count;
    if (bytes > m_bufferCapacity && !_reInitByteBuffer(bytes)) return 0;
    uint8_t *raw = reinterpret_cast<uint8_t *>(m_buffer);
    const size_t n = static_cast<size_t>(count);
    if (bytesPerSample == 4)
        wavFloatToFloat32(in, raw, n);
    else if (bytesPerSample == 3)
        wavFloatToPcm24(in, raw, n);
    else
        wavFloatToPcm16(in, raw, n);
    m_file.write(m_buffer, static_cast<std::streamsize>(bytes));
    m_dataBytes += bytes;
    // A failed write (disk full, device error) is not reported as success.
    return m_file.good() ? 1u : 0u;
}

unsigned int OWavWriter::writeAudioSamples(const short *in, unsigned long long count) {
    if (!m_file.is_open() || m_bitsPerSample != 16 || count == 0) return 0;
    if (count > ~0ull / 2) return 0;
    const unsigned long long bytes = 2 * count;
    if (bytes > m_bufferCapacity && !_reInitByteBuffer(bytes)) return 0;
    std::memcpy(m_buffer, in, static_cast<size_t>(bytes));
    m_file.write(m_buffer, static_cast<std::streamsize>(bytes));
    m_dataBytes += bytes;
    return m_file.good() ? 1u : 0u;
}

unsigned int OWavWriter::closeWavWriter() {
    if (!m_file.is_open()) return kWriterNotOpen;
    m_file.flush();
    m_file.seekp(0, std::ios::beg);
    _writeWavHeader();
    m_file.seekp(0, std::ios::end);
    m_file.close();
    return kWavOk;
}

unsigned int OWavWriter::getSampleRate() {
    return m_file.is_open() ? m_header.sampleRate : kWriterNotOpen;
}
unsigned short OWavWriter::getNumChannels() {
    return m_file.is_open() ? m_header.numChannels : static_cast<unsigned short>(kWriterNotOpen);
}
unsigned int OWavWriter::getBytesPerSecond() {
    return m_file.is_open() ? m_header.bytesPerSecond : kWriterNotOpen;
}
unsigned short OWavWriter::getBlockAlignment() {
    return m_file.is_open() ? m_header.blockAlignment
                            : static_cast<unsigned short>(kWriterNotOpen);
}
unsigned short OWavWriter::getBitsPerSample() {
    return m_file.is_open() ? m_header.bitsPerSample : static_cast<unsigned short>(kWriterNotOpen);
}
unsigned short OWavWriter::getValidBitsPerSample() {
    return m_file.is_open() ? m_header.validBitsPerSample
                            : static_cast<unsigned short>(kWriterNotOpen);
}
unsigned int OWavWriter::getChannelMask() {
    return m_file.is_open() ? m_header.channelMask : kWriterNotOpen;
}

bool OWavWriter::isSupportSampleRate(unsigned int sampleRate) {
    return wavSupportsSampleRate(sampleRate);
}
bool OWavWriter::isSupportNumChannels(unsigned int numChannels) {
    return wavSupportsNumChannels(numChannels);
}
bool OWavWriter::isSupportBitsPerSample(unsigned short bitsPerSample) {
    return wavTableHasBits(kWriterSupportBitsPerSample, bitsPerSample);
}

} // namespace OWavIO
