// OWavReader: chunk walk, formats, conversions, end-of-data results.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "wav_test_util.h"
#include "wavio/wav_reader.h"

using namespace wavtest;
using OWavIO::OWavReader;

namespace {

Bytes pcm16Data(std::initializer_list<int16_t> v) {
    Bytes b;
    for (int16_t s : v) put16(b, uint16_t(s));
    return b;
}

// Opens `file` through a caller-owned stream; returns the creation result.
unsigned openBytes(OWavReader &r, std::istringstream &s, const Bytes &file,
                   unsigned long long *len = nullptr) {
    s.str(std::string(file.begin(), file.end()));
    return r.createWavReader(s, len);
}

} // namespace

TEST(WavReaderHeader, Plain44ByteFile) {
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtBody(1, 1, 16000, 16));
    putChunk(chunks, "data", pcm16Data({0x7FFF, -0x8000, 1, -1}));
    const Bytes file = riffFile(chunks);
    ASSERT_EQ(44u + 8u, file.size());
    OWavReader r;
    std::istringstream s;
    unsigned long long len = 99;
    ASSERT_EQ(1u, openBytes(r, s, file, &len));
    EXPECT_EQ(8u, len);
    EXPECT_EQ(16000u, r.getSampleRate());
    EXPECT_EQ(1u, r.getNumChannels());
    EXPECT_EQ(16u, r.getBitsPerSample());
    EXPECT_EQ(32000u, r.getBytesPerSecond());
    EXPECT_EQ(2u, r.getBlockAlignment());
    EXPECT_EQ(0u, r.getValidBitsPerSample());
    EXPECT_EQ(0u, r.getChannelMask());
    EXPECT_EQ(0u, r.getOWavIoExtensionVersion());
    EXPECT_EQ(8u, r.getDataLength());
    float out[4];
    EXPECT_EQ(0u, r.readAudioSamples(out, 4));
    EXPECT_EQ(32767.0f / 32768.0f, out[0]);
    EXPECT_EQ(-1.0f, out[1]);
    EXPECT_EQ(1.0f / 32768.0f, out[2]);
    EXPECT_EQ(-1.0f / 32768.0f, out[3]);
    EXPECT_EQ(1u, r.closeWavReader()); // caller's stream: nothing to close
}

TEST(WavReaderHeader, EighteenByteFmtAndOddUnknownChunk) {
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtBody(1, 2, 22050, 16, 2));
    putChunk(chunks, "LIST", {'a', 'b', 'c', 'd', 'e'}); // odd: pad byte follows
    putChunk(chunks, "data", pcm16Data({100, -100}));
    OWavReader r;
    std::istringstream s;
    ASSERT_EQ(1u, openBytes(r, s, riffFile(chunks)));
    EXPECT_EQ(2u, r.getNumChannels());
    EXPECT_EQ(22050u, r.getSampleRate());
    short out[2] = {0, 0};
    EXPECT_EQ(0u, r.readAudioSamples(out, 2));
    EXPECT_EQ(100, out[0]);
    EXPECT_EQ(-100, out[1]);
}

TEST(WavReaderHeader, FormatRefusalsAndLimits) {
    struct Case { Bytes fmt; unsigned want; };
    const Case cases[] = {
        {fmtBody(1, 1, 48000, 32), 1005},   // 32-bit integer PCM
        {fmtBody(1, 1, 48000, 8), 1005},
        {fmtBody(1, 1, 48000, 20), 1005},
        {fmtBody(1, 1, 3999, 16), 1003},
        {fmtBody(1, 0, 48000, 16), 1004},
        {fmtBody(1, 1, 4000, 16), 1},
        {fmtBody(3, 1, 48000, 32), 1},
        {fmtExtensible(1, 48000, 32, 32, 4, 3), 1},
        {fmtExtensible(2, 48000, 24, 20, 3, 1), 1},
    };
    for (const Case &c : cases) {
        Bytes chunks;
        putChunk(chunks, "fmt ", c.fmt);
        putChunk(chunks, "data", Bytes(12, 0));
        OWavReader r;
        std::istringstream s;
        unsigned long long len = 7;
        EXPECT_EQ(c.want, openBytes(r, s, riffFile(chunks), &len)) << get16(c.fmt, 14);
        EXPECT_EQ(c.want == 1 ? 12u : 0u, len);
    }
    // No "fmt " chunk at all.
    Bytes chunks;
    putChunk(chunks, "data", Bytes(4, 0));
    OWavReader r;
    std::istringstream s;
    EXPECT_EQ(1003u, openBytes(r, s, riffFile(chunks)));
}

TEST(WavReaderHeader, ExtensibleFieldsAreRead) {
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtExtensible(2, 96000, 24, 20, 3, 1));
    putChunk(chunks, "data", Bytes(6, 0));
    OWavReader r;
    std::istringstream s;
    ASSERT_EQ(1u, openBytes(r, s, riffFile(chunks)));
    EXPECT_EQ(20u, r.getValidBitsPerSample());
    EXPECT_EQ(3u, r.getChannelMask());
    EXPECT_EQ(24u, r.getBitsPerSample());
}

TEST(WavReaderHeader, Rf64TakesDataLengthFromDs64) {
    Bytes ds64;
    put64(ds64, 200);
    put64(ds64, 6); // data length: 3 samples, although "data" says 0xFFFFFFFF
    put64(ds64, 3);
    put32(ds64, 0);
    Bytes chunks;
    putChunk(chunks, "ds64", ds64);
    putChunk(chunks, "fmt ", fmtBody(1, 1, 48000, 16));
    putChunk(chunks, "data", pcm16Data({1, 2, 3, 4, 5}), 0xFFFFFFFF);
    OWavReader r;
    std::istringstream s;
    unsigned long long len = 0;
    ASSERT_EQ(1u, openBytes(r, s, riffFile(chunks, "RF64"), &len));
    EXPECT_EQ(6u, len);
    short out[5];
    EXPECT_EQ(0u, r.readAudioSamples(out, 5));
    EXPECT_EQ(3, out[2]);
    EXPECT_EQ(0, out[3]); // beyond the data length
}

TEST(WavReaderHeader, Ds64InsideRiffIsIgnored) {
    Bytes ds64;
    put64(ds64, 1000);
    put64(ds64, 1000);
    put64(ds64, 0);
    put32(ds64, 0);
    Bytes chunks;
    putChunk(chunks, "ds64", ds64);
    putChunk(chunks, "fmt ", fmtBody(1, 1, 48000, 16));
    putChunk(chunks, "data", pcm16Data({1, 2}));
    OWavReader r;
    std::istringstream s;
    unsigned long long len = 0;
    ASSERT_EQ(1u, openBytes(r, s, riffFile(chunks), &len));
    EXPECT_EQ(4u, len);
}

TEST(WavReaderSamples, ExactScaleFactors) {
    Bytes d24;
    const uint8_t raw[] = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF};
    d24.assign(raw, raw + sizeof raw);
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtBody(1, 1, 48000, 24));
    putChunk(chunks, "data", d24);
    OWavReader r;
    std::istringstream s;
    ASSERT_EQ(1u, openBytes(r, s, riffFile(chunks)));
    float out[4];
    EXPECT_EQ(0u, r.readAudioSamples(out, 4));
    EXPECT_EQ(-1.0f, out[0]);
    EXPECT_EQ(8388607.0f / 8388608.0f, out[1]);
    EXPECT_EQ(1.0f / 8388608.0f, out[2]);
    EXPECT_EQ(-1.0f / 8388608.0f, out[3]);
    // The 16-bit read of a 24-bit file refuses and leaves the output alone.
    ASSERT_EQ(1u, r.seekToWavDataBegin());
    short untouched[2] = {77, 77};
    EXPECT_EQ(0u, r.readAudioSamples(untouched, 2));
    EXPECT_EQ(77, untouched[0]);
    EXPECT_EQ(77, untouched[1]);
}

TEST(WavReaderSamples, EndOfDataResults) {
    // 6 samples of data; blocks of 2 end exactly, blocks of 4 overrun.
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtBody(1, 1, 48000, 16));
    putChunk(chunks, "data", pcm16Data({1, 2, 3, 4, 5, 6}));
    OWavReader r;
    std::istringstream s;
    ASSERT_EQ(1u, openBytes(r, s, riffFile(chunks)));
    float out[4];
    EXPECT_EQ(1u, r.readAudioSamples(out, 2));
    EXPECT_EQ(1u, r.readAudioSamples(out, 2));
    EXPECT_EQ(0u, r.readAudioSamples(out, 2));
    EXPECT_EQ(6.0f / 32768.0f, out[1]);
    ASSERT_EQ(1u, r.seekToWavDataBegin());
    EXPECT_EQ(1u, r.readAudioSamples(out, 4));
    EXPECT_EQ(0u, r.readAudioSamples(out, 4));
    EXPECT_EQ(5.0f / 32768.0f, out[0]);
    EXPECT_EQ(6.0f / 32768.0f, out[1]);
    EXPECT_EQ(0.0f, out[2]);
    EXPECT_EQ(0.0f, out[3]);
}

TEST(WavReaderSamples, ChunkAfterDataNeverLeaksIntoAudio) {
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtBody(1, 1, 48000, 16));
    putChunk(chunks, "data", pcm16Data({1000, 2000, 3000}));
    putChunk(chunks, "LIST", Bytes(64, 0x55));
    OWavReader r;
    std::istringstream s;
    ASSERT_EQ(1u, openBytes(r, s, riffFile(chunks)));
    float out[8];
    std::fill(out, out + 8, 9.0f);
    EXPECT_EQ(0u, r.readAudioSamples(out, 8));
    EXPECT_EQ(3000.0f / 32768.0f, out[2]);
    for (int i = 3; i < 8; ++i) EXPECT_EQ(0.0f, out[i]) << i;
    // Further reads deliver silence and keep reporting the end.
    EXPECT_EQ(0u, r.readAudioSamples(out, 8));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(0.0f, out[i]) << i;
}

TEST(WavReaderSamples, TruncatedDataReadsWhatIsThere) {
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtBody(1, 1, 48000, 16));
    putChunk(chunks, "data", pcm16Data({7, 8}), 1000); // declares 1000 bytes
    OWavReader r;
    std::istringstream s;
    unsigned long long len = 0;
    ASSERT_EQ(1u, openBytes(r, s, riffFile(chunks), &len));
    EXPECT_EQ(1000u, len);
    short out[6] = {-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(0u, r.readAudioSamples(out, 6));
    EXPECT_EQ(7, out[0]);
    EXPECT_EQ(8, out[1]);
    for (int i = 2; i < 6; ++i) EXPECT_EQ(0, out[i]);
    // The stream state was cleared, so the data can be read again.
    ASSERT_EQ(1u, r.seekToWavDataBegin());
    EXPECT_EQ(1u, r.readAudioSamples(out, 1));
    EXPECT_EQ(7, out[0]);
}

TEST(WavReaderLifecycle, PathFormAndClosedGetters) {
    TempDir dir;
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtBody(3, 1, 48000, 32));
    Bytes data;
    put32(data, 0x3F000000); // 0.5f
    putChunk(chunks, "data", data);
    const std::string path = dir.file("f.wav");
    writeFile(path, riffFile(chunks));
    OWavReader r;
    ASSERT_EQ(1u, r.createWavReader(path.c_str(), nullptr));
    float v = 0;
    EXPECT_EQ(0u, r.readAudioSamples(&v, 1));
    EXPECT_EQ(0.5f, v);
    EXPECT_EQ(1u, r.closeWavReader());
    EXPECT_EQ(1000u, r.getSampleRate());
    EXPECT_EQ(1000u, r.getNumChannels());
    EXPECT_EQ(1000u, r.getDataLength());
    EXPECT_EQ(1000u, r.closeWavReader());
    EXPECT_EQ(1000u, r.seekToWavDataBegin());
    EXPECT_EQ(0u, r.readAudioSamples(&v, 1));

    OWavReader missing;
    unsigned long long len = 5;
    EXPECT_EQ(1001u, missing.createWavReader(dir.file("absent.wav").c_str(), &len));
    EXPECT_EQ(0u, len);
    EXPECT_EQ(1000u, missing.getSampleRate());

    const std::string empty = dir.file("empty.wav");
    writeFile(empty, {});
    OWavReader e;
    EXPECT_EQ(1002u, e.createWavReader(empty.c_str(), nullptr));

    OWavReader fresh; // no stream yet: zeroed fields
    EXPECT_EQ(0u, fresh.getSampleRate());
    EXPECT_EQ(1u, fresh.closeWavReader());
}
