#!/usr/bin/env bash
# Installs the Debian packages Quorvel needs to build, test and benchmark
# (xvfb and xdotool drive the window's end-to-end test; Qt's
# translations give Qt's own buttons and dialogs the interface language;
# fonts-noto-cjk, fonts-vlgothic and fonts-dejavu-core are the fonts the
# window's layout is checked with; desktop-file-utils checks the desktop
# entry; Slurm, munge, iproute2, python3 and perl run the cluster recipe's
# test on a cluster of one node; the services the Slurm and munge packages
# install are not used).
# Idempotent and quiet; runs as root (or through sudo) with no terminal.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang-format
  libboost1.81-dev libboost-regex1.81-dev libboost-json1.81-dev
  qt6-base-dev qt6-image-formats-plugins qt6-qpa-plugins qt6-translations-l10n libgl-dev
  libpng-dev libdeflate-dev libtiff-dev libjpeg62-turbo-dev zlib1g-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  dpkg-dev file
  slurmctld slurmd slurm-client munge iproute2 python3 perl
  xvfb xdotool fonts-noto-cjk fonts-vlgothic fonts-dejavu-core desktop-file-utils
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
