// The HEX loader's rate on text held in memory: a large file and a full 8192-word program.
#include <benchmark/benchmark.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "hex_files.h"
#include "image/hex_image.h"

namespace {

using namespace ttyprog;

// The text is held in a memory-backed file (memfd) and read through an ordinary stdio stream, as
// the tool reads a file. (A fmemopen stream is not used: its per-character cost in glibc is about
// twice that of a file stream and would measure the C library rather than the loader.)
class memory_file {
 public:
  explicit memory_file(const std::string& text) {
    const int fd = ::memfd_create("hex", MFD_CLOEXEC);
    stream_ = fd < 0 ? nullptr : ::fdopen(fd, "w+");
    if (stream_ == nullptr || std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) {
      throw std::runtime_error("cannot make the in-memory file");
    }
  }
  memory_file(const memory_file&) = delete;
  memory_file& operator=(const memory_file&) = delete;
  ~memory_file() { std::fclose(stream_); }

  std::FILE* rewound() {
    std::rewind(stream_);
    return stream_;
  }

 private:
  std::FILE* stream_ = nullptr;
};

void load_from_memory(benchmark::State& state, const std::string& text, int expected) {
  memory_file file(text);
  program_image image{};
  for (auto _ : state) {
    const int words = load_hex_image(image, file.rewound()).words;
    if (words != expected) state.SkipWithError("unexpected word count");
    benchmark::DoNotOptimize(image.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

// The spread over the repetitions, beside Google Benchmark's mean, median and stddev.
void with_spread(benchmark::internal::Benchmark* b) {
  b->ComputeStatistics(
      "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
  b->ComputeStatistics(
      "max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
}

void BM_load_full_program(benchmark::State& state) {
  static const std::string text = bench::full_program_hex(bench::trailer::end_only);
  load_from_memory(state, text, 8192);
}
BENCHMARK(BM_load_full_program)->Apply(with_spread);

void BM_load_large_file(benchmark::State& state) {
  // The extended linear address records place every segment after the first beyond program
  // memory: the first 16 KiB land in the image, every other record is checked and skipped.
  static const std::string text = bench::large_hex(std::size_t{32} << 20, bench::trailer::end_only);
  load_from_memory(state, text, 8192);
}
BENCHMARK(BM_load_large_file)->Unit(benchmark::kMillisecond)->Apply(with_spread);

}  // namespace

BENCHMARK_MAIN();
