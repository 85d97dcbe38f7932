// Standard output of the commands, checked: every result line goes through here, so a write that
// fails (a full disk, /dev/full, a closed pipe) is never mistaken for a result the user received.
#pragma once

namespace ttyprog {

// Writes `text` and a newline.
void out_line(const char* text);

// Writes formatted text.
[[gnu::format(printf, 1, 2)]] void out_format(const char* format, ...);

// Writes out what is buffered. Returns false when standard output has failed, now or before.
bool out_flush();

// True once a write to standard output has failed. The first failure is told on standard error,
// once: "Writing standard output failed: REASON".
bool output_lost();

}  // namespace ttyprog
