#!/usr/bin/env bash
# Installs the Debian packages calyx needs to build, test and run its examples.
# Does nothing (and needs no network) when everything is already installed.
set -euo pipefail
pkgs=(build-essential cmake pkg-config libgtest-dev libbenchmark-dev libfftw3-dev
      espeak-ng sox python3 python3-numpy python3-scipy python3-soundfile
      python3-torch python3-tqdm python3-matplotlib libopenblas0-pthread
      libtcmalloc-minimal4
      g++-aarch64-linux-gnu qemu-user)
source "$(dirname "$0")/ensure_packages.sh"
ensure_packages "${pkgs[@]}"
