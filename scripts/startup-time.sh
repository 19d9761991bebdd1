#!/usr/bin/env bash
# Time from launch to the shown main window, under a virtual X display; five runs with the
# machine's sound devices listed through PortAudio and five on the bench alone.
# Target: below 500 ms.
# Usage: scripts/startup-time.sh [build folder]
set -euo pipefail
build=${1:-build}
cmake --build "$build" --target quillon-startup >/dev/null
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
for mode in --portaudio --bench-only; do
  times=()
  for _ in 1 2 3 4 5; do
    times+=("$(XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 1280x900x24" \
      "$build/tools/quillon-startup" "$mode" 2>/dev/null | tail -n 1)")
  done
  sorted=$(printf '%s\n' "${times[@]}" | sort -n)
  echo "start-up $mode: ${times[*]} ms (median $(echo "$sorted" | sed -n 3p) ms)"
done
