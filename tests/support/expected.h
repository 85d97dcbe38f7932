// What the tool prints, line by line, as the tests expect it; the device ID of the simulated
// programmer; and how long a run may take.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace ttyprog::test {

// Results and errors on standard output.
inline const std::string DONE = "Done!\n";     // a single exchange succeeded
inline const std::string WRITTEN = "Done.\n";  // writeprogram succeeded
inline const std::string FAILED = "Failed...\n";
inline const std::string READING = "reading id informations...\n";
// The IDs of a fresh simulator.
inline const std::string BLANK_IDS = "User ID   = ffffffff\nDevice ID = 0f42\nConfig    = 3fff\n";
inline const std::string SIZE_ERROR = "read size error\n";
inline const std::string INVALID_COMMAND = "invalid command\n";
inline const std::string OPEN_FAILED = "input file open failed!\n";
inline const std::string INVALID_HEX = "invalid hex file!\n";
inline const std::string ID_UNSPECIFIED = "ID unspecified!\n";
inline const std::string INVALID_ID = "invalid ID!\n";
inline const std::string CONFIG_UNSPECIFIED = "Configuration word unspecified!\n";
inline const std::string INVALID_CONFIG = "invalid configuration word!\n";
std::string writing_id(const std::string& digits);      // "writing ID 1234abcd...\n"
std::string writing_config(const std::string& digits);  // "writing configuration word 3f72...\n"
std::string ids(const std::string& user_id, const std::string& device_id,
                const std::string& config);
std::string verified(int errors);                    // "verify done. found 3 error(s).\n"
std::string unwritable(const std::string& address);  // "word ffff at 0009 cannot be written!\n"
// The readprogram dump of `words`: eight words a line separated by single blanks; a short last
// line keeps the blank after its last word.
std::string dump(const std::vector<std::uint16_t>& words);

// The line naming a link failure, on standard error.
inline const std::string LOST = "Connection to programmer lost!\n";
inline const std::string NOT_RESPONDING = "Programmer not responding!\n";
inline const std::string UNEXPECTED = "Unexpected data from programmer!\n";
inline const std::string SENDS_UNASKED = "Programmer sends without being asked!\n";
// A run stopped before its first request, on standard error.
inline const std::string NOTHING_SENT = "Interrupted: nothing was sent.\n";
// Before the port is open, on standard error.
std::string usage(const std::string& argv0);
std::string port_failed(const std::string& port);  // "Opening port /dev/x failed!\n"

// The device ID every simulated programmer of the tests reports.
inline constexpr std::uint16_t DEVICE_ID = 0x0F42;
inline const std::string DEVICE_ID_TEXT = "0f42";

// What "promptly" allows on a loaded machine; far below the tool's bound.
inline constexpr std::chrono::seconds PROMPTLY{3};
// The tool's bound on a silent programmer, and how late after it a run may end.
inline constexpr std::chrono::seconds TOOL_BOUND{10};
inline constexpr std::chrono::seconds BOUND_SLACK{3};

}  // namespace ttyprog::test
