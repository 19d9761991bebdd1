#!/usr/bin/env bash
# make package-test: installs the package into a fresh minimal Debian 12 root, uses it there
# as someone who only wants the program would, removes it and checks that none of its files
# stay behind. Root only (debootstrap, chroot, mount); installs debootstrap when missing.
#   scripts/package-test.sh DEB        (KEEP_ROOT=1 keeps the root for a look afterwards)
set -euo pipefail
[ $# -eq 1 ] && [ -f "$1" ] || { echo "usage: scripts/package-test.sh quillon_VERSION_ARCH.deb" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ]; then
  echo "package-test needs root (debootstrap, chroot, mount): run sudo make package-test" >&2
  exit 1
fi
deb=$(realpath "$1")
step() { printf '\n== %s\n' "$*"; }
fail() { printf 'FAIL: %s\n' "$*"; exit 1; }

if ! command -v debootstrap >/dev/null; then
  step "installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap >/dev/null
fi

# The Debian 12 mirror this machine's apt uses (deb822 .sources or one-line .list files).
mirror=$(awk '
  FNR == 1 { uris = ""; suites = "" }
  /^URIs:/ { uris = $2 }
  /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") suites = 1 }
  /^$/ { if (uris != "" && suites) { print uris; exit } uris = ""; suites = "" }
  END { if (uris != "" && suites) print uris }' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1 || true)
if [ -z "$mirror" ]; then
  mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i ~ /:\/\//) {
             if ($(i + 1) == "bookworm") { print $i; exit } } }' \
           /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -1 || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}

root=$(mktemp -d /var/tmp/quillon-package-test.XXXXXX)
chmod 755 "$root" # the root folder of the new system: apt's _apt user must pass through it
cleanup() {
  for m in "$root/dev/shm" "$root/dev/pts" "$root/proc"; do
    mountpoint -q "$m" && umount "$m"
  done
  if [ "${KEEP_ROOT:-0}" = 1 ]; then echo "root kept: $root"; else rm -rf "$root"; fi
}
trap cleanup EXIT
in_root() {
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive XDG_CONFIG_HOME=/tmp/config XDG_RUNTIME_DIR=/tmp/runtime \
    bash -c "$1"
}
# Every path of the root outside the kernel's file systems and the scratch folders.
snapshot() {
  in_root 'find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /run \) -prune -o -print | sort'
}

step "debootstrap --variant=minbase bookworm from $mirror"
start=$SECONDS
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 ||
  { tail -20 "$root.log"; fail "debootstrap"; }
rm -f "$root.log"
echo "minimal Debian 12 in $root ($(du -sm "$root" | cut -f1) MB, $((SECONDS - start)) s)"
mount -t proc proc "$root/proc"
mkdir -p "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
mount -t tmpfs -o size=64m tmpfs "$root/dev/shm"
in_root 'mkdir -p /tmp/config /tmp/runtime && chmod 700 /tmp/runtime'

step "the test's own tools: xvfb xauth xdotool man-db"
in_root 'apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends xvfb xauth xdotool man-db >/dev/null'
snapshot >"$root/tmp/before"

step "apt-get install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
in_root "apt-get install -y -q ./tmp/$(basename "$deb")" >"$root/tmp/install.log" 2>&1 ||
  { tail -20 "$root/tmp/install.log"; fail "apt-get install"; }
newly=$(grep -c '^Setting up ' "$root/tmp/install.log" || true)
echo "installed with $newly packages set up (quillon and its dependencies)"
in_root 'dpkg -L quillon' | sort >"$root/tmp/package-files"
echo "the package put $(wc -l <"$root/tmp/package-files") paths in place"

step "quillon-cli --version; quillon --version"
in_root 'quillon-cli --version && quillon --version' || fail "--version"

step "quillon-cli measure (the virtual bench)"
measure=$(in_root 'quillon-cli measure') || fail "quillon-cli measure: status $?"
echo "$measure"
grep -q '^Noise Figure (dB): ' <<<"$measure" && grep -q '^Virtual bench truth: ' <<<"$measure" ||
  fail "quillon-cli measure printed no measurement"

step "quillon-cli bench"
bench=$(in_root 'quillon-cli bench') || fail "quillon-cli bench"
echo "$bench"
grep -q '^Virtual bench truth' <<<"$bench" || fail "quillon-cli bench printed no truth"

step "the window under xvfb-run: open, then close"
window=$(in_root '
  xvfb-run -a -s "-screen 0 1280x900x24" bash -c "
    quillon & pid=\$!
    id=\$(timeout 30 xdotool search --sync --onlyvisible --name \"^Quillon\$\" | head -1)
    [ -n \"\$id\" ] || { echo \"no window appeared\"; kill \$pid; exit 1; }
    echo \"window \$id: \$(xdotool getwindowname \$id), \$(xdotool getwindowgeometry \$id | tail -1 | sed \"s/^ *//\")\"
    xdotool windowclose \$id
    for i in \$(seq 50); do kill -0 \$pid 2>/dev/null || break; sleep 0.1; done
    if kill -0 \$pid 2>/dev/null; then echo \"still running 5 s after the close\"; kill -9 \$pid; exit 1; fi
    wait \$pid; echo \"closed, exit status \$?\"
  "' 2>&1) || { echo "$window"; fail "the window"; }
echo "$window"

step "man quillon-cli"
page=$(in_root 'MANPAGER=cat MANWIDTH=80 man quillon-cli 2>&1') || { echo "$page"; fail "man quillon-cli"; }
head -12 <<<"$page"
echo "... ($(wc -l <<<"$page") lines; commands: $(grep -cE '^   [a-z]' <<<"$page"))"
in_root 'MANPAGER=cat man quillon >/dev/null' || fail "man quillon"

step "apt-get remove quillon"
in_root 'apt-get remove -y -q quillon' >"$root/tmp/remove.log" 2>&1 ||
  { tail -20 "$root/tmp/remove.log"; fail "apt-get remove"; }
snapshot >"$root/tmp/after"
# The package's files: none may stay (a folder stays where another package still uses it).
left=$(while read -r path; do
  [ -e "$root$path" ] || [ -L "$root$path" ] || continue
  [ -d "$root$path" ] && [ ! -L "$root$path" ] && continue
  echo "$path"
done <"$root/tmp/package-files")
[ -z "$left" ] || { echo "$left"; fail "files of the package left after apt-get remove"; }
echo "none of the package's $(wc -l <"$root/tmp/package-files") paths is left but shared folders"
# The whole tree before the install and after the removal: what is new must belong to the
# dependencies still installed (apt-get remove keeps them), or be apt's and dpkg's own state.
# dpkg names some files by their old paths (/bin/kill); on Debian 12 /bin is /usr/bin.
in_root 'cat /var/lib/dpkg/info/*.list' |
  sed -E 'p; s#^/(bin|sbin|lib|lib32|lib64|libx32)(/|$)#/usr/\1\2#' | sort -u >"$root/tmp/owned"
comm -13 "$root/tmp/before" "$root/tmp/after" | comm -23 - "$root/tmp/owned" |
  grep -vE '^/var/(lib/(dpkg|apt|ucf|systemd)|cache|log)(/|$)|^/etc/ld\.so\.cache$' >"$root/tmp/stray" || true
if grep -q quillon "$root/tmp/stray"; then
  grep quillon "$root/tmp/stray"; fail "paths named quillon left after apt-get remove"
fi
listing="$(dirname "$deb")/package-test-new-paths.txt"
cp "$root/tmp/stray" "$listing"
echo "new paths since before the install: $(comm -13 "$root/tmp/before" "$root/tmp/after" | wc -l)," \
     "of which $(wc -l <"$root/tmp/stray") belong to no package and are not apt's or dpkg's state," \
     "none named quillon (made by the dependencies' maintainer scripts; all in $listing). By folder:"
# sed -n, not head: a reader that stops early would end this script through pipefail.
awk -F/ '{ print "/" $2 "/" $3 }' "$root/tmp/stray" | sort | uniq -c | sort -rn | sed -n '1,12p'
step "PASS ($((SECONDS - start)) s)"
