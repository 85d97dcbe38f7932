// ttyprog against the 9600-baud line limit, its HEX reading against objcopy, and several runs at
// once on their own paced lines against one, as whole processes. Prints Markdown tables; see
// docs/performance.md for the method.
//
//   line_bench TTYPROG TTYPROG_SIM WORK_DIR [RUNS]
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_process.h"
#include "hex_files.h"
#include "pace_check.h"
#include "support/scoped_env.h"

using namespace ttyprog::bench;

namespace {

struct paths {
  std::string ttyprog, sim, dir;
};

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::size_t file_size(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0;
}

// Bytes on the wire in the trace lines written after `from`: every word line is two bytes.
std::size_t traced_bytes(const std::string& trace, std::size_t from) {
  const std::string text = read_file(trace);
  std::size_t bytes = 0;
  for (std::size_t at = from; at < text.size();) {
    if (text[at] == '<' || text[at] == '>') bytes += 2;
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return bytes;
}

// The first line of the read-out of the program that writeprogram put there.
std::string first_dump_line() {
  std::string line;
  for (std::size_t i = 0; i < 8; ++i) {
    char word[8];
    std::snprintf(word, sizeof word, "%04x%c", program_word(i), i == 7 ? '\n' : ' ');
    line += word;
  }
  return line;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// "median (min to max)" of the values, each with `format`.
std::string spread(const std::vector<double>& values, const char* format) {
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  char text[96];
  std::string f = std::string("%s (") + format + " to " + format + ")";
  char mid[32];
  std::snprintf(mid, sizeof mid, format, median(values));
  std::snprintf(text, sizeof text, f.c_str(), mid, *low, *high);
  return text;
}

void print_pacing(const pace_report& r) {
  std::printf("\n### Simulator pacing, seen from a client on its terminal\n\n");
  std::printf("| check | measured | ideal |\n|---|---|---|\n");
  std::printf("| read block: mean answer byte spacing | %.1f us | %.1f us |\n", r.read_interval_us,
              BYTE_TIME_S * 1e6);
  std::printf("| read block: earliest byte before its line time | %.0f us | <= 0 |\n",
              r.read_early_us);
  std::printf("| read block: latest byte after its line time | %.0f us | small |\n",
              r.read_late_us);
  std::printf("| read block (4 + 1026 bytes): time / line time | %.4f | 1 |\n", r.read_ratio);
  std::printf("| write block (1030 + 2 bytes): time / line time | %.4f | 1 |\n", r.write_ratio);
}

// Full-chip commands against the paced simulator.
bool line_table(const paths& p, int runs) {
  const std::string hex = p.dir + "/program.hex";
  const std::string trace = p.dir + "/trace.txt";
  const std::string out = p.dir + "/out.txt";
  write_file(hex, full_program_hex(trailer::end_only));
  write_file(trace, "");
  simulator sim(p.sim, {"--pace", "--word-time", "0", "--trace", trace});
  print_pacing(check_pacing(sim.port()));

  struct command {
    const char* name;
    std::string param;
    std::string expect;  // a piece of the output that shows the run did its work
  };
  const std::vector<command> commands{{"writeprogram", hex, "Done."},
                                      {"verifyprogram", hex, "found 0 error(s)."},
                                      {"readprogram", "8192", first_dump_line()}};
  std::printf("\n### Full-chip commands through the paced line (%d runs each)\n\n", runs);
  std::printf("| command | run | bytes | line time s | wall s | wall / line | CPU %% of wall | "
              "wake-ups | peak RSS KiB |\n|---|---|---|---|---|---|---|---|---|\n");
  bool all_ok = true;
  for (const command& c : commands) {
    std::vector<double> ratios, shares, wakeups;
    long rss = 0;
    for (int run = 1; run <= runs; ++run) {
      const std::size_t before = file_size(trace);
      const process_run r = run_process({p.ttyprog, sim.port(), c.name, c.param}, out);
      const std::size_t bytes = traced_bytes(trace, before);
      const bool ok = r.exit_code == 0 && read_file(out).find(c.expect) != std::string::npos;
      all_ok = all_ok && ok;
      const double line = static_cast<double>(bytes) * BYTE_TIME_S;
      const double share = 100.0 * (r.user_s + r.sys_s) / r.wall_s;
      ratios.push_back(r.wall_s / line);
      shares.push_back(share);
      wakeups.push_back(static_cast<double>(r.wakeups));
      rss = std::max(rss, r.max_rss_kib);
      std::printf("| %s | %d%s | %zu | %.3f | %.3f | %.4f | %.3f | %ld | %ld |\n", c.name, run,
                  ok ? "" : " FAILED", bytes, line, r.wall_s, r.wall_s / line, share, r.wakeups,
                  r.max_rss_kib);
    }
    std::printf(
        "| **%s, median (min to max)** | | | | | **%s** | **%s** | **%s** | **%ld** (max) |\n",
        c.name, spread(ratios, "%.4f").c_str(), spread(shares, "%.3f").c_str(),
        spread(wakeups, "%.0f").c_str(), rss);
  }
  return all_ok;
}

// The tool's whole process reading a HEX file, against objcopy converting the same file.
bool loader_table(const paths& p, int runs) {
  const std::string out = p.dir + "/out.txt";
  simulator sim(p.sim, {});  // unpaced: the tool opens the port, reads the file, refuses it
  struct file {
    const char* label;
    std::string path;
  };
  const std::vector<file> files{{"8192-word program", p.dir + "/program-refused.hex"},
                                {"32 MiB of data", p.dir + "/large-refused.hex"}};
  write_file(files[0].path, full_program_hex(trailer::refused_by_tool));
  write_file(files[1].path, large_hex(std::size_t{32} << 20, trailer::refused_by_tool));

  std::printf("\n### Reading a HEX file, whole process against whole process (%d runs each)\n\n",
              runs);
  std::printf(
      "| file | size KiB | program | wall ms, median (min to max) | MB/s, median (min to max) "
      "| CPU ms | peak RSS KiB |\n|---|---|---|---|---|---|---|\n");
  bool all_ok = true;
  for (const file& f : files) {
    const double size = static_cast<double>(file_size(f.path));
    struct contender {
      const char* name;
      std::vector<std::string> argv;
      const char* expect;
    };
    const std::vector<contender> contenders{
        {"ttyprog writeprogram",
         {p.ttyprog, sim.port(), "writeprogram", f.path},
         "invalid hex file!"},
        {"objcopy -I ihex -O binary",
         {"/usr/bin/objcopy", "-I", "ihex", "-O", "binary", f.path, p.dir + "/out.bin"},
         ""}};
    for (const contender& c : contenders) {
      std::vector<double> walls, rates, cpus;
      long rss = 0;
      for (int run = 0; run < runs; ++run) {
        const process_run r = run_process(c.argv, out);
        all_ok = all_ok && r.exit_code == 0 && read_file(out).find(c.expect) != std::string::npos;
        walls.push_back(r.wall_s * 1e3);
        rates.push_back(size / r.wall_s / 1e6);
        cpus.push_back((r.user_s + r.sys_s) * 1e3);
        rss = std::max(rss, r.max_rss_kib);
      }
      std::printf("| %s | %.0f | %s | %s | %s | %.2f | %ld |\n", f.label, size / 1024, c.name,
                  spread(walls, "%.2f").c_str(), spread(rates, "%.0f").c_str(), median(cpus), rss);
    }
  }
  return all_ok;
}

// One port's part of a production run: writeprogram, then verifyprogram if the write succeeded.
struct port_run {
  bool ok = false;
  double wall_s = 0;
};

port_run write_and_verify(const paths& p, const std::string& port, const std::string& hex,
                          const std::string& out) {
  const auto start = std::chrono::steady_clock::now();
  port_run r;
  const process_run write = run_process({p.ttyprog, port, "writeprogram", hex}, out);
  if (write.exit_code == 0 && read_file(out) == "Done.\n") {
    const process_run verify = run_process({p.ttyprog, port, "verifyprogram", hex}, out);
    r.ok = verify.exit_code == 0 && read_file(out) == "verify done. found 0 error(s).\n";
  }
  r.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return r;
}

struct batch {
  double wall_s = 0;     // first start to last end
  double slowest_s = 0;  // the longest single port's write and verify
  bool ok = true;
};

// Write and verify on the first `count` ports at once, one thread per port.
batch run_batch(const paths& p, const std::vector<std::string>& ports, std::size_t count,
                const std::string& hex) {
  std::vector<port_run> runs(count);
  std::vector<std::thread> threads;
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < count; ++i) {
    threads.emplace_back([&, i] {
      const std::string out = p.dir + "/parallel-" + std::to_string(i) + ".txt";
      runs[i] = write_and_verify(p, ports[i], hex, out);
    });
  }
  for (std::thread& t : threads) t.join();
  batch b;
  b.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (const port_run& r : runs) {
    b.slowest_s = std::max(b.slowest_s, r.wall_s);
    b.ok = b.ok && r.ok;
  }
  return b;
}

double load_average() { return std::atof(read_file("/proc/loadavg").c_str()); }

// A full-chip write and verify on PORTS paced simulators at once, against the same on one.
bool parallel_table(const paths& p, int runs) {
  constexpr std::size_t PORTS = 8;
  const std::string hex = p.dir + "/parallel.hex";
  write_file(hex, full_program_hex(trailer::end_only));
  const ttyprog::test::scoped_env strict("TTYPROG_STRICT", "1");
  std::vector<std::unique_ptr<simulator>> sims;
  std::vector<std::string> ports;
  for (std::size_t i = 0; i < PORTS; ++i) {
    sims.push_back(
        std::make_unique<simulator>(p.sim, std::vector<std::string>{"--pace", "--word-time", "0"}));
    ports.push_back(sims.back()->port());
  }
  // writeprogram: 16 blocks of 1,030 bytes out, 16 statuses back; verifyprogram: 16 requests of
  // 4 bytes out, 16 blocks of 1,026 bytes back.
  const double line_s = static_cast<double>(16 * (1030 + 2) + 16 * (4 + 1026)) * BYTE_TIME_S;
  std::printf("\n### Full-chip write and verify on %zu paced lines at once against one "
              "(%d runs)\n\n",
              PORTS, runs);
  std::printf("Each port: `writeprogram`, then `verifyprogram`, with TTYPROG_STRICT=1; line time "
              "%.2f s.\n\n",
              line_s);
  std::printf("| run | load (1 min) | one port s | %zu ports s | %zu / one | slowest port s |\n"
              "|---|---|---|---|---|---|\n",
              PORTS, PORTS);
  std::vector<double> ratios;
  bool all_ok = true;
  for (int run = 1; run <= runs; ++run) {
    const double load = load_average();
    const batch one = run_batch(p, ports, 1, hex);
    const batch all = run_batch(p, ports, PORTS, hex);
    const bool ok = one.ok && all.ok;
    all_ok = all_ok && ok;
    ratios.push_back(all.wall_s / one.wall_s);
    std::printf("| %d%s | %.2f | %.3f | %.3f | %.4f | %.3f |\n", run, ok ? "" : " FAILED", load,
                one.wall_s, all.wall_s, ratios.back(), all.slowest_s);
  }
  std::printf("| **median** | | | | **%.4f** (%.4f to %.4f) | |\n", median(ratios),
              *std::min_element(ratios.begin(), ratios.end()),
              *std::max_element(ratios.begin(), ratios.end()));
  return all_ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "Usage: %s TTYPROG TTYPROG_SIM WORK_DIR [RUNS]\n", argv[0]);
    return 2;
  }
  const paths p{argv[1], argv[2], argv[3]};
  const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
  try {
    const bool line_ok = line_table(p, runs);
    const bool loader_ok = loader_table(p, std::max(runs, 5));
    const bool parallel_ok = parallel_table(p, runs);
    if (!line_ok || !loader_ok || !parallel_ok) {
      std::fprintf(stderr, "line_bench: a run did not give the expected result\n");
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "line_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
