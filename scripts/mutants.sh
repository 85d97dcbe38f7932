#!/usr/bin/env bash
# Mutation run: plants one known fault at a time in a copy of the source tree, builds it and runs
# the default test set on it, and says which faults the suite caught ("killed") and which it let
# through ("survived"). The table of faults (MUTANTS below) stays the same from run to run, so two
# runs, before and after a change, can be compared by their kill counts.
#
#   scripts/mutants.sh              every row of the table
#   scripts/mutants.sh ID...        only these rows
#   scripts/mutants.sh --list       the rows, each checked against the tree; nothing is built
#
# The working tree is never touched: the files it holds (tracked, and untracked ones git does not
# ignore) are copied by content into TTYPROG_MUTANTS_DIR (default /tmp/ttyprog-mutants-<hash of
# the tree's path>), which keeps its build in build-mutants/ from run to run, so only what a mutant
# touches is rebuilt. The mutated file is put back after each row and on every way out; a copy left
# mutated by a killed run is put right by the next run's copy, which compares contents.
#
# The build is the default preset's, but the timed libFuzzer run is left out (a random search of
# 20 s is no repeatable verdict; the fuzz corpus replay stays). The tests are the default test
# preset's (all but label "slow"), with --stop-on-failure, the answer campaign from a fixed seed.
# The unmutated tree must pass them first. Results, one line per row ("ID killed TEST",
# "ID survived", "ID stale" when the text to find does not occur exactly once, "ID build-failed"),
# go to build-mutants/mutants-results.txt, each row's build and test output to
# build-mutants/mutants-logs/ID.log. Builds and tests run under nice -n 10 with 2 jobs.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=${TTYPROG_MUTANTS_DIR:-/tmp/ttyprog-mutants-$(printf '%s' "$root" | md5sum | cut -c1-8)}
build=$dir/build-mutants
results=$build/mutants-results.txt
logs=$build/mutants-logs

# One row a line: ID @@ FILE @@ TEXT TO FIND @@ REPLACEMENT. The text must occur exactly once in
# the file. Every replacement compiles with the project's warnings (-Werror).
MUTANTS=$(cat <<'ROWS'
# The programmer exchanges.
proto-length-word @@ src/link/protocol.cpp @@ request[1] = static_cast<std::uint16_t>(n); @@ request[1] = static_cast<std::uint16_t>(n + 1);
proto-no-terminator @@ src/link/protocol.cpp @@ std::span<const std::uint16_t>(request).first(n + 3) @@ std::span<const std::uint16_t>(request).first(n + 2)
proto-id-word-order @@ src/link/protocol.cpp @@ request{CMD_WRITE_ID, low_word(id >> 16), low_word(id)}; @@ request{CMD_WRITE_ID, low_word(id), low_word(id >> 16)};
proto-read-id-order @@ src/link/protocol.cpp @@ (std::uint32_t{words[0]} << 16) | words[1] @@ (std::uint32_t{words[1]} << 16) | words[0]
proto-after-terminator @@ src/link/protocol.cpp @@ return {k + 1 == taken + got.count ? link_status::ok : link_status::unexpected, @@ return {link_status::ok,
proto-no-settle @@ src/link/protocol.cpp @@ link_status prog_settle(serial_port& port) { return await_quiet(port, SETTLE_TIME); } @@ link_status prog_settle(serial_port&) { return link_status::ok; }
proto-no-block-gap @@ src/link/protocol.cpp @@ return await_quiet(port, BLOCK_GAP); @@ return await_quiet(port, std::chrono::nanoseconds{0});
proto-no-line-check @@ src/link/protocol.cpp @@ if (const link_status status = line_before_request(port); status != link_status::ok) @@ if (const link_status status = line_before_request(port); false && status != link_status::ok)
# The word link on a terminal.
link-send-byte-order @@ src/link/word_link_linux.cpp @@ encode_words(words.first(count), bytes); @@ encode_words(words.first(count), bytes); std::swap(bytes[0], bytes[1]);
link-receive-byte-order @@ src/link/word_link_linux.cpp @@ decode_words(std::span(bytes).first(got), words); @@ std::swap(bytes[0], bytes[1]); decode_words(std::span(bytes).first(got), words);
link-settle-short @@ src/link/word_link_linux.cpp @@ const auto until = clock::now() + std::chrono::ceil<clock::duration>(quiet); @@ const auto until = clock::now() + std::chrono::ceil<clock::duration>(quiet) / 4;
link-chatter-unreported @@ src/link/word_link_linux.cpp @@ if (now >= give_up) return false; @@ if (now >= give_up) return true;
link-open-quiet-skipped @@ src/link/word_link_linux.cpp @@ if (now >= quiet_from + std::chrono::ceil<clock::duration>(QUIET_TIME)) return true; @@ if (now >= quiet_from) return true;
link-no-flock @@ src/link/word_link_linux.cpp @@ if (!lock_device(fd)) return failed(open_failure::busy, errno); @@ if (false && !lock_device(fd)) return failed(open_failure::busy, errno);
deadline-no-progress @@ src/link/deadline.h @@ void progressed() { at_ = clock::now() + bound_; } @@ void progressed() {}
deadline-late @@ src/link/deadline.h @@ bool passed() const { return clock::now() >= at_; } @@ bool passed() const { return clock::now() >= at_ + bound_; }
deadline-from-ignored @@ src/link/deadline.h @@ at_(std::max(from, clock::now()) + bound) @@ at_(std::min(from, clock::now()) + bound)
clock-not-heard @@ src/link/line_clock.h @@ void heard() { sent_until_ = std::min(sent_until_, clock::now()); } @@ void heard() {}
queue-stale-ignored @@ src/link/queue_status.h @@ return queued == 0 ? link_status::ok : link_status::unexpected; @@ return link_status::ok;
queue-gone-unexpected @@ src/link/queue_status.h @@ if (queued < 0) return link_status::lost; @@ if (queued < 0) return link_status::unexpected;
# The HEX loader.
hex-byte-order @@ src/image/hex_image.cpp @@ data[2 * k] | (data[2 * k + 1] << 8) @@ (data[2 * k] << 8) | data[2 * k + 1]
hex-odd-address @@ src/image/hex_image.cpp @@ if (address % 2 != 0) { @@ if (address % 4 == 3) {
hex-last-word @@ src/image/hex_image.cpp @@ if (full_address / 2 >= IMAGE_WORDS) { @@ if (full_address / 2 > IMAGE_WORDS) {
hex-checksum-mask @@ src/image/hex_image.cpp @@ return (sum & 0xFFu) == 0; @@ return (sum & 0x7Fu) == 0;
hex-segment-shift @@ src/image/hex_image.cpp @@ value << 4 : value << 16 @@ value << 8 : value << 16
hex-word-count @@ src/image/hex_image.cpp @@ word_count = std::max(word_count, first + words); @@ word_count = std::max(word_count, first + words - 1);
# The commands: blocks, output, settings, exit codes.
blocks-size @@ src/cli/blocks.h @@ std::min(total - result.done, BLOCK_WORDS); @@ std::min(total - result.done, BLOCK_WORDS - 1);
blocks-settle-last @@ src/cli/blocks.h @@ result.done + n == total ? prog_settle(port) : prog_block_gap(port) @@ result.done + n > total ? prog_settle(port) : prog_block_gap(port)
blocks-quiet-ignored @@ src/cli/blocks.h @@ if (quiet != link_status::ok) got = block_step{false, quiet}; @@ (void)quiet;
blocks-message @@ src/cli/blocks.cpp @@ "Interrupted after %zu of %zu words: " @@ "Interrupted after %zu of %zu words; "
exit-no-answer @@ src/cli/outcome.cpp @@ case outcome::no_answer: return EXIT_NO_ANSWER; @@ case outcome::no_answer: return EXIT_REFUSED;
settings-switch @@ src/cli/settings.cpp @@ if (std::strcmp(text, "1") == 0) return true; @@ if (std::strcmp(text, "1") >= 0) return true;
dump-line @@ src/cli/read_program.cpp @@ (j + 1) % 8 == 0 ? '\n' : ' ' @@ (j + 1) % 4 == 0 ? '\n' : ' '
readhex-blank @@ src/cli/read_program.cpp @@ return word == BLANK_WORD; }) @@ return word == 0; })
read-longer-answer @@ src/cli/read_program.cpp @@ got.count == n @@ got.count >= n
verify-shown @@ src/cli/write_verify.cpp @@ if (++errors <= SHOWN_DIFFERENCES) @@ if (++errors < SHOWN_DIFFERENCES)
write-terminator-word @@ src/cli/write_verify.cpp @@ std::uint32_t{END_OF_BLOCK} @@ std::uint32_t{0xFFFE}
write-refused-range @@ src/cli/write_verify.cpp @@ std::min(words - written.done, BLOCK_WORDS) - 1, @@ std::min(words - written.done, BLOCK_WORDS),
write-no-data @@ src/cli/write_verify.cpp @@ return written == outcome::done && input.words == 0 ? outcome::no_data : written; @@ return written;
program-no-verify @@ src/cli/program.cpp @@ return verify_image(port, image, input.words); @@ return outcome::done;
single-no-settle @@ src/cli/single_commands.cpp @@ if (reply.ok()) reply.link = prog_settle(port); @@ if (reply.ok()) (void)port;
ROWS
)

die() { echo "mutants: $*" >&2; exit 1; }

# The rows, without comments and blank lines.
rows() { grep -v -e '^#' -e '^[[:space:]]*$' <<<"$MUTANTS"; }

# Splits a row into the globals id, file, find and replace.
split_row() {
  local rest=$1
  id=${rest%% @@ *}; rest=${rest#* @@ }
  file=${rest%% @@ *}; rest=${rest#* @@ }
  find=${rest%% @@ *}
  replace=${rest#* @@ }
}

# Sets `text` to a file's text, its final newlines kept.
read_text() { text=$(cat "$1"; printf x); text=${text%x}; }

# How often `find` occurs in `text`.
occurrences() {
  local text=$1 find=$2 count=0
  while [[ $text == *"$find"* ]]; do
    text=${text#*"$find"}
    count=$((count + 1))
  done
  echo "$count"
}

if [[ ${1:-} == --list ]]; then
  while IFS= read -r row; do
    split_row "$row"
    read_text "$root/$file"
    count=$(occurrences "$text" "$find")
    [[ $count == 1 ]] && state=ok || state="stale ($count matches)"
    printf '%-24s %-30s %s\n' "$id" "$file" "$state"
  done < <(rows)
  exit 0
fi

# The rows asked for, all by default; an unknown ID is an error before anything is built.
selected=()
if (($# == 0)); then
  while IFS= read -r row; do selected+=("$row"); done < <(rows)
else
  for wanted in "$@"; do
    row=$(rows | grep -m1 -e "^$wanted @@ " || true)
    [[ -n $row ]] || die "no row $wanted (scripts/mutants.sh --list shows them)"
    selected+=("$row")
  done
fi

mkdir -p "$dir"
exec 9>"$dir.lock"
flock -n 9 || die "another run uses $dir"

# Copies the working tree's files into $dir by content: a file is written only when it differs, so
# its new time makes the build redo what depends on it. Files gone from the tree go from the copy.
sync_copy() {
  local listed=$dir.files
  git -C "$root" -c core.quotepath=off ls-files --cached --others --exclude-standard | sort -u >"$listed"
  while IFS= read -r f; do
    [[ -f $root/$f ]] || continue
    if ! cmp -s "$root/$f" "$dir/$f"; then
      mkdir -p "$(dirname "$dir/$f")"
      cp "$root/$f" "$dir/$f"
    fi
  done <"$listed"
  (cd "$dir" && find . -path ./build-mutants -prune -o -type f -print | sed 's|^\./||' | sort) |
    comm -23 - "$listed" | while IFS= read -r f; do rm -f "$dir/$f"; done
}

# The file being mutated and its text, put back by restore on every way out.
mutated=""
original=""
restore() {
  if [[ -n $mutated ]]; then
    printf '%s' "$original" >"$dir/$mutated"
    mutated=""
  fi
}
trap restore EXIT
trap 'restore; exit 130' INT
trap 'restore; exit 143' TERM

build_copy() { nice -n 10 cmake --build "$build" -j2; }
test_copy() {
  TTYPROG_CAMPAIGN_SEED=0x6d7574616e7473 nice -n 10 \
    ctest --test-dir "$build" --stop-on-failure -j2 -LE slow --timeout 300 --output-on-failure
}

sync_copy
mkdir -p "$logs"
echo "mutants: copy and build in $dir"
nice -n 10 cmake -S "$dir" --preset default -B "$build" -DTTYPROG_CLANGXX=/bin/false >"$logs/baseline.log" 2>&1 ||
  die "configure failed: $logs/baseline.log"
start=$SECONDS
{ build_copy && test_copy; } >>"$logs/baseline.log" 2>&1 ||
  die "the unmutated tree does not build or pass: $logs/baseline.log"
echo "mutants: unmutated tree passes ($((SECONDS - start)) s)"

: >"$results"
killed=0 survived=0 stale=0 broken=0
for row in "${selected[@]}"; do
  split_row "$row"
  start=$SECONDS
  log=$logs/$id.log
  read_text "$dir/$file"
  if [[ $(occurrences "$text" "$find") != 1 ]]; then
    verdict="stale"
    stale=$((stale + 1))
  else
    original=$text
    mutated=$file
    printf '%s' "${text/"$find"/"$replace"}" >"$dir/$file"
    if ! build_copy >"$log" 2>&1; then
      verdict="build-failed"
      broken=$((broken + 1))
    elif test_copy >>"$log" 2>&1; then
      verdict="survived"
      survived=$((survived + 1))
    else
      # The first test ctest lists as failed.
      test=$(sed -n '/The following tests FAILED/,$p' "$log" |
        sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\).* (.*)$/\1/p' | head -1)
      verdict="killed ${test:-?}"
      killed=$((killed + 1))
    fi
    restore
  fi
  echo "$id $verdict" >>"$results"
  printf 'mutants: %-24s %s (%d s)\n' "$id" "$verdict" $((SECONDS - start))
done

ran=$((killed + survived))
echo "mutants: $killed killed of $ran ($survived survived, $stale stale, $broken build-failed); $results"
