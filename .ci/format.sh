#!/usr/bin/env bash
# CI step: every C++ source tracked by git laid out as .clang-format says (clang-format 14, the
# version whose output that file was tuned on). Lists each file that differs and fails if any
# does; `clang-format-14 -i FILE` rewrites one. Installs clang-format 14 when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source .ci/packages.sh

install_missing --no-install-recommends clang-format-14

differing=()
while IFS= read -r -d '' file; do
  clang-format-14 --dry-run --Werror "$file" 2>/dev/null || differing+=("$file")
done < <(git ls-files -z '*.cpp' '*.h')

if [ ${#differing[@]} -gt 0 ]; then
  echo "format.sh: ${#differing[@]} file(s) differ from .clang-format (clang-format-14 -i FILE fixes one):" >&2
  printf '  %s\n' "${differing[@]}" >&2
  exit 1
fi
echo "format.sh: every C++ source is laid out as .clang-format says"
