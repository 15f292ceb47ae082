#!/usr/bin/env bash
# Builds the SpeexDSP and WebRTC peer filters into <out-dir> (default
# bench/peers/bin) and installs the RNNoise WebAssembly package into
# bench/peers/node_modules. Installs missing Debian packages with apt-get.
# Not part of the project build: the engine never depends on these.
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
OUT="${1:-$HERE/bin}"
mkdir -p "$OUT"
need=()
pkg-config --exists speexdsp || need+=(libspeexdsp-dev)
pkg-config --exists webrtc-audio-processing || need+=(libwebrtc-audio-processing-dev)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
command -v pkg-config >/dev/null || need+=(pkg-config)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -q && apt-get install -y -q "${need[@]}"
fi
CXX="${CXX:-g++}"
"$CXX" -O2 -std=c++17 -Wall -Wextra -Werror -o "$OUT/speex_peer" "$HERE/speex_peer.cpp" \
  $(pkg-config --cflags --libs speexdsp)
# the library's header trips -Wextra; include it as a system header
"$CXX" -O2 -std=c++17 -Wall -Wextra -Werror -o "$OUT/webrtc_peer" "$HERE/webrtc_peer.cpp" \
  $(pkg-config --cflags webrtc-audio-processing | sed 's/-I/-isystem /g') \
  $(pkg-config --libs webrtc-audio-processing) -lpthread
if [ ! -f "$HERE/node_modules/@jitsi/rnnoise-wasm/dist/rnnoise-sync.js" ]; then
  (cd "$HERE" && npm install --no-save --no-audit --no-fund --prefix "$HERE" @jitsi/rnnoise-wasm@0.2.1 >/dev/null)
fi
echo "peers ready in $OUT"
