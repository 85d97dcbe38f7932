#!/usr/bin/env bash
# CI on the kernel's own serial drivers, with no hardware: the static ttyprog and ttyprog-sim in a
# QEMU guest on the 8250 UART, ftdi_sio USB-serial and cdc_acm drivers, unplug and replug included
# (tests/guest/run.sh; docs/robustness.md, "Real drivers"). The guest's kernel comes from Debian's
# current linux-image-amd64 package, downloaded into build-guest/ and never installed.
#
# Builds with the preset `guest` (build-guest/) and runs its one test (label guest).
set -euo pipefail
cd "$(dirname "$0")/.."
source .ci/packages.sh
started=$SECONDS

install_missing --no-install-recommends cmake ninja-build g++ qemu-system-x86 busybox-static cpio \
  xz-utils
cmake --workflow --preset guest
printf '== real drivers: %s s\n' $((SECONDS - started))
