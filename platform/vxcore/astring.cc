#include "vxcore/astring.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "vxcore/ascii_case.h"
#include "vxcore/wide_format.h"
#include "vxcore/wildcard.h"

namespace {

bool IsAsciiSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

int DigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  const wchar_t folded = core::FoldAsciiCase(c);
  if (folded >= L'a' && folded <= L'z') return folded - L'a' + 10;
  return -1;
}

}  // namespace

AString::AString(const wchar_t* text) {
  if (text != nullptr) assign(text);
}

AString::AString(const wchar_t* text, size_t length) : std::wstring(text, length) {}

AString::AString(const char* text) {
  if (text != nullptr) *this = FromBytes(text);
}

AString::AString(const std::wstring& text) : std::wstring(text) {}

AString::AString(std::wstring&& text) noexcept : std::wstring(std::move(text)) {}

AString& AString::operator=(const wchar_t* text) {
  if (text == nullptr) {
    clear();
  } else {
    assign(text);
  }
  return *this;
}

AString& AString::operator=(const char* text) {
  if (text == nullptr) {
    clear();
  } else {
    *this = FromBytes(text);
  }
  return *this;
}

AString AString::FromBytes(std::string_view bytes) {
  AString wide;
  wide.resize(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) wide[i] = static_cast<unsigned char>(bytes[i]);
  return wide;
}

AString& AString::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
  return *this;
}

AString& AString::FormatV(const wchar_t* format, va_list args) {
  // Format into a fresh string: an argument may point into this one.
  std::wstring result;
  core::AppendFormatV(result, format, args);
  assign(std::move(result));
  return *this;
}

int AString::Compare(std::wstring_view other) const {
  return std::wstring_view(*this).compare(other);
}

int AString::CompareNoCase(std::wstring_view other) const {
  const size_t common = std::min(size(), other.size());
  for (size_t i = 0; i < common; ++i) {
    const wchar_t a = core::FoldAsciiCase((*this)[i]);
    const wchar_t b = core::FoldAsciiCase(other[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (size() == other.size()) return 0;
  return size() < other.size() ? -1 : 1;
}

bool AString::Match(std::wstring_view pattern) const {
  return core::WildcardMatch(pattern, *this, false);
}

bool AString::MatchNoCase(std::wstring_view pattern) const {
  return core::WildcardMatch(pattern, *this, true);
}

bool AString::MatchNoCase(std::wstring_view pattern, std::vector<AString>& matches,
                          bool appendToMatches) const {
  if (!appendToMatches) matches.clear();
  std::vector<std::wstring_view> captures;
  if (!core::WildcardCapture(pattern, *this, true, captures)) return false;
  for (std::wstring_view capture : captures) matches.emplace_back(capture.data(), capture.size());
  return true;
}

void AString::TokenizeString(const AString& delimiters, std::vector<AString>& components,
                             bool keepEmpty) const {
  components.clear();
  if (empty()) return;
  size_t start = 0;
  while (true) {
    const size_t end = find_first_of(delimiters, start);
    const size_t stop = end == npos ? size() : end;
    if (keepEmpty || stop > start) components.emplace_back(data() + start, stop - start);
    if (end == npos) return;
    start = end + 1;
  }
}

AString& AString::Trim() {
  size_t end = size();
  while (end > 0 && IsAsciiSpace((*this)[end - 1])) --end;
  size_t begin = 0;
  while (begin < end && IsAsciiSpace((*this)[begin])) ++begin;
  erase(end);
  erase(0, begin);
  return *this;
}

AString AString::Mid(size_t position) const {
  if (position >= size()) return AString();
  return AString(substr(position));
}

AString AString::Left(size_t count) const { return AString(substr(0, count)); }

bool AString::IsNumber(int32_t& value, int base) const {
  if (base < 2 || base > 36) return false;
  const bool negative = !empty() && front() == L'-';
  const size_t first = negative ? 1 : 0;
  if (first == size()) return false;
  const uint64_t limit = negative ? uint64_t{1} << 31 : std::numeric_limits<uint32_t>::max();
  uint64_t magnitude = 0;
  for (size_t i = first; i < size(); ++i) {
    const int digit = DigitValue((*this)[i]);
    if (digit < 0 || digit >= base) return false;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (magnitude > limit) return false;
  }
  const uint32_t pattern = static_cast<uint32_t>(negative ? 0 - magnitude : magnitude);
  value = static_cast<int32_t>(pattern);
  return true;
}

std::string AString::ASCII() const {
  std::string bytes(size(), '\0');
  for (size_t i = 0; i < size(); ++i) {
    const wchar_t c = (*this)[i];
    bytes[i] = c >= 0 && c <= 0xFF ? static_cast<char>(static_cast<unsigned char>(c)) : '?';
  }
  return bytes;
}

AString operator+(const AString& left, const AString& right) {
  AString result(left);
  result.append(right);
  return result;
}

AString operator+(const AString& left, const wchar_t* right) {
  AString result(left);
  result.append(right);
  return result;
}

AString operator+(const wchar_t* left, const AString& right) {
  AString result(left);
  result.append(right);
  return result;
}

AString operator+(const AString& left, wchar_t right) {
  AString result(left);
  result.push_back(right);
  return result;
}
