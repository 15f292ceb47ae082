// SpeexDSP preprocessor noise suppression as a file filter:
//   speex_peer noisy.wav enhanced.wav [suppression_dB]
// 10 ms frames at the file's rate, denoiser only (no AGC or dereverberation; VAD stays at its default, off).
// The default -30 dB is the deepest attenuation that still leaves speech intact on our
// material; the library's own default is -15 dB.
#include <speex/speex_preprocess.h>

#include <cstdlib>

#include "peer_wav.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: speex_peer noisy.wav enhanced.wav [suppression_dB]\n");
        return 2;
    }
    std::vector<float> x;
    uint32_t rate = 0;
    if (!peer::read_mono(argv[1], x, rate) || rate == 0 || rate % 100) return 2;
    int suppress = argc > 3 ? std::atoi(argv[3]) : -30;
    const int frame = int(rate / 100);
    SpeexPreprocessState* st = speex_preprocess_state_init(frame, int(rate));
    if (!st) return 2;
    int on = 1, off = 0;
    speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &suppress);
    speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_AGC, &off);
    speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DEREVERB, &off);
    std::vector<spx_int16_t> buf(size_t(frame), 0);
    std::vector<float> y(x.size());
    for (size_t off0 = 0; off0 < x.size(); off0 += size_t(frame)) {
        const size_t k = x.size() - off0 < size_t(frame) ? x.size() - off0 : size_t(frame);
        for (size_t i = 0; i < size_t(frame); ++i) buf[i] = i < k ? peer::to_i16(x[off0 + i]) : 0;
        speex_preprocess_run(st, buf.data());
        for (size_t i = 0; i < k; ++i) y[off0 + i] = float(buf[i]) / 32768.0f;
    }
    speex_preprocess_state_destroy(st);
    return peer::write_mono(argv[2], y, rate) ? 0 : 2;
}
