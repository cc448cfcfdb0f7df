#!/usr/bin/env bash
# fuzz.sh BUILD SECONDS: runs every fuzz target over its seed corpus; with SECONDS > 0
# it fuzzes for that long (new inputs go to a scratch folder, not into git).
set -euo pipefail
build=$1; seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for src in "$root"/fuzz/*_fuzzer.cpp; do
  name=$(basename "$src" _fuzzer.cpp)
  bin="$build/bin/fuzz_$name"
  corpus="$root/fuzz/corpus/$name"
  mkdir -p "$corpus"
  if [ "$seconds" -gt 0 ]; then
    scratch="$build/fuzz-work/$name"; mkdir -p "$scratch"
    echo "== fuzz_$name for ${seconds}s"
    "$bin" -max_total_time="$seconds" -print_final_stats=1 "$scratch" "$corpus" || status=1
  else
    echo "== replay fuzz_$name"
    "$bin" -runs=0 "$corpus" || status=1
  fi
done
exit $status
