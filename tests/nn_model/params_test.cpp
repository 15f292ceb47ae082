// Parameter store: blob and file parsing, every failure message, clean
// failure (no partial table; LeakSanitizer checks nothing stays allocated
// in the sanitizer build), alignment, round trips and the built-in blob's
// record layout.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "nn/params.h"
#include "weight_sets.h"

namespace {

using calyx_weights::WeightSet;
using Bytes = std::vector<unsigned char>;

const char kNoLength[] = "data reading error: not enough data for length\n";
const char kNoPos[] = "data reading error: not enough data for pos\n";
const char kNegative[] = "data reading error: negative length\n";
const char kOpen[] = "file opening failed";

struct TableDeleter {
    int32_t count;
    void operator()(param_record *t) const { destroy_params(t, count); }
};
using Table = std::unique_ptr<param_record, TableDeleter>;

Table parse(const Bytes &b, int32_t size, int32_t count) {
    return Table(load_from_array(b.data(), size, count), TableDeleter{count});
}

bool aligned64(const void *p) { return reinterpret_cast<uintptr_t>(p) % 64 == 0; }

// perror() output: the message, then ": " and the system error text.
bool starts_with(const std::string &text, const char *prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Small seeded set with awkward values: empty record, -0, NaN payload,
// denormal, infinity, power-of-two and odd lengths.
WeightSet awkward_set(uint32_t seed) {
    WeightSet set = {{1.5f, -0.0f}, {}, std::vector<float>(16), std::vector<float>(33), {7.0f}};
    uint32_t s = seed;
    for (auto &rec : set)
        for (float &x : rec) {
            s = s * 1664525u + 1013904223u;
            x = float(int32_t(s >> 8) - (1 << 23)) / float(1 << 20);
        }
    set[2][3] = std::numeric_limits<float>::denorm_min();
    set[2][4] = std::numeric_limits<float>::infinity();
    uint32_t nan_bits = 0x7FC01234u;
    std::memcpy(&set[3][5], &nan_bits, 4);
    set[0][1] = -0.0f;
    return set;
}

void expect_bits_equal(const param_record *t, const WeightSet &set) {
    for (size_t i = 0; i < set.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        ASSERT_EQ(t[i].length, int32_t(set[i].size()));
        ASSERT_NE(t[i].data, nullptr);
        if (!set[i].empty()) {
            EXPECT_EQ(std::memcmp(t[i].data, set[i].data(), set[i].size() * 4), 0);
        }
    }
}

void put_i32(Bytes &b, size_t at, int32_t v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    for (int k = 0; k < 4; ++k) b[at + size_t(k)] = static_cast<unsigned char>(u >> (8 * k));
}

std::string temp_path(const std::string &name) {
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/calyx_params_test_" + name + "_" +
           std::to_string(long(getpid()));
}

void write_bytes(const std::string &path, const Bytes &b, size_t n) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(b.data(), 1, n, f), n);
    std::fclose(f);
}

// ---------------------------------------------------------------------------

TEST(ParamsBlob, BuiltInBlobHoldsTheNinetyRecordLayout) {
    EXPECT_EQ(PARAMS_90_size, uint32_t(CALYX_PARAMS_90_BYTES));
    param_record *t = load_from_array(PARAMS_90, CALYX_PARAMS_90_BYTES, CALYX_PARAMS_90_COUNT);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(aligned64(PARAMS_90));
    EXPECT_TRUE(aligned64(t));
    int64_t total = 0;
    for (int i = 0; i < CALYX_PARAMS_90_COUNT; ++i) {
        EXPECT_EQ(t[i].length, calyx_weights::record_length(i)) << "record " << i;
        EXPECT_TRUE(aligned64(t[i].data)) << "record " << i;
        total += t[i].length;
    }
    // Consumed exactly: counts plus elements fill the blob to its last byte.
    EXPECT_EQ(total, 2303162);
    EXPECT_EQ(4 * (total + CALYX_PARAMS_90_COUNT), int64_t(CALYX_PARAMS_90_BYTES));
    EXPECT_EQ(t[0].length, 576);
    EXPECT_EQ(t[88].length, 10);
    EXPECT_EQ(t[89].length, 10);
    destroy_params(t, CALYX_PARAMS_90_COUNT);
}

TEST(ParamsBlob, GeneratedSetsHaveTheBuiltInByteLength) {
    EXPECT_EQ(int64_t(calyx_weights::encode_blob(calyx_weights::transparent_set()).size()), calyx_weights::kBlobBytes);
    EXPECT_EQ(int64_t(calyx_weights::encode_blob(calyx_weights::random_set(7)).size()), calyx_weights::kBlobBytes);
    // Same seed, same bytes; another seed, other bytes.
    EXPECT_EQ(calyx_weights::encode_blob(calyx_weights::random_set(7)), calyx_weights::encode_blob(calyx_weights::random_set(7)));
    EXPECT_NE(calyx_weights::encode_blob(calyx_weights::random_set(7)), calyx_weights::encode_blob(calyx_weights::random_set(8)));
}

TEST(ParamsBlob, ParsesEveryRecordBitForBitAndAligned) {
    const WeightSet set = awkward_set(11);
    const Bytes b = calyx_weights::encode_blob(set);
    for (auto loader : {load_from_array, load_from_array_fp16}) {
        Table t(loader(b.data(), int32_t(b.size()), int32_t(set.size())), TableDeleter{int32_t(set.size())});
        ASSERT_NE(t, nullptr);
        EXPECT_TRUE(aligned64(t.get()));
        expect_bits_equal(t.get(), set);
        for (size_t i = 0; i < set.size(); ++i) EXPECT_TRUE(aligned64(t.get()[i].data));
        // The empty record still owns a valid allocation.
        EXPECT_NE(t.get()[1].data, nullptr);
    }
}

TEST(ParamsBlob, TrailingBytesAndFewerRecordsAreIgnored) {
    const WeightSet set = awkward_set(12);
    Bytes b = calyx_weights::encode_blob(set);
    b.insert(b.end(), {1, 2, 3, 4, 5});
    Table t = parse(b, int32_t(b.size()), 3);
    ASSERT_NE(t, nullptr);
    expect_bits_equal(t.get(), WeightSet(set.begin(), set.begin() + 3));
}

TEST(ParamsBlob, CountBelowOneGivesEmptyTable) {
    const Bytes b = calyx_weights::encode_blob(awkward_set(13));
    for (int32_t count : {0, -1, std::numeric_limits<int32_t>::min()}) {
        param_record *t = load_from_array(b.data(), int32_t(b.size()), count);
        EXPECT_NE(t, nullptr);
        destroy_params(t, count);
    }
    destroy_params(nullptr, 90);  // accepted, nothing happens
}

TEST(ParamsBlob, ZeroLengthRecordConsumesFourBytes) {
    const Bytes b = calyx_weights::encode_blob({{}, {2.0f}});
    ASSERT_EQ(b.size(), 12u);
    Table t = parse(b, 12, 2);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t.get()[0].length, 0);
    EXPECT_EQ(t.get()[1].length, 1);
    EXPECT_EQ(t.get()[1].data[0], 2.0f);
}

TEST(ParamsBlob, ShortBlobReportsPosInsideTheLastRecord) {
    const WeightSet set = awkward_set(14);
    const Bytes b = calyx_weights::encode_blob(set);
    testing::internal::CaptureStderr();
    Table t = parse(b, int32_t(b.size()) - 4, int32_t(set.size()));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(t, nullptr);
    EXPECT_TRUE(starts_with(err, kNoPos)) << err;
}

TEST(ParamsBlob, BlobEndingBetweenRecordsReportsLength) {
    const WeightSet set = awkward_set(15);
    const Bytes b = calyx_weights::encode_blob(set);
    testing::internal::CaptureStderr();
    Table t = parse(b, int32_t(b.size()), int32_t(set.size()) + 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(t, nullptr);
    EXPECT_TRUE(starts_with(err, kNoLength)) << err;
}

// Every cut of the blob short of its full length fails, with the message
// that names where the data ran out.
TEST(ParamsBlob, EveryTruncationFailsWithTheRightMessage) {
    const WeightSet set = awkward_set(16);
    const Bytes b = calyx_weights::encode_blob(set);
    std::vector<size_t> record_start;
    size_t at = 0;
    for (const auto &rec : set) {
        record_start.push_back(at);
        at += 4 + 4 * rec.size();
    }
    for (size_t cut = 0; cut < b.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        bool in_count = false;
        for (size_t s : record_start) in_count = in_count || (cut >= s && cut < s + 4);
        testing::internal::CaptureStderr();
        Table t = parse(b, int32_t(cut), int32_t(set.size()));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(t, nullptr);
        EXPECT_TRUE(starts_with(err, in_count ? kNoLength : kNoPos)) << err;
    }
    // A negative size is no data at all.
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse(b, -8, 1), nullptr);
    EXPECT_TRUE(starts_with(testing::internal::GetCapturedStderr(), kNoLength));
}

// A record count far beyond what the data can hold fails at the first
// missing count, without reserving a table for all of them.
TEST(ParamsBlob, HugeRecordCountFailsAtTheEndOfTheData) {
    const WeightSet set = awkward_set(19);
    const Bytes b = calyx_weights::encode_blob(set);
    testing::internal::CaptureStderr();
    Table t = parse(b, int32_t(b.size()), std::numeric_limits<int32_t>::max());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(t, nullptr);
    EXPECT_TRUE(starts_with(err, kNoLength)) << err;

    const std::string path = temp_path("hugecount");
    write_bytes(path, b, b.size());
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_from_file(path.c_str(), std::numeric_limits<int32_t>::max()), nullptr);
    EXPECT_TRUE(starts_with(testing::internal::GetCapturedStderr(), kNoLength));
    std::remove(path.c_str());
}

TEST(ParamsBlob, NegativeElementCountIsAFormatError) {
    const WeightSet set = awkward_set(17);
    for (int32_t bad : {-1, -16, std::numeric_limits<int32_t>::min()}) {
        for (size_t record : {size_t(0), size_t(3)}) {
            Bytes b = calyx_weights::encode_blob(set);
            size_t at = 0;
            for (size_t i = 0; i < record; ++i) at += 4 + 4 * set[i].size();
            put_i32(b, at, bad);
            testing::internal::CaptureStderr();
            Table t = parse(b, int32_t(b.size()), int32_t(set.size()));
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(t, nullptr) << "count " << bad << " in record " << record;
            EXPECT_TRUE(starts_with(err, kNegative)) << err;
        }
    }
}

// Seeded random corruption of the count fields: each parse either fails
// cleanly or yields records that lie inside the blob.
TEST(ParamsBlob, CorruptedCountsNeverReadOutsideTheBlob) {
    const uint32_t seed = 20261208;
    SCOPED_TRACE("seed " + std::to_string(seed));
    uint32_t s = seed;
    auto next = [&s] { return s = s * 1664525u + 1013904223u; };
    const WeightSet set = awkward_set(18);
    const Bytes clean = calyx_weights::encode_blob(set);
    for (int trial = 0; trial < 300; ++trial) {
        Bytes b = clean;
        size_t at = 0;
        for (size_t i = 0; i < set.size(); ++i) {
            if (next() % 3 == 0) {
                const uint32_t r = next();
                put_i32(b, at, (r & 1) ? int32_t(r >> 1) : int32_t(r % 64) - 8);
            }
            at += 4 + 4 * set[i].size();
        }
        testing::internal::CaptureStderr();
        Table t = parse(b, int32_t(b.size()), int32_t(set.size()));
        testing::internal::GetCapturedStderr();
        if (t != nullptr) {
            int64_t used = 0;
            for (size_t i = 0; i < set.size(); ++i) {
                ASSERT_GE(t.get()[i].length, 0);
                used += 4 + 4 * int64_t(t.get()[i].length);
            }
            EXPECT_LE(used, int64_t(b.size()));
        }
    }
}

// ---------------------------------------------------------------------------

TEST(ParamsFile, SaveThenLoadReproducesEveryBit) {
    const WeightSet set = awkward_set(21);
    const Bytes b = calyx_weights::encode_blob(set);
    Table src = parse(b, int32_t(b.size()), int32_t(set.size()));
    ASSERT_NE(src, nullptr);
    const std::string path = temp_path("roundtrip");
    save_to_file(path.c_str(), src.get(), int32_t(set.size()));

    // The file is the blob format itself.
    std::FILE *f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    Bytes on_disk(b.size() + 1);
    EXPECT_EQ(std::fread(on_disk.data(), 1, on_disk.size(), f), b.size());
    std::fclose(f);
    on_disk.resize(b.size());
    EXPECT_EQ(on_disk, b);

    Table back(load_from_file(path.c_str(), int32_t(set.size())), TableDeleter{int32_t(set.size())});
    ASSERT_NE(back, nullptr);
    expect_bits_equal(back.get(), set);
    // Power-of-two tensors of 16 or more elements come back aligned.
    EXPECT_TRUE(aligned64(back.get()[2].data));
    std::remove(path.c_str());
}

TEST(ParamsFile, EveryTruncationFailsWithoutAPartialTable) {
    const WeightSet set = awkward_set(22);
    const Bytes b = calyx_weights::encode_blob(set);
    const std::string path = temp_path("truncated");
    for (size_t cut = 0; cut < b.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        write_bytes(path, b, cut);
        testing::internal::CaptureStderr();
        param_record *t = load_from_file(path.c_str(), int32_t(set.size()));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(t, nullptr);
        EXPECT_TRUE(starts_with(err, kNoLength) || starts_with(err, kNoPos)) << err;
        destroy_params(t, int32_t(set.size()));
    }
    write_bytes(path, b, b.size());
    Table whole(load_from_file(path.c_str(), int32_t(set.size())), TableDeleter{int32_t(set.size())});
    EXPECT_NE(whole, nullptr);
    std::remove(path.c_str());
}

// A pipe has no known size: short data is found by the reads alone.
TEST(ParamsFile, PipeInputIsReadAndTruncationDetected) {
    const WeightSet set = awkward_set(25);
    const Bytes b = calyx_weights::encode_blob(set);
    const std::string path = temp_path("fifo");
    std::remove(path.c_str());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    for (size_t cut : {b.size(), b.size() - 4, size_t(6), size_t(0)}) {
        SCOPED_TRACE("bytes written " + std::to_string(cut));
        std::thread writer([&] { write_bytes(path, b, cut); });
        testing::internal::CaptureStderr();
        Table t(load_from_file(path.c_str(), int32_t(set.size())), TableDeleter{int32_t(set.size())});
        const std::string err = testing::internal::GetCapturedStderr();
        writer.join();
        if (cut == b.size()) {
            ASSERT_NE(t, nullptr) << err;
            expect_bits_equal(t.get(), set);
        } else {
            EXPECT_EQ(t, nullptr);
            EXPECT_TRUE(starts_with(err, cut == 0 ? kNoLength : kNoPos)) << err;
        }
    }
    std::remove(path.c_str());
}

TEST(ParamsFile, NegativeOrHugeCountIsRejectedBeforeAllocating) {
    const WeightSet set = awkward_set(23);
    const std::string path = temp_path("badcount");
    for (int32_t bad : {-1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
        Bytes b = calyx_weights::encode_blob(set);
        put_i32(b, 4 + 4 * set[0].size(), bad);
        write_bytes(path, b, b.size());
        testing::internal::CaptureStderr();
        param_record *t = load_from_file(path.c_str(), int32_t(set.size()));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(t, nullptr) << bad;
        EXPECT_TRUE(starts_with(err, bad < 0 ? kNegative : kNoPos)) << err;
    }
    std::remove(path.c_str());
}

TEST(ParamsFile, MissingFileAndCountZero) {
    const std::string missing = temp_path("missing") + "/none/here";
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_from_file(missing.c_str(), 3), nullptr);
    EXPECT_TRUE(starts_with(testing::internal::GetCapturedStderr(), kOpen));
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_from_file(missing.c_str(), 0), nullptr);
    EXPECT_TRUE(starts_with(testing::internal::GetCapturedStderr(), kOpen));

    const std::string path = temp_path("empty");
    write_bytes(path, Bytes{0}, 0);
    param_record *t = load_from_file(path.c_str(), 0);
    EXPECT_NE(t, nullptr);
    destroy_params(t, 0);
    std::remove(path.c_str());
}

TEST(ParamsFile, SaveToUncreatablePathReports) {
    const WeightSet set = awkward_set(24);
    const Bytes b = calyx_weights::encode_blob(set);
    Table t = parse(b, int32_t(b.size()), int32_t(set.size()));
    const std::string bad = temp_path("missing") + "/none/out.bin";
    testing::internal::CaptureStderr();
    save_to_file(bad.c_str(), t.get(), int32_t(set.size()));
    EXPECT_TRUE(starts_with(testing::internal::GetCapturedStderr(), kOpen));
}

// ---------------------------------------------------------------------------

TEST(ParamsHelpers, PowerOfTwoReadsTheValueAsSigned) {
    struct Case { uint32_t v; bool expected; };
    for (const Case c : {Case{0, false}, Case{1, false}, Case{2, true}, Case{3, false}, Case{16, true},
                         Case{24, false}, Case{1u << 30, true}, Case{2147483648u, false},
                         Case{0xFFFFFFFFu, false}}) {
        EXPECT_EQ(is_power_of_two(c.v), c.expected) << c.v;
    }
}

TEST(ParamsHelpers, ConversionsCopyExactlyNElements) {
    const float src[6] = {1.0f, -0.0f, 3.5f, std::numeric_limits<float>::infinity(), -2.0f, 9.0f};
    using Fn = void (*)(const float *, float *, uint64_t);
    for (Fn fn : {Fn(convert_float_to_dtype_t), Fn(convert_dtype_t_to_float), Fn(convert_dtype_t_to_dtype_t)}) {
        float dst[6] = {7, 7, 7, 7, 7, 7};
        fn(src, dst, 0);
        for (float v : dst) EXPECT_EQ(v, 7.0f);
        fn(src, dst, 5);
        EXPECT_EQ(std::memcmp(dst, src, 5 * sizeof(float)), 0);
        EXPECT_EQ(dst[5], 7.0f);
    }
}

}  // namespace
