#!/usr/bin/env bash
# CI for the Windows executable: cross-build ttyprog.exe with mingw-w64, check that it stands
# alone, then run it under Wine against a Linux build of ttyprog-sim (CTest label "wine").
#
# Build directories: $TTYPROG_WIN_BUILD (default build-windows) and $TTYPROG_WINE_BUILD (default
# build-wine), relative to the source tree unless absolute.
set -euo pipefail
cd "$(dirname "$0")/.."
source .ci/packages.sh
started=$SECONDS

win_build="${TTYPROG_WIN_BUILD:-build-windows}"
wine_build="${TTYPROG_WINE_BUILD:-build-wine}"
jobs="${TTYPROG_JOBS:-2}"

step() { printf '== %s (%ss)\n' "$*" $((SECONDS - started)); }

step "packages"
install_missing --no-install-recommends cmake ninja-build g++ gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64 wine64 wine

step "cross-build ttyprog.exe and its line-setting check"
cmake --preset windows -B "$win_build" >/dev/null
cmake --build "$win_build" -j"$jobs" --target ttyprog ttyprog_line_setting_test
exe="$(cd "$win_build" && pwd)/bin/ttyprog.exe"

step "check that ttyprog.exe needs only system DLLs"
dlls="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')"
echo "$dlls"
if echo "$dlls" | grep -qiE 'libstdc|libgcc|winpthread|^lib'; then
  echo "ttyprog.exe depends on a runtime DLL that Windows does not have" >&2
  exit 1
fi

step "Linux build of the simulator"
cmake -S . -B "$wine_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTTYPROG_TESTS=OFF \
  -DTTYPROG_FUZZ=OFF -DTTYPROG_WINE_TESTS=ON -DTTYPROG_WINDOWS_EXE="$exe" >/dev/null
cmake --build "$wine_build" -j"$jobs" --target ttyprog ttyprog-sim

step "Wine cases"
ctest --test-dir "$wine_build" -L wine --output-on-failure

step "done"
