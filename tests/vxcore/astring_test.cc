#include "vxcore/astring.h"

#include <gtest/gtest.h>

namespace {

TEST(AStringTest, EightBitTextRoundTripsByteForByte) {
  std::string allBytes;
  for (int b = 1; b < 256; ++b) allBytes.push_back(static_cast<char>(b));
  const AString wide(allBytes.c_str());
  ASSERT_EQ(wide.size(), 255u);
  EXPECT_EQ(wide[0xE8], L'\xE9');  // no sign extension of bytes above 127
  EXPECT_EQ(wide.ASCII(), allBytes);
  EXPECT_EQ(AString(L"a\x20AC").ASCII(), "a?");
}

TEST(AStringTest, CompareNoCaseFoldsAsciiLettersOnly) {
  // {left, right, sign of the result}; bytes above 127 (UTF-8 or Latin-1 é/É) and the
  // non-letters '@'/'`' differ by the case bit but must not fold.
  const std::tuple<const char*, const char*, int> rows[] = {{"TempDirectory", "tempdirectory", 0},
                                                            {"caf\xC3\xA9", "CAF\xC3\xA9", 0},
                                                            {"abc", "ABD", -1},
                                                            {"abc", "AB", 1},
                                                            {"@", "`", -1},
                                                            {"\xC3\xA9", "\xC3\x89", 1},
                                                            {"\xE9", "\xC9", 1}};
  for (const auto& [left, right, sign] : rows) {
    const int result = AString(left).CompareNoCase(AString(right));
    EXPECT_EQ((result > 0) - (result < 0), sign) << left << " vs " << right;
  }
  EXPECT_NE(AString("abc").Compare(L"ABC"), 0);
}

TEST(AStringTest, IsNumberAcceptsWholeDecimalTextInThe32BitRange) {
  const std::pair<const wchar_t*, int32_t> accepted[] = {{L"0", 0},
                                                         {L"42", 42},
                                                         {L"01", 1},
                                                         {L"-0", 0},
                                                         {L"-1", -1},
                                                         {L"2147483647", INT32_MAX},
                                                         {L"2147483648", INT32_MIN},
                                                         {L"4294967295", -1},
                                                         {L"-2147483648", INT32_MIN}};
  for (const auto& [text, expected] : accepted) {
    int32_t value = 12345;
    EXPECT_TRUE(AString(text).IsNumber(value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  const wchar_t* rejected[] = {L"4294967296", L"-2147483649", L"99999999999999999999999",
                               L"",           L"-",           L"+1",
                               L" 1",         L"1 ",          L"1a",
                               L"--1",        L"0x10"};
  for (const wchar_t* text : rejected) {
    int32_t value = 12345;
    EXPECT_FALSE(AString(text).IsNumber(value)) << text;
    EXPECT_EQ(value, 12345) << text;
  }
  int32_t hex = 0;
  EXPECT_TRUE(AString(L"fF").IsNumber(hex, 16));
  EXPECT_EQ(hex, 255);
}

TEST(AStringTest, TokenizeStringDropsOrKeepsEmptyComponents) {
  const std::tuple<const wchar_t*, bool, std::vector<AString>> rows[] = {
      {L"Desktop/Options\\Size", false, {L"Desktop", L"Options", L"Size"}},
      {L"/a//b\\", false, {L"a", L"b"}},
      {L"/a//b\\", true, {L"", L"a", L"", L"b", L""}},
      {L"//", false, {}},
      {L"", true, {}},
      {L"plain", true, {L"plain"}}};
  for (const auto& [text, keepEmpty, expected] : rows) {
    std::vector<AString> parts = {L"stale"};
    AString(text).TokenizeString(L"\\/", parts, keepEmpty);
    EXPECT_EQ(parts, expected) << text << " keepEmpty=" << keepEmpty;
  }
}

TEST(AStringTest, TrimAndSubstringsStayInBounds) {
  EXPECT_EQ(AString(L" \t a b \r\n").Trim(), L"a b");
  EXPECT_EQ(AString(L" \n ").Trim(), L"");
  // UTF-8 "à" ends in byte 0xA0, which Latin-1 calls a no-break space: it must stay.
  EXPECT_EQ(AString(" \xC3\xA0 ").Trim(), AString("\xC3\xA0"));
  EXPECT_EQ(AString(L"abc").Mid(1), L"bc");
  EXPECT_EQ(AString(L"abc").Mid(4), L"");
  EXPECT_EQ(AString(L"abc").Left(9), L"abc");
}

TEST(AStringTest, FormatMayReadItsOwnContent) {
  AString text(L"abc");
  text.Format(L"<%s|%s>", text.c_str(), text.c_str());
  EXPECT_EQ(text, L"<abc|abc>");
}

TEST(AStringTest, MatchNoCaseListFlagClearsOrAppends) {
  std::vector<AString> matches = {L"old"};
  EXPECT_TRUE(AString(L"Desktop/Item7").MatchNoCase(L"desktop/*", matches, true));
  EXPECT_EQ(matches, (std::vector<AString>{L"old", L"Item7"}));
  EXPECT_TRUE(AString(L"Desktop/Item7").MatchNoCase(L"DESKTOP/item?", matches, false));
  EXPECT_EQ(matches, (std::vector<AString>{L"7"}));
  EXPECT_FALSE(AString(L"Other").MatchNoCase(L"desktop/*", matches, false));
  EXPECT_TRUE(matches.empty());
}

}  // namespace
