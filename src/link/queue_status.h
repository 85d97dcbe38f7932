// What the input queue says about the line where no answer is awaited (before a request, while the
// line must stay quiet): the same on every back end.
#pragma once

#include "link/word_link.h"

namespace ttyprog {

// `queued`: the bytes waiting, or a negative number when the device could not be asked (gone).
inline link_status queue_status(long queued) {
  if (queued < 0) return link_status::lost;
  return queued == 0 ? link_status::ok : link_status::unexpected;
}

}  // namespace ttyprog
