// The README's script for several programmers at once, taken from README.md as users copy it and
// run as it is: eight simulators, each on its own pseudo-terminal, programmed in parallel, each
// port's output in its own log that says why a run failed, a summary naming the ports that failed,
// and ports that would share a log refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/readme.h"
#include "support/simulator.h"
#include "support/temp_dir.h"

namespace ttyprog {
namespace {

constexpr int PORTS = 8;
const std::string IDS =
    "reading id informations...\nUser ID   = ffffffff\nDevice ID = 0f42\nConfig    = 3fff\n";
const std::string VERIFIED = IDS + "Done!\nDone.\nverify done. found 0 error(s).\nexit status 0\n";
const std::string SAMPLE = test::read_file(TTYPROG_SOURCE_DIR "/examples/sample.hex");

class ParallelScript : public ::testing::Test {
 protected:
  // Starts `ports` simulators, reached through dir/prog1, dir/prog2, ...; the one at `refusing`
  // (0-based, -1 for none) refuses the erase. Then runs the README's script with `firmware` on all
  // of them in `dir`, with the built ttyprog first on PATH.
  test::run_result run(int refusing, int ports = PORTS, const std::string& firmware = SAMPLE) {
    const std::string script = test::readme_sh_block_after("## Several programmers at once");
    EXPECT_NE(script.find("TTYPROG_STRICT=1"), std::string::npos) << "README block not found";
    const std::filesystem::path path = dir_.file_with("program-all.sh", script);
    std::filesystem::permissions(path, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    dir_.file_with("firmware.hex", firmware);

    const std::string bin = std::filesystem::path(TTYPROG_BIN).parent_path().string();
    std::vector<std::string> argv{"sh",
                                  "-c",
                                  "cd \"$1\" && PATH=\"$2:$PATH\" && shift 2 && "
                                  "exec ./program-all.sh firmware.hex \"$@\"",
                                  "sh",
                                  dir_.path().string(),
                                  bin};
    std::vector<std::unique_ptr<test::simulator>> sims;
    for (int i = 0; i < ports; ++i) {
      std::vector<std::string> options{"--link", port(i)};
      if (i == refusing) options.insert(options.end(), {"--refuse", "1"});
      sims.push_back(std::make_unique<test::simulator>(options));
      EXPECT_FALSE(sims.back()->path().empty()) << "simulator " << i + 1 << " did not start";
      argv.push_back(port(i));
    }
    test::run_options options;
    options.timeout = std::chrono::seconds(60);
    return test::run_binary("/bin/sh", argv, options);
  }

  std::string port(int i) const { return (dir_ / ("prog" + std::to_string(i + 1))).string(); }
  std::string log(int i) const { return test::read_file(port(i) + ".log"); }

 private:
  test::temp_dir dir_;
};

TEST_F(ParallelScript, WritesAndVerifiesEveryPortWithALogEach) {
  const test::run_result got = run(-1);
  EXPECT_EQ(got.exit_code, 0);
  EXPECT_EQ(got.out, "all 8 port(s) programmed and verified\n");
  EXPECT_EQ(got.err, "");
  for (int i = 0; i < PORTS; ++i) EXPECT_EQ(log(i), VERIFIED) << port(i);
}

TEST_F(ParallelScript, NamesTheRefusingPortAndFails) {
  const int refusing = 4;
  const test::run_result got = run(refusing);
  EXPECT_EQ(got.exit_code, 1);
  EXPECT_EQ(got.out, "FAILED: " + port(refusing) + ", see prog5.log\n1 of 8 port(s) failed\n");
  EXPECT_EQ(got.err, "");
  for (int i = 0; i < PORTS; ++i) {
    EXPECT_EQ(log(i), i == refusing ? IDS + "Failed...\nexit status 2\n" : VERIFIED) << port(i);
  }
}

// A log that ends in "exit status 6" says why: the file holds no data, and nothing was sent.
TEST_F(ParallelScript, ALogSaysWhyNothingWasProgrammed) {
  const test::run_result got = run(-1, 1, ":00000001FF\n");
  EXPECT_EQ(got.exit_code, 1);
  EXPECT_EQ(log(0), "firmware.hex holds no data for program memory: nothing was programmed.\n"
                    "no data in hex file!\nexit status 6\n");
}

// Ports that would share a log are refused before any run: the same port twice, or two ports of
// one last name.
TEST(ParallelScriptPorts, ThatWouldShareALogAreRefused) {
  const test::temp_dir dir;
  const std::filesystem::path script = dir.file_with(
      "program-all.sh", test::readme_sh_block_after("## Several programmers at once"));
  std::filesystem::permissions(script, std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  const test::simulator sim({"--link", (dir / "prog").string()});
  std::filesystem::create_directory(dir / "other");
  const std::string twice[] = {sim.path(), sim.path()};
  const std::string same_name[] = {(dir / "prog").string(), (dir / "other" / "prog").string()};
  for (const auto& ports : {twice, same_name}) {
    const test::run_result got = test::run_binary(
        "/bin/sh", {"sh", "-c", "cd \"$1\" && shift && exec ./program-all.sh firmware.hex \"$@\"",
                    "sh", dir.path().string(), ports[0], ports[1]});
    EXPECT_EQ(got.exit_code, 1);
    EXPECT_EQ(got.err, "program-all.sh: " + ports[0] + " and " + ports[1] +
                           " would share a log: give each port once, by distinct names\n");
    EXPECT_EQ(got.out, "");
  }
  EXPECT_TRUE(sim.received().empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "prog.log"));
}

}  // namespace
}  // namespace ttyprog
