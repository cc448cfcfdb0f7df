#!/usr/bin/env bash
# Includes point down. The engine's folders form one order (lowest first):
#   platform, common, rawsqlite, records, catalogue, device, scan, export, and on top the two
#   front ends, cli and app. `stats` is a leaf beside common, and `ui` (the skin framework)
#   sits beside the engine: it may use platform and common, and only app may include it.
# A file may include its own folder and any folder below it, never one beside or above it.
# Prints every offending include and exits 1 when there is one.
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

level() {
  case "$1" in
    platform) echo 0 ;;
    common | stats | ui) echo 1 ;;
    rawsqlite) echo 2 ;;
    records) echo 3 ;;
    catalogue) echo 4 ;;
    device) echo 5 ;;
    scan) echo 6 ;;
    export) echo 7 ;;
    cli | app) echo 8 ;;
    *) echo "" ;;
  esac
}

faults=0
while IFS= read -r -d '' file; do
  rel="${file#"$src"/}"
  own="${rel%%/*}"
  [[ "$rel" == */* ]] || continue  # files at the top of src/ belong to no layer
  own_level="$(level "$own")"
  [[ -n "$own_level" ]] || continue
  while IFS=: read -r line target; do
    [[ "$target" == "$own" ]] && continue
    target_level="$(level "$target")"
    [[ -n "$target_level" ]] || continue  # not one of our folders (generated headers, ...)
    if ((target_level >= own_level)) || { [[ "$target" == ui ]] && [[ "$own" != app ]]; }; then
      echo "$rel:$line: $own includes $target, which is not below it"
      faults=$((faults + 1))
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/' "$file" |
    sed -E 's/^([0-9]+):[^"]*"([a-z_]+)\/.*/\1:\2/')
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if ((faults > 0)); then
  echo "$faults include(s) point up or sideways"
  exit 1
fi
echo "includes point down"
