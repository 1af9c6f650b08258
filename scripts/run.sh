#!/usr/bin/env bash
# Builds the editor and starts it; on a machine without a display it runs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/mapeditor "$@"
fi
exec build/bin/mapeditor "$@"
