# Sourced by the CI scripts and scripts/setup.sh: install_missing PACKAGE... installs, with
# apt-get (through sudo when not root), those of the given Debian packages that are not installed
# yet (extra apt-get options may come first, e.g. --no-install-recommends).
install_missing() {
  local options=() missing=() p
  while [ $# -gt 0 ] && [ "${1#-}" != "$1" ]; do options+=("$1"); shift; done
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local as_root=(env DEBIAN_FRONTEND=noninteractive)
  [ "$(id -u)" -eq 0 ] || as_root=(sudo "${as_root[@]}")
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq "${options[@]}" "${missing[@]}" </dev/null
}
