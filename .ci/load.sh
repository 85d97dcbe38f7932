#!/usr/bin/env bash
# CI step: the line-fault, signal and live-line tests (CTest label "load") on build/ while two CPU
# hogs keep both cores busy. These faults show up only at the line's real speed or on a loaded
# machine; every test must pass here as on an idle one. stress-ng is stopped on every way out (an
# end, a failure, a signal); its own time limit ends it even if this script is killed outright.
set -euo pipefail
cd "$(dirname "$0")/.."

stress_pid=""
ctest_pid=""
stop_all() {
  local pid
  for pid in "$ctest_pid" "$stress_pid"; do
    [ -n "$pid" ] || continue
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  ctest_pid=""
  stress_pid=""
}
trap stop_all EXIT
# A signal ends the wait below at once (a foreground ctest would hold the trap until it ended).
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

stress-ng --cpu 2 --timeout 1800s --quiet &
stress_pid=$!

echo "== load: ctest --preset load beside stress-ng --cpu 2"
ctest --preset load &
ctest_pid=$!
wait "$ctest_pid"
ctest_pid=""
