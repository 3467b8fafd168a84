#!/usr/bin/env bash
# Sets up, builds and starts Quillet on the current display.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: run it under a virtual one with: xvfb-run -a build/src/quillet"
  exit 1
fi
exec build/src/quillet
