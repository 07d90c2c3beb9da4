#!/usr/bin/env bash
# Runs Quorvel on the bundled sample scans. The batch program comes with a
# later step; until then this only builds the libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)"
echo "The quorvel program is built by a later step; the libraries are built in build/."
