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

# on_console ARGS...: ttyprog.exe ARGS with its standard streams on a terminal 200 columns wide,
# which Wine turns into a console, as in a console window; what the terminal showed, its cursor
# and clearing sequences and CRs removed, in console.txt, the exit code in $rc. The run ends on its
# own, or is ended once the console shows $console_until when that is set (rc 143).
on_console() {
  local command pid
  command="stty cols 200 rows 50; exec $(printf '%q ' "${as_plain_user[@]}" wine "$TTYPROG_EXE" "$@")"
  # Nothing is typed, and the input never ends: a FIFO opened for reading and writing.
  [ -p console.in ] || mkfifo console.in
  : >console.raw
  timeout -k 2 60 script -qec "$command" /dev/null <>console.in >console.raw &
  pid=$!
  if [ -n "${console_until:-}" ]; then
    for _ in $(seq 300); do
      console_text | grep -qF -- "$console_until" && break
      sleep 0.1
    done
    kill "$pid"  # timeout hands it on to script, which ends the run
  fi
  rc=0
  wait "$pid" || rc=$?
  console_text >console.txt
}

console_text() {
  sed -e 's/\x1b\[1C/ /g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' console.raw
}

shown() {  # shown LINE: the console showed LINE as a whole line
  grep -qxF -- "$1" console.txt || fail "$case_name: the console did not show \"$1\":
$(cat console.txt)"
}

# A ru_RU.UTF-8 locale of the cases' own (glibc's locale sources, Debian package "locales"):
# under it Wine gives the system's texts in Russian and its console shows UTF-8.
russian_locale() {
  local dir="$WINE_WORK/locale"
  mkdir -p "$dir"
  # localedef warns (and exits with 1) about characters the locale's charmap lacks.
  [ -f "$dir/ru_RU.UTF-8/LC_CTYPE" ] || localedef -i ru_RU -f UTF-8 "$dir/ru_RU.UTF-8" >localedef.log 2>&1 || true
  [ -f "$dir/ru_RU.UTF-8/LC_CTYPE" ] ||
    fail "localedef could not make ru_RU.UTF-8 (Debian: the locales package): $(cat localedef.log)"
  export LOCPATH="$dir" LC_ALL=ru_RU.UTF-8
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
    # In a console window the cause follows, in Windows terms.
    on_console COM5 erase
    shown 'Opening port COM5 failed!'
    shown "Busy: another program holds the device, perhaps a terminal program, an IDE's serial monitor or another ttyprog."
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
    # A folder refuses to open as a file with "access denied", as a held port does: still no port.
    mkdir folder
    on_console folder erase
    [ "$rc" = 1 ] || fail "exit code $rc for a folder"
    shown 'Opening port folder failed!'
    shown 'Not a terminal device: folder cannot be a serial port.'
    ;;

  extended_port_name)
    # COM10 and above are reachable only as \\.\COMn, which works for every number; a bare
    # COMn, as --list prints it, is opened in that form, whatever its case.
    start_sim
    ln -sfn "$sim_tty" "$WINEPREFIX/dosdevices/com12"
    for name in '\\.\COM12' COM12 com12; do
      run_tool "$name" erase
      expect 0 'Done!\n' ''
      expect_trace '< 8000' '> c000'
    done
    run_tool 'COM12:' erase
    rm -f "$WINEPREFIX/dosdevices/com12"
    expect 1 '' 'Opening port COM12: failed!\n'
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

  ctrl_z_byte)
    # A Ctrl-Z byte (0x1a) is no end of the text: the C runtime's text mode would end it there,
    # and the first record alone would be written ("Done."). Here the bad record after it must be
    # seen, from a file and from standard input, and nothing may reach the programmer.
    printf ':0400000001020304F2\r\n\x1a\r\n:0400100005060708CE\r\n:00000001FF\r\n' >bad_after.hex
    start_sim
    run_tool COM5 writeprogram bad_after.hex
    expect 0 'invalid hex file!\n' ''
    rc=0
    wine_run "$TTYPROG_EXE" COM5 writeprogram <bad_after.hex >out.txt 2>err.txt || rc=$?
    expect 0 'invalid hex file!\n' ''
    expect_trace
    # Good records after it are written, as on Linux (the line without a record is passed over).
    printf ':0400000001020304F2\r\n\x1a\r\n:0400100005060708D2\r\n:00000001FF\r\n' >good_after.hex
    TTYPROG_STRICT=1 run_tool COM5 writeprogram good_after.hex
    expect 0 'Done.\n' ''
    expect_trace '< 8010' '< 000a' '< 0201' '< 0403' '< 3fff' '< 3fff' '< 3fff' '< 3fff' '< 3fff' \
      '< 3fff' '< 0605' '< 0807' '< ffff' '> c000'
    ;;

  wide_names)
    # HEX file names in scripts the ANSI code page lacks: the narrow command line would turn
    # them into '?'s. Notes name them in UTF-8 in a file or pipe.
    printf ':0400000001020304F2\r\n:00000001FF\r\n' >two_words.hex
    start_sim
    for name in прошивка.hex 固件.hex; do
      cp two_words.hex "$name"
      run_tool COM5 writeprogram "$name"
      expect 0 'Done.\n' ''
      expect_trace '< 8010' '< 0002' '< 0201' '< 0403' '< ffff' '> c000'
    done
    # A wildcard is expanded on the wide command line too.
    run_tool COM5 writeprogram 'прош*.hex'
    expect 0 'Done.\n' ''
    expect_trace '< 8010' '< 0002' '< 0201' '< 0403' '< ffff' '> c000'
    TTYPROG_VERBOSE=1 run_tool COM5 writeprogram нет.hex
    expect 0 'input file open failed!\n' 'нет.hex: No such file or directory.\n'
    ;;

  console_texts)
    # In a console window, under a Russian locale: a Cyrillic name and the system's Russian
    # reason read right (the console's code page is neither UTF-8 nor the ANSI one).
    russian_locale
    mkdir папка
    on_console папка erase
    [ "$rc" = 1 ] || fail "exit code $rc for a folder"
    shown 'Opening port папка failed!'
    shown 'Not a terminal device: папка cannot be a serial port.'
    on_console CON erase
    shown 'Opening port CON failed!'
    shown 'The system reported: Неверный параметр.'
    # Text typed at the console ends with Ctrl-Z, then Enter (Wine's console does not end it
    # there, so the run is ended once the hint is shown).
    start_sim
    console_until='Reading the HEX text' on_console COM5 writeprogram
    shown 'Reading the HEX text from the terminal: end it with Ctrl-Z, then Enter.'
    # --help tells how a stopped run ends on Windows, and no man page.
    run_tool --help
    [ "$rc" = 0 ] || fail "--help exit code $rc"
    grep -qF 'A run stopped by Ctrl-C exits with 0xC000013A.' out.txt || fail "--help: $(cat out.txt)"
    grep -qF 'More: README.md beside ttyprog.exe.' out.txt || fail "--help: $(cat out.txt)"
    ! grep -q 'man ttyprog' out.txt || fail "--help names a man page"
    ;;

  buffered_output)
    # Each line of output is one write, not one a character: 64 for readprogram 512. Only the
    # process's first thread is traced, the one that runs the program (/usr/bin/wine execs the
    # loader): a Wine service started meanwhile would keep a tracer of every child waiting.
    command -v strace >/dev/null || fail "strace is needed (Debian: strace)"
    start_sim
    rc=0
    timeout 60 "${as_plain_user[@]}" strace -qq -e trace=write -o writes.txt \
      wine "$TTYPROG_EXE" COM5 readprogram 512 </dev/null >out.txt 2>err.txt || rc=$?
    [ "$rc" = 0 ] || fail "exit code $rc: $(cat err.txt)"
    [ "$(wc -l <out.txt)" = 64 ] || fail "readprogram 512 printed $(wc -l <out.txt) lines"
    # The descriptor that the dump went to: that of the first write that starts with a word.
    fd="$(grep -m 1 -E '^write\([0-9]+, "3' writes.txt | sed -E 's/^write\(([0-9]+),.*/\1/')"
    [ -n "$fd" ] || fail "no write of the dump seen"
    count="$(grep -c "^write($fd," writes.txt)"
    [ "$count" = 64 ] || fail "readprogram 512 took $count writes, expected 64"
    ;;

  package)
    # The Windows package, unpacked as a user would, runs.
    [ -f "$TTYPROG_ZIP" ] || fail "no $TTYPROG_ZIP: cpack --preset windows makes it"
    cmake -E tar xf "$TTYPROG_ZIP"
    folder="$(basename "$TTYPROG_ZIP" .zip)"
    listed="$(cd "$folder" && ls | tr '\n' ' ')"
    case "$listed" in
      "README.md ttyprog.exe " | "LICENSE README.md ttyprog.exe " | "LICENSE.md README.md ttyprog.exe " | \
        "LICENSE.txt README.md ttyprog.exe " | "COPYING README.md ttyprog.exe ") ;;
      *) fail "the package holds: $listed" ;;
    esac
    version="$(basename "$TTYPROG_ZIP" | sed -E 's/^ttyprog-(.*)-win64\.zip$/\1/')"
    TTYPROG_EXE="$PWD/$folder/ttyprog.exe"
    run_tool --version
    expect 0 "ttyprog $version\n" ''
    start_sim
    run_tool COM5 readidandconfig
    expect 0 'reading id informations...\nUser ID   = ffffffff\nDevice ID = 0f42\nConfig    = 3fff\n' ''
    ;;

  line_setting)
    # The DCB and time-outs the back end builds, checked field by field by a Windows executable.
    # A check that fails prints what differs. A run that ends without a word never reached the
    # check (once seen on a loaded CI machine): it is run again once with Wine's own error
    # messages on, and fails with them when it ends so again.
    rc=0
    wine_run "$TTYPROG_LINE_SETTING_TEST" </dev/null >out.txt 2>err.txt || rc=$?
    if [ "$rc" != 0 ] && [ ! -s out.txt ] && [ ! -s err.txt ]; then
      echo "first run ended with $rc and no output; run again" >&2
      rc=0
      WINEDEBUG=err+all wine_run "$TTYPROG_LINE_SETTING_TEST" </dev/null >out.txt 2>err.txt || rc=$?
    fi
    [ "$rc" = 0 ] || fail "exit code $rc: $(cat out.txt err.txt)"
    ;;

  *)
    fail "unknown case $case_name"
    ;;
esac
echo "PASS: $case_name"
