#!/usr/bin/env bash
# Builds Quorvel and runs it on the bundled sample scans; the results are
# written to samples/trim/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)" --target quorvel
export QUORVEL_REGISTRY="$PWD/build/samples-settings.reg"
build/quorvel /hide /yes /empty:samples/empty.png /cut:ltrb samples/page1.png samples/page2.png \
  samples/page3.png
echo "Results written to samples/trim/:"
ls -l samples/trim
