// Malformed files: short chunk sizes, sizes past the end, truncation, and
// seeded random corruption never make the reader hang, crash or read beyond
// its buffers.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "wav_test_util.h"
#include "wavio/wav_reader.h"

using namespace wavtest;
using OWavIO::OWavReader;

namespace {

Bytes goodFile() {
    Bytes orvl;
    put32(orvl, 100);
    Bytes data;
    for (int i = 0; i < 40; ++i) put16(data, uint16_t(i * 811));
    Bytes chunks;
    putChunk(chunks, "JUNK", Bytes(28, 0));
    putChunk(chunks, "ORVL", orvl);
    putChunk(chunks, "fmt ", fmtExtensible(2, 48000, 16, 16, 3, 1));
    putChunk(chunks, "data", data);
    putChunk(chunks, "LIST", Bytes(9, 'x'));
    return riffFile(chunks);
}

// Creates a reader on `file` and drains it in blocks of 64 samples; the
// number of reads is bounded by what the file can hold.
unsigned openAndDrain(const Bytes &file, unsigned long long *len = nullptr) {
    std::istringstream s(std::string(file.begin(), file.end()));
    OWavReader r;
    const unsigned rc = r.createWavReader(s, len);
    if (rc != 1) return rc;
    std::vector<float> block(64);
    const size_t limit = file.size() / 64 + 2;
    size_t reads = 0;
    while (r.readAudioSamples(block.data(), block.size()) && reads < limit) ++reads;
    EXPECT_LT(reads, limit) << "reads did not reach the end";
    return rc;
}

} // namespace

TEST(WavReaderMalformed, ShortKnownChunksAreSkippedNotOverread) {
    Bytes data;
    for (int i = 1; i <= 4; ++i) put16(data, uint16_t(i * 1000));
    // Extensible fmt declared with only 20 bytes: the 40-byte layout would
    // run into the "data" header.
    {
        Bytes chunks;
        Bytes fmt = fmtExtensible(1, 48000, 16, 16, 4, 1);
        fmt.resize(20);
        putChunk(chunks, "fmt ", fmt);
        putChunk(chunks, "data", data);
        const Bytes file = riffFile(chunks);
        std::istringstream s(std::string(file.begin(), file.end()));
        OWavReader r;
        unsigned long long len = 0;
        ASSERT_EQ(1u, r.createWavReader(s, &len));
        EXPECT_EQ(8u, len);
        EXPECT_EQ(0u, r.getChannelMask());
        short out[4];
        EXPECT_EQ(0u, r.readAudioSamples(out, 4));
        EXPECT_EQ(4000, out[3]);
    }
    // "ORVL" of 2 bytes and "ds64" of 8 bytes in RF64: ignored, walk goes on.
    {
        Bytes chunks;
        putChunk(chunks, "ds64", Bytes(8, 0xFF));
        putChunk(chunks, "ORVL", {100, 0});
        putChunk(chunks, "fmt ", fmtBody(1, 1, 48000, 16));
        putChunk(chunks, "data", data);
        const Bytes file = riffFile(chunks, "RF64");
        std::istringstream s(std::string(file.begin(), file.end()));
        OWavReader r;
        unsigned long long len = 99;
        ASSERT_EQ(1u, r.createWavReader(s, &len));
        EXPECT_EQ(0u, r.getOWavIoExtensionVersion());
        EXPECT_EQ(0u, len); // no usable "ds64": no data length
        float out[2] = {5, 5};
        EXPECT_EQ(0u, r.readAudioSamples(out, 2));
        EXPECT_EQ(0.0f, out[0]);
    }
    // "fmt " shorter than its 16 basic bytes is not a format.
    {
        Bytes chunks;
        Bytes fmt = fmtBody(1, 1, 48000, 16);
        fmt.resize(12);
        putChunk(chunks, "fmt ", fmt);
        putChunk(chunks, "data", data);
        EXPECT_EQ(1003u, openAndDrain(riffFile(chunks)));
    }
}

TEST(WavReaderMalformed, SizesPastTheEndStopTheWalk) {
    Bytes chunks;
    putChunk(chunks, "fmt ", fmtBody(1, 1, 48000, 16));
    putChunk(chunks, "LIST", Bytes(4, 0), 0xFFFFFFF0u);
    putChunk(chunks, "data", Bytes(8, 0));
    unsigned long long len = 5;
    EXPECT_EQ(1u, openAndDrain(riffFile(chunks), &len));
    EXPECT_EQ(0u, len); // "data" lies beyond the bogus skip

    Bytes noFmt;
    putChunk(noFmt, "LIST", Bytes(4, 0), 0x7FFFFFFFu);
    putChunk(noFmt, "fmt ", fmtBody(1, 1, 48000, 16));
    EXPECT_EQ(1003u, openAndDrain(riffFile(noFmt)));
}

TEST(WavReaderMalformed, EveryTruncationIsHandled) {
    const Bytes file = goodFile();
    for (size_t n = 0; n <= file.size(); ++n) {
        const Bytes cut(file.begin(), file.begin() + long(n));
        const unsigned rc = openAndDrain(cut);
        EXPECT_TRUE(rc == 1 || (rc >= 1002 && rc <= 1005)) << "length " << n << " gave " << rc;
        if (n == 0) {
            EXPECT_EQ(1002u, rc);
        }
    }
    EXPECT_EQ(1u, openAndDrain(file));
}

TEST(WavReaderMalformed, SeededCorruptionNeverCrashes) {
    const uint32_t seed = 4242;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    const Bytes file = goodFile();
    for (int iter = 0; iter < 3000; ++iter) {
        Bytes bad = file;
        const int flips = 1 + int(rng() % 6);
        for (int f = 0; f < flips; ++f) {
            // Mostly the header and chunk sizes, where the walk decides.
            const size_t at = rng() % 3 ? rng() % 120 : rng() % bad.size();
            bad[at] = uint8_t(rng());
        }
        if (rng() % 4 == 0) bad.resize(rng() % bad.size());
        const unsigned rc = openAndDrain(bad);
        ASSERT_TRUE(rc == 1 || (rc >= 1002 && rc <= 1005)) << "iteration " << iter;
    }
}
