#!/usr/bin/env bash
# Runs the real desktop program under Xvfb over the demo backups and lets it walk its own
# states (BACKVAULT_SCREENSHOTS): one PNG per state in OUT (default BUILD/screenshots).
# The program ends with a failure when a state does not come, and so does this script.
#   scripts/screenshots.sh [BUILD [OUT]]
set -euo pipefail
BUILD="${1:-build}"
OUT="${2:-$BUILD/screenshots}"
DATA="$OUT-data"
bash scripts/gui-data.sh "$BUILD" "$DATA"
DATA="$(cd "$DATA" && pwd)"
rm -rf "$OUT"
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"
# The program runs from a copy of its folder: switching languages writes config.ini beside
# the executable, and the build's own copy (which tests read) stays as it is.
PROGRAM="$OUT-program"
rm -rf "$PROGRAM"
mkdir -p "$PROGRAM"
cp "$BUILD/bin/backvault" "$BUILD/bin/tool" "$BUILD/bin/extract" "$BUILD/bin/config.ini" "$PROGRAM/"
cp -r "$BUILD/bin/Languages" "$BUILD/bin/template" "$PROGRAM/"
# A runtime folder of its own, so that a copy of the program already running elsewhere
# does not take the screenshots' place.
RUNTIME="$(mktemp -d)"
trap 'rm -rf "$RUNTIME" "$PROGRAM" "$OUT-recovered"' EXIT
chmod 700 "$RUNTIME"
XDG_DATA_HOME="$DATA" XDG_RUNTIME_DIR="$RUNTIME" QT_QPA_PLATFORM=xcb \
  BACKVAULT_SCREENSHOTS="$OUT" BACKVAULT_SCREENSHOTS_PASSWORD="tarnwick demo" \
  xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "$PROGRAM/backvault"
echo "screenshots: $(ls "$OUT" | wc -l) pictures in $OUT"
