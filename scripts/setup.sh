#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need (only the missing
# ones), then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-multimedia-dev libxkbcommon-dev libsqlcipher-dev libssl-dev sqlcipher
  liblunar-date-dev libicu-dev
  fonts-wqy-zenhei xvfb xauth x11-utils xdotool openbox imagemagick libfaketime
  libical-dev python3-icalendar python3-dateutil khal calcurse qtkeychain-qt6-dev radicale xandikos
  python3-caldav
  dbus gnome-keyring libsecret-1-0
  qt6-translations-l10n fonts-noto-color-emoji libxcb1-dev libfontconfig-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

cmake --preset default
cmake --build --preset default
