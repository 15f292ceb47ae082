"""The noise suppressors compared by the quality benchmark, each a command that
turns a noisy WAV into an enhanced WAV of the same rate."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = os.path.join(os.path.dirname(HERE), "peers")


def systems(cli, peer_bin):
    """(key, label, setting, argv(noisy, out) or None for the unprocessed floor)."""
    return [
        ("calyx", "calyx", "calyx_cli, intensity 1, blocks of 480 frames",
         lambda i, o: [cli, "-i", i, "-o", o, "-t", "1", "-s", "480"]),
        ("rnnoise", "RNNoise", "@jitsi/rnnoise-wasm 0.2.1 under Node.js, 480-sample frames",
         lambda i, o: ["node", os.path.join(PEERS, "rnnoise_peer.mjs"), i, o]),
        ("speex", "SpeexDSP", "preprocessor denoiser, 10 ms frames, suppression -30 dB (library default -15 dB)",
         lambda i, o: [os.path.join(peer_bin, "speex_peer"), i, o, "-30"]),
        ("webrtc", "WebRTC NS", "audio-processing 0.3 noise suppression alone, level kVeryHigh, 10 ms frames",
         lambda i, o: [os.path.join(peer_bin, "webrtc_peer"), i, o]),
        ("noisy", "unprocessed", "the noisy input itself (floor)", None),
    ]
