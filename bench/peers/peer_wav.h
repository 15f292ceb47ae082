/* Minimal mono WAV I/O for the peer filters of the quality benchmark: reads 16-bit
   PCM or 32-bit float (RIFF, plain or extensible "fmt "), writes 32-bit float. */
#ifndef CALYX_BENCH_PEER_WAV_H
#define CALYX_BENCH_PEER_WAV_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace peer {

inline uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

/* Returns false (with a message on stderr) for anything but mono 16-bit/float data. */
inline bool read_mono(const char* path, std::vector<float>& out, uint32_t& rate) {
    FILE* f = std::fopen(path, "rb");
    if (!f) { std::perror(path); return false; }
    std::vector<unsigned char> b;
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + n);
    std::fclose(f);
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4)) {
        std::fprintf(stderr, "%s: not a RIFF WAVE file\n", path);
        return false;
    }
    uint16_t tag = 0, channels = 0, bits = 0;
    bool have_fmt = false;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const uint32_t size = le32(&b[pos + 4]);
        const size_t body = pos + 8;
        const size_t avail = b.size() - body < size ? b.size() - body : size;
        if (!std::memcmp(&b[pos], "fmt ", 4) && avail >= 16) {
            tag = le16(&b[body]);
            channels = le16(&b[body + 2]);
            rate = le32(&b[body + 4]);
            bits = le16(&b[body + 14]);
            if (tag == 0xfffe && avail >= 26) tag = le16(&b[body + 24]);
            have_fmt = true;
        } else if (!std::memcmp(&b[pos], "data", 4)) {
            if (!have_fmt || channels != 1) break;
            if (tag == 3 && bits == 32) {
                out.resize(avail / 4);
                std::memcpy(out.data(), &b[body], out.size() * 4);  // little-endian hosts only
                return true;
            }
            if (tag == 1 && bits == 16) {
                out.resize(avail / 2);
                for (size_t i = 0; i < out.size(); ++i)
                    out[i] = float(int16_t(le16(&b[body + 2 * i]))) / 32768.0f;
                return true;
            }
            break;
        }
        if (size > b.size() - body) break;
        pos = body + size + (size & 1);
    }
    std::fprintf(stderr, "%s: need a mono 16-bit PCM or 32-bit float WAV file\n", path);
    return false;
}

inline bool write_mono(const char* path, const std::vector<float>& x, uint32_t rate) {
    FILE* f = std::fopen(path, "wb");
    if (!f) { std::perror(path); return false; }
    const uint32_t data = uint32_t(x.size() * 4);
    unsigned char h[44];
    auto put32 = [&](int at, uint32_t v) { for (int i = 0; i < 4; ++i) h[at + i] = (unsigned char)(v >> (8 * i)); };
    auto put16 = [&](int at, uint16_t v) { h[at] = (unsigned char)v; h[at + 1] = (unsigned char)(v >> 8); };
    std::memcpy(h, "RIFF", 4); put32(4, 36 + data); std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(16, 16); put16(20, 3); put16(22, 1); put32(24, rate); put32(28, rate * 4);
    put16(32, 4); put16(34, 32); std::memcpy(h + 36, "data", 4); put32(40, data);
    bool ok = std::fwrite(h, 1, 44, f) == 44 && std::fwrite(x.data(), 4, x.size(), f) == x.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) std::fprintf(stderr, "%s: write failed\n", path);
    return ok;
}

inline int16_t to_i16(float v) {
    const float s = v * 32768.0f;
    return int16_t(s >= 32767.0f ? 32767 : s <= -32768.0f ? -32768 : (int)(s >= 0 ? s + 0.5f : s - 0.5f));
}

}  // namespace peer

#endif
