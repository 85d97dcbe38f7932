#include "support/answer_mutation.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>

#include "support/hex_text.h"
#include "support/session.h"
#include "support/target_session.h"
#include "wire.h"

namespace ttyprog::test::campaign {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// splitmix64: small, and the same numbers for a seed on every machine and library.
class draw {
 public:
  explicit draw(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
  std::size_t between(std::size_t low, std::size_t high) { return low + below(high - low + 1); }
  bool percent(unsigned p) { return below(100) < p; }
  std::uint16_t word() { return static_cast<std::uint16_t>(next()); }
  template <class T>
  T pick(std::initializer_list<T> items) {
    return items.begin()[below(items.size())];
  }

 private:
  std::uint64_t state_;
};

// Half a few words; a quarter up to one block; a quarter that take two or three blocks.
std::size_t word_count(draw& d) {
  const std::size_t roll = d.below(100);
  if (roll < 50) return d.between(1, 24);
  if (roll < 85) return d.between(25, BLOCK_WORDS);
  return d.between(BLOCK_WORDS + 1, 1100);
}

// A program word: anything but the block terminator, now and then the blank word.
std::uint16_t data_word(draw& d) {
  return d.percent(5) ? sim::MEMORY_BLANK : static_cast<std::uint16_t>(d.below(END_OF_BLOCK));
}

std::vector<std::uint16_t> data_words(draw& d, std::size_t count) {
  std::vector<std::uint16_t> words(count);
  for (std::uint16_t& word : words) word = data_word(d);
  return words;
}

void add_blocks(campaign_case& c, std::uint16_t command_word, std::size_t count) {
  for (std::size_t from = 0; from < count; from += BLOCK_WORDS) {
    const std::size_t n = std::min(BLOCK_WORDS, count - from);
    exchange e;
    e.request = {command_word, static_cast<std::uint16_t>(n)};
    if (command_word == CMD_WRITE_PROGRAM) {
      e.request.insert(e.request.end(), c.file_words.begin() + static_cast<std::ptrdiff_t>(from),
                       c.file_words.begin() + static_cast<std::ptrdiff_t>(from + n));
      e.request.push_back(END_OF_BLOCK);
    } else {
      e.kind = answer_kind::block;
      e.block_words = n;
    }
    c.exchanges.push_back(e);
  }
}

std::string hex8(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

void build_command(campaign_case& c, draw& d) {
  switch (c.what) {
    case command::erase:
      c.args = {"erase"};
      c.exchanges.push_back({{CMD_ERASE}, {}, answer_kind::status, 0});
      break;
    case command::erase_all:
      c.args = {"eraseall"};
      c.exchanges.push_back({{CMD_ERASE_ALL}, {}, answer_kind::status, 0});
      break;
    case command::write_id: {
      const auto id = static_cast<std::uint32_t>(d.next());
      c.args = {"writeid", hex8(id)};
      c.exchanges.push_back({{CMD_WRITE_ID, static_cast<std::uint16_t>(id >> 16),
                              static_cast<std::uint16_t>(id & 0xFFFFu)},
                             {},
                             answer_kind::status,
                             0});
      break;
    }
    case command::write_config: {
      const std::uint16_t value = d.word();
      c.args = {"writeconfig", hex_words({value})};
      c.exchanges.push_back({{CMD_WRITE_CONFIG, value}, {}, answer_kind::status, 0});
      break;
    }
    case command::read_ids:
      c.args = {"readidandconfig"};
      c.exchanges.push_back({{CMD_READ_ID_CONFIG}, {}, answer_kind::ids, 0});
      break;
    case command::read_program:
    case command::read_hex: {
      const std::size_t count = word_count(d);
      c.args = {c.what == command::read_program ? "readprogram" : "readhex", std::to_string(count)};
      c.memory = data_words(d, count);
      add_blocks(c, CMD_READ_PROGRAM, count);
      break;
    }
    case command::write_program:
      c.args = {"writeprogram"};
      c.file_words = data_words(d, word_count(d));
      add_blocks(c, CMD_WRITE_PROGRAM, c.file_words.size());
      break;
    case command::verify_program: {
      c.args = {"verifyprogram"};
      c.memory = data_words(d, word_count(d));
      c.file_words = c.memory;
      for (std::size_t changed = d.below(4); changed > 0; --changed) {
        std::uint16_t& word = c.file_words[d.below(c.file_words.size())];
        word = static_cast<std::uint16_t>((word + 1 + d.below(0x100)) % END_OF_BLOCK);
      }
      add_blocks(c, CMD_READ_PROGRAM, c.memory.size());
      break;
    }
  }
  if (!c.file_words.empty()) c.hex_file = hex_text(c.file_words);
}

// The target model's answer to each request, taken in the order a right run sends them.
void answer_exchanges(campaign_case& c) {
  sim::sim_target target(c.target);
  if (!c.memory.empty()) store_program(target, c.memory);
  target.new_session();
  for (exchange& e : c.exchanges) {
    for (std::size_t i = 0; i < e.request.size(); ++i) {
      const sim::answer got = target.feed(e.request[i]);
      const bool last = i + 1 == e.request.size();
      if ((got.size != 0) != last) throw std::logic_error("the target answered out of turn");
      if (last) e.answer.assign(got.view().begin(), got.view().end());
    }
  }
}

mutation_kind draw_kind(draw& d) {
  struct weighted {
    mutation_kind kind;
    std::size_t weight;
  };
  static constexpr weighted KINDS[] = {
      {mutation_kind::wrong, 12},      {mutation_kind::missing, 10},
      {mutation_kind::surplus, 16},    {mutation_kind::early_extra, 7},
      {mutation_kind::early_moved, 3}, {mutation_kind::split, 10},
      {mutation_kind::delayed, 12},    {mutation_kind::junk, 10},
      {mutation_kind::hang_up, 8},     {mutation_kind::silence, 7},
  };
  std::size_t total = 0;
  for (const weighted& k : KINDS) total += k.weight;
  std::size_t roll = d.below(total);
  for (const weighted& k : KINDS) {
    if (roll < k.weight) return k.kind;
    roll -= k.weight;
  }
  return mutation_kind::wrong;
}

std::uint16_t wrong_value(draw& d, const exchange& e, std::uint16_t right) {
  std::uint16_t value = d.word();
  switch (e.kind) {
    case answer_kind::status:
      value = d.pick<std::uint16_t>({0x0000, END_OF_BLOCK, sim::STATUS_REFUSED_DEFAULT,
                                     sim::STATUS_BAD_REQUEST, 0x4000, value});
      break;
    case answer_kind::block:
      value = d.pick<std::uint16_t>({END_OF_BLOCK, sim::MEMORY_BLANK, value});
      break;
    case answer_kind::ids: break;
  }
  return value == right ? static_cast<std::uint16_t>(value ^ 0x0101u) : value;
}

bool early_possible(const exchange& e) { return e.request.size() > 1; }

mutation draw_mutation(draw& d, const campaign_case& c) {
  mutation m;
  m.kind = draw_kind(d);
  // The last answer (what success rests on), the first (the rest of the command follows it), or
  // any.
  const std::size_t pick = d.below(10);
  m.exchange = pick < 4 ? c.exchanges.size() - 1 : pick < 7 ? 0 : d.below(c.exchanges.size());
  if (m.kind == mutation_kind::early_extra || m.kind == mutation_kind::early_moved) {
    // Early needs a request of more than one word; a command of one-word requests gets a
    // surplus word instead.
    std::vector<std::size_t> able;
    for (std::size_t k = 0; k < c.exchanges.size(); ++k) {
      if (early_possible(c.exchanges[k])) able.push_back(k);
    }
    if (able.empty()) {
      m.kind = mutation_kind::surplus;
    } else if (!early_possible(c.exchanges[m.exchange])) {
      m.exchange = able[d.below(able.size())];
    }
  }
  const exchange& e = c.exchanges[m.exchange];
  const std::size_t length = e.answer.size();
  const std::size_t roll = d.below(100);
  m.word = roll < 30 ? length - 1 : roll < 50 ? 0 : d.below(length);
  switch (m.kind) {
    case mutation_kind::wrong: m.value = wrong_value(d, e, e.answer[m.word]); break;
    case mutation_kind::missing: break;
    case mutation_kind::surplus:
      m.value =
          d.pick<std::uint16_t>({REPLY_OK, REPLY_OK, END_OF_BLOCK, e.answer.back(), d.word()});
      m.pause = d.pick<milliseconds>({milliseconds{0}, milliseconds{0}, milliseconds{1},
                                      milliseconds{3}, milliseconds{8}, milliseconds{12},
                                      milliseconds{40}, milliseconds{100}});
      break;
    case mutation_kind::early_extra:
      m.value = d.pick<std::uint16_t>({REPLY_OK, REPLY_OK, e.answer.front(), d.word()});
      m.request_word = d.between(1, e.request.size() - 1);
      break;
    case mutation_kind::early_moved: m.request_word = d.between(1, e.request.size() - 1); break;
    case mutation_kind::split:
      m.pause = d.pick<milliseconds>({milliseconds{1}, milliseconds{5}, milliseconds{20},
                                      milliseconds{60}, milliseconds{120}});
      break;
    case mutation_kind::delayed:
      if (d.percent(75)) {
        m.pause = d.pick<milliseconds>(
            {milliseconds{2}, milliseconds{10}, milliseconds{40}, milliseconds{120}});
      } else {
        // Beyond the bound, even counted from the time the request needs on the line.
        m.pause = line_time(e.request.size()) + BOUND +
                  d.pick<milliseconds>({milliseconds{300}, milliseconds{500}});
      }
      break;
    case mutation_kind::junk:
      m.bytes.resize(d.between(1, 3));
      for (std::uint8_t& byte : m.bytes) byte = static_cast<std::uint8_t>(d.next());
      m.word = d.between(0, length);  // `length`: after the answer
      break;
    case mutation_kind::hang_up: m.byte = d.percent(25) ? 2 * length : d.below(2 * length); break;
    case mutation_kind::silence: m.byte = d.below(2 * length); break;
  }
  return m;
}

// ---- The plan ----

// Bytes of the answers before they are merged into writes.
struct unit {
  microseconds pause{0};
  std::vector<std::uint8_t> bytes;
  std::size_t trigger = 0;
  bool cut = false;  // the line goes silent (or hangs up) here
};

std::vector<std::uint8_t> word_bytes(std::uint16_t word) {
  const wire_bytes bytes = encode_word(word);
  return {bytes.begin(), bytes.end()};
}

// wrong, missing, junk, surplus, split, delayed: changes to the answer's own units.
void apply_content(std::vector<unit>& units, const mutation& m, std::size_t trigger) {
  const auto at = [&](std::size_t i) { return units.begin() + static_cast<std::ptrdiff_t>(i); };
  const std::size_t i = units.empty() ? 0 : std::min(m.word, units.size() - 1);
  switch (m.kind) {
    case mutation_kind::wrong:
      if (!units.empty()) units[i].bytes = word_bytes(m.value);
      break;
    case mutation_kind::missing:
      if (!units.empty()) units.erase(at(i));
      break;
    case mutation_kind::junk:
      units.insert(at(std::min(m.word, units.size())),
                   unit{microseconds{0}, m.bytes, trigger, false});
      break;
    case mutation_kind::surplus:
      units.push_back(unit{m.pause, word_bytes(m.value), trigger, false});
      break;
    case mutation_kind::split:
      if (!units.empty() && units[i].bytes.size() > 1) {
        unit second{
            m.pause, {units[i].bytes.begin() + 1, units[i].bytes.end()}, units[i].trigger, false};
        units[i].bytes.resize(1);
        units.insert(at(i + 1), second);
      }
      break;
    case mutation_kind::delayed:
      if (!units.empty()) units[i].pause += m.pause;
      break;
    default: break;
  }
}

// Marks where the answer stops after `byte` bytes, splitting a unit if the cut falls inside it.
void apply_cut(std::vector<unit>& units, std::size_t byte, std::size_t trigger) {
  std::size_t seen = 0;
  std::size_t i = 0;
  for (; i < units.size() && seen + units[i].bytes.size() <= byte; ++i)
    seen += units[i].bytes.size();
  if (i < units.size() && seen < byte) {
    unit rest = units[i];
    rest.pause = microseconds{0};
    rest.bytes.erase(rest.bytes.begin(),
                     rest.bytes.begin() + static_cast<std::ptrdiff_t>(byte - seen));
    units[i].bytes.resize(byte - seen);
    units.insert(units.begin() + static_cast<std::ptrdiff_t>(++i), rest);
  }
  const std::size_t marker_trigger = i < units.size() ? units[i].trigger
                                     : units.empty()  ? trigger
                                                      : units.back().trigger;
  const unit marker{microseconds{0}, {}, marker_trigger, true};
  units.insert(units.begin() + static_cast<std::ptrdiff_t>(i), marker);
}

std::string milliseconds_text(microseconds pause) {
  char text[32];
  std::snprintf(text, sizeof text, "%g ms", static_cast<double>(pause.count()) / 1000.0);
  return text;
}

std::string bytes_text(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char digits[4];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(byte));
    if (!text.empty()) text += ' ';
    text += digits;
  }
  return text;
}

}  // namespace

std::chrono::microseconds line_time(std::size_t words) {
  return std::chrono::duration_cast<microseconds>(2 * words * BYTE_TIME);
}

campaign_case make_case(std::uint64_t seed) {
  campaign_case c;
  c.seed = seed;
  draw d(seed);
  c.what = static_cast<command>(d.below(9));
  c.target.device_id = d.word();
  c.target.user_id = static_cast<std::uint32_t>(d.next());
  c.target.config = d.word();
  build_command(c, d);
  answer_exchanges(c);
  const std::size_t roll = d.below(100);
  const std::size_t mutations = roll < 5 ? 0 : roll < 75 ? 1 : 2;
  const auto cuts = [](const mutation& m) {
    return m.kind == mutation_kind::hang_up || m.kind == mutation_kind::silence;
  };
  for (std::size_t i = 0; i < mutations; ++i) {
    mutation m = draw_mutation(d, c);
    while (cuts(m) && std::any_of(c.mutations.begin(), c.mutations.end(), cuts))
      m = draw_mutation(d, c);
    c.mutations.push_back(m);
  }
  if (d.percent(15)) {
    c.stale.resize(d.between(1, 16));
    for (std::uint8_t& byte : c.stale) byte = static_cast<std::uint8_t>(d.next());
  }
  c.chatter = d.percent(4);
  return c;
}

answer_plan plan_answers(const campaign_case& c) {
  answer_plan plan;
  std::size_t words = 0;
  for (const exchange& e : c.exchanges) {
    plan.request_ends.push_back(words += e.request.size());
    plan.proper_bytes += 2 * e.answer.size();
  }
  const std::size_t count = c.exchanges.size();
  std::vector<std::vector<unit>> units(count), early(count);
  for (std::size_t k = 0; k < count; ++k) {
    for (const std::uint16_t word : c.exchanges[k].answer) {
      units[k].push_back(unit{microseconds{0}, word_bytes(word), plan.request_ends[k], false});
    }
  }
  // Content first, in a fixed order of kinds, then the early ones, then the first cut.
  for (const mutation_kind kind :
       {mutation_kind::wrong, mutation_kind::missing, mutation_kind::junk, mutation_kind::surplus,
        mutation_kind::split, mutation_kind::delayed}) {
    for (const mutation& m : c.mutations) {
      if (m.kind == kind) apply_content(units[m.exchange], m, plan.request_ends[m.exchange]);
    }
  }
  for (const mutation& m : c.mutations) {
    const std::size_t start =
        plan.request_ends[m.exchange] - c.exchanges[m.exchange].request.size();
    if (m.kind == mutation_kind::early_moved) {
      for (unit& u : units[m.exchange]) u.trigger = start + m.request_word;
    } else if (m.kind == mutation_kind::early_extra) {
      early[m.exchange].push_back(
          unit{microseconds{0}, word_bytes(m.value), start + m.request_word, false});
    }
  }
  bool hang_up = false;  // a case has one cut at most
  for (const mutation& m : c.mutations) {
    if (m.kind == mutation_kind::hang_up || m.kind == mutation_kind::silence) {
      apply_cut(units[m.exchange], m.byte, plan.request_ends[m.exchange]);
      hang_up = m.kind == mutation_kind::hang_up;
    }
  }

  std::vector<unit> stream;
  for (std::size_t k = 0; k < count; ++k) {
    stream.insert(stream.end(), early[k].begin(), early[k].end());
    stream.insert(stream.end(), units[k].begin(), units[k].end());
  }
  std::stable_sort(stream.begin(), stream.end(),
                   [](const unit& a, const unit& b) { return a.trigger < b.trigger; });
  if (const auto cut =
          std::find_if(stream.begin(), stream.end(), [](const unit& u) { return u.cut; });
      cut != stream.end()) {
    if (hang_up) plan.hang_up_trigger = cut->trigger;
    stream.erase(cut, stream.end());
  }
  for (const unit& u : stream) {
    if (u.bytes.empty()) continue;
    const bool new_trigger = plan.pieces.empty() || plan.pieces.back().trigger != u.trigger;
    if (new_trigger || u.pause.count() > 0) {
      plan.pieces.push_back(planned_piece{u.trigger, u.pause, u.bytes, new_trigger});
    } else {
      plan.pieces.back().bytes.insert(plan.pieces.back().bytes.end(), u.bytes.begin(),
                                      u.bytes.end());
    }
  }
  return plan;
}

responder plan_responder(const answer_plan& plan) {
  auto replies = std::make_shared<std::map<std::size_t, reply>>();
  for (const planned_piece& part : plan.pieces) {
    (*replies)[part.trigger].pieces.push_back({part.pause, part.bytes});
  }
  if (plan.hang_up_trigger != 0) (*replies)[plan.hang_up_trigger].hang_up = true;
  auto received = std::make_shared<std::size_t>(0);
  return [replies, received](const std::vector<std::uint16_t>&) -> std::optional<reply> {
    const auto found = replies->find(++*received);
    if (found == replies->end()) return std::nullopt;
    return found->second;
  };
}

std::string exchange_name(const campaign_case& c, std::size_t k) {
  const exchange& e = c.exchanges[k];
  switch (e.request.front()) {
    case CMD_ERASE: return "erase";
    case CMD_ERASE_ALL: return "erase all";
    case CMD_WRITE_ID: return "write ID";
    case CMD_WRITE_CONFIG: return "write configuration";
    case CMD_READ_ID_CONFIG: return "read IDs";
    default: break;
  }
  const char* what = e.request.front() == CMD_WRITE_PROGRAM ? "write" : "read";
  return std::string(what) + " block " + std::to_string(k + 1) + " of " +
         std::to_string(c.exchanges.size()) + " (" + std::to_string(e.request[1]) + " words)";
}

std::string describe(const campaign_case& c) {
  std::string text = "ttyprog PORT";
  for (const std::string& arg : c.args) text += " " + arg;
  if (!c.file_words.empty())
    text += " <HEX file of " + std::to_string(c.file_words.size()) + " words>";
  if (c.mutations.empty()) text += "; every answer right";
  for (const mutation& m : c.mutations) {
    const exchange& e = c.exchanges[m.exchange];
    const std::string answer = "the answer to " + exchange_name(c, m.exchange);
    const std::string word = "word " + std::to_string(std::min(m.word, e.answer.size() - 1) + 1) +
                             " of " + std::to_string(e.answer.size()) + " of " + answer;
    text += ";\n  ";
    switch (m.kind) {
      case mutation_kind::wrong:
        text += word + " (" + hex_words({e.answer[std::min(m.word, e.answer.size() - 1)]}) +
                ") replaced by " + hex_words({m.value});
        break;
      case mutation_kind::missing: text += word + " left out"; break;
      case mutation_kind::surplus:
        text += "a surplus word " + hex_words({m.value}) + " " + milliseconds_text(m.pause) +
                " after " + answer;
        break;
      case mutation_kind::early_extra:
        text += "a word " + hex_words({m.value}) + " sent after word " +
                std::to_string(m.request_word) + " of the " + std::to_string(e.request.size()) +
                "-word request (" + answer + " follows as usual)";
        break;
      case mutation_kind::early_moved:
        text += answer + " sent after word " + std::to_string(m.request_word) + " of its " +
                std::to_string(e.request.size()) + "-word request, nothing after it";
        break;
      case mutation_kind::split:
        text += "a pause of " + milliseconds_text(m.pause) + " between the bytes of " + word;
        break;
      case mutation_kind::delayed:
        text += word + " delayed by " + milliseconds_text(m.pause);
        break;
      case mutation_kind::junk:
        text += "junk bytes " + bytes_text(m.bytes) +
                (m.word >= e.answer.size()
                     ? " after " + answer
                     : " before word " + std::to_string(m.word + 1) + " of " + answer);
        break;
      case mutation_kind::hang_up:
      case mutation_kind::silence:
        text += std::string(m.kind == mutation_kind::hang_up ? "the line hung up" : "silence") +
                " after " + std::to_string(m.byte) + " of the " +
                std::to_string(2 * e.answer.size()) + " bytes of " + answer;
        break;
    }
  }
  if (!c.stale.empty())
    text += ";\n  stale bytes " + bytes_text(c.stale) + " queued before the run";
  if (c.chatter)
    text += ";\n  the programmer sends c000 every millisecond, unasked, from before the open";
  return text;
}

}  // namespace ttyprog::test::campaign
