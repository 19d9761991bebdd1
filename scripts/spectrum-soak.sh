#!/usr/bin/env bash
# Show Spectrum on the virtual bench in real time at 96 kHz, mono 16-bit, 1024-point blocks,
# under a virtual X display, for the given number of seconds; reports blocks captured,
# computed, lost (must be 0) and drawn, and the window thread's worst lateness (under 50 ms).
# Usage: scripts/spectrum-soak.sh [build folder] [seconds] [FFT size]
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
fft=${3:-1024}
cmake --build "$build" --target quillon-spectrum-soak >/dev/null
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 1280x900x24" \
  "$build/tools/quillon-spectrum-soak" "$seconds" "$fft"
