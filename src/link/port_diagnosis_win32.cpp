// Serial device facts on Windows: the system offers no stable-name directory, no view of other
// processes' handles and no device groups to a plain program, so every answer is empty and the
// tool says only what the failed open itself told.
#include "link/port_diagnosis.h"

namespace ttyprog {

const char* const SERIAL_BY_ID_DIR = nullptr;

serial_device_list list_serial_devices(const char*) { return {}; }

holder_list find_device_holders(const char*) { return {}; }

device_access examine_device_access(const char*) { return {}; }

}  // namespace ttyprog
