// Reading TTYPROG_TIMEOUT and readhex's word count: what is taken, exactly, and what is refused
// (the refused word counts end to end are rows of bad_input_test.cpp).
#include <chrono>
#include <optional>

#include <gtest/gtest.h>

#include "cli/param_parse.h"

namespace ttyprog {
namespace {

using namespace std::chrono_literals;

TEST(ParseTimeout, TakesWholeAndDecimalSeconds) {
  struct taken {
    const char* text;
    std::chrono::milliseconds bound;
  };
  const taken cases[] = {
      {"10", 10'000ms},      {"0.25", 250ms},  {".5", 500ms},     {"0.001", 1ms},
      {"3600", 3'600'000ms}, {"007", 7'000ms}, {"2.05", 2'050ms},
  };
  for (const taken& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_timeout(c.text), std::optional(c.bound));
  }
}

TEST(ParseTimeout, RefusesAnythingElse) {
  for (const char* text :
       {"", "0", "0.0", "0.0004", "3600.001", "3601", "99999999999999999999", "1.", "-1", "+1",
        " 1", "1 ", "1s", "1e3", "0x10", ".", "1.2.3", "1,5"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parse_timeout(text), std::nullopt);
  }
}

TEST(ParseDecimalCount, TakesPlainDecimalUpTo32Bits) {
  EXPECT_EQ(parse_decimal_count("0"), std::optional(0u));
  EXPECT_EQ(parse_decimal_count("007"), std::optional(7u));
  EXPECT_EQ(parse_decimal_count("8192"), std::optional(8192u));
  EXPECT_EQ(parse_decimal_count("4294967295"), std::optional(4294967295u));
  for (const char* text : {"4294967296", "99999999999999999999", "1e3", "7 ", "0X10", "٣"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parse_decimal_count(text), std::nullopt);
  }
}

}  // namespace
}  // namespace ttyprog
