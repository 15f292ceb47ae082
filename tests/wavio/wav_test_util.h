// Helpers for the WAV tests: build files byte by byte, temporary paths.
#ifndef CALYX_TESTS_WAV_TEST_UTIL_H
#define CALYX_TESTS_WAV_TEST_UTIL_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace wavtest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes &b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put32(Bytes &b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
inline void put64(Bytes &b, uint64_t v) {
    put32(b, uint32_t(v));
    put32(b, uint32_t(v >> 32));
}
inline void putId(Bytes &b, const char *id) { b.insert(b.end(), id, id + 4); }
inline uint32_t get16(const Bytes &b, size_t at) { return b[at] | (b[at + 1] << 8); }
inline uint32_t get32(const Bytes &b, size_t at) {
    return get16(b, at) | (get16(b, at + 2) << 16);
}
inline uint64_t get64(const Bytes &b, size_t at) {
    return get32(b, at) | (uint64_t(get32(b, at + 4)) << 32);
}
inline std::string idAt(const Bytes &b, size_t at) {
    return std::string(reinterpret_cast<const char *>(b.data()) + at, 4);
}

// Appends a chunk with its pad byte when the body is odd. `declared` lets a
// test lie about the size.
inline void putChunk(Bytes &b, const char *id, const Bytes &body, int64_t declared = -1) {
    putId(b, id);
    put32(b, declared < 0 ? uint32_t(body.size()) : uint32_t(declared));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) b.push_back(0);
}

// Basic 16-byte "fmt " body, optionally padded with `extra` bytes.
inline Bytes fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                     size_t extra = 0) {
    Bytes f;
    put16(f, tag);
    put16(f, channels);
    put32(f, rate);
    put32(f, rate * channels * (bits / 8));
    put16(f, channels * (bits / 8));
    put16(f, bits);
    f.resize(f.size() + extra, 0);
    return f;
}

// Extensible 40-byte "fmt " body.
inline Bytes fmtExtensible(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t valid,
                           uint32_t mask, uint32_t subFormat) {
    Bytes f = fmtBody(0xFFFE, channels, rate, bits);
    put16(f, 22);
    put16(f, valid);
    put32(f, mask);
    put32(f, subFormat);
    put16(f, 0x0000);
    put16(f, 0x0010);
    const uint8_t tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    f.insert(f.end(), tail, tail + 8);
    return f;
}

// "RIFF" + size (file length - 8) + "WAVE" + chunks.
inline Bytes riffFile(const Bytes &chunks, const char *magic = "RIFF") {
    Bytes b;
    putId(b, magic);
    put32(b, std::string(magic) == "RF64" ? 0xFFFFFFFFu : uint32_t(chunks.size() + 4));
    putId(b, "WAVE");
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}

inline Bytes readFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
inline void writeFile(const std::string &path, const Bytes &b) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}
inline bool fileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// A fresh directory under TMPDIR (or /tmp), removed with its files at the end.
class TempDir {
public:
    TempDir() {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/calyx-wav-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) m_path = buf.data();
    }
    ~TempDir() {
        for (const std::string &f : m_files) std::remove(f.c_str());
        if (!m_path.empty()) rmdir(m_path.c_str());
    }
    std::string file(const std::string &name) {
        m_files.push_back(m_path + "/" + name);
        return m_files.back();
    }
    bool ok() const { return !m_path.empty(); }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

} // namespace wavtest

#endif // CALYX_TESTS_WAV_TEST_UTIL_H
