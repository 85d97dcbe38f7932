// A directory of a test's own, removed with everything in it when the test is done.
#pragma once

#include <filesystem>
#include <string>

namespace ttyprog::test {

class temp_dir {
 public:
  temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  ~temp_dir();

  const std::filesystem::path& path() const noexcept { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  // Writes `bytes` to the file `name` in the directory and returns its path.
  std::string file_with(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// The whole content of a file (empty when it cannot be read).
std::string read_file(const std::filesystem::path& file);

}  // namespace ttyprog::test
