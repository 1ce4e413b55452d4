#include "vxcore/wildcard.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "vxcore/astring.h"

namespace {

using core::WildcardCapture;
using core::WildcardMatch;

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
