#!/usr/bin/env bash
# Starts the desktop program over the demo backups (written into BUILD/gui-data).
set -euo pipefail
BUILD="${1:-build}"
DATA="$BUILD/gui-data"
bash scripts/gui-data.sh "$BUILD" "$DATA"
DATA="$(cd "$DATA" && pwd)"
echo "backvault: the demo backups are in $DATA/Apple Computer/MobileSync/Backup"
echo "backvault: \"Locked iPhone\" is encrypted; its backup password is 'tarnwick demo'"
XDG_DATA_HOME="$DATA" exec "$BUILD/bin/backvault"
