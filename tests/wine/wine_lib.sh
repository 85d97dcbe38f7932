# Shared by the Wine test scripts (sourced). Expects from CTest: WINEPREFIX, WINE_WORK,
# TTYPROG_EXE (the cross-built ttyprog.exe), TTYPROG_LINE_SETTING_TEST (the Windows check built
# beside it), TTYPROG_SIM and TTYPROG_LINUX (this build's simulator and Linux tool).
set -euo pipefail
export WINEDEBUG=-all WINEARCH=win64

# The kernel lets a process with CAP_SYS_ADMIN open a terminal that another program holds in
# exclusive mode. Run as root, Wine (whose server does the opening) would therefore never see a
# held port, so every Wine process here runs without that one capability.
as_plain_user=()
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  as_plain_user=(setpriv --bounding-set=-sys_admin)
fi

wine_run() { "${as_plain_user[@]}" wine "$@"; }
wineserver_run() { "${as_plain_user[@]}" wineserver "$@"; }

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
