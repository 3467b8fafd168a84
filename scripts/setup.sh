#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the package and the program need (only
# the missing ones), then configures and builds into build/: the targets given, or all.
# Installing needs root: done directly as root, through sudo where there is one; otherwise
# it says what to run as root and stops.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-multimedia-dev libxkbcommon-dev libsqlcipher-dev libssl-dev sqlcipher
  liblunar-date-dev libicu-dev libzstd-dev libdtl-dev
  fonts-wqy-zenhei xvfb xauth x11-utils xdotool openbox imagemagick libfaketime
  libical-dev python3-icalendar python3-dateutil khal calcurse qtkeychain-qt6-dev radicale xandikos
  python3-caldav python3-workalendar
  dbus gnome-keyring libsecret-1-0 python3-dbusmock python3-dbus python3-gi weston xwayland
  qt6-translations-l10n fonts-noto-color-emoji libxcb1-dev libfontconfig-dev
  dpkg-dev file) # the last two: CPack's dpkg-shlibdeps, for package.sh
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# Printed when this account cannot install: the same commands, to run as root.
explain_root() {
  local install="apt-get update && apt-get install -y ${missing[*]}"
  cat >&2 <<EOF

Installing the missing Debian packages needs root. As root, run:

  $install

or from this account (su asks for the root password):

  su -c '$install'

then run this command again.
EOF
}

if ((${#missing[@]})); then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  elif command -v sudo >/dev/null; then
    echo "Installing with sudo: ${missing[*]}"
    # sudo drops DEBIAN_FRONTEND from the environment: it is given on its command line.
    if ! { sudo apt-get update -qq &&
      sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; }; then
      echo "setup.sh: installing with sudo failed." >&2
      explain_root
      exit 1
    fi
  else
    echo "setup.sh: not root, and sudo is not installed." >&2
    explain_root
    exit 1
  fi
fi

cmake --preset default
if (($#)); then
  cmake --build --preset default --target "$@"
else
  cmake --build --preset default
fi
