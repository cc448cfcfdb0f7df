#!/usr/bin/env bash
# Writes the demo backups into BUILD/demo-root and lists them with the command-line program.
set -euo pipefail
BUILD="${1:-build}"
ROOT="$BUILD/demo-root"
rm -rf "$ROOT"
"$BUILD/bin/mkbackup" --demo "$ROOT"
"$BUILD/bin/backvault-cli" list --root "$ROOT"

# The encrypted one ("Locked iPhone") opens with its backup password, given on standard input.
LOCKED="$ROOT/00008020-0011223344556677"
echo
echo "Scanning the encrypted demo backup with its password 'tarnwick demo':"
printf 'tarnwick demo\n' | "$BUILD/bin/backvault-cli" scan "$LOCKED" --password-stdin \
  --categories messages,contacts,call-history,notes

# Recover the newest backup (the first one listed; its Info.plist is a binary property
# list) into BUILD/demo-output, with a JPEG beside each HEIC photo.
OUT="$BUILD/demo-output"
NEWEST=$("$BUILD/bin/backvault-cli" list --root "$ROOT" --json |
  grep -o '"folder": "[^"]*"' | head -n 1 | sed -e 's/^"folder": "//' -e 's/"$//')
if [ -z "$NEWEST" ]; then
  echo "demo: no backup found in $ROOT" >&2
  exit 1
fi
rm -rf "$OUT"
echo
echo "Recovering $NEWEST into $OUT"
status=0
"$BUILD/bin/backvault-cli" recover "$NEWEST" --out "$OUT" --heic-jpeg || status=$?
if [ "$status" -ne 0 ]; then
  echo "demo: the recovery reported failures (exit code $status); see the lines above" >&2
fi
echo
echo "HTML documents (open them in a browser):"
find "$OUT" -name '*.html' | sort | sed -e 's/^/  /' | head -n 25
COUNT=$(find "$OUT" -name '*.html' | wc -l)
if [ "$COUNT" -gt 25 ]; then echo "  ... and $((COUNT - 25)) more under $OUT"; fi
echo
echo "HEIC and AVIF photos (each with a JPEG of the same name beside it):"
find "$OUT" \( -name '*.HEIC' -o -name '*.AVIF' \) | sort | awk 'NR <= 10 { print "  " $0 }'
echo "  $(find "$OUT" \( -name '*.HEIC' -o -name '*.AVIF' \) | wc -l) in all"
exit "$status"
