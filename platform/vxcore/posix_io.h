#pragma once

// Writing the library's console and log output whole, through partial writes and EINTR.

#include <string_view>

namespace core {

// Writes all of `bytes`; false with errno set on failure.
bool WriteAll(int fd, std::string_view bytes);

}  // namespace core
