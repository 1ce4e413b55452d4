#include "vxcore/wildcard.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "vxcore/astring.h"

namespace {

using core::WildcardCapture;
using core::WildcardMatch;

TEST(WildcardTest, MatchesWholeStrings) {
  // {pattern, text, case-sensitive result, case-insensitive result}; the random test below
  // covers the case-sensitive grammar more widely. "a\\" ends in a lone backslash.
  const std::tuple<const wchar_t*, const wchar_t*, bool, bool> rows[] = {
      {L"", L"", true, true},
      {L"", L"a", false, false},
      {L"*", L"", true, true},
      {L"?", L"", false, false},
      {L"abc", L"ABC", false, true},
      {L"A?c", L"abC", false, true},
      {L"*.XML", L"admin.xml", false, true},
      {L"\\*", L"*", true, true},
      {L"a\\", L"A\\", false, true},
      {L"\xC9*", L"\xE9t\xE9", false, false}};
  for (const auto& [pattern, text, match, matchNoCase] : rows) {
    EXPECT_EQ(AString(text).Match(pattern), match) << pattern << " " << text;
    EXPECT_EQ(AString(text).MatchNoCase(pattern), matchNoCase) << pattern << " " << text;
    std::vector<std::wstring_view> captures;
    EXPECT_EQ(WildcardCapture(pattern, text, true, captures), matchNoCase) << pattern;
  }
}

TEST(WildcardTest, CapturesEachWildcardShortestFirst) {
  const std::tuple<const wchar_t*, const wchar_t*, std::vector<std::wstring_view>> rows[] = {
      {L"Desktop/ZSRConfigurations/*", L"desktop/zsrconfigurations/Item7", {L"Item7"}},
      {L"*/*", L"a/b/c", {L"a", L"b/c"}},
      {L"?*?", L"abcd", {L"a", L"bc", L"d"}},
      {L"a*b?", L"aXbYbZ", {L"XbY", L"Z"}},
      {L"\\**\\?", L"*ab?", {L"ab"}},
      {L"**", L"ab", {L"", L"ab"}},
      {L"abc", L"ABC", {}}};
  for (const auto& [pattern, text, expected] : rows) {
    std::vector<std::wstring_view> captures = {L"stale"};
    EXPECT_TRUE(WildcardCapture(pattern, text, true, captures)) << pattern;
    EXPECT_EQ(captures, expected) << pattern;
  }
}

TEST(WildcardTest, ManyStarsStayPolynomial) {
  const AString text(std::wstring(10000, L'a'));
  const wchar_t* pattern = L"*a*a*a*a*a*a*a*a*b";
  EXPECT_FALSE(text.Match(pattern));
  std::vector<AString> matches;
  EXPECT_FALSE(text.MatchNoCase(pattern, matches, false));
}

// Exhaustive reference: tries every split.
bool ReferenceMatch(std::wstring_view p, std::wstring_view t) {
  if (p.empty()) return t.empty();
  if (p[0] == L'*') {
    for (size_t k = 0; k <= t.size(); ++k) {
      if (ReferenceMatch(p.substr(1), t.substr(k))) return true;
    }
    return false;
  }
  const size_t width = p[0] == L'\\' && p.size() > 1 ? 2 : 1;
  if (t.empty() || (p[0] != L'?' && p[width - 1] != t[0])) return false;
  return ReferenceMatch(p.substr(width), t.substr(1));
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
    const bool expected = ReferenceMatch(pattern, text);
    ASSERT_EQ(WildcardMatch(pattern, text, false), expected) << pattern << " / " << text;
    std::vector<std::wstring_view> captures;
    ASSERT_EQ(WildcardCapture(pattern, text, false, captures), expected) << pattern;
    if (!expected) continue;
    // The captures, put back in place of the wildcards, must rebuild the text.
    std::wstring rebuilt;
    size_t next = 0;
    for (size_t p = 0; p < pattern.size(); ++p) {
      if (pattern[p] == L'*' || pattern[p] == L'?') {
        rebuilt += captures.at(next++);
      } else {
        if (pattern[p] == L'\\' && p + 1 < pattern.size()) ++p;
        rebuilt += pattern[p];
      }
    }
    ASSERT_EQ(rebuilt, text) << pattern;
  }
}

}  // namespace
