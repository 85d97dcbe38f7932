// How a command tells the user that the link to the programmer failed.
#pragma once

#include "link/word_link.h"

namespace ttyprog {

// Writes the one standard error line naming why the link failed; nothing when it did not.
void report_link_failure(link_status status);

}  // namespace ttyprog
