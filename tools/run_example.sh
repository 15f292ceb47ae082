#!/usr/bin/env bash
# Builds calyx_cli, makes a noisy speech example (synthetic speech plus noise)
# and enhances it. Prints where the files are.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash tools/install_deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DCALYX_BUILD_TESTS=OFF -DCALYX_BUILD_BENCH=OFF > /dev/null
cmake --build build/release -j"$(nproc)" --target calyx_cli
out="$root/out/example"
mkdir -p "$out"
espeak-ng -v en-us -s 150 -w "$out/speech_raw.wav" \
  "Calyx removes background noise from speech. This sentence was spoken by a computer, then buried in noise, and cleaned up again."
sox -q "$out/speech_raw.wav" -r 48000 -b 16 "$out/clean.wav" norm -3
dur=$(soxi -D "$out/clean.wav")
# Brown-ish rumble plus hiss, about 5 dB below the speech.
sox -q -n -r 48000 -b 16 -c 1 "$out/noise.wav" synth "$dur" brownnoise synth "$dur" whitenoise mix vol 0.25
sox -q -m -v 1.0 "$out/clean.wav" -v 0.6 "$out/noise.wav" -b 16 "$out/noisy.wav"
"$root/build/release/cli/calyx_cli" -i "$out/noisy.wav" -o "$out/enhanced.wav"
echo
echo "Noisy input:   $out/noisy.wav"
echo "Enhanced:      $out/enhanced.wav"
echo "Clean speech:  $out/clean.wav"
