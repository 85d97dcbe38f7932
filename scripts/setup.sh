#!/usr/bin/env bash
# What building ttyprog, its tests and the demo need, installed on a Debian machine when missing:
#   scripts/setup.sh [APT-OPTION...] [PACKAGE...]
# installs, with apt-get (through sudo when not run as root), those of g++, cmake, ninja-build and
# libgtest-dev, and of the PACKAGEs given, that are not installed yet. When all are there it does
# nothing at all. .ci/run calls it too, with what CI needs beyond.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
  echo "setup.sh: no apt-get here: install g++ (12), cmake (3.25 or later), ninja-build and GoogleTest yourself" >&2
  exit 0
fi
source .ci/packages.sh
install_missing "$@" g++ cmake ninja-build libgtest-dev
