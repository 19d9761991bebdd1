#!/usr/bin/env bash
# Closes the window 100 times (or as many as the second argument says) at random moments on
# every page, under a virtual X display without a window manager, in turn by a window
# manager's close request and by destroying the window; each close must end the program
# within 2 s. Exit status 77 (skipped) when Xvfb is not installed.
# Usage: scripts/close-soak.sh [build folder] [rounds] [seed]
set -euo pipefail
build=${1:-build}
rounds=${2:-100}
if ! command -v xvfb-run >/dev/null; then
  echo "close-soak: skipped, xvfb-run is not installed (Debian package xvfb)"
  exit 77
fi
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x900x24" \
  "$build/tools/quillon-close-soak" "$rounds" ${3:+"$3"}
