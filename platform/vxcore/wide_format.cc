#include "vxcore/wide_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string_view>
#include <type_traits>

namespace core {
namespace {

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kSize, kIntMax, kPtrDiff };

struct Directive {
  std::string flags;  // narrow copy of "-+ #0", handed on to snprintf
  bool leftAlign = false;
  int width = -1;
  int precision = -1;
  Length length = Length::kNone;
};

int ReadCount(const wchar_t*& p) {
  long long count = 0;
  while (*p >= L'0' && *p <= L'9') {
    count = count * 10 + (*p - L'0');
    if (count > std::numeric_limits<int>::max()) count = std::numeric_limits<int>::max();
    ++p;
  }
  return static_cast<int>(count);
}

// Wide output takes each byte as the code point of the same value; 8-bit output takes each code
// point up to 255 as that byte and any other as '?', as AString::ASCII does.
void Put(std::wstring& out, std::wstring_view text) { out.append(text); }
void Put(std::wstring& out, std::string_view bytes) {
  out.reserve(out.size() + bytes.size());
  for (char c : bytes) out.push_back(static_cast<unsigned char>(c));
}
void Put(std::string& out, std::string_view bytes) { out.append(bytes); }
void Put(std::string& out, std::wstring_view text) {
  const size_t start = out.size();
  out.resize(start + text.size());
  char* to = out.data() + start;
  for (wchar_t c : text) *to++ = c >= 0 && c <= 0xFF ? static_cast<char>(c) : '?';
}

// Numbers go through snprintf with a narrow directive; its output is ASCII.
template <class Out, typename T>
void AppendPrintf(Out& out, const std::string& narrowFormat, T value) {
  char small[128];
  const int size = std::snprintf(small, sizeof(small), narrowFormat.c_str(), value);
  if (size < 0) return;
  if (static_cast<size_t>(size) < sizeof(small)) {
    Put(out, std::string_view(small, static_cast<size_t>(size)));
    return;
  }
  std::string large(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(large.data(), large.size(), narrowFormat.c_str(), value);
  Put(out, std::string_view(large.data(), static_cast<size_t>(size)));
}

std::string NarrowDirective(const Directive& d, const char* lengthAndConversion) {
  std::string directive = "%" + d.flags;
  if (d.width >= 0) directive += std::to_string(d.width);
  if (d.precision >= 0) {
    directive += '.';
    directive += std::to_string(d.precision);
  }
  return directive + lengthAndConversion;
}

template <class Out, class Text>
void AppendPadded(Out& out, const Directive& d, Text text) {
  const size_t pad =
      d.width > 0 && static_cast<size_t>(d.width) > text.size() ? d.width - text.size() : 0;
  if (!d.leftAlign) out.append(pad, ' ');
  Put(out, text);
  if (d.leftAlign) out.append(pad, ' ');
}

long long ReadSigned(Length length, va_list* args) {
  switch (length) {
    case Length::kChar:
      return static_cast<signed char>(va_arg(*args, int));
    case Length::kShort:
      return static_cast<short>(va_arg(*args, int));
    case Length::kLong:
      return va_arg(*args, long);
    case Length::kLongLong:
      return va_arg(*args, long long);
    case Length::kSize:
      return va_arg(*args, std::make_signed_t<size_t>);
    case Length::kIntMax:
      return va_arg(*args, intmax_t);
    case Length::kPtrDiff:
      return va_arg(*args, ptrdiff_t);
    case Length::kNone:
      break;
  }
  return va_arg(*args, int);
}

unsigned long long ReadUnsigned(Length length, va_list* args) {
  switch (length) {
    case Length::kChar:
      return static_cast<unsigned char>(va_arg(*args, unsigned));
    case Length::kShort:
      return static_cast<unsigned short>(va_arg(*args, unsigned));
    case Length::kLong:
      return va_arg(*args, unsigned long);
    case Length::kLongLong:
      return va_arg(*args, unsigned long long);
    case Length::kSize:
      return va_arg(*args, size_t);
    case Length::kIntMax:
      return va_arg(*args, uintmax_t);
    case Length::kPtrDiff:
      return static_cast<std::make_unsigned_t<ptrdiff_t>>(va_arg(*args, ptrdiff_t));
    case Length::kNone:
      break;
  }
  return va_arg(*args, unsigned);
}

const wchar_t* ParseDirective(const wchar_t* p, Directive& d, va_list* args) {
  for (;; ++p) {
    if (*p == L'-') {
      d.leftAlign = true;
    } else if (*p != L'+' && *p != L' ' && *p != L'#' && *p != L'0') {
      break;
    }
    d.flags.push_back(static_cast<char>(*p));
  }
  if (*p == L'*') {
    d.width = va_arg(*args, int);
    if (d.width < 0) {
      // A negative width argument means left alignment, as in printf.
      d.leftAlign = true;
      d.flags.push_back('-');
      d.width =
          d.width == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -d.width;
    }
    ++p;
  } else if (*p >= L'0' && *p <= L'9') {
    d.width = ReadCount(p);
  }
  if (*p == L'.') {
    ++p;
    if (*p == L'*') {
      d.precision = va_arg(*args, int);  // negative means none
      if (d.precision < 0) d.precision = -1;
      ++p;
    } else {
      d.precision = ReadCount(p);
    }
  }
  switch (*p) {
    case L'h':
      d.length = p[1] == L'h' ? Length::kChar : Length::kShort;
      p += d.length == Length::kChar ? 2 : 1;
      break;
    case L'l':
      d.length = p[1] == L'l' ? Length::kLongLong : Length::kLong;
      p += d.length == Length::kLongLong ? 2 : 1;
      break;
    case L'z':
      d.length = Length::kSize;
      ++p;
      break;
    case L'j':
      d.length = Length::kIntMax;
      ++p;
      break;
    case L't':
      d.length = Length::kPtrDiff;
      ++p;
      break;
    default:
      break;
  }
  return p;
}

// Returns false for an unknown conversion, which the caller copies through unchanged.
template <class Out>
bool AppendConversion(Out& out, const Directive& d, wchar_t conversion, va_list* args) {
  switch (conversion) {
    case L'%':
      out.push_back('%');
      return true;
    case L's': {
      if (d.length == Length::kShort) {
        const char* bytes = va_arg(*args, const char*);
        if (bytes == nullptr) bytes = "(null)";
        const size_t size =
            d.precision >= 0 ? strnlen(bytes, static_cast<size_t>(d.precision)) : strlen(bytes);
        AppendPadded(out, d, std::string_view(bytes, size));
        return true;
      }
      const wchar_t* text = va_arg(*args, const wchar_t*);
      if (text == nullptr) text = L"(null)";
      const size_t size =
          d.precision >= 0 ? wcsnlen(text, static_cast<size_t>(d.precision)) : wcslen(text);
      AppendPadded(out, d, std::wstring_view(text, size));
      return true;
    }
    case L'c': {
      const wchar_t c = static_cast<wchar_t>(va_arg(*args, wint_t));
      AppendPadded(out, d, std::wstring_view(&c, 1));
      return true;
    }
    case L'd':
    case L'i':
      AppendPrintf(out, NarrowDirective(d, "lld"), ReadSigned(d.length, args));
      return true;
    case L'u':
    case L'o':
    case L'x':
    case L'X': {
      const char suffix[] = {'l', 'l', static_cast<char>(conversion), '\0'};
      AppendPrintf(out, NarrowDirective(d, suffix), ReadUnsigned(d.length, args));
      return true;
    }
    case L'p':
      AppendPrintf(out, NarrowDirective(d, "p"), va_arg(*args, void*));
      return true;
    case L'f':
    case L'F':
    case L'e':
    case L'E':
    case L'g':
    case L'G':
    case L'a':
    case L'A': {
      const char suffix[] = {static_cast<char>(conversion), '\0'};
      AppendPrintf(out, NarrowDirective(d, suffix), va_arg(*args, double));
      return true;
    }
    default:
      return false;
  }
}

template <class Out>
void FormatInto(Out& out, const wchar_t* format, va_list args) {
  if (format == nullptr) return;
  va_list ap;
  va_copy(ap, args);
  const wchar_t* p = format;
  while (*p != L'\0') {
    if (*p != L'%') {
      const wchar_t* start = p;
      while (*p != L'\0' && *p != L'%') ++p;
      Put(out, std::wstring_view(start, static_cast<size_t>(p - start)));
      continue;
    }
    const wchar_t* start = p;
    Directive directive;
    p = ParseDirective(p + 1, directive, &ap);
    if (*p == L'\0') {
      Put(out, std::wstring_view(start, static_cast<size_t>(p - start)));
      break;
    }
    if (!AppendConversion(out, directive, *p, &ap)) {
      Put(out, std::wstring_view(start, static_cast<size_t>(p + 1 - start)));
    }
    ++p;
  }
  va_end(ap);
}

}  // namespace

void AppendFormatV(std::wstring& out, const wchar_t* format, va_list args) {
  FormatInto(out, format, args);
}

void AppendFormatV(std::string& out, const wchar_t* format, va_list args) {
  FormatInto(out, format, args);
}

void AppendFormat(std::string& out, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatInto(out, format, args);
  va_end(args);
}

}  // namespace core
