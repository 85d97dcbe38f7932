#!/usr/bin/env bash
# CI steps of the reliability checks, run after the default build and tests (build/ exists):
#   1. the slow cases (label "slow": the real 10 s bound, the 100 MB HEX file) on build/;
#      then the campaign over the programmer's answers (label "campaign") for 60 s
#      (CAMPAIGN_SECONDS overrides the time);
#   2. the line-fault, signal and live-line cases (label "load") on build/ with both cores kept
#      busy by stress-ng (.ci/load.sh);
#   3. the HEX fuzz campaign in its own build, build-fuzz/ ("fuzz" preset): libFuzzer for 60 s
#      with no finding (FUZZ_SECONDS overrides the time);
#   4. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== slow tests"
ctest --preset slow

echo "== answer campaign, ${CAMPAIGN_SECONDS:-60} s"
TTYPROG_CAMPAIGN_SECONDS="${CAMPAIGN_SECONDS:-60}" ctest --test-dir build -L campaign -V

bash .ci/load.sh

echo "== HEX fuzzing, ${FUZZ_SECONDS:-60} s"
cmake --preset fuzz ${FUZZ_SECONDS:+-DTTYPROG_FUZZ_SECONDS="$FUZZ_SECONDS"} >/dev/null
cmake --build --preset fuzz
fuzz_tests=$(ctest --preset fuzz -N)
if ! grep -q ' hex_fuzz$' <<<"$fuzz_tests"; then
  echo "no libFuzzer build (clang++ or its runtime missing): only the corpus replay runs" >&2
fi
ctest --preset fuzz

echo "== ASan + UBSan workflow"
cmake --workflow --preset asan
