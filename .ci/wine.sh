#!/usr/bin/env bash
# CI for the Windows executable: cross-build ttyprog.exe with mingw-w64, check that it stands
# alone, pack it (ttyprog-VERSION-win64.zip), then run it under Wine against a Linux build of
# ttyprog-sim (CTest label "wine"; one case unpacks the ZIP and runs the ttyprog.exe in it).
#
# Builds with the presets `windows` (build-windows/) and `wine` (build-wine/, which points at
# build-windows/bin/ttyprog.exe).
set -euo pipefail
cd "$(dirname "$0")/.."
source .ci/packages.sh
started=$SECONDS

jobs="${TTYPROG_JOBS:-2}"

step() { printf '== %s (%ss)\n' "$*" $((SECONDS - started)); }

step "packages"
# strace counts the writes of a run; locales has the sources of the Russian locale a case makes.
install_missing --no-install-recommends cmake ninja-build g++ gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64 wine64 wine \
  strace locales

step "cross-build ttyprog.exe and its line-setting check"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs" --target ttyprog ttyprog_line_setting_test
exe="build-windows/bin/ttyprog.exe"

step "check that ttyprog.exe needs only system DLLs"
dlls="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')"
echo "$dlls"
if echo "$dlls" | grep -qiE 'libstdc|libgcc|winpthread|^lib'; then
  echo "ttyprog.exe depends on a runtime DLL that Windows does not have" >&2
  exit 1
fi

step "the Windows package"
cpack --preset windows
cmake -E tar tf build-windows/ttyprog-*-win64.zip

step "Linux build of the simulator"
cmake --preset wine >/dev/null
cmake --build --preset wine -j"$jobs"

step "Wine cases"
ctest --preset wine

step "done"
