// AString, its wildcard matching, the printf-like formatting it and the
// console use, and folder and file names built from it.
#include "vxcore/astring.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>

#include "vxcore/file_utilities.h"
#include "vxcore/long_file_name.h"
#include "vxcore/wide_format.h"
#include "vxcore/wildcard.h"

namespace {

using core::WildcardCapture;
using core::WildcardMatch;

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
  // Only ASCII letters fold, as in the wildcard test.
  EXPECT_EQ(sign("@", "`"), -1);
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
      {F(L"cut %-5"), L"cut %-5"},
      {F(L"%hs|%5hs", "\xE9", "ab"), L"\xE9|   ab"}};  // 8-bit text in
  for (const auto& [got, want] : rows) EXPECT_EQ(got, want);
}

TEST(WideFormatTest, EightBitTextOutAndLongArgumentsWhole) {
  std::string out = "x";
  core::AppendFormat(out, L"<%s|%hs|%.2hs|%-4hs|%d>", L"\x20AC\xE9", "b\xE9", "abc", "z", -1);
  EXPECT_EQ(out, "x<?\xE9|b\xE9|ab|z   |-1>");
  const std::wstring big(1000000, L'x');
  const std::wstring formatted = AString().Format(L"<%s>", big.c_str());
  ASSERT_EQ(formatted.size(), big.size() + 2);
  EXPECT_EQ(formatted.substr(formatted.size() - 3), L"xx>");
  EXPECT_EQ(F(L"%300d|", 1).size(), 301u);
}

TEST(PathsTest, FoldersAreCanonicalAndOnlyTheLeafTakesTheExtension) {
  for (const auto& [input, expected] :
       {std::pair{L"", L""}, {L"/", L"/"}, {L"C:\\T\\\\t", L"C:/T/t/"}}) {
    AString folder(input);
    CFileUtilities::SetProperDirectoryName(folder);
    EXPECT_EQ(folder, expected) << input;
  }
  // {folder, name, resulting path}
  for (const auto& [folder, name, expected] :
       {std::tuple{L"/opt/app.v2", L"default", L"/opt/app.v2/default.XML"},
        {L"C:\\cfg", L"x.old.bak", L"C:/cfg/x.old.XML"}}) {
    LongFileName file(folder, name);
    file.ChangeExt(L"XML");
    EXPECT_EQ(file.FilePath(), expected) << folder << " + " << name;
  }
}

// The random test below covers the case-sensitive grammar; these rows are about folding.
TEST(WildcardTest, NoCaseFoldsAsciiLettersOnlyAndCaptures) {
  // Each text differs from its pattern in letter case; "a\\" ends in a lone backslash, and
  // É/é are no ASCII letters.
  for (const auto& [pattern, text, matchNoCase] : {std::tuple{L"A?c", L"abC", true},
                                                   {L"*.XML", L"admin.xml", true},
                                                   {L"a\\", L"A\\", true},
                                                   {L"\xC9*", L"\xE9t\xE9", false}}) {
    EXPECT_FALSE(AString(text).Match(pattern)) << pattern;
    EXPECT_EQ(AString(text).MatchNoCase(pattern), matchNoCase) << pattern;
  }
  std::vector<std::wstring_view> captures = {L"stale"};
  EXPECT_TRUE(WildcardCapture(L"Desktop/*/?", L"desktop/Item/7", true, captures));
  EXPECT_EQ(captures, (std::vector<std::wstring_view>{L"Item", L"7"}));
  EXPECT_TRUE(WildcardCapture(L"abc", L"ABC", true, captures));
  EXPECT_TRUE(captures.empty());
}

TEST(WildcardTest, ManyStarsStayPolynomial) {
  const AString text(std::wstring(10000, L'a'));
  const wchar_t* pattern = L"*a*a*a*a*a*a*a*a*b";
  EXPECT_FALSE(text.Match(pattern));
  std::vector<AString> matches;
  EXPECT_FALSE(text.MatchNoCase(pattern, matches, false));
}

// Exhaustive reference: tries every split, each wildcard taking as little as it can.
bool Reference(std::wstring_view p, std::wstring_view t, std::vector<std::wstring_view>& captures) {
  if (p.empty()) return t.empty();
  if (p[0] == L'*') {
    for (size_t k = 0; k <= t.size(); ++k) {
      captures.push_back(t.substr(0, k));
      if (Reference(p.substr(1), t.substr(k), captures)) return true;
      captures.pop_back();
    }
    return false;
  }
  const size_t width = p[0] == L'\\' && p.size() > 1 ? 2 : 1;
  if (t.empty() || (p[0] != L'?' && p[width - 1] != t[0])) return false;
  if (p[0] == L'?') captures.push_back(t.substr(0, 1));
  if (Reference(p.substr(width), t.substr(1), captures)) return true;
  if (p[0] == L'?') captures.pop_back();
  return false;
}

TEST(WildcardTest, AgreesWithExhaustiveSearchOnRandomInputs) {
  std::mt19937 random(20240607);
  auto randomText = [&](size_t maxSize) {
    std::wstring text(random() % (maxSize + 1), L' ');
    for (wchar_t& c : text) c = L"ab*?\\"[random() % 5];
    return text;
  };
  for (int i = 0; i < 3000; ++i) {
    const std::wstring pattern = randomText(7);
    const std::wstring text = randomText(8);
    std::vector<std::wstring_view> expected, captures;
    const bool matches = Reference(pattern, text, expected);
    ASSERT_EQ(WildcardMatch(pattern, text, false), matches) << pattern << " / " << text;
    ASSERT_EQ(WildcardCapture(pattern, text, false, captures), matches) << pattern;
    ASSERT_EQ(captures, expected) << pattern << " / " << text;  // both empty on a mismatch
  }
}

}  // namespace
