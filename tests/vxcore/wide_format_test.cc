#include "vxcore/wide_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "vxcore/astring.h"

namespace {

std::wstring F(const wchar_t* format, ...) {
  std::wstring out;
  va_list args;
  va_start(args, format);
  core::AppendFormatV(out, format, args);
  va_end(args);
  return out;
}

TEST(WideFormatTest, DirectivesFormatLikePrintf) {
  const wchar_t* nullText = nullptr;
  const std::pair<std::wstring, const wchar_t*> rows[] = {
      {F(L"<%s> <%ls> %s %s", L"wide", L"too", nullText, L"\x20AC\xE9"),
       L"<wide> <too> (null) \x20AC\xE9"},
      {F(L"%.3s|%6.2s|%-4s|", L"abcdef", L"xyz", L"ab"), L"abc|    xy|ab  |"},
      {F(L"%c%c%3c", L'x', 0x20AC, L'y'), L"x\x20AC  y"},
      {F(L"%i %-5d|%05d %+d %u %#x", -5, 42, 42, 3, 4294967295u, 255u),
       L"-5 42   |00042 +3 4294967295 0xff"},
      // Length modifiers pick the argument's width and truncate as printf does.
      {F(L"%hd %hhu %hhd", 70000, 300, 255), L"4464 44 -1"},
      {F(L"%ld %lld", LONG_MIN, LLONG_MAX), L"-9223372036854775808 9223372036854775807"},
      {F(L"%zu %zd %llx", SIZE_MAX, static_cast<ssize_t>(-2), ULLONG_MAX),
       L"18446744073709551615 -2 ffffffffffffffff"},
      {F(L"%*d|%-*d|%.*f|%*d", 4, 1, 3, 2, 2, 3.14159, -3, 7), L"   1|2  |3.14|7  "},
      {F(L"%.2e %G %p", 12345.678, 1e-10, reinterpret_cast<void*>(0x10)), L"1.23e+04 1E-10 0x10"},
      {F(L"100%% %q %d", 5), L"100% %q 5"},
      {F(L"cut %-5"), L"cut %-5"}};
  for (const auto& [got, want] : rows) EXPECT_EQ(got, want);
}

TEST(WideFormatTest, EightBitTextInAndOut) {
  std::string out = "x";
  core::AppendFormat(out, L"<%s|%hs|%.2hs|%-4hs|%d>", L"\x20AC\xE9", "b\xE9", "abc", "z", -1);
  EXPECT_EQ(out, "x<?\xE9|b\xE9|ab|z   |-1>");
  EXPECT_EQ(F(L"%hs|%5hs", "\xE9", "ab"), L"\xE9|   ab");
}

TEST(WideFormatTest, LongArgumentsAreFormattedWhole) {
  const std::wstring big(1000000, L'x');
  const std::wstring out = AString().Format(L"<%s>", big.c_str());
  ASSERT_EQ(out.size(), big.size() + 2);
  EXPECT_EQ(out.substr(out.size() - 3), L"xx>");
  EXPECT_EQ(F(L"%300d|", 1).size(), 301u);
}

}  // namespace
