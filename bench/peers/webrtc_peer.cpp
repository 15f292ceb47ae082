// WebRTC audio-processing noise suppression as a file filter:
//   webrtc_peer noisy.wav enhanced.wav
// 10 ms float frames, noise suppression alone at its highest level (kVeryHigh); the
// high-pass filter, gain control and echo control stay off.
#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <memory>

#include "peer_wav.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: webrtc_peer noisy.wav enhanced.wav\n");
        return 2;
    }
    std::vector<float> x;
    uint32_t rate = 0;
    if (!peer::read_mono(argv[1], x, rate) || rate == 0 || rate % 100) return 2;
    std::unique_ptr<webrtc::AudioProcessing> apm(webrtc::AudioProcessing::Create());
    if (!apm) return 2;
    apm->high_pass_filter()->Enable(false);
    apm->gain_control()->Enable(false);
    apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kVeryHigh);
    apm->noise_suppression()->Enable(true);
    const size_t frame = rate / 100;
    const int r = int(rate);
    std::vector<float> in(frame), out(frame), y(x.size());
    for (size_t off = 0; off < x.size(); off += frame) {
        const size_t k = x.size() - off < frame ? x.size() - off : frame;
        for (size_t i = 0; i < frame; ++i) in[i] = i < k ? x[off + i] : 0.0f;
        const float* src[1] = {in.data()};
        float* dst[1] = {out.data()};
        if (apm->ProcessStream(src, frame, r, webrtc::AudioProcessing::kMono, r,
                               webrtc::AudioProcessing::kMono, dst) != 0) {
            std::fprintf(stderr, "webrtc_peer: processing failed\n");
            return 2;
        }
        for (size_t i = 0; i < k; ++i) y[off + i] = out[i];
    }
    return peer::write_mono(argv[2], y, rate) ? 0 : 2;
}
