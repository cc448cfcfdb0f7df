#!/usr/bin/env bash
# Builds the Debian package of a build folder, unpacks it into a temporary root with
# dpkg-deb -x and runs the unpacked backvault-cli there over demo backups. The unpacked
# tree lies somewhere else than /usr, so this also shows that the programs find their
# helpers and data files relative to themselves, and never in the build folder.
#   check-package.sh BUILD_DIR [CPACK]
set -euo pipefail
BUILD=$(cd "$1" && pwd)
CPACK="${2:-cpack}"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/bv-package.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

fail() {
  echo "check-package: $*" >&2
  exit 1
}

# The package, built into the work folder so that build/*.deb of `make package` stays.
if ! (cd "$BUILD" && "$CPACK" -G DEB -B "$WORK/pkg" >"$WORK/cpack.log" 2>&1); then
  cat "$WORK/cpack.log" >&2
  fail "cpack failed"
fi
VERSION=$(sed -n 's/^inline constexpr char kVersion\[\] = "\(.*\)";$/\1/p' \
  "$BUILD/generated/common/version.h")
ARCH=$(dpkg --print-architecture)
DEB="$WORK/pkg/backvault_${VERSION}_${ARCH}.deb"
[ -f "$DEB" ] || fail "no $(basename "$DEB") in: $(ls "$WORK/pkg")"

# Dependencies: computed ones for the linked libraries, named ones for what the desktop
# program loads at run time.
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for lib in libc6 libsqlite3-0 libplist libimobiledevice libssl3 libarchive; do
  case "$DEPENDS" in *"$lib"*) ;; *) fail "Depends lacks $lib: $DEPENDS" ;; esac
done

ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
for f in usr/bin/backvault-cli usr/libexec/backvault/tool usr/libexec/backvault/extract \
  usr/share/backvault/config.ini usr/share/backvault/Languages/English.ini \
  usr/share/backvault/template/Sms.html usr/share/man/man1/backvault-cli.1.gz \
  usr/share/bash-completion/completions/backvault-cli; do
  [ -e "$ROOT/$f" ] || fail "the package lacks /$f"
done
[ ! -e "$ROOT/usr/bin/mkbackup" ] || fail "the developer tool mkbackup is in the package"
[ ! -e "$ROOT/usr/bin/tool" ] || fail "the helper 'tool' is in /usr/bin"
OUTSIDE=$(cd "$ROOT" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$OUTSIDE" ] || fail "files outside /usr: $OUTSIDE"

if [ -e "$ROOT/usr/bin/backvault" ]; then
  for dep in gstreamer1.0-plugins-good fonts-wqy-microhei fonts-noto-color-emoji qt6-qpa-plugins; do
    case "$DEPENDS" in *"$dep"*) ;; *) fail "Depends lacks $dep: $DEPENDS" ;; esac
  done
  for f in usr/share/applications/backvault.desktop \
    usr/share/metainfo/com.tarnwick.backvault.metainfo.xml \
    usr/share/icons/hicolor/48x48/apps/backvault.png usr/share/man/man1/backvault.1.gz \
    usr/share/backvault/help/help.html; do
    [ -e "$ROOT/$f" ] || fail "the package lacks /$f"
  done
  desktop-file-validate "$ROOT/usr/share/applications/backvault.desktop" ||
    fail "the desktop entry does not validate"
  if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$ROOT/usr/share/metainfo/com.tarnwick.backvault.metainfo.xml" \
      >"$WORK/appstream.log" 2>&1 || { cat "$WORK/appstream.log" >&2; fail "metainfo invalid"; }
  fi
fi

# The installed manual page renders and names every command.
if command -v man >/dev/null; then
  PAGE=$(MANWIDTH=100 man -l "$ROOT/usr/share/man/man1/backvault-cli.1.gz" 2>&1)
  for cmd in $("$ROOT/usr/bin/backvault-cli" help | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p;s/^  \([a-z][a-z-]*\)$/\1/p'); do
    grep -q "backvault-cli $cmd" <<<"$PAGE" || fail "the manual page lacks '$cmd'"
  done
fi

# The demo backups, written by this build's mkbackup; the program's own folders in a
# home of their own.
export HOME="$WORK/home" XDG_DATA_HOME="$WORK/home/data" TZ=UTC LANG=C
mkdir -p "$XDG_DATA_HOME"
"$BUILD/bin/mkbackup" --demo "$WORK/demo" >/dev/null
CLI="$ROOT/usr/bin/backvault-cli"

"$CLI" --version | grep -qx "backvault-cli $VERSION" || fail "--version does not say $VERSION"
LIST=$("$CLI" list --root "$WORK/demo") || fail "list failed"
grep -q "Locked iPhone  \[encrypted\]" <<<"$LIST" || fail "list does not show the demo backups: $LIST"

PLAIN=$("$CLI" list --root "$WORK/demo" --json | grep -o '"folder": "[^"]*"' | head -n 1 |
  sed -e 's/^"folder": "//' -e 's/"$//')
SCAN=$("$CLI" scan "$PLAIN" --categories messages,contacts,notes) || fail "scan failed: $SCAN"
grep -Eq "Messages \([1-9][0-9]*\)" <<<"$SCAN" || fail "scan found no messages: $SCAN"

# The encrypted one needs the installed decryption tool from libexec/backvault.
LOCKED=$(printf 'tarnwick demo\n' | "$CLI" scan "$WORK/demo/00008020-0011223344556677" \
  --password-stdin --categories contacts) || fail "scan of the encrypted backup failed: $LOCKED"
grep -Eq "Contacts \([1-9][0-9]*\)" <<<"$LOCKED" || fail "no contacts decrypted: $LOCKED"

# A recovery fills the installed templates.
"$CLI" recover "$PLAIN" --out "$WORK/out" --categories contacts,messages >"$WORK/recover.log" 2>&1 ||
  { cat "$WORK/recover.log" >&2; fail "recover failed"; }
HTML=$(find "$WORK/out" -name '*.html' | head -n 1)
[ -n "$HTML" ] || fail "recover wrote no HTML document"
grep -q "<html" "$HTML" || fail "$HTML is no HTML document"

# The installed desktop program walks its own states under Xvfb (as make screenshots does):
# skins, language files and help pages come from the unpacked tree, and its language
# switch keeps the user's choice in the work folder, never in the shipped config.ini.
if [ -e "$ROOT/usr/bin/backvault" ]; then
  command -v xvfb-run >/dev/null || fail "xvfb-run is missing (scripts/install-deps.sh)"
  GUI_DATA="$WORK/gui-data"
  mkdir -p "$GUI_DATA/Apple Computer/MobileSync" "$WORK/shots"
  cp -r "$WORK/demo" "$GUI_DATA/Apple Computer/MobileSync/Backup"
  mkdir -m 700 "$WORK/runtime"
  XDG_DATA_HOME="$GUI_DATA" XDG_RUNTIME_DIR="$WORK/runtime" QT_QPA_PLATFORM=xcb \
    BACKVAULT_SCREENSHOTS="$WORK/shots" BACKVAULT_SCREENSHOTS_PASSWORD="tarnwick demo" \
    xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "$ROOT/usr/bin/backvault" \
    >"$WORK/gui.log" 2>&1 || { cat "$WORK/gui.log" >&2; fail "the installed backvault failed"; }
  ls "$WORK/shots" | grep -q "Deutsch" || fail "the installed backvault showed no second language"
  cmp -s "$ROOT/usr/share/backvault/config.ini" "$(dirname "$0")/../data/config.ini" ||
    fail "the installed backvault rewrote the shipped config.ini"
  grep -q "^Default=" "$GUI_DATA/TarnwickBackvault/config.ini" ||
    fail "the language choice was not kept in the user's work folder"
fi

echo "check-package: $(basename "$DEB") unpacks and runs from $ROOT"
