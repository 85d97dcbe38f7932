// An environment variable set for the child processes started while it lives (TTYPROG_TIMEOUT,
// TTYPROG_STRICT, ...). Nothing here depends on the test framework, so the benchmarks use it too.
#pragma once

#include <cstdlib>

namespace ttyprog::test {

class scoped_env {
 public:
  scoped_env(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;
  ~scoped_env() { ::unsetenv(name_); }

 private:
  const char* name_;
};

}  // namespace ttyprog::test
