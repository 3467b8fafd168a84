#!/usr/bin/env bash
# Sets up, builds (warnings are errors), checks the include order and runs the whole test
# suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/check-includes.sh
export QT_QPA_PLATFORM=offscreen
ctest --preset default --parallel 2
