#!/usr/bin/env bash
# Runs ttyprog against the bundled programmer simulator: no hardware needed.
#   scripts/demo.sh TTYPROG TTYPROG_SIM SAMPLE_HEX
set -euo pipefail

tool=$1 sim=$2 sample=$3
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The simulator prints the path of its pseudo-terminal as its first line.
mkfifo "$work/out"
"$sim" >"$work/out" &
sim_pid=$!
exec 3<"$work/out"
read -r port <&3

run() {
  printf '\n$ ttyprog %s %s\n' "$port" "$*"
  "$tool" "$port" "$@"
}

run erase
run writeid 0x1234ABCD
run writeconfig 3f72
run readidandconfig
run writeprogram "$sample"
run verifyprogram "$sample"
run readprogram 32

# After an erase, verification finds every word the sample sets.
run erase
run verifyprogram "$sample"
