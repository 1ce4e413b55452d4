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
  struct Row {
    std::wstring got;
    const wchar_t* want;
  };
  const Row rows[] = {
      {F(L"<%s> <%ls>", L"wide", L"too"), L"<wide> <too>"},
      {F(L"%s", nullText), L"(null)"},
      {F(L"%s", L"\x20AC\xE9"), L"\x20AC\xE9"},
      {F(L"%.3s|%6.2s|%-4s|", L"abcdef", L"xyz", L"ab"), L"abc|    xy|ab  |"},
      {F(L"%c%c%3c", L'x', 0x20AC, L'y'), L"x\x20AC  y"},
      {F(L"%d %i %5d|%-5d|%05d", -5, 7, 42, 42, 42), L"-5 7    42|42   |00042"},
      {F(L"%+d % d %.3d", 3, 3, 7), L"+3  3 007"},
      {F(L"%u %x %X %#o %#x", 4294967295u, 255u, 255u, 8u, 255u), L"4294967295 ff FF 010 0xff"},
      {F(L"%hd %hhu %hhd", 70000, 300, 255), L"4464 44 -1"},
      {F(L"%ld %lld", LONG_MIN, LLONG_MAX), L"-9223372036854775808 9223372036854775807"},
      {F(L"%zu %zd %llx", SIZE_MAX, static_cast<ssize_t>(-2), ULLONG_MAX),
       L"18446744073709551615 -2 ffffffffffffffff"},
      {F(L"%*d|%-*d|%.*f|%*d", 4, 1, 3, 2, 2, 3.14159, -3, 7), L"   1|2  |3.14|7  "},
      {F(L"%.2e %g %8.3f %G", 12345.678, 0.5, -1.0, 1e-10), L"1.23e+04 0.5   -1.000 1E-10"},
      {F(L"%p %p", reinterpret_cast<void*>(0x10), nullptr), L"0x10 (nil)"},
      {F(L"100%% %q %d", 5), L"100% %q 5"},
      {F(L"cut %"), L"cut %"},
      {F(L"cut %-5"), L"cut %-5"}};
  for (const Row& row : rows) EXPECT_EQ(row.got, row.want);
}

TEST(WideFormatTest, LongArgumentsAreFormattedWhole) {
  const std::wstring big(1000000, L'x');
  const std::wstring out = AString().Format(L"<%s>", big.c_str());
  ASSERT_EQ(out.size(), big.size() + 2);
  EXPECT_EQ(out.substr(0, 3), L"<xx");
  EXPECT_EQ(out.substr(out.size() - 3), L"xx>");
  EXPECT_EQ(F(L"%300d|", 1).size(), 301u);
}

}  // namespace
