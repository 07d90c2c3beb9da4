#!/usr/bin/env bash
# Builds the Debian package build/quorvel_<version>_<architecture>.deb (the
# program, its manual page and copyright file, and whatever else
# `cmake --install` installs). With --install it then installs the package
# with apt-get (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)"
rm -f build/quorvel_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(echo build/quorvel_*.deb)
echo "Package: $deb"

if [ "${1:-}" = "--install" ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$PWD/$deb" >/dev/null
  echo "Installed: $(command -v quorvel)"
fi
