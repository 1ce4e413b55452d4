#pragma once

// Facts about the running process.

#include "vxcore/astring.h"

namespace core {

// The folder of the running executable (from /proc/self/exe) with a trailing '/'; empty when
// it cannot be read.
AString GetExeDirPath();

// The machine's host name, asked once per process: gethostname's answer as it is (even
// empty), or "unknown" when the call fails, which is logged at level 1.
AString GetHostName();

// The system's text for the current errno, for example "No such file or directory".
AString GetSystemErrorString();

}  // namespace core
