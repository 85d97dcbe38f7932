// An in-test programmer: a thread on the master side of a pty that takes in the tool's words (high
// byte first), records every one of them in order, and answers as the test's script says: exact
// words (`scripted`), or the simulator's target model (support/target_session.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "support/pty.h"

namespace ttyprog::test {

// Bytes of an answer that go out in a write of their own, after a pause: an answer that comes late,
// in pieces, or with bytes that make no whole word.
struct piece {
  std::chrono::microseconds pause{0};
  std::vector<std::uint8_t> bytes;
};

struct reply {
  std::vector<std::uint16_t> words;  // sent back, each high byte first
  bool hang_up = false;              // then close the master (the tool sees the line drop)
  // Then, `late_pause` after `words` have gone, these: words the tool did not wait for.
  std::vector<std::uint16_t> late{};
  std::chrono::milliseconds late_pause{0};
  std::vector<piece> pieces{};  // sent last, each after its pause
};

// Called after every received word with the words received since the last reply, i.e. the request
// so far. Returns the reply once the request is complete, or nothing to wait for more words.
using responder = std::function<std::optional<reply>(const std::vector<std::uint16_t>& request)>;

// One exchange of a fixed script: after `request_words` more words, send `answer`.
struct step {
  std::size_t request_words = 1;
  std::vector<std::uint16_t> answer;
  bool hang_up = false;
  std::vector<std::uint16_t> late{};  // sent `late_pause` after `answer`
  std::chrono::milliseconds late_pause{0};
};

// Plays the steps in order, then stays silent (still recording).
responder scripted(std::vector<step> steps);
// Never answers.
responder silent();

struct programmer_options {
  responder respond = silent();
  // For a line that an earlier run has already closed: until the first byte of this run arrives,
  // a hung-up line means "not open yet" (looked at every millisecond) rather than "closed".
  bool wait_for_open = false;
};

// One write the programmer made: when, after how many received words, and what.
struct sent_bytes {
  std::chrono::steady_clock::time_point at;
  std::size_t after_words = 0;
  std::vector<std::uint8_t> bytes;
};

class programmer {
 public:
  programmer(pty_pair& pty, programmer_options options);
  programmer(const programmer&) = delete;
  programmer& operator=(const programmer&) = delete;
  ~programmer();

  // The words received so far, and when each one was complete.
  std::vector<std::uint16_t> words() const;
  std::vector<std::chrono::steady_clock::time_point> word_times() const;
  // Every write made so far, in order (an answer of `words` alone is one write).
  std::vector<sent_bytes> sent() const;
  // Waits until at least `count` words have arrived; false on timeout.
  bool wait_for_words(std::size_t count, std::chrono::milliseconds timeout) const;

  // Stops the thread once the words already on their way are taken in, and returns every word
  // received. Safe to call more than once.
  std::vector<std::uint16_t> finish();

 private:
  void run();
  bool send(const reply& answer);
  bool write_all(const std::vector<std::uint8_t>& bytes);
  void record(std::uint16_t word);
  void take_in_rest(std::optional<std::uint8_t>& high);

  pty_pair& pty_;
  programmer_options options_;
  int stop_read_ = -1, stop_write_ = -1;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<std::uint16_t> words_;
  std::vector<std::chrono::steady_clock::time_point> word_times_;
  std::vector<sent_bytes> sent_;
  std::thread thread_;
};

}  // namespace ttyprog::test
