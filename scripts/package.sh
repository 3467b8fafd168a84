#!/usr/bin/env bash
# Builds the Debian package build/quillet_<version>_<arch>.deb: sets up and builds everything
# like test.sh (setup.sh also installs dpkg-dev and file, which CPack's dpkg-shlibdeps needs),
# then lets CPack install into a staging folder and pack it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

rm -f build/quillet_*.deb
(cd build && cpack -G DEB)
ls build/quillet_*.deb
