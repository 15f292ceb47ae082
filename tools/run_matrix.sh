#!/usr/bin/env bash
# Builds calyx and runs its test suite on every target it ships for:
#   x86_64   native build (SSE, AVX2+FMA where the CPU has them)
#   scalar   native build with -DCALYX_FORCE_SCALAR=ON (no vector code at all)
#   aarch64  cross build, tests under qemu-aarch64 (NEON)
#   armhf    cross build for Armv7 with NEON, tests under qemu-arm
#   i686     cross build for 32-bit x86 (SSE2), statically linked; the tests
#            run natively on the x86-64 host (its kernel runs 32-bit programs)
# Each build also runs the fixed end-to-end probe (tests/matrix); its output
# must match the x86_64 build's within PROBE_BOUND.
#
#   tools/run_matrix.sh                 all five
#   tools/run_matrix.sh aarch64 scalar  a subset (x86_64 is added for the probe reference)
# Environment: JOBS (default: nproc), PROBE_BOUND (default 1e-4),
#              CALYX_MATRIX_DIR (default build/), PROBE_REFERENCE (a native
#              build directory already built, e.g. build/release: its probe
#              is the reference and x86_64 is not added to a subset).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
all=(x86_64 scalar aarch64 armhf i686)
jobs="${JOBS:-$(nproc)}"
bound="${PROBE_BOUND:-1e-4}"
out="${CALYX_MATRIX_DIR:-$root/build}"

usage() { echo "usage: $0 [${all[*]}]..." >&2; exit 2; }
want=()
for a in "$@"; do
  case " ${all[*]} " in *" $a "*) want+=("$a") ;; *) usage ;; esac
done
[ ${#want[@]} -eq 0 ] && want=("${all[@]}")
# The probe reference comes from a native build; run it first.
if [ -z "${PROBE_REFERENCE:-}" ]; then
  case " ${want[*]} " in *" x86_64 "*) ;; *) want=(x86_64 "${want[@]}") ;; esac
fi
ordered=()
for a in "${all[@]}"; do case " ${want[*]} " in *" $a "*) ordered+=("$a") ;; esac; done

# Debian packages, installed only when missing.
need=(cmake libgtest-dev)
for a in "${ordered[@]}"; do
  case $a in
    aarch64) need+=(g++-aarch64-linux-gnu qemu-user) ;;
    armhf)   need+=(g++-arm-linux-gnueabihf qemu-user) ;;
    i686)    need+=(g++-i686-linux-gnu) ;;
  esac
done
source "$root/tools/ensure_packages.sh"
ensure_packages "${need[@]}" || exit 1

args_for() {
  case $1 in
    x86_64)  echo "" ;;
    scalar)  echo "-DCALYX_FORCE_SCALAR=ON" ;;
    aarch64) echo "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchains/aarch64-linux-gnu.cmake" ;;
    armhf)   echo "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchains/arm-linux-gnueabihf.cmake" ;;
    i686)    echo "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchains/i686-linux-gnu.cmake" ;;
  esac
}
runner_for() {
  case $1 in
    aarch64) echo "qemu-aarch64 -L /usr/aarch64-linux-gnu" ;;
    armhf)   echo "qemu-arm -L /usr/arm-linux-gnueabihf" ;;
    *)       echo "" ;;
  esac
}

declare -A result build_min test_min probe
status=0
mkdir -p "$out"
ref="$out/matrix-x86_64/probe.f32"
compare="$out/matrix-x86_64/tests/matrix/calyx_engine_probe"
if [ -n "${PROBE_REFERENCE:-}" ]; then
  compare="$(cd "$PROBE_REFERENCE" && pwd)/tests/matrix/calyx_engine_probe"
  ref="$out/probe-reference.f32"
  "$compare" write "$ref" > /dev/null || { echo "no probe in $PROBE_REFERENCE" >&2; exit 1; }
fi
for a in "${ordered[@]}"; do
  dir="$out/matrix-$a"
  result[$a]=FAIL; build_min[$a]=-; test_min[$a]=-; probe[$a]=-
  echo "=== $a: configure + build in $dir"
  t0=$SECONDS
  # shellcheck disable=SC2046
  if ! cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCALYX_BUILD_BENCH=OFF \
        $(args_for "$a") > "$dir.configure.log" 2>&1; then
    tail -20 "$dir.configure.log"; result[$a]="FAIL(configure)"; status=1; continue
  fi
  if ! cmake --build "$dir" -j"$jobs" > "$dir.build.log" 2>&1; then
    grep -E "error|Error" "$dir.build.log" | head -20; result[$a]="FAIL(build)"; status=1
    build_min[$a]=$(( (SECONDS - t0 + 30) / 60 )); continue
  fi
  t1=$SECONDS
  build_min[$a]=$(awk "BEGIN{printf \"%.1f\", ($t1 - $t0) / 60}")
  echo "=== $a: tests"
  if (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 1200) \
      > "$dir.ctest.log" 2>&1; then
    result[$a]=PASS
  else
    grep -E "tests passed|\(Failed\)|\(Timeout\)|\*\*\*" "$dir.ctest.log" | tail -20
    result[$a]="FAIL(tests)"; status=1
  fi
  t2=$SECONDS
  test_min[$a]=$(awk "BEGIN{printf \"%.1f\", ($t2 - $t1) / 60}")
  tail -1 "$dir.ctest.log" | grep -q "Total Test time" || grep "tests passed" "$dir.ctest.log"
  # End-to-end probe against the native output.
  # shellcheck disable=SC2046
  if $(runner_for "$a") "$dir/tests/matrix/calyx_engine_probe" write "$dir/probe.f32" > /dev/null; then
    if [ -f "$ref" ]; then
      line=$("$compare" compare "$ref" "$dir/probe.f32" "$bound")
      rc=$?
      probe[$a]=$(echo "$line" | awk '{print $2}')
      [ $rc -ne 0 ] && { echo "probe: $line"; result[$a]="FAIL(probe)"; status=1; }
    fi
  else
    probe[$a]="no output"; result[$a]="FAIL(probe)"; status=1
  fi
done

echo
echo "calyx build matrix (Release; probe bound $bound vs the native build)"
printf '%-8s %-14s %10s %10s %14s\n' target result "build min" "test min" "probe maxdiff"
for a in "${ordered[@]}"; do
  printf '%-8s %-14s %10s %10s %14s\n' "$a" "${result[$a]}" "${build_min[$a]}" "${test_min[$a]}" "${probe[$a]}"
done
exit $status
