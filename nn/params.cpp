// Parameter store: weight blob and file parsing, table release, boundary
// conversions. Every failure prints one message through perror() and
// leaves nothing allocated.
#include "params.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kAlign = 64;  // full-width vector loads on every tensor

const char kMsgAlloc[] = "memory allocation failed";
const char kMsgOpen[] = "file opening failed";
const char kMsgNoLength[] = "data reading error: not enough data for length\n";
const char kMsgNoPos[] = "data reading error: not enough data for pos\n";
// A negative element count would pass the size checks and then be used as
// an allocation and copy size; it is a malformed record.
const char kMsgNegative[] = "data reading error: negative length\n";

bool host_is_little_endian() {
    const uint32_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

int32_t read_le_i32(const unsigned char *p) {
    const uint32_t u = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                       (uint32_t(p[3]) << 24);
    int32_t v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

void write_le_u32(unsigned char *p, uint32_t u) {
    p[0] = static_cast<unsigned char>(u);
    p[1] = static_cast<unsigned char>(u >> 8);
    p[2] = static_cast<unsigned char>(u >> 16);
    p[3] = static_cast<unsigned char>(u >> 24);
}

// Copies n little-endian floats from bytes into dst.
void decode_elements(const unsigned char *src, dtype_t *dst, size_t n) {
    if (host_is_little_endian()) {
        std::memcpy(dst, src, n * sizeof(dtype_t));
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        const int32_t bits = read_le_i32(src + 4 * i);
        std::memcpy(&dst[i], &bits, sizeof bits);
    }
}

// 64-byte aligned block of `bytes` rounded up to a multiple of 64; never
// zero-sized, so empty records still own a valid allocation. Null on
// failure or when the size does not fit size_t.
void *alloc_aligned_padded(uint64_t bytes) {
    const uint64_t padded = bytes == 0 ? kAlign : (bytes + kAlign - 1) / kAlign * kAlign;
    if (padded > SIZE_MAX) return nullptr;
    void *p = nullptr;
    if (posix_memalign(&p, kAlign, static_cast<size_t>(padded)) != 0) return nullptr;
    return p;
}

void release_records(param_record *table, int32_t built) {
    for (int32_t i = 0; i < built; ++i) std::free(table[i].data);
    std::free(table);
}

param_record *parse_blob(const unsigned char *data, int32_t size, int32_t count) {
    const uint64_t records = count > 0 ? uint64_t(count) : 0;
    // Remaining byte counts instead of end pointers: no pointer is ever
    // formed beyond the blob.
    uint64_t left = (data != nullptr && size > 0) ? uint64_t(size) : 0;
    // Every record takes at least its 4 count bytes, so at most left / 4
    // records can be parsed before the data runs out: a table of that many
    // (plus one) serves the parse to its failure without reserving room
    // for up to 2^31 records that a short blob cannot hold.
    const uint64_t capacity = records < left / 4 + 1 ? records : left / 4 + 1;
    auto *table = static_cast<param_record *>(alloc_aligned_padded(capacity * sizeof(param_record)));
    if (table == nullptr) {
        std::perror(kMsgAlloc);
        return nullptr;
    }
    if (count < 1) return table;

    const unsigned char *p = data;
    for (int32_t i = 0; i < count; ++i) {
        const char *fail = nullptr;
        int32_t n = 0;
        if (left < 4) {
            fail = kMsgNoLength;
        } else {
            n = read_le_i32(p);
            if (n < 0) fail = kMsgNegative;
            else if (left - 4 < 4 * uint64_t(n)) fail = kMsgNoPos;
        }
        if (fail != nullptr) {
            std::perror(fail);
            release_records(table, i);
            return nullptr;
        }
        const uint64_t bytes = 4 * uint64_t(n);
        auto *elements = static_cast<dtype_t *>(alloc_aligned_padded(bytes));
        if (elements == nullptr) {
            std::perror(kMsgAlloc);
            release_records(table, i);
            return nullptr;
        }
        if (n > 0) decode_elements(p + 4, elements, static_cast<size_t>(n));
        table[i].length = n;
        table[i].data = elements;
        p += 4 + bytes;
        left -= 4 + bytes;
    }
    return table;
}

// Bytes from the current position to the end of the file, or -1 when the
// stream cannot tell (then reads alone detect a short file).
long bytes_remaining(std::FILE *f) {
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(f);
    if (std::fseek(f, here, SEEK_SET) != 0 || end < here) return -1;
    return end - here;
}

}  // namespace

extern "C" {

param_record *load_from_array(const unsigned char *data, int32_t size, int32_t count) {
    return parse_blob(data, size, count);
}

param_record *load_from_array_fp16(const unsigned char *data, int32_t size, int32_t count) {
    // dtype_t is a 4-byte float: same layout as the main loader.
    return parse_blob(data, size, count);
}

param_record *load_from_file(const char *path, int32_t count) {
    std::FILE *f = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (f == nullptr) {
        std::perror(kMsgOpen);
        return nullptr;
    }
    const size_t records = count > 0 ? size_t(count) : 0;
    // Bytes not yet read, when the file's size is known: reads never go
    // past the size seen at opening, even if the file grows meanwhile.
    long left = bytes_remaining(f);
    const bool sized = left >= 0;
    // As in the blob parser: a file of known size holds at most left / 4
    // records, which bounds the table a short file can need.
    size_t capacity = records;
    if (sized && uint64_t(capacity) > uint64_t(left) / 4 + 1) capacity = size_t(uint64_t(left) / 4 + 1);
    auto *table = static_cast<param_record *>(std::calloc(capacity > 0 ? capacity : 1, sizeof(param_record)));
    if (table == nullptr) {
        std::perror(kMsgAlloc);
        std::fclose(f);
        return nullptr;
    }
    for (int32_t i = 0; i < count; ++i) {
        unsigned char head[4];
        const char *fail = nullptr;
        int32_t n = 0;
        if ((sized && left < 4) || std::fread(head, 1, 4, f) != 4) {
            fail = kMsgNoLength;
        } else {
            n = read_le_i32(head);
            if (sized) left -= 4;
            if (n < 0) fail = kMsgNegative;
            else if (sized && uint64_t(left) < 4 * uint64_t(n)) fail = kMsgNoPos;
        }
        dtype_t *elements = nullptr;
        if (fail == nullptr) {
            // Power-of-two tensors of 16 or more elements are streamed by the
            // vector kernels: aligned and padded. Others get exactly 4n bytes.
            const uint64_t bytes = 4 * uint64_t(n);
            if (is_power_of_two(uint32_t(n)) && n >= 16) {
                elements = static_cast<dtype_t *>(alloc_aligned_padded(bytes));
            } else if (bytes <= SIZE_MAX) {
                elements = static_cast<dtype_t *>(std::malloc(bytes > 0 ? size_t(bytes) : 1));
            }
            if (elements == nullptr) {
                fail = kMsgAlloc;
            } else if (n > 0) {
                // Read in slices so the byte buffer stays small.
                unsigned char slice[4096];
                size_t done = 0;
                while (done < size_t(n) && fail == nullptr) {
                    const size_t take = size_t(n) - done < sizeof slice / 4 ? size_t(n) - done : sizeof slice / 4;
                    if (std::fread(slice, 4, take, f) != take) fail = kMsgNoPos;
                    else decode_elements(slice, elements + done, take);
                    done += take;
                }
                if (sized) left -= long(4 * uint64_t(n));
            }
        }
        if (fail != nullptr) {
            std::perror(fail);
            std::free(elements);
            release_records(table, i);
            std::fclose(f);
            return nullptr;
        }
        table[i].length = n;
        table[i].data = elements;
    }
    std::fclose(f);
    return table;
}

void save_to_file(const char *path, const param_record *table, int32_t count) {
    std::FILE *f = path != nullptr ? std::fopen(path, "wb") : nullptr;
    if (f == nullptr) {
        std::perror(kMsgOpen);
        return;
    }
    for (int32_t i = 0; table != nullptr && i < count; ++i) {
        unsigned char head[4];
        const int32_t n = table[i].length;
        uint32_t bits;
        std::memcpy(&bits, &n, sizeof bits);
        write_le_u32(head, bits);
        std::fwrite(head, 1, 4, f);
        if (n <= 0) continue;
        if (host_is_little_endian()) {
            std::fwrite(table[i].data, sizeof(dtype_t), size_t(n), f);
        } else {
            for (int32_t k = 0; k < n; ++k) {
                unsigned char e[4];
                std::memcpy(&bits, &table[i].data[k], sizeof bits);
                write_le_u32(e, bits);
                std::fwrite(e, 1, 4, f);
            }
        }
    }
    std::fclose(f);
}

void destroy_params(param_record *table, int32_t count) {
    if (table == nullptr) return;
    release_records(table, count > 0 ? count : 0);
}

static void copy_elements(const void *src, void *dst, uint64_t n) {
    const unsigned char *s = static_cast<const unsigned char *>(src);
    unsigned char *d = static_cast<unsigned char *>(dst);
    const uint64_t max_chunk = SIZE_MAX / 4;  // keeps n*4 inside size_t on 32-bit targets
    while (n > 0) {
        const size_t chunk = static_cast<size_t>(n < max_chunk ? n : max_chunk);
        std::memcpy(d, s, chunk * 4);
        s += chunk * 4;
        d += chunk * 4;
        n -= chunk;
    }
}

void convert_float_to_dtype_t(const float *src, dtype_t *dst, uint64_t n) { copy_elements(src, dst, n); }
void convert_dtype_t_to_float(const dtype_t *src, float *dst, uint64_t n) { copy_elements(src, dst, n); }
void convert_dtype_t_to_dtype_t(const dtype_t *src, dtype_t *dst, uint64_t n) { copy_elements(src, dst, n); }

bool is_power_of_two(uint32_t v) {
    int32_t s;
    std::memcpy(&s, &v, sizeof s);
    return s >= 2 && (v & (v - 1)) == 0;
}

}  // extern "C"
