#!/usr/bin/env bash
# Builds the Debian package from a copy of this source tree, so that the tree itself is left
# as it was:   scripts/build-deb.sh OUTDIR
# The copy is OUTDIR/quillon-VERSION, always the same path, so that ccache (when installed)
# finds its earlier work; dpkg-buildpackage leaves the .deb, .buildinfo and .changes in
# OUTDIR. The last line printed is the .deb's path.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: scripts/build-deb.sh OUTDIR" >&2; exit 2; }
src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)

# The version is set once, in the top CMakeLists.txt; debian/changelog must name the same.
version=$(sed -n 's/^project(Quillon VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
changelog=$(sed -n '1s/^quillon (\([^)]*\)).*/\1/p' "$src/debian/changelog")
if [ -z "$version" ] || [ "$version" != "$changelog" ]; then
  echo "CMakeLists.txt says version '$version' but debian/changelog '$changelog':" \
       "add a changelog entry (dch -v $version)" >&2
  exit 1
fi

copy="$out/quillon-$version"
rm -rf "$copy"
mkdir -p "$copy"
# The tree's files without build folders: git's list (tracked and new, not ignored) where
# there is one, else everything but build*/ and .git.
if git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$src" && git ls-files -z --cached --others --exclude-standard |
     tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$copy"
else
  tar -C "$src" --exclude='./build*' --exclude=./.git -cf - . | tar -xf - -C "$copy"
fi

# debhelper gives the build its own HOME, where ccache would start an empty cache.
if command -v ccache >/dev/null && [ -z "${CCACHE_DIR:-}" ]; then
  CCACHE_DIR=$(ccache -k cache_dir)
  export CCACHE_DIR
fi

arch=$(dpkg --print-architecture)
deb="$out/quillon_${version}_${arch}.deb"
rm -f "$deb"
(cd "$copy" && dpkg-buildpackage -b -us -uc -j"${JOBS:-$(nproc)}") >"$out/build.log" 2>&1 || {
  tail -40 "$out/build.log" >&2
  echo "dpkg-buildpackage failed; the whole log is $out/build.log" >&2
  exit 1
}
[ -f "$deb" ] || { echo "dpkg-buildpackage made no $deb" >&2; exit 1; }
echo "$deb"
