#!/usr/bin/env bash
# Writes the demo backups for the desktop program into DATA/Apple Computer/MobileSync/Backup,
# where the program looks when XDG_DATA_HOME is DATA: the demo root of mkbackup plus one
# backup whose device name is Chinese with an emoji, so that the list shows both scripts.
set -euo pipefail
BUILD="${1:-build}"
DATA="${2:-$BUILD/gui-data}"
ROOT="$DATA/Apple Computer/MobileSync/Backup"
rm -rf "$ROOT"
mkdir -p "$ROOT"
"$BUILD/bin/mkbackup" --demo "$ROOT" >/dev/null
"$BUILD/bin/mkbackup" "$ROOT/00008110-000E1A2B3C4D5E6F" --name "小明的 iPhone 📱" \
  --date 2022-05-01T08:30:00Z --ios 15.4 --seed 6 >/dev/null
