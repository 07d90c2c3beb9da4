#!/usr/bin/env bash
# Renders the program icon res/icons/quorvel.svg into the PNG sizes the
# window and the desktop use (res/icons/quorvel-<size>.png). Run on purpose
# after changing the SVG; the build only uses the committed files.
set -euo pipefail
cd "$(dirname "$0")/../res/icons"
if ! command -v rsvg-convert >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y -qq --no-install-recommends librsvg2-bin >/dev/null
fi
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" quorvel.svg -o "quorvel-$size.png"
done
