#include "sim_options.h"

#include <array>
#include <charconv>
#include <limits>
#include <optional>
#include <utility>

namespace ttyprog::sim {

namespace {

constexpr std::string_view HELP = R"(Usage: ttyprog-sim [options]

Plays the programmer on a pseudo-terminal for ttyprog. Prints the terminal's device path as one
line on standard output, then serves one ttyprog run after another until SIGINT, SIGTERM or
SIGHUP, when it removes its link and exits with 0. A session starts each time a program opens
the terminal and ends when it closes it; a half-received word at the end is dropped, answers left
unread are discarded. (A program that opens and closes the terminal without sending a word may
go unnoticed; it changes nothing.) The simulator itself never holds the terminal's device open,
so a program finds the port free; an answer whose program has closed the terminal is not sent on.

The target: 8192 words of program memory (blank 0x3FFF), a 32-bit user ID, a device ID and a
configuration word. Its contents last for the life of the simulator, across sessions.
  erase (0x8000)     blanks program memory
  eraseall (0x8001)  blanks program memory, sets the user ID to ffffffff and the configuration
                     word to 3fff
Block commands carry no address: the position starts at word 0 in every session and whenever
the block commands switch between write and read, and each block continues where the last one
ended. A read block reaching past word 8191 answers only the words that exist; one asking for 0
or more than 512 words is answered by ffff alone. A write block is refused with status c002 and
stores nothing when its length is 0 or above 512, when it reaches past word 8191, or when the
word after its data is not ffff; after a bad length or a missing ffff, words are dropped up to the
next ffff before that status is sent. A word that is not a command word is answered with c002.

Options:
  --link PATH          also make PATH a symbolic link to the terminal (removed on exit); an
                       existing symbolic link is replaced, any other existing file is an error
  --trace FILE         append one line per word on the wire to FILE: "< 8010" for a word from
                       the tool, "> c000" for a word to it, "# session N" when a session starts
                       and "# session N ended" when it ends
  --device PATH        serve the existing terminal device PATH (set raw, 9600 baud, 8N1) instead
                       of a pseudo-terminal; its path is the line printed. Sessions are then told
                       only by --session-gap
  --device-id HEX      device ID (default 0f42)
  --user-id HEX        initial user ID (default ffffffff)
  --config HEX         initial configuration word (default 3fff)

Faults. Counts start at 1 and run over the simulator's whole life, across sessions:
  --refuse N           answer the Nth status-answered exchange (erase, eraseall, write block,
                       write ID, write configuration; malformed ones included) with the refusal
                       status; that exchange changes nothing
  --refuse-status HEX  the refusal status (default c001)
  --silent-after N     from the Nth received word on, answer nothing and ignore every word
  --hang-up-after N    on the Nth received word, close the terminal without answering it, so
                       the tool sees a hang-up; then remove the link and exit with 0
  --short-read N       answer the Nth read block (every 0x8020 counts) one data word short
  --long-read N        answer the Nth read block with one data word too many
  --split-pause MS     pause MS milliseconds between the two bytes of every answer word
  --cut-answer N       send only the first half of the Nth answer of more than one word (a read
                       block or the IDs), then answer nothing and ignore every word
  --hang-up-in-answer N  the same, but hang up after the half answer (as --hang-up-after does)
  --hang-up-after-answer N  send the Nth answer (every answer counts) in full, then hang up
  --extra-status N     send the Nth status word (every status answer counts) twice: the
                       second one answers nothing the tool asked
  --early-status N     answer the Nth write block (every 0x8010 counts) with c000 as soon as its
                       first data word is in, while the rest is still arriving (with --pace at
                       the line rate), then answer it as usual once it is complete; the early
                       word counts for neither --refuse nor --extra-status
  --chatter            from the start of every session send c000 unasked, word after word at
                       the 9600-baud line rate (2 byte times a word), for as long as the
                       session lasts; requests are still taken and answered in between
  --stale HEX          leave these bytes (up to 32, as hexadecimal pairs) waiting in the
                       terminal's input queue at start-up, as an earlier run could leave them
  --late-stale HEX     send these bytes (up to 32) one every byte time as soon as the first
                       session starts, before any word is taken: the rest of an earlier answer
                       still arriving after the port was opened

Timing:
  --pace               move bytes at the real 9600-baud rate (about 1.04 ms a byte): answers are
                       sent at that rate and not before the request would have fully arrived
  --word-time US       programming time per word written (block words, 2 for an ID, 1 for a
                       configuration word), waited before the status (default 2000 with --pace,
                       otherwise 0)
  --session-gap MS     a pause of at least MS milliseconds on the line (nothing received or sent)
                       ends the session, and the next word received starts a new one: for a
                       terminal whose other end stays open, where no close is ever seen

  --help               show this text and exit
  --version            show the version and exit

Exit status: 0 after SIGINT, SIGTERM, SIGHUP or a --hang-up-after hang-up; 1 when the terminal,
link or trace file cannot be set up, or when the served device goes away; 2 for a bad command
line.
)";

template <typename T>
std::optional<T> parse_number(std::string_view text, int base) {
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The options that take a value, each named once here.
enum class valued {
  link,
  trace,
  device_id,
  user_id,
  config,
  refuse,
  refuse_status,
  silent_after,
  hang_up_after,
  short_read,
  long_read,
  split_pause,
  cut_answer,
  hang_up_in_answer,
  hang_up_after_answer,
  extra_status,
  stale,
  late_stale,
  word_time,
  early_status,
  device,
  session_gap,
};

constexpr std::array<std::pair<std::string_view, valued>, 22> VALUED_OPTIONS{{
    {"--link", valued::link},
    {"--trace", valued::trace},
    {"--device-id", valued::device_id},
    {"--user-id", valued::user_id},
    {"--config", valued::config},
    {"--refuse", valued::refuse},
    {"--refuse-status", valued::refuse_status},
    {"--silent-after", valued::silent_after},
    {"--hang-up-after", valued::hang_up_after},
    {"--short-read", valued::short_read},
    {"--long-read", valued::long_read},
    {"--split-pause", valued::split_pause},
    {"--cut-answer", valued::cut_answer},
    {"--hang-up-in-answer", valued::hang_up_in_answer},
    {"--hang-up-after-answer", valued::hang_up_after_answer},
    {"--extra-status", valued::extra_status},
    {"--stale", valued::stale},
    {"--late-stale", valued::late_stale},
    {"--word-time", valued::word_time},
    {"--early-status", valued::early_status},
    {"--device", valued::device},
    {"--session-gap", valued::session_gap},
}};

std::optional<valued> valued_option(std::string_view name) {
  for (const auto& [known, which] : VALUED_OPTIONS) {
    if (known == name) return which;
  }
  return std::nullopt;
}

struct parser {
  options_result& out;

  // Stores `value` for the option; false with out.error set when it is bad.
  bool apply(valued which, std::string_view value) {
    sim_options& o = out.options;
    auto count = [&](std::uint64_t& field) {
      return store(field, parse_number<std::uint64_t>(value, 10));
    };
    auto decimal32 = [&](std::uint32_t& field) {
      return store(field, parse_number<std::uint32_t>(value, 10));
    };
    auto hex16 = [&](std::uint16_t& field) {
      return store(field, parse_number<std::uint16_t>(value, 16));
    };
    switch (which) {
      case valued::link: return path(o.link_path, value);
      case valued::trace: return path(o.trace_path, value);
      case valued::device_id: return hex16(o.target.device_id);
      case valued::user_id: return store(o.target.user_id, parse_number<std::uint32_t>(value, 16));
      case valued::config: return hex16(o.target.config);
      case valued::refuse: return count(o.faults.refuse_exchange);
      case valued::refuse_status: return hex16(o.faults.refuse_status);
      case valued::silent_after: return count(o.faults.silent_after);
      case valued::hang_up_after: return count(o.faults.hang_up_after);
      case valued::short_read: return count(o.faults.short_read_block);
      case valued::long_read: return count(o.faults.long_read_block);
      case valued::split_pause: return decimal32(o.split_pause_ms);
      case valued::cut_answer: return count(o.faults.cut_answer);
      case valued::hang_up_in_answer: return count(o.faults.cut_answer_hang_up);
      case valued::hang_up_after_answer: return count(o.faults.hang_up_after_answer);
      case valued::extra_status: return count(o.faults.extra_status);
      case valued::stale: return bytes(o.stale, value);
      case valued::late_stale: return bytes(o.late_stale, value);
      case valued::word_time: word_time_given = true; return decimal32(o.word_time_us);
      case valued::early_status: return count(o.faults.early_status);
      case valued::device: return path(o.device_path, value);
      case valued::session_gap: return decimal32(o.session_gap_ms);
    }
    return false;
  }

  template <typename T>
  bool store(T& field, std::optional<T> value) {
    if (!value) {
      out.error = "bad number for option";
      return false;
    }
    field = *value;
    return true;
  }

  bool bytes(byte_string& field, std::string_view value) {
    if (value.empty() || value.size() % 2 != 0 || value.size() / 2 > field.bytes.size()) {
      out.error = "bad byte string for option";
      return false;
    }
    field.size = 0;
    for (std::size_t i = 0; i < value.size(); i += 2) {
      auto byte = parse_number<std::uint8_t>(value.substr(i, 2), 16);
      if (!byte) {
        out.error = "bad byte string for option";
        return false;
      }
      field.bytes[field.size++] = *byte;
    }
    return true;
  }

  bool path(std::string_view& field, std::string_view value) {
    if (value.empty()) {
      out.error = "empty path for option";
      return false;
    }
    field = value;
    return true;
  }

  bool word_time_given = false;
};

}  // namespace

options_result parse_options(std::span<const char* const> args) {
  options_result result;
  parser p{result};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    result.culprit = arg;
    if (arg == "--help" || arg == "-h") {
      result.options.help = true;
      continue;
    }
    if (arg == "--version") {
      result.options.version = true;
      continue;
    }
    if (arg == "--pace") {
      result.options.pace = true;
      continue;
    }
    if (arg == "--chatter") {
      result.options.chatter = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::optional<valued> which = valued_option(arg.substr(0, eq));
    if (!which) {  // no value is taken from the next argument for a name not known
      result.error = "unknown option";
      return result;
    }
    std::string_view value;
    if (eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      result.error = "missing value for option";
      return result;
    }
    if (!p.apply(*which, value)) return result;
  }
  if (result.options.pace && !p.word_time_given) result.options.word_time_us = PACED_WORD_TIME_US;
  result.culprit = {};
  return result;
}

std::string_view help_text() { return HELP; }

}  // namespace ttyprog::sim
