#!/usr/bin/env bash
# Sets up, builds the program (only: the tests and benchmarks are test.sh's) and starts it on
# the current display.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh quillet
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: run it under a virtual one with: xvfb-run -a build/src/quillet"
  exit 1
fi
exec build/src/quillet
