// The campaign over the programmer's answers: the real ttyprog, on a real pseudo-terminal, runs
// every command against an in-test programmer whose answers (the simulator's target model's) are
// mutated from a seed: wrong, missing, surplus, early, split and delayed words, junk bytes, a
// hang-up, silence, stale bytes before the run, a programmer that never stops sending. Each run
// is judged by support/answer_oracle.h, whose header states the rules: what a link that is right
// on a pseudo-terminal must make of the bytes and their times, and what no link could tell there
// (a wrong but well-formed status is a refusal, a wrong data word is printed as sent, a surplus
// word later than the quiet-line wait, an answer sent while its request was still coming). Then a
// clean readidandconfig on the same port must work: nothing of the run is left on the line.
//
// The cases:
//   answer_campaign --gtest_filter=AnswerCampaign.Regressions   the seeds of
//       tests/answer_campaign_seeds.txt, every one of which once found a fault (fast, every run)
//   answer_campaign --gtest_filter=AnswerCampaign.Campaign       new seeds for
//       TTYPROG_CAMPAIGN_SECONDS (10 by default), from TTYPROG_CAMPAIGN_SEED (else a random one)
//   answer_campaign --seed 0x1234 ...                            the given seeds, told in full
//   answer_campaign --describe 0x1234 ...                        the cases of the seeds, not run
// A finding prints its seed, the case in words, the oracle's verdict and what ttyprog printed.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim_target.h"
#include "support/answer_mutation.h"
#include "support/answer_oracle.h"
#include "support/expected.h"
#include "support/pty.h"
#include "support/scoped_env.h"
#include "support/session.h"
#include "support/target_session.h"
#include "support/temp_dir.h"

namespace ttyprog::test::campaign {
namespace {

using namespace std::chrono_literals;
using clock = std::chrono::steady_clock;

// A programmer that never stops sending: c000 every millisecond, until stopped. It notes the
// longest pause between two of its writes: a loaded machine can hold it up.
class chatter {
 public:
  explicit chatter(int master)
      : thread_([this, master](std::stop_token stop) {
          static constexpr std::uint8_t WORD[] = {0xC0, 0x00};
          auto last = clock::now();
          while (!stop.stop_requested()) {
            pollfd line{master, POLLOUT, 0};
            if (::poll(&line, 1, 1) > 0 && (line.revents & POLLOUT) != 0 &&
                ::write(master, WORD, sizeof WORD) == static_cast<ssize_t>(sizeof WORD)) {
              const auto now = clock::now();
              const auto pause = std::chrono::duration_cast<std::chrono::microseconds>(now - last);
              longest_ = std::max(longest_, pause);
              last = now;
            }
            std::this_thread::sleep_for(1ms);
          }
        }) {}

  // The longest pause so far; call after stop().
  std::chrono::microseconds longest_pause() const { return longest_; }
  void stop() {
    thread_.request_stop();
    thread_.join();
  }

 private:
  std::chrono::microseconds longest_{0};
  std::jthread thread_;
};

struct case_result {
  verdict judged;
  run_result run;
  line_record line;
  std::vector<std::string> faults;
};

// The port of the campaign: one pseudo-terminal for as long as no case hangs it up.
class campaign_port {
 public:
  pty_pair& pty() {
    if (!pty_ || pty_->master() < 0) pty_ = std::make_unique<pty_pair>();
    return *pty_;
  }

 private:
  std::unique_ptr<pty_pair> pty_;
};

// A clean readidandconfig on the port a case has used: it must open, and read the right IDs.
std::optional<std::string> next_run_fault(pty_pair& pty) {
  sim::sim_target target;
  programmer other_end(pty, {target_session(target), true});
  run_options options;
  options.timeout = PROMPTLY + 5s;
  const run_result got = run_ttyprog({pty.slave_path(), "readidandconfig"}, options);
  const std::vector<std::uint16_t> received = other_end.finish();
  if (got.out == READING + BLANK_IDS && got.err.empty() && got.exit_code == 0 &&
      got.elapsed < PROMPTLY) {
    return std::nullopt;
  }
  return "the next run on the port (a clean readidandconfig): exit " +
         std::to_string(got.exit_code) + " after " + std::to_string(got.elapsed.count()) +
         " ms, stdout \"" + got.out + "\", stderr \"" + got.err + "\"; the programmer received \"" +
         hex_words(received) + "\"";
}

case_result run_case(campaign_port& port, const temp_dir& dir, const campaign_case& c) {
  const answer_plan plan = plan_answers(c);
  pty_pair& pty = port.pty();
  std::vector<std::string> args{pty.slave_path()};
  args.insert(args.end(), c.args.begin(), c.args.end());
  if (!c.hex_file.empty()) args.push_back(dir.file_with("image.hex", c.hex_file));
  if (!c.stale.empty()) write_bytes(pty.master(), c.stale);

  case_result result;
  {
    programmer player(pty, {plan_responder(plan), true});
    std::optional<chatter> noise;
    if (c.chatter) {
      noise.emplace(pty.master());
      std::this_thread::sleep_for(5ms);
    }
    run_options options;
    options.timeout = run_limit(c, plan) + 5s;
    result.run = run_ttyprog(args, options);
    if (noise) {
      noise->stop();
      result.line.chatter_pause = noise->longest_pause();
    }
    result.line.wire = player.finish();
    result.line.word_times = player.word_times();
    result.line.sent = player.sent();
  }
  result.judged = judge(c, plan, result.line);
  result.faults = check_run(c, plan, result.judged, result.run, result.line);
  if (pty.master() >= 0) {  // else the line hung up: the port is gone with it
    if (auto fault = next_run_fault(pty)) result.faults.push_back(*fault);
  }
  return result;
}

const char* must_text(must outcome) {
  switch (outcome) {
    case must::succeed: return "must succeed";
    case must::fail: return "must fail";
    case must::either: return "either outcome is right";
  }
  return "";
}

std::string seed_text(std::uint64_t seed) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(seed));
  return text;
}

std::string report(const campaign_case& c, const case_result& r) {
  std::string text = "seed " + seed_text(c.seed) + ": " + describe(c) +
                     "\n  oracle: " + must_text(r.judged.outcome) + " (" + r.judged.why + ")";
  for (const std::string& fault : r.faults) text += "\n  " + fault;
  return text;
}

std::vector<std::uint64_t> regression_seeds() {
  std::ifstream list(TTYPROG_SOURCE_DIR "/tests/answer_campaign_seeds.txt");
  std::vector<std::uint64_t> seeds;
  for (std::string line; std::getline(list, line);) {
    std::istringstream fields(line);
    std::string first;
    if (!(fields >> first) || first.front() == '#') continue;
    seeds.push_back(std::stoull(first, nullptr, 0));
  }
  return seeds;
}

// The seeds of a list, one after the other.
auto from_list(const std::vector<std::uint64_t>& seeds) {
  return [&seeds, next = std::size_t{0}]() mutable -> std::optional<std::uint64_t> {
    if (next == seeds.size()) return std::nullopt;
    return seeds[next++];
  };
}

struct tally {
  std::size_t runs = 0;
  std::size_t by_verdict[3] = {};
  std::vector<std::string> findings;  // one report each
};

// Runs the cases of `seeds` until `seeds` says there are no more, and counts them.
template <class next_seed>
tally run_campaign(next_seed seeds, bool tell_all) {
  const scoped_env bound("TTYPROG_TIMEOUT", BOUND_TEXT);
  const scoped_env strict("TTYPROG_STRICT", "1");
  const scoped_env quiet("TTYPROG_VERBOSE", "");
  campaign_port port;
  temp_dir dir;
  tally counted;
  while (const std::optional<std::uint64_t> seed = seeds()) {
    const campaign_case c = make_case(*seed);
    const case_result r = run_case(port, dir, c);
    ++counted.runs;
    ++counted.by_verdict[static_cast<int>(r.judged.outcome)];
    if (!r.faults.empty()) counted.findings.push_back(report(c, r));
    if (tell_all) {
      std::printf("%s\n", report(c, r).c_str());
      if (r.faults.empty()) {
        std::printf("  ttyprog: exit %d after %lld ms; stdout %zu bytes; stderr \"%s\"\n",
                    r.run.exit_code, static_cast<long long>(r.run.elapsed.count()),
                    r.run.out.size(), r.run.err.c_str());
      }
      std::printf("\n");
    }
  }
  return counted;
}

TEST(AnswerCampaign, Regressions) {
  const std::vector<std::uint64_t> seeds = regression_seeds();
  ASSERT_FALSE(seeds.empty()) << "tests/answer_campaign_seeds.txt holds no seed";
  const tally counted = run_campaign(from_list(seeds), false);
  for (const std::string& finding : counted.findings) ADD_FAILURE() << finding;
}

TEST(AnswerCampaign, Campaign) {
  const char* seconds_text = std::getenv("TTYPROG_CAMPAIGN_SECONDS");
  const double seconds = seconds_text != nullptr ? std::atof(seconds_text) : 10.0;
  const char* seed_setting = std::getenv("TTYPROG_CAMPAIGN_SEED");
  const std::uint64_t base =
      seed_setting != nullptr
          ? std::stoull(seed_setting, nullptr, 0)
          : (std::uint64_t{std::random_device{}()} << 32) | std::random_device{}();
  std::printf("answer campaign: %.0f s from seed %s (TTYPROG_CAMPAIGN_SEED repeats it)\n", seconds,
              seed_text(base).c_str());
  const auto start = clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  std::uint64_t next = base;
  const tally counted = run_campaign(
      [&]() -> std::optional<std::uint64_t> {
        if (clock::now() >= end) return std::nullopt;
        return next++;
      },
      false);
  const double took = std::chrono::duration<double>(clock::now() - start).count();
  std::printf(
      "answer campaign: %zu runs in %.1f s (%.2f runs/s), each followed by a clean run on the same "
      "port; verdicts: %zu must succeed, %zu must fail, %zu either; %zu with findings\n",
      counted.runs, took, static_cast<double>(counted.runs) / took, counted.by_verdict[0],
      counted.by_verdict[1], counted.by_verdict[2], counted.findings.size());
  RecordProperty("runs", static_cast<int>(counted.runs));
  for (const std::string& finding : counted.findings) ADD_FAILURE() << finding;
}

}  // namespace
}  // namespace ttyprog::test::campaign

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--describe") {
    for (int i = 2; i < argc; ++i) {
      const auto c = ttyprog::test::campaign::make_case(std::stoull(argv[i], nullptr, 0));
      std::printf("%s: %s\n", argv[i], ttyprog::test::campaign::describe(c).c_str());
    }
    return 0;
  }
  if (argc > 2 && std::string(argv[1]) == "--seed") {
    std::vector<std::uint64_t> seeds;
    for (int i = 2; i < argc; ++i) seeds.push_back(std::stoull(argv[i], nullptr, 0));
    const auto counted =
        ttyprog::test::campaign::run_campaign(ttyprog::test::campaign::from_list(seeds), true);
    return counted.findings.empty() ? 0 : 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
