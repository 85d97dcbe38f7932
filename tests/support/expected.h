// Lines the tool prints that many tests expect, and how long a run may take.
#pragma once

#include <chrono>
#include <string>

namespace ttyprog::test {

inline const std::string FAILED = "Failed...\n";
inline const std::string READING = "reading id informations...\n";
// The IDs of a fresh simulator.
inline const std::string BLANK_IDS = "User ID   = ffffffff\nDevice ID = 0f42\nConfig    = 3fff\n";
inline const std::string SIZE_ERROR = "read size error\n";
inline const std::string LOST = "Connection to programmer lost!\n";
inline const std::string NOT_RESPONDING = "Programmer not responding!\n";

// What "promptly" allows on a loaded machine; far below the tool's bound.
inline constexpr std::chrono::seconds PROMPTLY{3};
// The tool's bound on a silent programmer, and how late after it a run may end.
inline constexpr std::chrono::seconds TOOL_BOUND{10};
inline constexpr std::chrono::seconds BOUND_SLACK{3};

}  // namespace ttyprog::test
