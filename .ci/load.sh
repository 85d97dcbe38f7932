#!/usr/bin/env bash
# CI step: the line-fault, signal and live-line tests (CTest label "load") on build/ while two CPU
# hogs keep both cores busy. These faults show up only at the line's real speed or on a loaded
# machine; every test must pass here as on an idle one. stress-ng is stopped on every way out;
# its own time limit ends it even if this script is killed outright.
set -euo pipefail
cd "$(dirname "$0")/.."

stress_pid=""
stop_stress() {
  if [ -n "$stress_pid" ]; then
    kill -TERM "$stress_pid" 2>/dev/null || true
    wait "$stress_pid" 2>/dev/null || true
    stress_pid=""
  fi
}
trap stop_stress EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

stress-ng --cpu 2 --timeout 1800s --quiet &
stress_pid=$!

echo "== load: ctest --preset load beside stress-ng --cpu 2 (pid $stress_pid)"
ctest --preset load
