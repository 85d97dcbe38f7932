#!/usr/bin/env bash
# wine_cases.sh CASE: one end-to-end case of ttyprog.exe under Wine against ttyprog-sim.
#
# The simulator's terminal appears to Windows programs as COM5 (a link in the prefix's
# dosdevices). Standard output and error are compared byte for byte, CR LF line ends included;
# the simulator's trace shows the words that crossed the line.
source "$(dirname "$0")/wine_lib.sh"

case_name="${1:?usage: wine_cases.sh CASE}"
work="$WINE_WORK/$case_name"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
trap stop_sim EXIT

# start_sim [options...]: a simulator on a fresh terminal, linked as COM5, tracing to sim.trace.
start_sim() {
  : >sim.trace
  "$TTYPROG_SIM" --link "$WINEPREFIX/dosdevices/com5" --trace sim.trace "$@" >sim.out 2>sim.err &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s sim.out ] && break
    sleep 0.05
  done
  sim_tty="$(head -n 1 sim.out)"
  [ -c "$sim_tty" ] || fail "simulator did not start: $(cat sim.err)"
}

# run_tool ARGS...: ttyprog.exe with ARGS; output in out.txt / err.txt, exit code in $rc. Output
# goes to files, not pipes: Wine's helper processes hold inherited pipes open after the run.
run_tool() {
  rc=0
  wine_run "$TTYPROG_EXE" "$@" </dev/null >out.txt 2>err.txt || rc=$?
}

# crlf TEXT: TEXT (printf escapes allowed) with each newline written as CR LF.
crlf() { printf "$1" | sed 's/$/\r/'; }

same_as() {  # same_as FILE EXPECTED_TEXT
  if ! cmp -s "$1" <(crlf "$2"); then
    echo "--- expected $1:" >&2
    crlf "$2" | od -c | head -n 20 >&2
    echo "--- got:" >&2
    od -c "$1" | head -n 20 >&2
    fail "$case_name: $1 differs"
  fi
}

expect() {  # expect EXIT_CODE STDOUT STDERR
  [ "$rc" = "$1" ] || fail "$case_name: exit code $rc, expected $1 (stderr: $(cat err.txt))"
  same_as out.txt "$2"
  same_as err.txt "$3"
}

# The words the tool sent and got since the trace was last cleared, one line each ("< 8000").
trace_words() { grep -v '^#' sim.trace || true; }

expect_trace() {  # expect_trace "< 8000" "> c000" ...
  local expected
  expected="$(printf '%s\n' "$@")"
  [ "$(trace_words)" = "$expected" ] || fail "$case_name: words on the line:
$(trace_words)
expected:
$expected"
  : >sim.trace
}

# A HEX image of all 8192 words (CR LF line ends, as a Windows editor writes them), with the
# readprogram dump that it must produce. Word i is (i * 37 + 5) & 0x3fff.
write_full_image() {
  awk 'BEGIN {
    for (addr = 0; addr < 8192; addr += 8) {
      line = sprintf(":10%04X00", addr * 2)
      sum = 16 + int(addr * 2 / 256) + (addr * 2) % 256
      dump = ""
      for (k = 0; k < 8; k++) {
        word = ((addr + k) * 37 + 5) % 16384
        lo = word % 256; hi = int(word / 256)
        line = line sprintf("%02X%02X", lo, hi)
        sum += lo + hi
        dump = dump sprintf(k < 7 ? "%04x " : "%04x", word)
      }
      printf "%s%02X\r\n", line, (256 - sum % 256) % 256 > "full.hex"
      print dump > "full.dump"
    }
    printf ":00000001FF\r\n" > "full.hex"
  }'
}

case "$case_name" in
  single_exchanges)
    start_sim
    run_tool COM5 erase
    expect 0 'Done!\n' ''
    expect_trace '< 8000' '> c000'
    run_tool COM5 eraseall
    expect 0 'Done!\n' ''
    expect_trace '< 8001' '> c000'
    run_tool COM5 writeid 0x1234abcd
    expect 0 'writing ID 1234abcd...\nDone!\n' ''
    expect_trace '< 8011' '< 1234' '< abcd' '> c000'
    run_tool COM5 writeconfig 3f71
    expect 0 'writing configuration word 3f71...\nDone!\n' ''
    expect_trace '< 8012' '< 3f71' '> c000'
    run_tool COM5 readidandconfig
    expect 0 'reading id informations...\nUser ID   = 1234abcd\nDevice ID = 0f42\nConfig    = 3f71\n' ''
    ;;

  read_ids_split_words)
    # Each answer word arrives as one byte, a pause, then the other: the tool must wait for the
    # second byte instead of taking half a word.
    start_sim --split-pause 40 --user-id 0badcafe --device-id 1234 --config 2a5f
    run_tool COM5 readidandconfig
    expect 0 'reading id informations...\nUser ID   = 0badcafe\nDevice ID = 1234\nConfig    = 2a5f\n' ''
    expect_trace '< 8021' '> 0bad' '> cafe' '> 1234' '> 2a5f'
    ;;

  program_full_image)
    write_full_image
    start_sim
    run_tool COM5 writeprogram full.hex
    expect 0 'Done.\n' ''
    [ "$(grep -c '^< 8010$' sim.trace)" = 16 ] || fail "expected 16 write blocks"
    [ "$(grep -c '^> c000$' sim.trace)" = 16 ] || fail "expected 16 block statuses"
    : >sim.trace
    run_tool COM5 verifyprogram full.hex
    expect 0 'verify done. found 0 error(s).\n' ''
    run_tool COM5 readprogram 8192
    expect 0 "$(cat full.dump)\n" ''
    # The image read from standard input as well.
    rc=0
    wine_run "$TTYPROG_EXE" COM5 verifyprogram <full.hex >out.txt 2>err.txt || rc=$?
    expect 0 'verify done. found 0 error(s).\n' ''
    ;;

  refused_block)
    write_full_image
    start_sim --refuse 2
    run_tool COM5 writeprogram full.hex
    expect 0 'Failed...\n' ''
    [ "$(grep -c '^< 8010$' sim.trace)" = 2 ] || fail "writing went on after the refused block"
    grep -q '^> c001$' sim.trace || fail "no refusal on the line"
    ;;

  silent_programmer)
    start_sim --silent-after 1
    export TTYPROG_TIMEOUT=1
    start=$(date +%s%N)
    run_tool COM5 erase
    elapsed_ms=$((($(date +%s%N) - start) / 1000000))
    expect 0 'Failed...\n' 'Programmer not responding!\n'
    [ "$elapsed_ms" -ge 1000 ] || fail "gave up after $elapsed_ms ms, before the 1 s bound"
    ;;

  connection_lost)
    # The programmer goes away in the middle of a request (its terminal hangs up).
    start_sim --hang-up-after 2
    export TTYPROG_TIMEOUT=5
    run_tool COM5 writeid 12345678
    expect 0 'writing ID 12345678...\nFailed...\n' 'Connection to programmer lost!\n'
    ;;

  missing_port)
    rm -f "$WINEPREFIX/dosdevices/com9"
    run_tool COM9 erase
    expect 1 '' 'Opening port COM9 failed!\n'
    ;;

  port_held)
    # A Linux run holds the simulator's terminal (exclusive mode) while it waits for an answer.
    start_sim --silent-after 1
    TTYPROG_TIMEOUT=30 "$TTYPROG_LINUX" "$sim_tty" erase >holder.out 2>holder.err &
    holder_pid=$!
    for _ in $(seq 200); do
      grep -q '^< 8000$' sim.trace && break
      sleep 0.05
    done
    grep -q '^< 8000$' sim.trace || fail "the holding run did not start"
    run_tool COM5 erase
    # The holder notes a first stop signal and would wait out its bound: end it outright.
    kill -KILL "$holder_pid"
    wait "$holder_pid" || true
    expect 1 '' 'Opening port COM5 failed!\n'
    [ "$(grep -c '^< ' sim.trace)" = 1 ] || fail "a word reached the held port"
    ;;

  not_a_port)
    # Names that open fine but are no communications device: nothing may be written to them.
    run_tool NUL erase
    expect 1 '' 'Opening port NUL failed!\n'
    printf 'keep\n' >plain.txt
    run_tool plain.txt erase
    expect 1 '' 'Opening port plain.txt failed!\n'
    [ "$(cat plain.txt)" = keep ] || fail "plain.txt was changed"
    ;;

  extended_port_name)
    # COM10 and above are reachable only as \\.\COMn; the form works for every number.
    start_sim
    ln -sfn "$sim_tty" "$WINEPREFIX/dosdevices/com12"
    run_tool '\\.\COM12' erase
    rm -f "$WINEPREFIX/dosdevices/com12"
    expect 0 'Done!\n' ''
    expect_trace '< 8000' '> c000'
    ;;

  stale_input)
    # An earlier run's answer (c000 and half a word) waits in the port's input queue: it must not
    # answer this run's requests.
    start_sim --stale c000c0 --refuse 1
    run_tool COM5 erase
    expect 0 'Failed...\n' ''
    expect_trace '< 8000' '> c001'
    stop_sim
    start_sim --stale c000c0 --user-id 0badcafe --device-id 1234 --config 2a5f
    run_tool COM5 readidandconfig
    expect 0 'reading id informations...\nUser ID   = 0badcafe\nDevice ID = 1234\nConfig    = 2a5f\n' ''
    ;;

  held_output)
    # The terminal's output is stopped (as by a received XOFF), so no byte can leave: the write
    # must give up after the bound instead of waiting forever.
    start_sim
    perl -MPOSIX -e 'my $fd = POSIX::open($ARGV[0], O_RDWR | O_NOCTTY | O_NONBLOCK) // die "$!";
                     POSIX::tcflow($fd, TCOOFF) or die "$!"' "$sim_tty"
    export TTYPROG_TIMEOUT=1
    start=$(date +%s%N)
    rc=0
    timeout 30 "${as_plain_user[@]}" wine "$TTYPROG_EXE" COM5 erase </dev/null >out.txt 2>err.txt || rc=$?
    elapsed_ms=$((($(date +%s%N) - start) / 1000000))
    expect 0 'Failed...\n' 'Programmer not responding!\n'
    [ "$elapsed_ms" -ge 1000 ] && [ "$elapsed_ms" -lt 10000 ] || fail "gave up after $elapsed_ms ms"
    [ "$(trace_words)" = "" ] || fail "words crossed a stopped line: $(trace_words)"
    ;;

  interrupted)
    # Ctrl-C (Wine turns SIGINT into a console Ctrl-C event) while the port is open. A run ended
    # by it exits with STATUS_CONTROL_C_EXIT, 0xC000013A: a POSIX shell sees its low byte, 58.
    # ctrl_c_run COUNT ARGS...: ttyprog.exe ARGS, given COUNT Ctrl-Cs 0.2 s apart once its first
    # word is on the line; the time from the first Ctrl-C to the end in $elapsed_ms.
    ctrl_c_run() {
      local count="$1"
      shift
      : >sim.trace
      rc=0
      # Started directly, not through the wine_run function, so that $! is the tool's process.
      "${as_plain_user[@]}" wine "$TTYPROG_EXE" "$@" </dev/null >out.txt 2>err.txt &
      local tool_pid=$!
      for _ in $(seq 200); do
        grep -q '^< ' sim.trace && break
        sleep 0.05
      done
      grep -q '^< ' sim.trace || fail "no word reached the programmer"
      start=$(date +%s%N)
      for _ in $(seq "$count"); do
        kill -INT "$tool_pid" 2>/dev/null || fail "the run had already ended at a first Ctrl-C"
        sleep 0.2
      done
      wait "$tool_pid" || rc=$?
      elapsed_ms=$((($(date +%s%N) - start) / 1000000))
    }
    # Two end the run at once, in the middle of an exchange the programmer never answers.
    start_sim --silent-after 1
    TTYPROG_TIMEOUT=4 ctrl_c_run 2 COM5 erase
    expect 58 '' ''
    [ "$elapsed_ms" -lt 2000 ] || fail "two Ctrl-Cs ended the run only after $elapsed_ms ms"
    stop_sim
    # One is only noted: the block under way is sent and answered in full, then the write stops
    # before the next one. Each block takes the programmer about 0.25 s.
    write_full_image
    start_sim --word-time 500
    ctrl_c_run 1 COM5 writeprogram full.hex
    [ "$rc" = 58 ] || fail "exit code $rc after one Ctrl-C (stderr: $(cat err.txt))"
    same_as out.txt ''
    blocks="$(grep -c '^< 8010$' sim.trace)"
    [ "$blocks" -lt 16 ] || fail "the write was not stopped"
    [ "$(grep -c '^> c000$' sim.trace)" = "$blocks" ] || fail "a block was left unanswered"
    same_as err.txt "Interrupted after $((blocks * 512)) of 8192 words: the target is partly written.\n"
    ;;

  strict_exit_codes)
    # With TTYPROG_STRICT=1 the exit code tells the outcome; on Windows too it reaches the caller.
    export TTYPROG_STRICT=1
    printf ':0400000001020304F2\r\n:00000001FF\r\n' >two_words.hex
    start_sim --refuse 2
    run_tool COM5 erase
    expect 0 'Done!\n' ''
    run_tool COM5 erase
    expect 2 'Failed...\n' ''
    run_tool COM5 verifyprogram two_words.hex
    expect 4 'verify done. found 2 error(s).\n' ''
    stop_sim
    start_sim --silent-after 1
    TTYPROG_TIMEOUT=1 run_tool COM5 erase
    expect 3 'Failed...\n' 'Programmer not responding!\n'
    ;;

  line_setting)
    # The DCB and time-outs the back end builds, checked field by field by a Windows executable.
    rc=0
    wine_run "$TTYPROG_LINE_SETTING_TEST" </dev/null >out.txt 2>err.txt || rc=$?
    [ "$rc" = 0 ] || fail "$(cat out.txt err.txt)"
    ;;

  *)
    fail "unknown case $case_name"
    ;;
esac
echo "PASS: $case_name"
