#!/usr/bin/env bash
# Builds calyx twice (optimised, and with AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs the whole test suite on both builds, then on a scalar-only build and
# an aarch64 cross build under qemu, then the training toolkit's quick tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash tools/install_deps.sh
jobs=$(nproc)

run_suite() { # <build dir> <cmake args...>
  local dir="$1"; shift
  echo "=== build $dir ($*)"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j"$jobs"
  echo "=== test $dir"
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j"$jobs")
}
mkdir -p build
# Tests are switched on explicitly: tools/run_example.sh configures
# build/release without them, and a cached OFF would otherwise stick.
run_suite build/release -DCALYX_BUILD_TESTS=ON -DCALYX_BUILD_BENCH=ON
run_suite build/sanitize -DCALYX_SANITIZE=ON -DCALYX_BUILD_TESTS=ON -DCALYX_BUILD_BENCH=OFF

# Scalar-only build and the 64-bit Arm build under qemu; the probe output of
# build/release is their reference. The other targets: tools/run_matrix.sh.
PROBE_REFERENCE=build/release JOBS="$jobs" bash tools/run_matrix.sh scalar aarch64

if [ -x train/run_quick_tests.sh ]; then
  echo "=== training toolkit quick tests"
  CALYX_BUILD_DIR="$root/build/release" bash train/run_quick_tests.sh
fi
echo "=== all test suites passed"
