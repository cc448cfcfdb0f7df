#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the programs need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  libsqlite3-dev sqlite3 libplist-dev libimobiledevice-dev libusbmuxd-dev libssl-dev
  libzip-dev libpugixml-dev libarchive-dev zlib1g-dev libheif-dev libjpeg-dev libicu-dev
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev libgl-dev
  qt6-webengine-dev qt6-multimedia-dev
  gstreamer1.0-plugins-good fonts-wqy-microhei fonts-noto-color-emoji
  xvfb xauth imagemagick poppler-utils zip unzip tzdata
  dpkg-dev desktop-file-utils appstream man-db groff-base
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
