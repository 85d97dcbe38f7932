#include "support/answer_oracle.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "cli/outcome.h"
#include "support/expected.h"
#include "support/hex_text.h"
#include "support/session.h"
#include "wire.h"

namespace ttyprog::test::campaign {

namespace {

using clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// The figures of the rules in the header.
constexpr milliseconds TIMEOUT_MARGIN{250};  // rule 3: beyond the bound by this much
constexpr milliseconds SETTLE_SURE{15};  // rules 1, 4: the link waits 20 or 25 ms for a quiet line
constexpr milliseconds SURELY_QUEUED{10};  // rule 2: written this long before the request
constexpr milliseconds SAFE_PAUSE{180};    // rule 5: the bound less a margin for a loaded machine
constexpr milliseconds RUN_MARGIN{1500};

std::string ms_text(microseconds length) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(length.count()) / 1000.0);
  return text;
}

// The bytes of the plan, each with the piece it goes out in.
struct stream {
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> piece;
};

stream flatten(const answer_plan& plan) {
  stream s;
  for (std::size_t p = 0; p < plan.pieces.size(); ++p) {
    for (const std::uint8_t byte : plan.pieces[p].bytes) {
      s.bytes.push_back(byte);
      s.piece.push_back(p);
    }
  }
  return s;
}

// The pause before piece `p` as it happened (from its trigger word, or from the write before),
// or as planned when it never went out; never less than planned.
microseconds pause_before(const answer_plan& plan, const line_record& line, std::size_t p) {
  const planned_piece& part = plan.pieces[p];
  if (p >= line.sent.size()) return part.pause;
  clock::time_point from{};
  if (!part.first_of_reply) {
    from = line.sent[p - 1].at;
  } else if (part.trigger - 1 < line.word_times.size()) {
    from = line.word_times[part.trigger - 1];
  } else {
    return part.pause;
  }
  return std::max(part.pause, std::chrono::duration_cast<microseconds>(line.sent[p].at - from));
}

std::size_t exchange_of_word(const answer_plan& plan, std::size_t word) {
  std::size_t k = 0;
  while (k + 1 < plan.request_ends.size() && plan.request_ends[k] < word) ++k;
  return k;
}

struct framing {
  std::vector<framed_exchange> exchanges;
  std::size_t used = 0;             // bytes taken
  std::vector<std::size_t> starts;  // the first byte each exchange took
};

// Reads the planned bytes as the tool reads them, exchange by exchange.
framing frame(const campaign_case& c, const answer_plan& plan, const stream& s) {
  framing out;
  std::size_t pos = 0;
  for (std::size_t k = 0; k < c.exchanges.size(); ++k) {
    const exchange& e = c.exchanges[k];
    const std::size_t ready = plan.request_ends[k];
    framed_exchange f;
    out.starts.push_back(pos);
    const auto take = [&](std::uint16_t& word) {
      if (pos + 2 > s.bytes.size()) return false;
      for (std::size_t b = pos; b < pos + 2; ++b) {
        const std::size_t trigger = plan.pieces[s.piece[b]].trigger;
        if (trigger > ready) return false;
        if (trigger < ready) f.early = true;
      }
      word = decode_word({s.bytes[pos], s.bytes[pos + 1]});
      pos += 2;
      return true;
    };
    std::uint16_t word = 0;
    switch (e.kind) {
      case answer_kind::status:
        if (!take(word)) {
          f.got = framed_exchange::result::incomplete;
        } else {
          f.words = {word};
          if (word != REPLY_OK) f.got = framed_exchange::result::refused;
        }
        break;
      case answer_kind::ids:
        for (int i = 0; i < 4 && f.got == framed_exchange::result::ok; ++i) {
          if (take(word)) {
            f.words.push_back(word);
          } else {
            f.got = framed_exchange::result::incomplete;
          }
        }
        break;
      case answer_kind::block:
        for (;;) {
          if (!take(word)) {
            f.got = framed_exchange::result::incomplete;
            break;
          }
          if (word == END_OF_BLOCK) break;
          if (f.words.size() == e.block_words) {
            f.got = framed_exchange::result::size_error;  // n + 1 words without the terminator
            break;
          }
          f.words.push_back(word);
        }
        if (f.got == framed_exchange::result::ok && f.words.size() != e.block_words) {
          f.got = framed_exchange::result::size_error;
        }
        break;
    }
    out.exchanges.push_back(f);
    if (f.got != framed_exchange::result::ok) break;
  }
  out.used = pos;
  return out;
}

verdict decided(verdict v, must outcome, std::string why) {
  v.outcome = outcome;
  v.why = std::move(why);
  return v;
}

// Rule 2, second half: a byte taken by exchange k that was on the line before the tool began
// request k: sent in the same write as an earlier exchange's byte, or clearly before the first
// word of the request arrived.
std::optional<std::string> queued_before_request(const campaign_case& c, const answer_plan& plan,
                                                 const line_record& line, const stream& s,
                                                 const framing& f) {
  for (std::size_t k = 1; k < f.exchanges.size(); ++k) {
    const std::size_t end = k + 1 < f.starts.size() ? f.starts[k + 1] : f.used;
    const std::size_t first_word = plan.request_ends[k - 1];  // index of the request's first word
    for (std::size_t b = f.starts[k]; b < end; ++b) {
      const std::size_t p = s.piece[b];
      if (plan.pieces[p].trigger > first_word) break;
      const bool with_earlier = b > 0 && s.piece[b - 1] == p && b - 1 < f.starts[k];
      const bool before = p < line.sent.size() && first_word < line.word_times.size() &&
                          line.word_times[first_word] - line.sent[p].at >= SURELY_QUEUED;
      if (with_earlier || before) {
        return "a byte that " + exchange_name(c, k) +
               " takes was on the line before that request (" +
               (with_earlier ? "sent with the answer before it" : "sent at least 10 ms before it") +
               ")";
      }
    }
  }
  return std::nullopt;
}

std::string framing_failure(const campaign_case& c, const framing& f) {
  const std::size_t k = f.exchanges.size() - 1;
  const framed_exchange& last = f.exchanges.back();
  const std::string name = exchange_name(c, k);
  switch (last.got) {
    case framed_exchange::result::refused:
      return "the status of " + name + " is " + hex_words({last.words.front()}) + ": a refusal";
    case framed_exchange::result::size_error:
      return name + " comes back with another length than asked";
    default:
      return "the answer to " + name +
             " never comes whole (silence, a lost line, or bytes that go " +
             "out only after a request the tool cannot send yet)";
  }
}

std::uint32_t user_id(const std::vector<std::uint16_t>& words) {
  return static_cast<std::uint32_t>(words[0]) << 16 | words[1];
}

std::vector<std::uint16_t> data_of(const std::vector<framed_exchange>& framed) {
  std::vector<std::uint16_t> words;
  for (const framed_exchange& f : framed) {
    if (f.got != framed_exchange::result::ok) break;
    words.insert(words.end(), f.words.begin(), f.words.end());
  }
  return words;
}

// The differences verify finds in the first `blocks` blocks.
int differences(const campaign_case& c, const std::vector<framed_exchange>& framed,
                std::size_t blocks) {
  int found = 0;
  std::size_t at = 0;
  for (std::size_t k = 0; k < blocks; ++k) {
    for (const std::uint16_t word : framed[k].words) found += word != c.file_words[at++] ? 1 : 0;
  }
  return found;
}

std::size_t framed_ok(const std::vector<framed_exchange>& framed) {
  std::size_t ok = 0;
  while (ok < framed.size() && framed[ok].got == framed_exchange::result::ok) ++ok;
  return ok;
}

std::string success_text(const campaign_case& c, const verdict& v) {
  switch (c.what) {
    case command::erase:
    case command::erase_all: return DONE;
    case command::write_id: return writing_id(c.args[1]) + DONE;
    case command::write_config: return writing_config(c.args[1]) + DONE;
    case command::read_ids: {
      const std::vector<std::uint16_t>& w = v.framed.front().words;
      char id[16];
      std::snprintf(id, sizeof id, "%08x", static_cast<unsigned>(user_id(w)));
      return READING + ids(id, hex_words({w[2]}), hex_words({w[3]}));
    }
    case command::read_program: return dump(data_of(v.framed));
    case command::read_hex: return hex_text(data_of(v.framed));
    case command::write_program: return WRITTEN;
    case command::verify_program: return verified(differences(c, v.framed, c.exchanges.size()));
  }
  return {};
}

// Whole lines from the start of `full`.
bool line_prefix(const std::string& part, const std::string& full) {
  return full.compare(0, part.size(), part) == 0 && (part.empty() || part.back() == '\n');
}

// A success line of the command (the dump and the IDs count when nothing says they failed).
bool claims_success(const campaign_case& c, const run_result& run) {
  const auto has = [&](const std::string& line) { return run.out.find(line) != std::string::npos; };
  switch (c.what) {
    case command::erase:
    case command::erase_all:
    case command::write_id:
    case command::write_config: return has(DONE);
    case command::write_program: return has(WRITTEN);
    case command::read_ids: return has("User ID");
    case command::read_program: return !run.out.empty() && !has(SIZE_ERROR);
    case command::read_hex: return run.out.ends_with(HEX_END);
    case command::verify_program: return has("verify done.") && !has(SIZE_ERROR);
  }
  return false;
}

bool failure_fits(const campaign_case& c, const verdict& v, const run_result& run) {
  const std::size_t ok = framed_ok(v.framed);
  switch (c.what) {
    case command::erase:
    case command::erase_all:
    case command::write_program: return run.out == FAILED;
    case command::write_id: return run.out == writing_id(c.args[1]) + FAILED;
    case command::write_config: return run.out == writing_config(c.args[1]) + FAILED;
    case command::read_ids: return run.out == READING + FAILED;
    case command::read_program: {
      if (run.out.size() < SIZE_ERROR.size() || !run.out.ends_with(SIZE_ERROR)) return false;
      const std::string lines = run.out.substr(0, run.out.size() - SIZE_ERROR.size());
      return line_prefix(lines, dump(data_of(v.framed)));
    }
    case command::read_hex: {
      std::string records = hex_text(data_of(v.framed));
      records.resize(records.size() - HEX_END.size());
      return run.err.starts_with(SIZE_ERROR) && line_prefix(run.out, records);
    }
    case command::verify_program:
      for (std::size_t blocks = 0; blocks <= ok; ++blocks) {
        if (run.out == SIZE_ERROR + verified(differences(c, v.framed, blocks))) return true;
      }
      return false;
  }
  return false;
}

std::string excerpt(const std::string& text) {
  constexpr std::size_t MOST = 300;
  if (text.size() <= MOST) return "\"" + text + "\"";
  return "\"" + text.substr(0, MOST / 2) + "...[" + std::to_string(text.size() - MOST) +
         " more]..." + text.substr(text.size() - MOST / 2) + "\"";
}

}  // namespace

verdict judge(const campaign_case& c, const answer_plan& plan, const line_record& line) {
  const stream s = flatten(plan);
  const framing f = frame(c, plan, s);
  verdict v;
  v.framed = f.exchanges;
  if (c.chatter) {
    if (line.chatter_pause <= SETTLE_SURE) {
      return decided(v, must::fail, "the programmer sends unasked all the time");
    }
    return decided(v, must::either,
                   "the programmer sending unasked paused for " + ms_text(line.chatter_pause) +
                       ": long enough to pass for a quiet line");
  }
  if (framed_ok(f.exchanges) != c.exchanges.size())
    return decided(v, must::fail, framing_failure(c, f));
  if (const auto queued = queued_before_request(c, plan, line, s, f))
    return decided(v, must::fail, *queued);

  // Rule 3: a pause the bound does not allow before a byte the run needs.
  bool slow = false;
  std::size_t first = 0;  // the piece's first byte
  for (std::size_t p = 0; p < plan.pieces.size() && first < f.used;
       first += plan.pieces[p++].bytes.size()) {
    const planned_piece& part = plan.pieces[p];
    const microseconds allowed =
        BOUND + TIMEOUT_MARGIN +
        (part.first_of_reply
             ? line_time(c.exchanges[exchange_of_word(plan, part.trigger)].request.size())
             : microseconds{0});
    if (part.pause > allowed) {
      return decided(v, must::fail,
                     "a pause of " + ms_text(part.pause) + " before byte " +
                         std::to_string(first + 1) + " of the answers, beyond the bound");
    }
    slow = slow || pause_before(plan, line, p) > SAFE_PAUSE;
  }

  // Rule 4: bytes beyond the right answers.
  if (s.bytes.size() > f.used) {
    const std::size_t p = s.piece[f.used];
    const microseconds gap =
        p == s.piece[f.used - 1] ? microseconds{0} : pause_before(plan, line, p);
    if (gap <= SETTLE_SURE) {
      return decided(v, must::fail,
                     std::to_string(s.bytes.size() - f.used) +
                         " byte(s) beyond the right "
                         "answers, the first " +
                         ms_text(gap) + " after the last one needed");
    }
    return decided(v, must::either,
                   "the byte(s) beyond the right answers came " + ms_text(gap) +
                       " after the last one needed: later than a quiet line is awaited");
  }
  // Rule 5.
  if (plan.hang_up_trigger != 0)
    return decided(v, must::either, "the line hung up after the last answer");
  if (slow) return decided(v, must::either, "a pause near the bound before a byte the run needs");
  if (std::any_of(f.exchanges.begin(), f.exchanges.end(),
                  [](const framed_exchange& e) { return e.early; })) {
    return decided(v, must::either, "an answer went out before its request was complete");
  }
  return decided(v, must::succeed, "every answer right, in time, and nothing else");
}

std::chrono::milliseconds run_limit(const campaign_case& c, const answer_plan& plan) {
  std::size_t words = 0;
  for (const exchange& e : c.exchanges) words += e.request.size() + e.answer.size();
  microseconds pauses{0};
  for (const planned_piece& part : plan.pieces) pauses += part.pause;
  return std::chrono::ceil<milliseconds>(2 * BOUND + line_time(words) + pauses + RUN_MARGIN);
}

std::vector<std::string> check_run(const campaign_case& c, const answer_plan& plan,
                                   const verdict& v, const run_result& run,
                                   const line_record& line) {
  std::vector<std::string> faults;
  const milliseconds limit = run_limit(c, plan);
  if (run.timed_out) {
    faults.push_back("did not end: killed after " + std::to_string(run.elapsed.count()) + " ms");
  }
  if (run.signal != 0) faults.push_back("ended by signal " + std::to_string(run.signal));
  if (run.elapsed > limit) {
    faults.push_back("took " + std::to_string(run.elapsed.count()) + " ms, more than the " +
                     std::to_string(limit.count()) + " ms allowed");
  }

  const bool whole = framed_ok(v.framed) == c.exchanges.size();
  const int success_code =
      c.what == command::verify_program && whole && differences(c, v.framed, c.exchanges.size()) > 0
          ? EXIT_DIFFERENCES
          : EXIT_DONE;
  const bool claimed = claims_success(c, run) || run.exit_code == success_code;
  if (claimed) {
    if (v.outcome == must::fail) faults.push_back("reported success, though " + v.why);
    if (whole && !c.chatter && (run.out != success_text(c, v) || !run.err.empty())) {
      faults.push_back("reported success other than the words sent give: " +
                       excerpt(success_text(c, v)));
    }
    if (run.exit_code != success_code) {
      faults.push_back("reported success with exit " + std::to_string(run.exit_code) +
                       " (TTYPROG_STRICT=1)");
    }
  } else if (failure_fits(c, v, run)) {
    if (v.outcome == must::succeed) faults.push_back("failed, though " + v.why);
    if (run.exit_code != EXIT_REFUSED && run.exit_code != EXIT_NO_ANSWER) {
      faults.push_back("failed with exit " + std::to_string(run.exit_code) + " (TTYPROG_STRICT=1)");
    }
  } else if (!run.timed_out && run.signal == 0) {
    faults.push_back(
        "printed a failure that does not fit the words sent (values, or lines, not theirs)");
  }

  // The wire: what a right run sends, and nothing after the exchange that failed.
  std::vector<std::uint16_t> requests;
  for (const exchange& e : c.exchanges)
    requests.insert(requests.end(), e.request.begin(), e.request.end());
  const auto differ =
      std::mismatch(line.wire.begin(), line.wire.end(), requests.begin(), requests.end());
  if (differ.first != line.wire.end()) {
    faults.push_back("sent word " + std::to_string(differ.first - line.wire.begin() + 1) + " as " +
                     hex_words({*differ.first}) + ", which no right run sends there");
  } else if (!whole && line.wire.size() > plan.request_ends[v.framed.size() - 1]) {
    faults.push_back("went on to the next request after " + exchange_name(c, v.framed.size() - 1) +
                     " failed");
  } else if (claimed && line.wire.size() != requests.size()) {
    faults.push_back("reported success after sending " + std::to_string(line.wire.size()) + " of " +
                     std::to_string(requests.size()) + " request words");
  }
  if (!faults.empty()) {
    faults.push_back("ttyprog: exit " + std::to_string(run.exit_code) + " after " +
                     std::to_string(run.elapsed.count()) + " ms; stdout " + excerpt(run.out) +
                     "; stderr " + excerpt(run.err));
  }
  return faults;
}

}  // namespace ttyprog::test::campaign
