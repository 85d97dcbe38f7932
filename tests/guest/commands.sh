# The command list run on every port: by run.sh on the host against the simulator's
# pseudo-terminal (the reference), and by the guest on each real driver, whose output must match
# the reference byte for byte. POSIX sh (the guest has busybox), sourced.
#
# run_list TTYPROG PORT DATA OUT: every step leaves NAME.out, NAME.err and NAME.rc in OUT. When
# WHILE_RUNNING names a step, the function while_running (PORT OUT) is called while it runs.
# RUN_SPACING (seconds) is waited before each run, and longer after a failed one: on a line whose
# other end stays open, the simulator tells runs apart by a pause (its --session-gap).
#
# The steps are in the order the simulator must see them: its --extra-status 1 fault is the first
# status of its life, so step 01 meets it. 01 and 11 are compared with the texts in expected/
# rather than with the reference, since they are about timing that a pseudo-terminal lacks.

run_list() {
  tp=$1 port=$2 data=$3 out=$4
  mkdir -p "$out"
  list_step 01-extra-status env TTYPROG_STRICT=1 "$tp" "$port" writeprogram "$data/block.hex"
  list_step 02-erase "$tp" "$port" erase
  list_step 03-eraseall "$tp" "$port" eraseall
  list_step 04-writeid "$tp" "$port" writeid 1234abcd
  list_step 05-writeconfig "$tp" "$port" writeconfig 3f72
  list_step 06-readidandconfig "$tp" "$port" readidandconfig
  list_step 07-writeprogram "$tp" "$port" writeprogram "$data/sample.hex"
  list_step 08-verifyprogram "$tp" "$port" verifyprogram "$data/sample.hex"
  list_step 09-readprogram "$tp" "$port" readprogram 1001
  list_step 10-readhex "$tp" "$port" readhex 100
  list_step 11-word-time env TTYPROG_STRICT=1 TTYPROG_TIMEOUT=0.8 "$tp" "$port" writeprogram \
    "$data/w600.hex"
  list_step 12-write-full "$tp" "$port" writeprogram "$data/full.hex"
  list_step 13-verify-full "$tp" "$port" verifyprogram "$data/full.hex"
  list_step 14-readhex-full "$tp" "$port" readhex
}

# The names of the steps, in order.
LIST_STEPS="01-extra-status 02-erase 03-eraseall 04-writeid 05-writeconfig 06-readidandconfig
07-writeprogram 08-verifyprogram 09-readprogram 10-readhex 11-word-time 12-write-full
13-verify-full 14-readhex-full"

list_step() {
  name=$1
  shift
  space_run
  "$@" > "$out/$name.out" 2> "$out/$name.err" < /dev/null &
  pid=$!
  if [ "$name" = "${WHILE_RUNNING:-}" ]; then while_running "$port" "$out"; fi
  if wait "$pid"; then rc=0; else rc=$?; fi  # (run.sh has set -e)
  echo $rc > "$out/$name.rc"
  # A failed run may leave the programmer still answering: a 512-word block takes 1.07 s.
  if [ $rc -ne 0 ] && [ -n "${RUN_SPACING:-}" ]; then sleep 1.2; fi
}

space_run() {
  if [ -n "${RUN_SPACING:-}" ]; then sleep "$RUN_SPACING"; fi
}

# The words of a simulator trace, one to a line ("<8010", ">c000"), each session that has any
# closed by a line "--".
words_of() {
  awk '/^# session [0-9]+$/ { if (words) print "--"; words = 0; next }
       /^#/ { next }
       { print $1 $2; words++ }
       END { if (words) print "--" }' "$1"
}

# Whether the first sessions of a trace's words (GOT) are those of the reference's (REFERENCE);
# if not, says in which run of the list they part, and how.
same_runs() {  # REFERENCE GOT
  line=$(awk 'NR == FNR { ref[++n] = $0; next }
              { g++; if ($0 != ref[g] || g == n) { print $0 == ref[g] ? 0 : g; done = 1; exit } }
              END { if (!done) print g + 1 }' "$1" "$2")
  [ "$line" -eq 0 ] && return 0
  run=$(($(head -n "$line" "$1" | grep -c -- '^--$') + 1))
  step=$(echo $LIST_STEPS | cut -d' ' -f$run)
  if [ "$(wc -l < "$2")" -lt "$line" ]; then
    echo "the trace ends in run $run ($step), before word $line"
  else
    echo "the runs part in run $run ($step), word $line: $(sed -n "${line}p" "$1") expected, $(sed -n "${line}p" "$2") came"
  fi
  return 1
}
