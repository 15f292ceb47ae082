#include "wav_reader.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

#include "wav_convert.h"

namespace OWavIO {

static constexpr unsigned long long kInitialBufferBytes = 2048;

OWavReader::OWavReader()
    : m_header{}, m_ds64{}, m_stream(nullptr), m_ownsStream(false),
      m_buffer(static_cast<char *>(std::malloc(kInitialBufferBytes))),
      m_bufferCapacity(m_buffer ? kInitialBufferBytes : 0), m_dataLength(0), m_consumed(0),
      m_dataStart(0), m_fileLength(0), m_convertBits(0), m_rf64(false) {}

OWavReader::~OWavReader() {
    if (m_ownsStream) {
        std::ifstream *file = static_cast<std::ifstream *>(m_stream);
        if (file->is_open()) file->close();
        delete file;
    }
    std::free(m_buffer);
}

unsigned int OWavReader::createWavReader(const char *path, unsigned long long *dataLength) {
    if (dataLength) *dataLength = 0;
    if (m_ownsStream) delete static_cast<std::ifstream *>(m_stream);
    std::ifstream *file = new (std::nothrow) std::ifstream();
    m_stream = file;
    m_ownsStream = file != nullptr;
    if (!file) return kReaderOpenFailed;
    if (path) file->open(path, std::ios::in | std::ios::binary);
    if (!file->is_open()) {
        m_consumed = 0;
        return kReaderOpenFailed;
    }
    return _create(dataLength);
}

unsigned int OWavReader::createWavReader(std::istream &stream, unsigned long long *dataLength) {
    if (dataLength) *dataLength = 0;
    if (m_ownsStream) delete static_cast<std::ifstream *>(m_stream);
    m_stream = &stream;
    m_ownsStream = false;
    return _create(dataLength);
}

// Common part of both creations: the stream is open and ours to read.
unsigned int OWavReader::_create(unsigned long long *dataLength) {
    // A reader may be created again; nothing of an earlier file may survive.
    m_header = WavHeader{};
    m_ds64 = Ds64Record{};
    m_dataLength = 0;
    m_consumed = 0;
    m_dataStart = 0;
    m_convertBits = 0;
    m_rf64 = false;

    std::istream &s = *m_stream;
    s.clear();
    s.seekg(0, std::ios::end);
    const std::streamoff length = s.fail() ? std::streamoff(-1) : std::streamoff(s.tellg());
    if (length < 1) return kReaderEmptyFile;
    m_fileLength = length;
    s.seekg(0, std::ios::beg);

    _readWavHeader();

    if (m_header.sampleRate < kMinSampleRate) return kReaderBadSampleRate;
    if (m_header.numChannels == 0) return kReaderBadChannels;
    if (!isSupportBitsPerSample(m_header.bitsPerSample)) return kReaderBadBitsPerSample;
    if (dataLength) *dataLength = m_dataLength;
    return kWavOk;
}

bool OWavReader::_fileNotOpen() const {
    const std::ifstream *file = dynamic_cast<const std::ifstream *>(m_stream);
    return file && !file->is_open();
}

unsigned short OWavReader::_readInt16(const char *bytes) {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes);
    return static_cast<unsigned short>(b[0] | (b[1] << 8));
}

unsigned int OWavReader::_readInt32(const char *bytes) {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes);
    return static_cast<unsigned int>(b[0]) | (static_cast<unsigned int>(b[1]) << 8) |
           (static_cast<unsigned int>(b[2]) << 16) | (static_cast<unsigned int>(b[3]) << 24);
}

// Reads exactly `count` header bytes; false when the file ends first.
bool OWavReader::_readBytes(char *dst, unsigned long long count) {
    m_stream->read(dst, static_cast<std::streamsize>(count));
    return static_cast<unsigned long long>(m_stream->gcount()) == count;
}

bool OWavReader::_atEnd() const {
    if (!m_stream->good()) return true;
    const std::streamoff pos = m_stream->tellg();
    return pos < 0 || pos >= m_fileLength;
}

// Skips forward by seeking, never backwards and never past the end of the
// file: a declared size beyond the end ends the walk there.
bool OWavReader::_skipBuffer(unsigned long long count) {
    const std::streamoff pos = m_stream->tellg();
    if (pos < 0) return false;
    const unsigned long long left = static_cast<unsigned long long>(m_fileLength - pos);
    if (count >= left) {
        m_stream->seekg(m_fileLength, std::ios::beg);
        return false;
    }
    m_stream->seekg(pos + static_cast<std::streamoff>(count), std::ios::beg);
    return !m_stream->fail();
}

bool OWavReader::_reInitByteBuffer(unsigned long long capacity) {
    if (capacity > static_cast<unsigned long long>(SIZE_MAX)) return false;
    char *fresh = static_cast<char *>(std::malloc(static_cast<size_t>(capacity)));
    if (!fresh) return false;
    std::free(m_buffer);
    m_buffer = fresh;
    m_bufferCapacity = capacity;
    return true;
}

void OWavReader::_readWavHeader() {
    _readRiffChunk();
    if (_atEnd()) return;
    for (;;) {
        char head[8];
        if (!_readBytes(head, 8)) return;
        const uint32_t id = _readInt32(head);
        const uint32_t size = _readInt32(head + 4);
        // Each known chunk is parsed only when its declared size holds the
        // fields; otherwise it is skipped whole, so the walk never reads into
        // the next chunk or moves backwards.
        uint32_t consumed = 0;
        if (id == kIdFmt) {
            if (size >= kFmtBasicBytes) {
                m_header.fmtId = id;
                m_header.fmtSize = size;
                _readFormatChunk();
                consumed = kFmtBasicBytes;
                if (m_header.formatTag == kWavFormatExtensible && size >= kFmtExtensibleBytes) {
                    _readExtensibleData();
                    _readSubFormatData();
                    consumed = kFmtExtensibleBytes;
                }
                if (m_header.formatTag == kWavFormatPcm && m_header.bitsPerSample == 32) {
                    _markUnsupportFormat();
                    return;
                }
            }
        } else if (id == kIdDs64) {
            if (m_rf64 && size >= kDs64BodyBytes) {
                _readDs64Chunk();
                consumed = kDs64BodyBytes;
            }
        } else if (id == kIdOrvl) {
            if (size >= kOrvlBodyBytes) {
                _readOrvlChunk();
                consumed = kOrvlBodyBytes;
            }
        } else if (id == kIdData) {
            _markDataLength(static_cast<int>(size));
            _markDataStartPosition();
            return;
        }
        if (!m_stream->good()) return;
        const unsigned long long skip =
            static_cast<unsigned long long>(size - consumed) + (size & 1u);
        if (!_skipBuffer(skip) || _atEnd()) return;
    }
}

void OWavReader::_readRiffChunk() {
    char id[4];
    if (!_readBytes(id, 4)) return;
    const uint32_t v = _readInt32(id);
    if (v == kIdRiff) {
        m_rf64 = false;
        m_header.riffId = v;
        _readRiffData();
    } else if (v == kIdRf64) {
        m_rf64 = true;
        m_header.riffId = v;
        _readRf64Data();
    }
    // Anything else: the chunk walk starts right here, at byte 4.
}

void OWavReader::_readRiffData() {
    char b[8];
    if (!_readBytes(b, 8)) return;
    m_header.riffSize = _readInt32(b);
    m_header.waveId = _readInt32(b + 4);
}

void OWavReader::_readRf64Data() {
    char b[8];
    if (!_readBytes(b, 8)) return;
    m_header.riffSize = 0xFFFFFFFFu; // the real size lives in "ds64"
    m_header.waveId = _readInt32(b + 4);
}

void OWavReader::_readDs64Chunk() {
    char b[kDs64BodyBytes];
    if (!_readBytes(b, sizeof b)) return;
    m_ds64.id = kIdDs64;
    m_ds64.size = kDs64BodyBytes;
    m_ds64.riffSize = _readInt32(b) | (static_cast<uint64_t>(_readInt32(b + 4)) << 32);
    m_ds64.dataSize = _readInt32(b + 8) | (static_cast<uint64_t>(_readInt32(b + 12)) << 32);
    m_ds64.sampleCount = _readInt32(b + 16) | (static_cast<uint64_t>(_readInt32(b + 20)) << 32);
    m_ds64.tableLength = _readInt32(b + 24);
}

void OWavReader::_readOrvlChunk() {
    char b[kOrvlBodyBytes];
    if (!_readBytes(b, sizeof b)) return;
    m_header.extensionVersion = _readInt32(b);
}

void OWavReader::_readFormatChunk() {
    char b[kFmtBasicBytes];
    if (!_readBytes(b, sizeof b)) return;
    m_header.formatTag = _readInt16(b);
    m_header.numChannels = _readInt16(b + 2);
    m_header.sampleRate = _readInt32(b + 4);
    m_header.bytesPerSecond = _readInt32(b + 8);
    m_header.blockAlignment = _readInt16(b + 12);
    m_header.bitsPerSample = _readInt16(b + 14);
    m_convertBits = m_header.bitsPerSample;
}

void OWavReader::_readExtensibleData() {
    char b[8];
    if (!_readBytes(b, sizeof b)) return;
    m_header.extensionSize = _readInt16(b);
    m_header.validBitsPerSample = _readInt16(b + 2);
    m_header.channelMask = _readInt32(b + 4);
}

void OWavReader::_readSubFormatData() {
    char b[16];
    if (!_readBytes(b, sizeof b)) return;
    m_header.subFormatCode = _readInt32(b);
    m_header.subFormatWord1 = _readInt16(b + 4);
    m_header.subFormatWord2 = _readInt16(b + 6);
    m_header.subFormatTail[0] = _readInt32(b + 8);
    m_header.subFormatTail[1] = _readInt32(b + 12);
}

void OWavReader::_markUnsupportFormat() {
    m_header.bitsPerSample = 0;
    m_convertBits = 0;
}

void OWavReader::_markDataLength(int chunkSize) {
    m_header.dataId = kIdData;
    if (m_rf64) {
        m_header.dataSize = 0xFFFFFFFFu;
        m_dataLength = m_ds64.dataSize;
    } else {
        m_header.dataSize = static_cast<uint32_t>(chunkSize);
        m_dataLength = m_header.dataSize;
    }
}

void OWavReader::_markDataStartPosition() { m_dataStart = m_stream->tellg(); }

// Reads up to `count` bytes of the data chunk into the byte buffer and zeroes
// whatever the data (or the file) could not supply. Returns bytes read.
unsigned long long OWavReader::_readDataBytes(unsigned long long count) {
    const unsigned long long left = m_consumed < m_dataLength ? m_dataLength - m_consumed : 0;
    const unsigned long long want = count < left ? count : left;
    unsigned long long got = 0;
    if (want) {
        m_stream->read(m_buffer, static_cast<std::streamsize>(want));
        got = static_cast<unsigned long long>(m_stream->gcount());
    }
    if (got < count) std::memset(m_buffer + got, 0, static_cast<size_t>(count - got));
    return got;
}

unsigned int OWavReader::readAudioSamples(float *out, unsigned long long count) {
    if (!m_stream || _fileNotOpen()) return 0;
    const unsigned int bytesPerSample = m_convertBits / 8u;
    if (bytesPerSample < 2 || bytesPerSample > 4) return 0;
    if (count > ~0ull / bytesPerSample) return 0;
    const unsigned long long bytes = bytesPerSample * count;
    if (bytes > m_bufferCapacity && !_reInitByteBuffer(bytes)) return 0;
    _readDataBytes(bytes);
    const uint8_t *raw = reinterpret_cast<const uint8_t *>(m_buffer);
    const size_t n = static_cast<size_t>(count);
    if (bytesPerSample == 4)
        wavFloat32ToFloat(raw, out, n);
    else if (bytesPerSample == 3)
        wavPcm24ToFloat(raw, out, n);
    else
        wavPcm16ToFloat(raw, out, n);
    m_consumed += bytes;
    if (m_stream->eof()) {
        m_stream->clear();
        return 0;
    }
    return m_consumed < m_dataLength ? 1u : 0u;
}

unsigned int OWavReader::readAudioSamples(short *out, unsigned long long count) {
    if (m_convertBits != 16) return 0;
    if (!m_stream || _fileNotOpen()) return 0;
    if (count > ~0ull / 2) return 0;
    const unsigned long long bytes = 2 * count;
    if (bytes > m_bufferCapacity && !_reInitByteBuffer(bytes)) return 0;
    _readDataBytes(bytes);
    // 16-bit samples are little-endian in the file and on every host we target.
    if (bytes) std::memcpy(out, m_buffer, static_cast<size_t>(bytes));
    m_consumed += bytes;
    if (m_stream->eof()) {
        m_stream->clear();
        return 0;
    }
    return m_consumed < m_dataLength ? 1u : 0u;
}

unsigned int OWavReader::seekToWavDataBegin() {
    if (_fileNotOpen()) return kReaderNotOpen;
    m_consumed = 0;
    if (m_stream) {
        m_stream->clear();
        m_stream->seekg(m_dataStart, std::ios::beg);
    }
    return kWavOk;
}

unsigned int OWavReader::closeWavReader() {
    if (_fileNotOpen()) return kReaderNotOpen;
    if (m_ownsStream) static_cast<std::ifstream *>(m_stream)->close();
    return kWavOk;
}

unsigned int OWavReader::getSampleRate() {
    return _fileNotOpen() ? kReaderNotOpen : m_header.sampleRate;
}
unsigned short OWavReader::getNumChannels() {
    return _fileNotOpen() ? static_cast<unsigned short>(kReaderNotOpen) : m_header.numChannels;
}
unsigned short OWavReader::getBitsPerSample() {
    return _fileNotOpen() ? static_cast<unsigned short>(kReaderNotOpen) : m_header.bitsPerSample;
}
unsigned int OWavReader::getBytesPerSecond() {
    return _fileNotOpen() ? kReaderNotOpen : m_header.bytesPerSecond;
}
unsigned short OWavReader::getBlockAlignment() {
    return _fileNotOpen() ? static_cast<unsigned short>(kReaderNotOpen) : m_header.blockAlignment;
}
unsigned short OWavReader::getValidBitsPerSample() {
    return _fileNotOpen() ? static_cast<unsigned short>(kReaderNotOpen)
                          : m_header.validBitsPerSample;
}
unsigned int OWavReader::getChannelMask() {
    return _fileNotOpen() ? kReaderNotOpen : m_header.channelMask;
}
unsigned long long OWavReader::getDataLength() {
    return _fileNotOpen() ? kReaderNotOpen : m_dataLength;
}
unsigned int OWavReader::getOWavIoExtensionVersion() { return m_header.extensionVersion; }

bool OWavReader::isSupportSampleRate(unsigned int sampleRate) {
    return wavSupportsSampleRate(sampleRate);
}
bool OWavReader::isSupportNumChannels(unsigned int numChannels) {
    return wavSupportsNumChannels(numChannels);
}
bool OWavReader::isSupportBitsPerSample(unsigned short bitsPerSample) {
    return wavTableHasBits(kReaderSupportBitsPerSample, bitsPerSample);
}

} // namespace OWavIO
