#pragma once

// AString: the wide string that carries every name, path and value. 8-bit text is widened byte
// by byte (each byte 0..255 becomes the same code point) and ASCII() narrows it back, so UTF-8
// passes through unchanged. "NoCase" operations fold ASCII letters only.

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class AString : public std::wstring {
 public:
  AString() = default;
  AString(const wchar_t* text);  // a null pointer gives the empty string
  AString(const wchar_t* text, size_t length);
  AString(const char* text);  // widened byte by byte; a null pointer gives the empty string
  AString(const std::wstring& text);
  AString(std::wstring&& text) noexcept;
  AString(const AString&) = default;
  AString(AString&&) noexcept = default;

  AString& operator=(const AString&) = default;
  AString& operator=(AString&&) noexcept = default;
  AString& operator=(const wchar_t* text);
  AString& operator=(const char* text);

  // Widens the bytes of `bytes`, embedded NULs included.
  static AString FromBytes(std::string_view bytes);

  // Replaces the content with the printf-style formatting of the arguments; "%s" takes
  // `const wchar_t*` (see wide_format.h for the directives).
  AString& Format(const wchar_t* format, ...);
  AString& FormatV(const wchar_t* format, va_list args);

  // Negative, zero or positive like wcscmp; CompareNoCase folds ASCII letters only.
  int Compare(std::wstring_view other) const;
  int CompareNoCase(std::wstring_view other) const;

  // Whole-string wildcard matches; see wildcard.h for the pattern grammar and cost.
  bool Match(std::wstring_view pattern) const;
  bool MatchNoCase(std::wstring_view pattern) const;
  // As MatchNoCase, and on a match stores in `matches` the text each wildcard stood for, in
  // pattern order. `appendToMatches` false clears `matches` first; true appends to what is
  // there. On a mismatch nothing is added.
  bool MatchNoCase(std::wstring_view pattern, std::vector<AString>& matches,
                   bool appendToMatches) const;

  // Replaces `components` with the pieces between any of the characters of `delimiters`.
  // `keepEmpty` false drops empty pieces ("a//b" gives a, b); true keeps them ("a//b" gives
  // a, "", b). The empty string gives no pieces either way.
  void TokenizeString(const AString& delimiters, std::vector<AString>& components,
                      bool keepEmpty) const;

  // Removes ASCII white space (space, \t, \n, \v, \f, \r) from both ends, in place.
  AString& Trim();
  // From `position` to the end; empty when `position` is past the end.
  AString Mid(size_t position) const;
  // The first `count` characters, or the whole string when it is shorter.
  AString Left(size_t count) const;

  // Whole-text integer test: an optional leading '-' and digits of `base` (2..36), nothing
  // else, not even blanks. Accepted range -2147483648..4294967295; `value` receives the
  // number's 32-bit pattern (so "4294967295" gives -1). On false `value` is untouched.
  bool IsNumber(int32_t& value, int base = 10) const;

  // 8-bit copy: code points up to 255 become that byte, any other becomes '?'.
  std::string ASCII() const;
};

AString operator+(const AString& left, const AString& right);
AString operator+(const AString& left, const wchar_t* right);
AString operator+(const wchar_t* left, const AString& right);
AString operator+(const AString& left, wchar_t right);
