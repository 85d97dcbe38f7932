#!/usr/bin/env bash
# CI: build the Debian package with the "deb" workflow (the tool alone, in build-deb/, which needs
# neither GoogleTest nor clang), check it with lintian, install it, run the installed ttyprog
# against the installed ttyprog-sim, check that man finds both pages, and remove it again. Around
# the package build, the README's uninstall: `cmake --install build-tool` into a scratch prefix,
# the package built, then the README's own uninstall line leaves the prefix without a file.
# Runs as root on a throw-away Debian 12 machine (it installs and removes packages system-wide).
set -euo pipefail
cd "$(dirname "$0")/.."
source .ci/packages.sh

# cpack needs dpkg-shlibdeps (dpkg-dev) and file to compute the package's dependencies; man -w
# needs man-db.
install_missing --no-install-recommends dpkg-dev file man-db lintian

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

build=build-deb
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

# What both ways of installing put under their prefix.
installed_files=(bin/ttyprog bin/ttyprog-sim share/man/man1/ttyprog.1.gz share/man/man1/ttyprog-sim.1.gz
                 share/bash-completion/completions/ttyprog share/doc/ttyprog/copyright
                 share/doc/ttyprog/changelog.gz)

# 1. cmake --install from the tool build into a scratch prefix.
cmake --workflow --preset tool >/dev/null
cmake --install build-tool --prefix "$work/prefix" >/dev/null
for f in "${installed_files[@]}"; do
  [ -e "$work/prefix/$f" ] || fail "cmake --install did not install $f"
done

# 2. The package, and what lintian says of it.
rm -f "$build"/ttyprog_*.deb
cmake --workflow --preset deb >/dev/null
deb=$(ls "$build"/ttyprog_*.deb)
echo "deb.sh: built $deb"
dpkg-deb --info "$deb" | sed -n 's/^ *\(Package\|Version\|Depends\|Section\):/  &/p'
lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings in $deb"
echo "deb.sh: lintian finds no error and no warning"

# 3. The README's uninstall line, as it stands there (sudo is this root shell where there is none),
#    after the package build: the prefix keeps no file.
uninstall=$(grep -m 1 '^xargs .*install_manifest\.txt' README.md | sed 's/ *#.*//')
[ -n "$uninstall" ] || fail "README.md has no uninstall line"
if ! command -v sudo >/dev/null; then
  mkdir "$work/shim"
  printf '#!/bin/sh\nexec "$@"\n' >"$work/shim/sudo"
  chmod +x "$work/shim/sudo"
fi
PATH="$work/shim:$PATH" sh -c "$uninstall"
left=$(find "$work/prefix" ! -type d)
[ -z "$left" ] || fail "left after the README's uninstall ($uninstall): $left"
echo "deb.sh: cmake --install, the package built, and the README's uninstall leaves the prefix empty"

# 4. Installed, with its files where they belong.
dpkg -i "$deb" >/dev/null
installed=yes
for f in "${installed_files[@]}"; do
  [ -e "/usr/$f" ] || fail "/usr/$f is not installed"
done
for page in ttyprog ttyprog-sim; do
  where=$(man -w "$page") || fail "man -w $page finds no page"
  echo "deb.sh: man -w $page: $where"
done

# 5. The installed tool against the installed simulator.
version=$(/usr/bin/ttyprog-sim --version)
[ "$version" = "ttyprog-sim $(dpkg-deb -f "$deb" Version)" ] || fail "ttyprog-sim --version says '$version'"
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

# 6. Removed again, files and all.
kill "$sim_pid"
wait "$sim_pid" || true
sim_pid=
dpkg -r ttyprog >/dev/null
installed=
for f in "${installed_files[@]}"; do
  [ ! -e "/usr/$f" ] || fail "/usr/$f is left after dpkg -r"
done
echo "deb.sh: package built, checked, installed, exercised and removed"
