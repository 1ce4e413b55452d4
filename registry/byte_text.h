// Names and values are byte strings; outputs for machines carry them as text
// when they are UTF-8 and in hex otherwise.
#pragma once

#include <string>
#include <string_view>

// Whether all of `bytes` is well-formed UTF-8 (no overlong form, no surrogate).
bool IsValidUtf8(std::string_view bytes);

// Lower-case hex digits, two per byte.
std::string HexEncode(std::string_view bytes);
