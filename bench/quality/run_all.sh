#!/usr/bin/env bash
# Regenerates docs/BENCHMARKS.md and docs/benchmarks/*.png from scratch: builds
# calyx_cli (Release) and the peer filters, makes the held-out test set, runs and
# scores every system, measures speed and memory, writes the report.
#
#   bash bench/quality/run_all.sh
#
# About 15-20 minutes on 2 cores (builds included). Everything runs at the lowest
# CPU priority, one program at a time. Work files go to build-bench/ (git-ignored).
# Knobs (environment): PER_SNR (items per condition, 10), ITEM_SECONDS (item length, 6),
# REPEAT (speed runs per system, 3), MEMORY_MINUTES (10), DOCS (output folder,
# docs), BUILD (build folder, build-bench), DATA (corpus, ../shared/data).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
PER_SNR="${PER_SNR:-10}"
SECONDS_PER_ITEM="${ITEM_SECONDS:-6}"
REPEAT="${REPEAT:-3}"
MEMORY_MINUTES="${MEMORY_MINUTES:-10}"
DOCS="${DOCS:-$ROOT/docs}"
BUILD="${BUILD:-$ROOT/build-bench}"
DATA="${DATA:-$ROOT/../shared/data}"
PY=/usr/bin/python3  # Debian's python sees the Debian numpy/scipy/soundfile/matplotlib
NICE="nice -n 19"
start=$(date +%s)
say() { echo "[$(date -u +%H:%M:%S)] $*"; }

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v pkg-config >/dev/null || need+=(pkg-config)
[ -x /usr/bin/time ] || need+=(time)
[ -x "$PY" ] || need+=(python3)
"$PY" -c "import numpy, scipy, soundfile, matplotlib" 2>/dev/null ||
  need+=(python3-numpy python3-scipy python3-soundfile python3-matplotlib)
# calyx_engine_alloc lives in the benchmark tree, which needs Google Benchmark
dpkg -s libbenchmark-dev >/dev/null 2>&1 || need+=(libbenchmark-dev)
if [ ${#need[@]} -gt 0 ]; then
  say "installing ${need[*]}"
  apt-get update -q && apt-get install -y -q "${need[@]}"
fi

say "building calyx_cli and calyx_engine_alloc in $BUILD"
$NICE cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCALYX_BUILD_BENCH=ON \
  -DCALYX_BUILD_TESTS=OFF >/dev/null
$NICE cmake --build "$BUILD" -j2 --target calyx_cli calyx_engine_alloc >/dev/null
say "building the peers"
$NICE bash "$ROOT/bench/peers/build_peers.sh" "$BUILD/peers"

WORK="$BUILD/quality"
rm -rf "$WORK/set/items" "$WORK/set/set.json"
mkdir -p "$WORK/set"
say "making the test set ($PER_SNR items of $SECONDS_PER_ITEM s per condition)"
$NICE "$PY" bench/quality/make_set.py --out "$WORK/set" --data "$DATA" --per-snr "$PER_SNR" \
  --seconds "$SECONDS_PER_ITEM"
say "running and scoring every system"
$NICE "$PY" bench/quality/score.py --set "$WORK/set" --cli "$BUILD/cli/calyx_cli" \
  --peer-bin "$BUILD/peers" --out "$WORK/quality.json"
say "measuring speed and memory"
$NICE "$PY" bench/quality/speed.py --set "$WORK/set" --cli "$BUILD/cli/calyx_cli" \
  --peer-bin "$BUILD/peers" --alloc "$BUILD/bench/quality/calyx_engine_alloc" \
  --repeat "$REPEAT" --memory-minutes "$MEMORY_MINUTES" --out "$WORK/speed.json"
$NICE "$PY" bench/quality/report.py --quality "$WORK/quality.json" --speed "$WORK/speed.json" \
  --docs "$DOCS" --elapsed "$(( $(date +%s) - start ))"
say "done in $(( ($(date +%s) - start) / 60 )) min $(( ($(date +%s) - start) % 60 )) s"
