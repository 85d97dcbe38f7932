#!/usr/bin/env bash
# CI steps of the reliability checks, run after the default build and tests (build/ exists):
#   1. the slow cases (label "slow": the real 10 s bound, the 100 MB HEX file);
#   2. the HEX fuzz target for a bounded time (60 s) with no finding;
#   3. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer.
# FUZZ_SECONDS overrides the fuzz time.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== slow tests"
ctest --preset slow

echo "== HEX fuzzing, ${FUZZ_SECONDS:-60} s"
if [ -x build/fuzz/libfuzzer/hex_fuzz ] || command -v clang++ >/dev/null; then
  cmake -S . -B build -DTTYPROG_FUZZ=ON -DTTYPROG_FUZZ_SECONDS="${FUZZ_SECONDS:-60}" >/dev/null
  cmake --build build -j2
  ctest --test-dir build --output-on-failure -R '^hex_fuzz'
  cmake -S . -B build -UTTYPROG_FUZZ_SECONDS >/dev/null  # back to the short default run
else
  echo "clang++ missing: only the corpus replay runs" >&2
  ctest --test-dir build --output-on-failure -R '^hex_fuzz_replay$'
fi

echo "== ASan + UBSan workflow"
cmake --workflow --preset asan
