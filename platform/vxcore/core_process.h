#pragma once

// Facts about the running process.

#include "vxcore/astring.h"

namespace core {

// The folder of the running executable (from /proc/self/exe) with a trailing '/'; empty when
// it cannot be read.
AString GetExeDirPath();

// The system's text for the current errno, for example "No such file or directory".
AString GetSystemErrorString();

}  // namespace core
