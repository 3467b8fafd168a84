#!/usr/bin/env bash
# Builds the Debian package build/quillet_<version>_<arch>.deb: sets up and builds like
# run.sh, then lets CPack install into a staging folder and pack it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

# CPack finds the library dependencies with dpkg-shlibdeps (dpkg-dev), which needs file.
missing=()
for p in dpkg-dev file; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

rm -f build/quillet_*.deb
(cd build && cpack -G DEB)
ls build/quillet_*.deb
