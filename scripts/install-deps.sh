#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running Quillon need,
# only those that are missing. Runs apt-get as root, or through sudo otherwise.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config make
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-wayland libxcb1-dev
  portaudio19-dev libasound2-dev libasound2-plugins
  libfftw3-dev libsndfile1-dev
  libhamlib-dev libhamlib-utils libnova-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  locales xvfb xauth imagemagick sox
  dpkg-dev debhelper lintian desktop-file-utils appstream man-db
  python3-html5lib
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

# sudo resets the environment, so the front end is handed to apt-get on its command line.
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    cat >&2 <<MSG
Quillon needs these Debian packages, which are not installed:
  ${missing[*]}
You are not root and sudo is not installed. Run this as root (for example after su -):
  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}
then run make again.
MSG
    exit 1
  fi
  as_root=(sudo DEBIAN_FRONTEND=noninteractive)
fi

echo "Installing missing packages: ${missing[*]}"
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
