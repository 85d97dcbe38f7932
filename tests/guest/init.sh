#!/bin/busybox sh
# /init of the real-driver guest (built by run.sh): ttyprog as root on the kernel's own drivers,
# /dev/ttyS1 (8250, QEMU's UART), /dev/ttyUSB0 (ftdi_sio, QEMU's USB-serial adapter) and
# /dev/ttyACM0 (cdc_acm, wired inside this kernel to the gadget /dev/ttyGS0 of g_serial and
# dummy_hcd). The simulators behind ttyS1 and ttyUSB0 run on the host; the one behind ttyACM0
# runs here on /dev/ttyGS0. One line per check, "PASS ..." or "FAIL ...", on the console; "@@ ..."
# lines are for run.sh: "@@ unplug adapter" and "@@ replug adapter" ask it to take the USB-serial
# adapter out and put it back, "@@ done N" ends the run with N failed checks.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
# run.sh: SIM_LINE and SIM_FAULTS (the simulators' options), RUN_SPACING, MODULES (in order)
. /guest.conf
. /commands.sh

# One check's line, and below it (indented) DETAILS when given, in one write: the suites of the
# three ports run at once.
report() {  # PASS|FAIL TEXT [DETAILS]
  if [ -n "${3:-}" ]; then
    printf '%s %s\n%s\n' "$1" "$2" "$(printf '%s\n' "$3" | head -n 12 | sed 's/^/    /')"
  else
    printf '%s %s\n' "$1" "$2"
  fi
  if [ "$1" = FAIL ]; then echo "$2" >> /tmp/failed; fi
}
verdict() {  # STATUS TEXT [DETAILS]: PASS for status 0; the details only with FAIL
  if [ "$1" -eq 0 ]; then report PASS "$2"; else report FAIL "$2" "${3:-}"; fi
}
pass_fail() { if [ "$1" -eq 0 ]; then echo PASS; else echo FAIL; fi; }
now_cs() {  # the time since boot in hundredths of a second
  read -r up rest < /proc/uptime
  echo "${up%.*}${up#*.}"
}
appears() {  # PATH HUNDREDTHS: whether PATH is there within about that time
  t=0
  while [ "$t" -lt "$2" ]; do
    if [ -e "$1" ]; then return 0; fi
    usleep 10000
    t=$((t + 1))
  done
  return 1
}
seconds() {  # HUNDREDTHS: as seconds, "-0.03" or "1.20"
  sign=
  v=$1
  if [ "$v" -lt 0 ]; then sign=-; v=$((-v)); fi
  echo "$sign$((v / 100)).$((v / 10 % 10))$((v % 10))"
}
running() {  # PID: not ended (a zombie has ended)
  [ -r "/proc/$1/stat" ] && read -r _ _ state _ < "/proc/$1/stat" && [ "$state" != Z ]
}

for m in $MODULES; do
  insmod "/modules/$m.ko" || report FAIL "module $m"
done
for port in /dev/ttyS1 /dev/ttyUSB0 /dev/ttyACM0 /dev/ttyGS0; do
  appears "$port" 1000 || report FAIL "$port did not appear"
done

start_gadget_sim() {  # [FAULTS...]: the simulator behind ttyACM0, on the gadget's end
  n=$((${n_acm_sim:-0} + 1))
  n_acm_sim=$n
  # shellcheck disable=SC2086
  ttyprog-sim --device /dev/ttyGS0 $SIM_LINE "$@" --trace "/tmp/acm-$n.trace" > /dev/null &
}

# --- The port list, a holder, and a refusal without the name service (static binary) ---------
check_port_list() {
  ttyprog --list > /tmp/list.txt 2>&1
  ok=0
  for p in /dev/ttyS1 /dev/ttyUSB0 /dev/ttyACM0; do grep -qx "$p" /tmp/list.txt || ok=1; done
  for p in /dev/ttyS2 /dev/ttyS3; do grep -q "^$p" /tmp/list.txt && ok=1; done
  verdict $ok "--list names ttyS1, ttyUSB0 and ttyACM0, not the ttyS placeholders" \
    "$(cat /tmp/list.txt)"

  cat /dev/ttyUSB0 > /dev/null &
  holder=$!
  sleep 0.3
  ttyprog --list > /tmp/list-held.txt 2>&1
  grep -qx "/dev/ttyUSB0 (held by cat, pid $holder)" /tmp/list-held.txt
  verdict $? "--list names the holder of ttyUSB0" "$(cat /tmp/list-held.txt)"
  ttyprog /dev/ttyUSB0 erase > /tmp/busy.out 2> /tmp/busy.err
  rc=$?
  [ $rc -eq 1 ] && [ ! -s /tmp/busy.out ] &&
    [ "$(head -n 1 /tmp/busy.err)" = "Opening port /dev/ttyUSB0 failed!" ]
  verdict $? "a held ttyUSB0 is refused (exit $rc)" "$(cat /tmp/busy.out /tmp/busy.err)"
  kill "$holder"
  wait "$holder" 2> /dev/null

  # Permission denied for another user, with standard error on a terminal (ttyACM0, read back
  # on ttyGS0), where the reason is given: the static binary looks up the device's group and the
  # user with no name service module to load (glibc warns of that when linking). In a subshell:
  # init is a session leader, and the terminal must not become its controlling one.
  mkdir -p /etc
  printf 'root:x:0:0::/:/bin/sh\nnobody:x:65534:65534::/:/bin/sh\n' > /etc/passwd
  printf 'root:x:0:\ndialout:x:20:\nnogroup:x:65534:\n' > /etc/group
  chgrp 20 /dev/ttyS1
  chmod 660 /dev/ttyS1
  stty -F /dev/ttyGS0 raw -echo
  cat /dev/ttyGS0 > /tmp/denied.tty &
  reader=$!
  sleep 0.2
  (su -s /bin/sh -c 'ttyprog /dev/ttyS1 erase' nobody > /tmp/denied.out 2> /dev/ttyACM0)
  rc=$?
  sleep 0.3
  kill $reader
  wait $reader 2> /dev/null
  tr -d '\r' < /tmp/denied.tty > /tmp/denied.err
  [ $rc -eq 1 ] && [ "$(head -n 1 /tmp/denied.err)" = "Opening port /dev/ttyS1 failed!" ]
  report "$(pass_fail $?)" "permission denied, reported by the static binary (exit $rc)" \
    "$(cat /tmp/denied.out /tmp/denied.err)"
}

# --- The command list, as on the pseudo-terminal ------------------------------------------------
while_running() {  # PORT OUT: the line as the driver holds it while ttyprog runs
  sleep 2
  stty -a -F "$1" > "$2/stty.txt" 2>&1
}

compare_step() {  # NAME STEP OUT
  for part in out err rc; do
    if ! cmp -s "/expect/$2.$part" "$3/$2.$part"; then
      what="standard $part differs from the pseudo-terminal's (exit $(cat "$3/$2.rc"))"
      report FAIL "$1 $2: $what" "$(diff "/expect/$2.$part" "$3/$2.$part" | cut -c 1-96 | head -n 8
          sed 's/^/stderr: /' "$3/$2.err" | head -n 4)"
      return
    fi
  done
  report PASS "$1 $2"
}

check_stty() {  # NAME FILE
  words=$(tr ' ;' '\n\n' < "$2")
  missing=
  grep -q "^speed 9600 baud" "$2" || missing="9600 baud"
  for flag in cs8 -parenb -cstopb -crtscts -ixon -ixoff -icanon -isig -iexten -echo -opost \
      -icrnl -inlcr -igncr -istrip -brkint; do
    echo "$words" | grep -qx -- "$flag" || missing="$missing $flag"
  done
  [ -z "$missing" ]
  verdict $? "$1 line while ttyprog runs: 9600 8N1, raw, no flow control" \
    "missing: $missing
$(cat "$2")"
}

check_trace() {  # NAME TRACE: the words of the list's runs, one run to a session
  words_of "$2" > "/tmp/$1.words"
  why=$(same_runs /expect/words "/tmp/$1.words")
  verdict $? "$1 trace: the words of every run, one session each, as on the pseudo-terminal" "$why"
}

# --- Unplug and replug ---------------------------------------------------------------------------
unplug() {
  case $1 in
    ttyUSB0) echo "@@ unplug adapter" ;;
    ttyACM0) rmmod g_serial ;;
  esac
}
replug() {
  case $1 in
    ttyUSB0) echo "@@ replug adapter" ;;
    ttyACM0)
      insmod /modules/g_serial.ko
      appears /dev/ttyGS0 1000
      start_gadget_sim --user-id 1234abcd --config 3f72
      ;;
  esac
}

# Unplugs the adapter 1.5 s into a long run: the failure line and "Connection to programmer
# lost!" within 1 s of the port going away (its node is removed right after the driver hangs the
# line up; how long the emulated kernel takes to get there is reported), strict exit 3, no
# success line; after the replug the next run on the same name works.
check_unplug() {  # NAME PORT FAILURE-LINE COMMAND...
  name=$1 port=$2 failure=$3
  shift 3
  o=/tmp/unplug-$name-$1
  space_run
  env TTYPROG_STRICT=1 ttyprog "$port" "$@" > "$o.out" 2> "$o.err" &
  pid=$!
  sleep 1.5
  t0=$(now_cs)
  unplug "$name"
  gone=
  while running $pid || [ -z "$gone" ]; do
    if [ -z "$gone" ] && ! [ -e "$port" ]; then gone=$(now_cs); fi
    [ $(($(now_cs) - t0)) -lt 1000 ] || break
    usleep 10000
  done
  ended=$(now_cs)
  if running $pid; then
    kill -9 $pid
    report FAIL "$name unplug during $1: still running 10 s later"
  fi
  wait $pid
  rc=$?
  gone=${gone:-$ended}
  took=$((ended - gone))
  [ $rc -eq 3 ] && [ "$(tail -n 1 "$o.out")" = "$failure" ] && ! grep -q "^Done" "$o.out" &&
    grep -qx "Connection to programmer lost!" "$o.err" && [ "$took" -le 100 ]
  status=$?
  what="exit $rc, $(seconds $((gone - t0))) s to the port's removal,"
  what="$what ended $(seconds $took) s after it"
  report "$(pass_fail $status)" "$name unplug during $1: $what" \
    "$(tail -n 2 "$o.out"; cat "$o.err")"

  replug "$name"
  appears "$port" 1500 || report FAIL "$name did not come back"
  # The programmer may still be sending the block it was answering (512 words: 1.07 s).
  sleep 1.2
  space_run
  ttyprog "$port" readidandconfig > "$o.next" 2>&1
  printf 'reading id informations...\nUser ID   = 1234abcd\nDevice ID = 0f42\nConfig    = 3f72\n' |
    cmp -s - "$o.next"
  verdict $? "$name replugged after $1: the next run works" "$(cat "$o.next")"
}

suite() {  # NAME PORT
  out=/tmp/out/$1
  WHILE_RUNNING=15-readhex-full run_list ttyprog "$2" /data "$out"
  for step in $LIST_STEPS; do compare_step "$1" "$step" "$out"; done
  # full.hex is written as readhex writes: what was written comes back byte for byte.
  cmp -s /data/full.hex "$out/15-readhex-full.out"
  verdict $? "$1 round trip: readhex gives back the HEX text that was written"
  check_stty "$1" "$out/stty.txt"
  case $1 in
    ttyUSB0 | ttyACM0)
      check_unplug "$1" "$2" Failed... writeprogram /data/full.hex
      check_unplug "$1" "$2" "read size error" readprogram 8192
      ;;
  esac
}

check_port_list
start_gadget_sim $SIM_FAULTS
suite ttyS1 /dev/ttyS1 &
suites=$!
suite ttyUSB0 /dev/ttyUSB0 &
suites="$suites $!"
suite ttyACM0 /dev/ttyACM0 &
suites="$suites $!"
# shellcheck disable=SC2086
wait $suites
check_trace ttyACM0 /tmp/acm-1.trace
echo "@@ done $(cat /tmp/failed 2> /dev/null | wc -l)"
poweroff -f
