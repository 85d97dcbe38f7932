#include "pace_check.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace ttyprog::bench {

namespace {

using clock = std::chrono::steady_clock;

constexpr std::size_t BLOCK = 512;
constexpr int ANSWER_WAIT_MS = 10'000;

class raw_port {
 public:
  explicit raw_port(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios tio{};
    if (fd_ < 0 || ::tcgetattr(fd_, &tio) != 0) throw std::runtime_error("cannot open " + path);
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    (void)::cfsetspeed(&tio, B9600);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) throw std::runtime_error("cannot set up " + path);
  }
  raw_port(const raw_port&) = delete;
  raw_port& operator=(const raw_port&) = delete;
  ~raw_port() { ::close(fd_); }

  void send(const std::vector<std::uint8_t>& bytes) {
    if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("short write to the simulator");
    }
  }

  // Reads `count` bytes, stamping each with the time the read that returned it came back.
  std::vector<clock::time_point> receive(std::size_t count) {
    std::vector<clock::time_point> stamps;
    std::array<std::uint8_t, 2048> buffer{};
    while (stamps.size() < count) {
      pollfd in{fd_, POLLIN, 0};
      if (::poll(&in, 1, ANSWER_WAIT_MS) <= 0) throw std::runtime_error("no answer");
      const ssize_t n = ::read(fd_, buffer.data(), std::min(buffer.size(), count - stamps.size()));
      if (n <= 0) throw std::runtime_error("the simulator's line failed");
      stamps.insert(stamps.end(), static_cast<std::size_t>(n), clock::now());
    }
    return stamps;
  }

 private:
  int fd_;
};

void put_word(std::vector<std::uint8_t>& bytes, unsigned word) {
  const wire_bytes pair = encode_word(word);
  bytes.insert(bytes.end(), pair.begin(), pair.end());
}

double seconds(clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

pace_report check_pacing(const std::string& port) {
  raw_port line(port);
  pace_report report;

  // Write first: the block position starts at word 0 for this session, as for every run.
  std::vector<std::uint8_t> block;
  put_word(block, 0x8010);
  put_word(block, BLOCK);
  for (unsigned i = 0; i < BLOCK; ++i) put_word(block, 0x0100 + i);
  put_word(block, 0xFFFF);
  auto sent = clock::now();
  line.send(block);
  auto status = line.receive(2);
  report.write_ratio =
      seconds(status.back() - sent) / (static_cast<double>(block.size() + 2) * BYTE_TIME_S);

  std::vector<std::uint8_t> request;
  put_word(request, 0x8020);
  put_word(request, BLOCK);
  sent = clock::now();
  line.send(request);
  const std::size_t answer = 2 * (BLOCK + 1);
  const auto stamps = line.receive(answer);
  report.read_early_us = -1e9;
  report.read_late_us = -1e9;
  for (std::size_t i = 0; i < stamps.size(); ++i) {
    // Byte i is complete once the request and i + 1 answer bytes have crossed the line.
    const double due = static_cast<double>(request.size() + i + 1) * BYTE_TIME_S;
    const double off_us = (seconds(stamps[i] - sent) - due) * 1e6;
    report.read_early_us = std::max(report.read_early_us, -off_us);
    report.read_late_us = std::max(report.read_late_us, off_us);
  }
  report.read_interval_us =
      seconds(stamps.back() - stamps.front()) * 1e6 / static_cast<double>(answer - 1);
  report.read_ratio =
      seconds(stamps.back() - sent) / (static_cast<double>(request.size() + answer) * BYTE_TIME_S);
  return report;
}

}  // namespace ttyprog::bench
