#!/usr/bin/env bash
# Runs the real desktop program under Xvfb over the demo backups and lets it walk its own
# states (BACKVAULT_SCREENSHOTS): one PNG per state in BUILD/screenshots.
set -euo pipefail
BUILD="${1:-build}"
OUT="$BUILD/screenshots"
DATA="$BUILD/screenshots-data"
bash scripts/gui-data.sh "$BUILD" "$DATA"
DATA="$(cd "$DATA" && pwd)"
rm -rf "$OUT"
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"
# A runtime folder of its own, so that a copy of the program already running elsewhere
# does not take the screenshots' place.
RUNTIME="$(mktemp -d)"
trap 'rm -rf "$RUNTIME"' EXIT
chmod 700 "$RUNTIME"
XDG_DATA_HOME="$DATA" XDG_RUNTIME_DIR="$RUNTIME" QT_QPA_PLATFORM=xcb \
  BACKVAULT_SCREENSHOTS="$OUT" BACKVAULT_SCREENSHOTS_PASSWORD="tarnwick demo" \
  xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "$BUILD/bin/backvault"
echo "screenshots: $(ls "$OUT" | wc -l) pictures in $OUT"
