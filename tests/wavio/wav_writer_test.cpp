// OWavWriter: header bytes, fmt forms, sample encodings, RF64 switch at close.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "wav_test_util.h"
#include "wavio/wav_writer.h"

using namespace wavtest;
using OWavIO::OWavWriter;

namespace {

// Writes `samples` with the given format and returns the file's bytes.
Bytes writeFloats(TempDir &dir, unsigned rate, unsigned short ch, unsigned short bits,
                  const std::vector<float> &samples) {
    const std::string path = dir.file("w.wav");
    OWavWriter w;
    EXPECT_EQ(1u, w.createWavWriter(path.c_str(), rate, ch, bits));
    EXPECT_EQ(1u, w.writeAudioSamples(samples.data(), samples.size()));
    EXPECT_EQ(1u, w.closeWavWriter());
    return readFile(path);
}

// Exposes the close-time header so that sizes of several GiB can be checked
// without writing them.
class HeaderProbe : public OWavWriter {
public:
    void rewriteHeaderAs(unsigned long long dataBytes) {
        m_dataBytes = dataBytes;
        m_file.seekp(0, std::ios::beg);
        _writeWavHeader();
        m_file.close();
    }
};

} // namespace

TEST(WavWriterHeader, EmptyMono16IsThe116ByteLayout) {
    TempDir dir;
    const std::string path = dir.file("empty.wav");
    OWavWriter w;
    ASSERT_EQ(1u, w.createWavWriter(path.c_str(), 48000, 1, 16));
    EXPECT_EQ(48000u, w.getSampleRate());
    EXPECT_EQ(1u, w.getNumChannels());
    EXPECT_EQ(96000u, w.getBytesPerSecond());
    EXPECT_EQ(2u, w.getBlockAlignment());
    EXPECT_EQ(16u, w.getBitsPerSample());
    EXPECT_EQ(0u, w.getValidBitsPerSample());
    EXPECT_EQ(0u, w.getChannelMask());
    ASSERT_EQ(1u, w.closeWavWriter());
    const Bytes b = readFile(path);
    ASSERT_EQ(116u, b.size());
    EXPECT_EQ("RIFF", idAt(b, 0));
    EXPECT_EQ(108u, get32(b, 4));
    EXPECT_EQ("WAVE", idAt(b, 8));
    EXPECT_EQ("JUNK", idAt(b, 12));
    EXPECT_EQ(28u, get32(b, 16));
    for (size_t i = 20; i < 48; ++i) EXPECT_EQ(0, b[i]) << "JUNK byte " << i;
    EXPECT_EQ("ORVL", idAt(b, 48));
    EXPECT_EQ(4u, get32(b, 52));
    EXPECT_EQ(100u, get32(b, 56));
    EXPECT_EQ("fmt ", idAt(b, 60));
    EXPECT_EQ(40u, get32(b, 64));
    EXPECT_EQ(1u, get16(b, 68));      // PCM
    EXPECT_EQ(1u, get16(b, 70));      // channels
    EXPECT_EQ(48000u, get32(b, 72));  // rate
    EXPECT_EQ(96000u, get32(b, 76));  // bytes per second
    EXPECT_EQ(2u, get16(b, 80));      // block alignment
    EXPECT_EQ(16u, get16(b, 82));     // bits
    EXPECT_EQ(22u, get16(b, 84));     // extension size
    for (size_t i = 86; i < 108; ++i) EXPECT_EQ(0, b[i]) << "fmt byte " << i;
    EXPECT_EQ("data", idAt(b, 108));
    EXPECT_EQ(0u, get32(b, 112));
    // Closed: getters report "not open".
    EXPECT_EQ(2000u, w.getSampleRate());
    EXPECT_EQ(2000u, w.getNumChannels());
    EXPECT_EQ(2000u, w.getChannelMask());
    EXPECT_EQ(2000u, w.closeWavWriter());
    EXPECT_EQ(0u, w.writeAudioSamples(static_cast<const float *>(nullptr), 0));
}

TEST(WavWriterHeader, FloatFilesUseTagThreeAndRawBytes) {
    TempDir dir;
    const std::vector<float> s = {0.25f, -3.5f, std::numeric_limits<float>::denorm_min(), 1e30f};
    const Bytes b = writeFloats(dir, 44100, 2, 32, s);
    ASSERT_EQ(116u + 16u, b.size());
    EXPECT_EQ(3u, get16(b, 68));
    EXPECT_EQ(8u, get16(b, 80));
    EXPECT_EQ(44100u * 8u, get32(b, 76));
    EXPECT_EQ(16u, get32(b, 112));
    EXPECT_EQ(16u + 108u, get32(b, 4));
    EXPECT_EQ(0, std::memcmp(b.data() + 116, s.data(), 16));
}

TEST(WavWriterHeader, ExtensibleFormWritesDefaultsToFileOnly) {
    struct Case { unsigned short ch, bits, valid; unsigned mask, fileValid, fileMask, code; };
    const Case cases[] = {
        {2, 24, 20, 0, 20, 3, 1}, // two channels: front left and right
        {1, 24, 20, 0, 20, 4, 1}, // one channel: front centre
        {3, 24, 20, 0, 20, 0, 1}, // no default beyond stereo
        {2, 32, 0, 0x33, 32, 0x33, 3}, // mask alone makes it extensible; float sub-format
    };
    TempDir dir;
    for (const Case &c : cases) {
        const std::string path = dir.file("ext.wav");
        OWavWriter w;
        ASSERT_EQ(1u, w.createWavWriter(path.c_str(), 48000, c.ch, c.bits, c.valid, c.mask));
        EXPECT_EQ(c.mask, w.getChannelMask());
        EXPECT_EQ(c.valid, w.getValidBitsPerSample());
        ASSERT_EQ(1u, w.closeWavWriter());
        const Bytes b = readFile(path);
        ASSERT_EQ(116u, b.size());
        EXPECT_EQ(0xFFFEu, get16(b, 68));
        EXPECT_EQ(22u, get16(b, 84));
        EXPECT_EQ(c.fileValid, get16(b, 86)) << c.ch;
        EXPECT_EQ(c.fileMask, get32(b, 88)) << c.ch;
        EXPECT_EQ(c.code, get32(b, 92));
        EXPECT_EQ(0x0000u, get16(b, 96));
        EXPECT_EQ(0x0010u, get16(b, 98));
        const uint8_t tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        EXPECT_EQ(0, std::memcmp(b.data() + 100, tail, 8));
    }
}

TEST(WavWriterHeader, RefusedFormatsLeaveNoFile) {
    TempDir dir;
    const std::string path = dir.file("refused.wav");
    OWavWriter w;
    EXPECT_EQ(2002u, w.createWavWriter(path.c_str(), 3999, 1, 16));
    EXPECT_EQ(2003u, w.createWavWriter(path.c_str(), 48000, 0, 16));
    EXPECT_EQ(2004u, w.createWavWriter(path.c_str(), 48000, 1, 8));
    EXPECT_EQ(2004u, w.createWavWriter(path.c_str(), 48000, 1, 20));
    EXPECT_FALSE(fileExists(path));
    EXPECT_EQ(2001u, w.createWavWriter(dir.file("no/such/dir.wav").c_str(), 48000, 1, 16));
    EXPECT_EQ(1u, w.createWavWriter(path.c_str(), 4000, 1, 16));
    EXPECT_TRUE(w.isSupportBitsPerSample(24));
    EXPECT_FALSE(w.isSupportBitsPerSample(8));
    EXPECT_TRUE(w.isSupportNumChannels(65535));
    EXPECT_FALSE(w.isSupportSampleRate(3999));
}

TEST(WavWriterSamples, Pcm24BytesAndSaturation) {
    TempDir dir;
    const std::vector<float> s = {1.0f, -1.0f, 0.0f, 0.5f, 2.0f, -7.0f, NAN, -0.5f};
    const Bytes b = writeFloats(dir, 48000, 1, 24, s);
    ASSERT_EQ(116u + 24u, b.size());
    const uint8_t want[] = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40,
                            0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0};
    EXPECT_EQ(0, std::memcmp(b.data() + 116, want, sizeof want));
}

TEST(WavWriterSamples, Pcm16ScalesBy32767AndSaturates) {
    TempDir dir;
    // Beyond +-1.0 the value saturates instead of wrapping around.
    const std::vector<float> s = {1.0f, -1.0f, 0.5f, 0.0f, 1.5f, -1.5f, 1000.0f, -1e9f, NAN};
    const Bytes b = writeFloats(dir, 48000, 1, 16, s);
    ASSERT_EQ(116u + 18u, b.size());
    const int16_t want[] = {32767, -32767, 16383, 0, 32767, -32767, 32767, -32767, 0};
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(want[i], int16_t(get16(b, 116 + 2 * i))) << "sample " << i << " = " << s[i];
    EXPECT_EQ(0xFF, b[116]);
    EXPECT_EQ(0x7F, b[117]);
    EXPECT_EQ(0x01, b[118]);
    EXPECT_EQ(0x80, b[119]);
}

TEST(WavWriterSamples, Pcm16BlocksMatchSampleBySample) {
    // The 32-sample blocked loop and the remainder agree with a direct formula.
    TempDir dir;
    std::vector<float> s(32 * 3 + 7);
    uint32_t x = 12345;
    for (float &v : s) {
        x = x * 1664525u + 1013904223u;
        v = (float(x >> 8) / float(1 << 24)) * 3.0f - 1.5f;
    }
    const Bytes b = writeFloats(dir, 16000, 1, 16, s);
    for (size_t i = 0; i < s.size(); ++i) {
        const float y = std::fmax(-32767.0f, std::fmin(32767.0f, s[i] * 32767.0f));
        ASSERT_EQ(int16_t(std::trunc(y)), int16_t(get16(b, 116 + 2 * i))) << i;
    }
}

TEST(WavWriterSamples, OddDataSizeHasNoPadAndExactRiffSize) {
    TempDir dir;
    const Bytes b = writeFloats(dir, 8000, 1, 24, {0.1f, 0.2f, 0.3f});
    ASSERT_EQ(116u + 9u, b.size());
    EXPECT_EQ(9u, get32(b, 112));
    EXPECT_EQ(b.size() - 8, get32(b, 4));
}

TEST(WavWriterSamples, ShortSamplesOnlyFor16Bit) {
    TempDir dir;
    const short s[3] = {-32768, 1, 32767};
    const std::string p24 = dir.file("s24.wav");
    OWavWriter w24;
    ASSERT_EQ(1u, w24.createWavWriter(p24.c_str(), 48000, 1, 24));
    EXPECT_EQ(0u, w24.writeAudioSamples(s, 3));
    ASSERT_EQ(1u, w24.closeWavWriter());
    EXPECT_EQ(116u, readFile(p24).size());

    const std::string p16 = dir.file("s16.wav");
    OWavWriter w16;
    ASSERT_EQ(1u, w16.createWavWriter(p16.c_str(), 48000, 1, 16));
    EXPECT_EQ(0u, w16.writeAudioSamples(s, 0));
    EXPECT_EQ(1u, w16.writeAudioSamples(s, 3));
    ASSERT_EQ(1u, w16.closeWavWriter());
    const Bytes b = readFile(p16);
    ASSERT_EQ(122u, b.size());
    EXPECT_EQ(0, std::memcmp(b.data() + 116, s, 6));
}

TEST(WavWriterSamples, BufferGrowsForLargeBlocks) {
    TempDir dir;
    std::vector<float> s(5000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = float(i) / 5000.0f;
    const Bytes b = writeFloats(dir, 48000, 2, 32, s);
    ASSERT_EQ(116u + 20000u, b.size());
    EXPECT_EQ(0, std::memcmp(b.data() + 116, s.data(), 20000));
}

TEST(WavWriterLifecycle, DestroyWithoutCloseKeepsCreationSizes) {
    TempDir dir;
    const std::string path = dir.file("open.wav");
    {
        OWavWriter w;
        ASSERT_EQ(1u, w.createWavWriter(path.c_str(), 48000, 1, 16));
        const float s[4] = {0.1f, 0.2f, 0.3f, 0.4f};
        ASSERT_EQ(1u, w.writeAudioSamples(s, 4));
    }
    const Bytes b = readFile(path);
    ASSERT_EQ(124u, b.size());
    EXPECT_EQ(108u, get32(b, 4));
    EXPECT_EQ(0u, get32(b, 112));
}

TEST(WavWriterLifecycle, SecondCreationFinishesTheFirstFile) {
    TempDir dir;
    const std::string first = dir.file("first.wav");
    const std::string second = dir.file("second.wav");
    OWavWriter w;
    const float s[2] = {0.5f, -0.5f};
    ASSERT_EQ(1u, w.createWavWriter(first.c_str(), 48000, 1, 16));
    ASSERT_EQ(1u, w.writeAudioSamples(s, 2));
    ASSERT_EQ(1u, w.createWavWriter(second.c_str(), 48000, 1, 24));
    ASSERT_EQ(1u, w.writeAudioSamples(s, 1));
    ASSERT_EQ(1u, w.closeWavWriter());
    const Bytes a = readFile(first), b = readFile(second);
    ASSERT_EQ(120u, a.size());
    EXPECT_EQ(4u, get32(a, 112));
    ASSERT_EQ(119u, b.size());
    EXPECT_EQ(3u, get32(b, 112)); // the byte count starts over
}

TEST(WavWriterLifecycle, FailedWritesAreNotReportedAsSuccess) {
    if (!fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    OWavWriter w;
    ASSERT_EQ(1u, w.createWavWriter("/dev/full", 48000, 1, 32));
    std::vector<float> s(1 << 16, 0.25f);
    unsigned ok = 1;
    for (int i = 0; i < 4 && ok; ++i) ok = w.writeAudioSamples(s.data(), s.size());
    EXPECT_EQ(0u, ok);
}

TEST(WavWriterRf64, HeaderSwitchesWhenSizesLeave32Bits) {
    TempDir dir;
    struct Case { unsigned long long bytes; bool rf64; };
    const Case cases[] = {
        {0xFFFFFFFFull - 108, false},   // RIFF size exactly 0xFFFFFFFF
        {0xFFFFFFFFull - 107, true},    // RIFF size would wrap
        {0x100000000ull, true},         // 4 GiB
        {0x100000001ull, true},         // odd count: sizes rounded up to even
        {0x2345678901ull, true},
    };
    for (const Case &c : cases) {
        const std::string path = dir.file("rf64.wav");
        HeaderProbe w;
        ASSERT_EQ(1u, w.createWavWriter(path.c_str(), 48000, 2, 24));
        w.rewriteHeaderAs(c.bytes);
        const Bytes b = readFile(path);
        ASSERT_EQ(116u, b.size());
        EXPECT_EQ("ORVL", idAt(b, 48));
        EXPECT_EQ("fmt ", idAt(b, 60));
        EXPECT_EQ("data", idAt(b, 108));
        if (!c.rf64) {
            EXPECT_EQ("RIFF", idAt(b, 0));
            EXPECT_EQ(c.bytes + 108, get32(b, 4));
            EXPECT_EQ("JUNK", idAt(b, 12));
            EXPECT_EQ(c.bytes, get32(b, 112));
            continue;
        }
        const unsigned long long even = c.bytes + (c.bytes & 1);
        EXPECT_EQ("RF64", idAt(b, 0)) << c.bytes;
        EXPECT_EQ(0xFFFFFFFFu, get32(b, 4));
        EXPECT_EQ("WAVE", idAt(b, 8));
        EXPECT_EQ("ds64", idAt(b, 12));
        EXPECT_EQ(28u, get32(b, 16));
        EXPECT_EQ(even + 108, get64(b, 20));
        EXPECT_EQ(even, get64(b, 28));
        EXPECT_EQ(0u, get64(b, 36));
        EXPECT_EQ(0u, get32(b, 44));
        EXPECT_EQ(0xFFFFFFFFu, get32(b, 112));
    }
}
