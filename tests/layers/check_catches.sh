#!/usr/bin/env bash
# The include check must fail on an include that points up or sideways and pass on a
# tree whose includes point down; a check that cannot fail would guard nothing.
set -euo pipefail
check="$1"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{platform,common,records,catalogue,scan,ui,app,cli}
echo '#include "platform/files.h"' >"$tree/common/text.h"
echo '#include "records/progress_sink.h"' >"$tree/catalogue/types.h"
echo '#include "ui/control.h"' >"$tree/app/main_wnd.cpp"
echo '#include "common/version.h"' >"$tree/cli/cli.cpp"
echo '#include "gtest/gtest.h"' >"$tree/records/reader.cpp"  # not one of our folders
bash "$check" "$tree" >/dev/null || { echo "a tree that points down was refused"; exit 1; }

expect_refused() {
  local file="$1" line="$2"
  echo "$line" >"$tree/$file"
  if out="$(bash "$check" "$tree")"; then
    echo "not refused: $file: $line"
    exit 1
  fi
  grep -q "^$file:1:" <<<"$out" || { echo "refusal does not name $file: $out"; exit 1; }
  rm "$tree/$file"
}
expect_refused records/chat_text.h '#include "catalogue/types.h"'  # up
expect_refused scan/list.h '  #  include "cli/command.h"'         # up, odd spacing
expect_refused cli/run.cpp '#include "app/main_wnd.h"'            # sideways at the top
expect_refused common/a.h '#include "ui/control.h"'               # only app uses ui
expect_refused scan/b.cpp '#include "ui/control.h"'
expect_refused ui/c.cpp '#include "records/record_types.h"'      # ui stays beside the engine
echo "the include check refuses what it should"
