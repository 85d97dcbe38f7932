#!/usr/bin/env bash
# ttyprog on the kernel's own serial drivers, without hardware: a QEMU guest (TCG) with an emulated
# UART (/dev/ttyS1, the 8250 driver), an emulated USB-serial adapter (/dev/ttyUSB0,
# ftdi_sio) and a USB CDC line made inside the guest (/dev/ttyACM0, cdc_acm, with g_serial and
# dummy_hcd playing the device on /dev/ttyGS0). The guest boots from what this script makes in
# WORK: the kernel and modules of Debian's current linux-image-amd64 package (downloaded and
# unpacked, never installed), an initramfs of busybox, the two static binaries, init.sh as /init,
# the command list and the reference outputs. docs/robustness.md says what it shows.
#
#   run.sh TTYPROG TTYPROG_SIM WORK
#
# Needs qemu-system-x86, busybox-static and cpio; both binaries statically linked (the "guest"
# preset). Prints one PASS/FAIL line per check; exits 1 if any failed or the guest did not finish.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 TTYPROG TTYPROG_SIM WORK" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
tp=$(realpath "$1")
sim=$(realpath "$2")
mkdir -p "$3"
work=$(realpath "$3")
started=$SECONDS

# Every simulator, the host's two and the guest's, paces the line at 9600 baud (QEMU's UART and
# USB do not) and tells runs apart by a pause (QEMU keeps its end of the terminal open, so no
# close is seen; see --session-gap). The first status of each one's life is sent twice, and the
# second write block is answered while it is still arriving.
# Measured here, with the three ports busy at once in one TCG processor, the line paused for up to
# 124 ms within a run, and runs came as little as 31 ms apart: so the gap is well above the first,
# and the guest waits RUN_SPACING before each run.
SESSION_GAP_MS=600
RUN_SPACING=0.8
SIM_LINE="--pace --word-time 500 --session-gap $SESSION_GAP_MS"
SIM_FAULTS="--extra-status 1 --early-status 2"
# In the order they are loaded; 8250 is built in.
MODULES="usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio configfs udc-core dummy_hcd
libcomposite u_serial usb_f_acm usb_f_serial usb_f_obex g_serial cdc-acm"
GUEST_BOUND_S=300
# The line is paced in real time, the guest emulated: the guest and the simulators get ahead of
# other work on a shared machine where they may (as root).
PRIORITY=
if nice -n -10 true 2> /dev/null; then PRIORITY="nice -n -10"; fi

# shellcheck source=commands.sh
. "$here/commands.sh"

children=()
cleanup() {
  local pid
  for pid in "${children[@]}"; do kill "$pid" 2> /dev/null || true; done
}
trap cleanup EXIT

say() { printf '== %s (%ss)\n' "$*" $((SECONDS - started)); }
die() {
  echo "run.sh: $*" >&2
  exit 1
}

for binary in "$tp" "$sim"; do
  if readelf -l "$binary" | grep -q "program interpreter"; then
    die "$binary is not statically linked (build it with the guest preset)"
  fi
done

# The kernel of the current linux-image-amd64 and the modules, uncompressed for busybox insmod;
# kept in WORK/kernel/PACKAGE for the next run.
fetch_kernel() {
  local package
  package=$(apt-cache depends linux-image-amd64 2> /dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }')
  if [ -z "$package" ]; then
    apt-get update -qq > /dev/null
    package=$(apt-cache depends linux-image-amd64 |
      awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }')
  fi
  [ -n "$package" ] || die "no linux-image-amd64 in the package lists"
  kernel_dir=$work/kernel/$package
  [ -f "$kernel_dir/vmlinuz" ] && return
  say "kernel: $package"
  rm -rf "$work/kernel"
  mkdir -p "$kernel_dir/modules" "$work/kernel/unpacked"
  (cd "$work/kernel" && apt-get download -q -o APT::Sandbox::User=root "$package" > /dev/null)
  local patterns=("./boot/vmlinuz-*") m f
  for m in $MODULES; do patterns+=("*/$m.ko*"); done
  dpkg-deb --fsys-tarfile "$work/kernel/${package}"_*.deb |
    tar -x -C "$work/kernel/unpacked" --wildcards "${patterns[@]}"
  while IFS= read -r f; do
    m=$(basename "${f%%.ko*}")
    case $f in
      *.xz) xz -dc "$f" ;;
      *.zst) zstd -qdc "$f" ;;
      *) cat "$f" ;;
    esac > "$kernel_dir/modules/$m.ko"
  done < <(find "$work/kernel/unpacked" -name '*.ko*')
  mv "$work/kernel/unpacked/boot/"vmlinuz-* "$kernel_dir/vmlinuz"
  rm -rf "$work/kernel/unpacked" "$work/kernel/"*.deb
  # The kernel unpacked here too, booted through its PVH entry: the emulated processor takes far
  # longer to unpack it than to boot it (18 s against 4 s to /init here). Without an xz-packed
  # kernel with that entry, the packed one boots.
  local at
  at=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$kernel_dir/vmlinuz" | awk -F: 'NR == 1 { print $1 }')
  if [ -z "$at" ] || ! xz -dcq --single-stream < <(tail -c +$((at + 1)) "$kernel_dir/vmlinuz") \
      > "$kernel_dir/vmlinux" 2> /dev/null ||
      ! readelf -n "$kernel_dir/vmlinux" 2> /dev/null | grep -q Xen; then
    rm -f "$kernel_dir/vmlinux"
  fi
}

# A program of WORDS words (values up to 3fff, no two neighbours alike) as Intel HEX.
make_hex() {  # WORDS FILE
  awk -v words="$1" 'BEGIN {
    for (a = 0; a < words; a += 8) {
      n = words - a < 8 ? words - a : 8
      line = sprintf(":%02X%04X00", 2 * n, 2 * a)
      sum = 2 * n + int(2 * a / 256) + (2 * a) % 256
      for (i = a; i < a + n; i++) {
        w = (i * 2741 + 1597) % 16384
        line = line sprintf("%02X%02X", w % 256, int(w / 256))
        sum += w % 256 + int(w / 256)
      }
      print line sprintf("%02X", (256 - sum % 256) % 256)
    }
    print ":00000001FF"
  }' > "$2"
}

make_data() {
  mkdir -p "$work/data"
  make_hex 8 "$work/data/block.hex"
  make_hex 600 "$work/data/w600.hex"
  make_hex 8192 "$work/data/full.hex"
  cp "$here/../../examples/sample.hex" "$work/data/"
}

# Starts a simulator in the background; its terminal's path is the first line it prints.
start_sim() {  # PATH-FILE OPTIONS...
  local path_file=$1
  shift
  $PRIORITY "$sim" "$@" > "$path_file" &
  children+=($!)
  local i
  for i in $(seq 100); do
    [ -s "$path_file" ] && return
    sleep 0.05
  done
  die "the simulator did not start: $*"
}

# The command list on a pseudo-terminal: what every driver must reproduce.
reference() {
  local ref=$work/reference
  rm -rf "$ref"
  mkdir -p "$ref"
  # shellcheck disable=SC2086
  start_sim "$ref/path" $SIM_FAULTS --trace "$ref/trace"
  (unset RUN_SPACING; run_list "$tp" "$(head -n 1 "$ref/path")" "$work/data" "$ref/out")
  words_of "$ref/trace" > "$ref/words"
}

make_initramfs() {
  local root=$work/initramfs
  rm -rf "$root"
  mkdir -p "$root"/{bin,modules,data,expect,proc,sys,dev,tmp}
  cp /bin/busybox "$root/bin/"
  strip -o "$root/bin/ttyprog" "$tp"
  strip -o "$root/bin/ttyprog-sim" "$sim"
  cp "$kernel_dir"/modules/*.ko "$root/modules/"
  cp "$work"/data/*.hex "$root/data/"
  cp "$work"/reference/out/* "$work/reference/words" "$root/expect/"
  cp "$here"/expected/* "$root/expect/"  # the steps about timing: texts, not the reference
  cp "$here/init.sh" "$root/init"
  cp "$here/commands.sh" "$root/commands.sh"
  printf 'SIM_LINE="%s"\nSIM_FAULTS="%s"\nRUN_SPACING=%s\nMODULES="%s"\n' "$SIM_LINE" \
    "$SIM_FAULTS" "$RUN_SPACING" "$(echo $MODULES)" > "$root/guest.conf"
  (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) | gzip -1 \
    > "$work/initramfs.gz"
}

# The guest, wired to the host's two simulators; its console on standard output. run.sh takes
# the adapter out and puts it back through the monitor (a pipe pair: bash has no socket client).
boot() {
  local kernel=$kernel_dir/vmlinux
  [ -f "$kernel" ] || kernel=$kernel_dir/vmlinuz
  rm -f "$work/monitor.in" "$work/monitor.out"
  mkfifo "$work/monitor.in" "$work/monitor.out"
  timeout "$GUEST_BOUND_S" $PRIORITY qemu-system-x86_64 -accel tcg -nographic -no-reboot \
    -nic none -m 256 \
    -kernel "$kernel" -initrd "$work/initramfs.gz" \
    -append 'console=ttyS0 panic=-1 quiet' \
    -serial mon:stdio -chardev serial,id=u,path="$work/ttyS1.pty" -serial chardev:u \
    -device qemu-xhci -chardev serial,id=f,path="$work/ttyUSB0.pty" \
    -device usb-serial,chardev=f,id=adapter \
    -chardev pipe,id=monitor,path="$work/monitor" -mon chardev=monitor,mode=readline \
    < /dev/null 2>&1 || echo "@@ qemu ended with $?"
}

fetch_kernel
make_data
say "reference run on a pseudo-terminal"
reference
say "initramfs"
make_initramfs

say "guest"
for name in ttyS1 ttyUSB0; do
  rm -f "$work/$name.trace"
  # shellcheck disable=SC2086
  start_sim "$work/$name.path" $SIM_LINE $SIM_FAULTS --link "$work/$name.pty" \
    --trace "$work/$name.trace"
done
rm -f "$work/console.log"
boot_time=${EPOCHREALTIME/./}  # console.log: seconds since the boot before each line
guest_failures=
while IFS= read -r line; do
  line=${line%$'\r'}
  tenths=$(((${EPOCHREALTIME/./} - boot_time) / 100000))
  printf '%4d.%d %s\n' $((tenths / 10)) $((tenths % 10)) "$line" >> "$work/console.log"
  case $line in
    "@@ unplug adapter") echo "device_del adapter" > "$work/monitor.in" ;;
    "@@ replug adapter") echo "device_add usb-serial,chardev=f,id=adapter" > "$work/monitor.in" ;;
    "@@ done "*) guest_failures=${line#@@ done } ;;
    "PASS "* | "FAIL "* | "    "*) printf '%s\n' "$line" ;;
  esac
done < <(boot)

failures=0
if [ -z "$guest_failures" ]; then
  echo "FAIL the guest did not finish within ${GUEST_BOUND_S} s; the end of its console:"
  tail -n 20 "$work/console.log" | sed 's/^/    /'
  failures=1
else
  failures=$guest_failures
fi
# The host's simulators: the words of the list's runs, one session each, as on the pty.
for name in ttyS1 ttyUSB0; do
  words_of "$work/$name.trace" > "$work/$name.words"
  text="$name trace: the words of every run, one session each, as on the pseudo-terminal"
  if why=$(same_runs "$work/reference/words" "$work/$name.words"); then
    echo "PASS $text"
  else
    echo "FAIL $text"
    echo "$why" | sed 's/^/    /'
    failures=$((failures + 1))
  fi
done
say "done: $failures failed"
[ "$failures" -eq 0 ]
