#!/usr/bin/env bash
# Measure Noise on the virtual bench in real time, 100 ms blocks, logging on, for the given
# number of seconds; reports lost blocks (must be 0) and memory growth.
# Usage: scripts/soak.sh [build folder] [seconds]
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
cmake --build "$build" --target quillon-soak >/dev/null
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=offscreen "$build/tools/quillon-soak" "$seconds"
