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
# status of its life, so step 01 meets it, and its --early-status 2 fault the second write block
# (step 02). 01, 02 and 12 are compared with the texts in expected/ rather than with the
# reference: they are about timing, which a pseudo-terminal does not have.

run_list() {
  tp=$1 port=$2 data=$3 out=$4
  mkdir -p "$out"
  list_step 01-extra-status env TTYPROG_STRICT=1 "$tp" "$port" writeprogram "$data/block.hex"
  list_step 02-early-status env TTYPROG_STRICT=1 "$tp" "$port" writeprogram "$data/w600.hex"
  list_step 03-erase "$tp" "$port" erase
  list_step 04-eraseall "$tp" "$port" eraseall
  list_step 05-writeid "$tp" "$port" writeid 1234abcd
  list_step 06-writeconfig "$tp" "$port" writeconfig 3f72
  list_step 07-readidandconfig "$tp" "$port" readidandconfig
  list_step 08-writeprogram "$tp" "$port" writeprogram "$data/sample.hex"
  list_step 09-verifyprogram "$tp" "$port" verifyprogram "$data/sample.hex"
  list_step 10-readprogram "$tp" "$port" readprogram 1001
  list_step 11-readhex "$tp" "$port" readhex 100
  list_step 12-word-time env TTYPROG_STRICT=1 TTYPROG_TIMEOUT=0.8 "$tp" "$port" writeprogram \
    "$data/w600.hex"
  list_step 13-write-full "$tp" "$port" writeprogram "$data/full.hex"
  list_step 14-verify-full "$tp" "$port" verifyprogram "$data/full.hex"
  list_step 15-readhex-full "$tp" "$port" readhex
}

# The names of the steps, in order.
LIST_STEPS="01-extra-status 02-early-status 03-erase 04-eraseall 05-writeid 06-writeconfig
07-readidandconfig 08-writeprogram 09-verifyprogram 10-readprogram 11-readhex 12-word-time
13-write-full 14-verify-full 15-readhex-full"

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

# The words of a simulator trace, one to a line: in each session that has any, those received
# ("<8010") and then those sent (">c000"), each in its order, then a line "--". (When an answer
# goes out while its request is still arriving is a matter of timing, so the two directions are
# compared apart.)
words_of() {
  awk 'function end_session() { if (words) { printf "%s", sent; print "--" } words = 0; sent = "" }
       /^# session [0-9]+$/ { end_session(); next }
       /^#/ { next }
       $1 == "<" { print $1 $2; words++ }
       $1 == ">" { sent = sent $1 $2 "\n"; words++ }
       END { end_session() }' "$1"
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
    echo "the runs part in run $run ($step), word $line:" \
      "$(sed -n "${line}p" "$1") expected, $(sed -n "${line}p" "$2") came"
  fi
  return 1
}
