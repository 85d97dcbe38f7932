#!/usr/bin/env bash
# CI: build the Debian package from the default build in build/, install it, run the installed
# ttyprog against the installed ttyprog-sim, check that man finds both pages, and remove it again.
# Runs as root on a throw-away Debian 12 machine (it installs and removes packages system-wide).
#   .ci/deb.sh [BUILD_DIR]      (default: build, as the default preset leaves it)
set -euo pipefail
cd "$(dirname "$0")/.."
source .ci/packages.sh
build=$(realpath "${1:-build}")

[ -x "$build/bin/ttyprog" ] || { echo "deb.sh: $build does not hold a build" >&2; exit 1; }

# cpack needs dpkg-shlibdeps (dpkg-dev) and file to compute the package's dependencies; man -w
# needs man-db.
install_missing dpkg-dev file man-db

# Minimal container images tell dpkg to leave out every man page (a path-exclude for
# /usr/share/man in /etc/dpkg/dpkg.cfg.d/). The package would then install without its pages and
# man -w would fail for a reason that is not ours, so on this throw-away machine that exclude is
# taken out, noisily, before installing.
for cfg in /etc/dpkg/dpkg.cfg.d/*; do
  [ -f "$cfg" ] || continue
  if grep -q '^path-exclude[= ]*/usr/share/man' "$cfg"; then
    echo "deb.sh: $cfg keeps man pages out of installed packages; dropping that rule here"
    sed -i '\#^path-exclude[= ]*/usr/share/man#d' "$cfg"
  fi
done

work=$(mktemp -d)
sim_pid=
installed=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  if [ -n "$installed" ]; then dpkg -r ttyprog >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "deb.sh: $*" >&2; exit 1; }

# 1. The package.
rm -f "$build"/ttyprog_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/ttyprog_*.deb)
echo "deb.sh: built $deb"
dpkg-deb --info "$deb" | sed -n 's/^ *\(Package\|Version\|Depends\|Section\):/  &/p'

# 2. Installed, with its files where they belong.
dpkg -i "$deb" >/dev/null
installed=yes
for f in /usr/bin/ttyprog /usr/bin/ttyprog-sim /usr/share/bash-completion/completions/ttyprog; do
  [ -e "$f" ] || fail "$f is not installed"
done
for page in ttyprog ttyprog-sim; do
  where=$(man -w "$page") || fail "man -w $page finds no page"
  echo "deb.sh: man -w $page: $where"
done

# 3. The installed tool against the installed simulator.
mkfifo "$work/sim-out"
/usr/bin/ttyprog-sim --device-id 0f42 >"$work/sim-out" &
sim_pid=$!
exec 3<"$work/sim-out"
read -r -t 10 port <&3 || fail "the simulator announced no terminal"

expect() {  # expect "expected stdout" ttyprog-arguments...
  local want=$1 got
  shift
  got=$(/usr/bin/ttyprog "$port" "$@" 2>"$work/err") || fail "ttyprog $* exited with $?"
  [ "$got" = "$want" ] || fail "ttyprog $*: expected '$want', got '$got'"
  [ ! -s "$work/err" ] || fail "ttyprog $*: unexpected standard error: $(cat "$work/err")"
  echo "deb.sh: ttyprog $* -> $(head -n 1 <<<"$got")"
}
expect "Done." writeprogram examples/sample.hex
expect "verify done. found 0 error(s)." verifyprogram examples/sample.hex
expect "$(printf 'reading id informations...\nUser ID   = ffffffff\nDevice ID = 0f42\nConfig    = 3fff')" \
  readidandconfig
expect "Done!" erase

# 4. Removed again, files and all.
kill "$sim_pid"
wait "$sim_pid" || true
sim_pid=
dpkg -r ttyprog >/dev/null
installed=
[ ! -e /usr/bin/ttyprog ] || fail "/usr/bin/ttyprog is left after dpkg -r"
echo "deb.sh: package built, installed, exercised and removed"
