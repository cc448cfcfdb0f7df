#!/usr/bin/env bash
# Writes the demo backups into BUILD/demo-root and lists them with the command-line program.
set -euo pipefail
BUILD="${1:-build}"
ROOT="$BUILD/demo-root"
rm -rf "$ROOT"
"$BUILD/bin/mkbackup" --demo "$ROOT"
"$BUILD/bin/backvault-cli" list --root "$ROOT"
