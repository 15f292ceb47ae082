// Writer -> reader round trips over all three encodings, piecewise reads.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "wav_test_util.h"
#include "wavio/wav_reader.h"
#include "wavio/wav_writer.h"

using namespace wavtest;
using OWavIO::OWavReader;
using OWavIO::OWavWriter;

namespace {

constexpr uint32_t kSeed = 20261208;

std::vector<float> writeAndRead(TempDir &dir, unsigned short bits, unsigned short ch,
                                const std::vector<float> &in, OWavReader &r) {
    const std::string path = dir.file("rt.wav");
    OWavWriter w;
    EXPECT_EQ(1u, w.createWavWriter(path.c_str(), 48000, ch, bits));
    EXPECT_EQ(1u, w.writeAudioSamples(in.data(), in.size()));
    EXPECT_EQ(1u, w.closeWavWriter());
    unsigned long long len = 0;
    EXPECT_EQ(1u, r.createWavReader(path.c_str(), &len));
    EXPECT_EQ(in.size() * (bits / 8), len);
    EXPECT_EQ(100u, r.getOWavIoExtensionVersion());
    EXPECT_EQ(ch, r.getNumChannels());
    EXPECT_EQ(bits, r.getBitsPerSample());
    EXPECT_EQ(48000u, r.getSampleRate());
    std::vector<float> out(in.size(), -9.0f);
    EXPECT_EQ(0u, r.readAudioSamples(out.data(), out.size()));
    return out;
}

} // namespace

TEST(WavRoundTrip, Float32IsBitExact) {
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    std::mt19937 rng(kSeed);
    std::normal_distribution<float> dist(0.0f, 2.0f);
    std::vector<float> in(3001 * 2);
    for (float &v : in) v = dist(rng);
    TempDir dir;
    OWavReader r;
    const std::vector<float> out = writeAndRead(dir, 32, 2, in, r);
    EXPECT_EQ(0, std::memcmp(in.data(), out.data(), in.size() * sizeof(float)));
}

TEST(WavRoundTrip, Pcm24IsExactOnItsGrid) {
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    std::mt19937 rng(kSeed);
    std::uniform_int_distribution<int32_t> dist(-8388608, 8388607);
    std::vector<float> in(4097);
    for (float &v : in) v = float(dist(rng)) / 8388608.0f;
    in[0] = -1.0f;
    in[1] = 8388607.0f / 8388608.0f;
    TempDir dir;
    OWavReader r;
    const std::vector<float> out = writeAndRead(dir, 24, 1, in, r);
    for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(in[i], out[i]) << i;
}

TEST(WavRoundTrip, Pcm24ReadThenWriteIsByteExact) {
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    std::mt19937 rng(kSeed);
    Bytes data(3 * 999);
    for (uint8_t &b : data) b = uint8_t(rng());
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtBody(1, 3, 44100, 24));
    putChunk(chunks, "data", data);
    TempDir dir;
    const std::string src = dir.file("src.wav"), dst = dir.file("dst.wav");
    writeFile(src, riffFile(chunks));
    OWavReader r;
    ASSERT_EQ(1u, r.createWavReader(src.c_str(), nullptr));
    std::vector<float> s(999);
    EXPECT_EQ(0u, r.readAudioSamples(s.data(), s.size()));
    OWavWriter w;
    ASSERT_EQ(1u, w.createWavWriter(dst.c_str(), r.getSampleRate(), r.getNumChannels(), 24));
    ASSERT_EQ(1u, w.writeAudioSamples(s.data(), s.size()));
    ASSERT_EQ(1u, w.closeWavWriter());
    const Bytes out = readFile(dst);
    ASSERT_EQ(116u + data.size(), out.size());
    EXPECT_EQ(0, std::memcmp(out.data() + 116, data.data(), data.size()));
}

TEST(WavRoundTrip, Pcm16StepsTowardZero) {
    // Every 16-bit value s read and written again becomes trunc(s * 32767 / 32768).
    std::vector<float> in(65536);
    for (int s = -32768; s < 32768; ++s) in[size_t(s + 32768)] = float(s) / 32768.0f;
    TempDir dir;
    const std::string path = dir.file("all16.wav");
    OWavWriter w;
    ASSERT_EQ(1u, w.createWavWriter(path.c_str(), 48000, 1, 16));
    ASSERT_EQ(1u, w.writeAudioSamples(in.data(), in.size()));
    ASSERT_EQ(1u, w.closeWavWriter());
    OWavReader r;
    ASSERT_EQ(1u, r.createWavReader(path.c_str(), nullptr));
    std::vector<short> out(in.size());
    EXPECT_EQ(0u, r.readAudioSamples(out.data(), out.size()));
    for (int s = -32768; s < 32768; ++s)
        ASSERT_EQ((s * 32767) / 32768, out[size_t(s + 32768)]) << s;
}

TEST(WavRoundTrip, PiecewiseReadsEqualOneWholeRead) {
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    std::mt19937 rng(kSeed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    TempDir dir;
    for (unsigned short bits : {16, 24, 32}) {
        std::vector<float> in(2 * 1500);
        for (float &v : in) v = dist(rng);
        OWavReader r;
        const std::vector<float> whole = writeAndRead(dir, bits, 2, in, r);
        ASSERT_EQ(1u, r.seekToWavDataBegin());
        std::vector<float> pieces;
        std::uniform_int_distribution<int> len(1, 700);
        unsigned more = 1;
        while (more) {
            std::vector<float> block(size_t(len(rng)));
            more = r.readAudioSamples(block.data(), block.size());
            pieces.insert(pieces.end(), block.begin(), block.end());
        }
        ASSERT_GE(pieces.size(), whole.size());
        EXPECT_EQ(0, std::memcmp(whole.data(), pieces.data(), whole.size() * sizeof(float)))
            << bits << " bits";
        for (size_t i = whole.size(); i < pieces.size(); ++i) ASSERT_EQ(0.0f, pieces[i]);
    }
}
