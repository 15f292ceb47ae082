#!/usr/bin/env bash
# Installs the Debian packages calyx needs to build, test and run its examples.
# Does nothing (and needs no network) when everything is already installed.
set -euo pipefail
pkgs=(build-essential cmake pkg-config libgtest-dev libbenchmark-dev libfftw3-dev
      espeak-ng sox python3 python3-numpy python3-scipy python3-soundfile
      python3-torch python3-tqdm python3-matplotlib libopenblas0-pthread
      g++-aarch64-linux-gnu qemu-user)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
