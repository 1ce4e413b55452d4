#include "vxcore/astring.h"

#include <gtest/gtest.h>

namespace {

TEST(AStringTest, EightBitTextSurvivesByteForByte) {
  std::string allBytes;
  for (int b = 1; b < 256; ++b) allBytes.push_back(static_cast<char>(b));
  const AString wide(allBytes.c_str());
  EXPECT_EQ(wide[0xE8], L'\xE9');  // no sign extension of bytes above 127
  EXPECT_EQ(wide.ASCII(), allBytes);
}

TEST(AStringTest, CompareNoCaseFoldsAsciiLettersOnly) {
  auto sign = [](const char* left, const char* right) {
    const int result = AString(left).CompareNoCase(AString(right));
    return (result > 0) - (result < 0);
  };
  EXPECT_EQ(sign("TempDirectory", "tempdirectory"), 0);
  EXPECT_EQ(sign("abc", "ABD"), -1);
  EXPECT_EQ(sign("abc", "AB"), 1);
  // These differ by the case bit but are no ASCII letters.
  EXPECT_EQ(sign("@", "`"), -1);
  EXPECT_EQ(sign("\xE9", "\xC9"), 1);
}

TEST(AStringTest, IsNumberAcceptsWholeDecimalTextInThe32BitRange) {
  // The value, or "no" when refused with the output left alone.
  auto parse = [](const wchar_t* text) -> std::string {
    int32_t value = 12345;
    if (AString(text).IsNumber(value)) return std::to_string(value);
    return value == 12345 ? "no" : "changed";
  };
  EXPECT_EQ(parse(L"-1"), "-1");
  EXPECT_EQ(parse(L"2147483647"), "2147483647");
  EXPECT_EQ(parse(L"2147483648"), "-2147483648");
  EXPECT_EQ(parse(L"4294967295"), "-1");
  EXPECT_EQ(parse(L"-2147483648"), "-2147483648");
  // The 23 digits overflow 64 bits too.
  for (const wchar_t* text : {L"4294967296", L"-2147483649", L"99999999999999999999999", L"", L"-",
                              L"+1", L" 1", L"1 "}) {
    EXPECT_EQ(parse(text), "no") << text;
  }
}

TEST(AStringTest, TokenizeTrimMidAndFormatStayInBounds) {
  std::vector<AString> parts = {L"stale"};
  AString(L"/a//b\\c\\").TokenizeString(L"\\/", parts, false);
  EXPECT_EQ(parts, (std::vector<AString>{L"a", L"b", L"c"}));
  EXPECT_EQ(AString(L" \t a b \r\n").Trim(), L"a b");
  EXPECT_EQ(AString(L" \n ").Trim(), L"");
  // UTF-8 "à" ends in byte 0xA0, which Latin-1 calls a no-break space: it must stay.
  EXPECT_EQ(AString(" \xC3\xA0 ").Trim(), AString("\xC3\xA0"));
  EXPECT_EQ(AString(L"abc").Mid(4), L"");
  AString text(L"abc");  // Format may read the string it replaces
  EXPECT_EQ(text.Format(L"<%s|%s>", text.c_str(), text.c_str()), L"<abc|abc>");
}

}  // namespace
