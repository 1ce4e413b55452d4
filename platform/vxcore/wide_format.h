#pragma once

// printf-style formatting into wide strings. glibc's vswprintf reads "%s" as an 8-bit string
// and stops at a fixed buffer size, so the library formats by itself:
//   %s   const wchar_t* (a null pointer prints "(null)"); precision caps the characters taken
//   %hs  const char*, 8-bit text taken byte by byte; otherwise as %s
//   %c   a wide character (passed as wint_t)
//   %d %i %u %x %X %o   with the length modifiers hh h l ll z j t
//   %p   a pointer; %f %F %e %E %g %G %a %A a double; %% a percent sign
// Flags "-+ #0", width and precision (also "*") work as in printf. Any other directive is
// copied to the output unchanged and takes no argument. The cost is linear in the output.

#include <cstdarg>
#include <string>

namespace core {

// Appends the formatting of `format` with `args` to `out`. `args` itself is left unread.
void AppendFormatV(std::wstring& out, const wchar_t* format, va_list args);

// The same, narrowed as it is appended: each character up to 255 becomes that byte, any other
// '?' (as AString::ASCII), without building the wide text first.
void AppendFormatV(std::string& out, const wchar_t* format, va_list args);
void AppendFormat(std::string& out, const wchar_t* format, ...);

}  // namespace core
