#!/usr/bin/env bash
# Live Noise Figure on the virtual bench in real time, 44.1 kHz mono 16-bit, 100 ms blocks,
# under a virtual X display, for the given number of seconds: a receiver calibration first,
# the bench's DUT retuned every minute. Reports the groups shown, blocks lost (must be 0),
# memory growth once the trend is full, the window thread's worst lateness (under 50 ms) and
# that the noise source is OFF after the close.
# Usage: scripts/live-soak.sh [build folder] [seconds]
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
cmake --build "$build" --target quillon-live-soak >/dev/null
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 1280x900x24" \
  "$build/tools/quillon-live-soak" "$seconds"
