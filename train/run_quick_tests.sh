#!/usr/bin/env bash
# Quick checks of the training toolkit (no training). CALYX_BUILD_DIR may name a
# release build folder holding the C++ parity program for the network test.
set -euo pipefail
cd "$(dirname "$0")"
exec /usr/bin/python3 tests/run.py "$@"
