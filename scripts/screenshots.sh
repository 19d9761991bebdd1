#!/usr/bin/env bash
# Screenshots of every page, on the virtual bench, into docs/screenshots/ (for the README).
# Usage: scripts/screenshots.sh [build folder]
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$build" --target quillon-screenshots >/dev/null
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 1280x900x24" \
  "$build/tools/quillon-screenshots" "$top/docs/screenshots"
