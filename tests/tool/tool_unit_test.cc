// The tool's pure logic: key splitting and the alias table. The option grammar,
// messages and level names are checked end to end by the CLI tests.
#include <gtest/gtest.h>

#include <string>

#include "tool/key_operations.h"

namespace {

std::string N(const wchar_t* text) { return text == nullptr ? "(null)" : AString(text).ASCII(); }

TEST(SplitKeyPath, CutsAtLastSeparatorInPlace) {
  const wchar_t* rows[][3] = {
      {L"a\\b/c", L"a\\b", L"c"}, {L"c", L"", L"c"}, {L"/c", L"", L"/c"},
      {L"a/", L"a", L""},         {L"", L"", L""},
  };
  for (auto& [key, section, entry] : rows) {
    AString text = key;
    KeyPathParts parts = SplitKeyPath(text.data());
    EXPECT_EQ(N(parts.section) + "|" + N(parts.entry), N(section) + "|" + N(entry)) << N(key);
    // Commands rely on the argument reading as the section afterwards.
    if (*section != L'\0') {
      EXPECT_EQ(N(text.c_str()), N(section)) << N(key);
    }
  }
}

TEST(KeyAlias, RewritesOnlyTheLiteralPartsToTheAliasSpelling) {
  // "<declared type> <section>|<entry>"; type 0: no match, both stay as typed.
  auto alias = [](AString section, AString entry) {
    const int type = LookupKeyAlias(section, entry);
    return std::to_string(type) + " " + section.ASCII() + "|" + entry.ASCII();
  };
  EXPECT_EQ(alias(L"DESKTOP/zsrconfigurations", L"ITEMab"), "2 Desktop/ZSRConfigurations|Itemab");
  EXPECT_EQ(alias(L"desktop/zsrconfigurations", L"xItem1"), "0 desktop/zsrconfigurations|xItem1");
  EXPECT_EQ(alias(L"Desktop/ZSRConfigurations/Sub", L"Item1"),
            "0 Desktop/ZSRConfigurations/Sub|Item1");
  // Escapes and a missing match (which only reports an assertion to the debug log).
  EXPECT_EQ(SubstituteMatches(L"?x\\*\\", {L"1"}), L"1x*\\");
  EXPECT_EQ(SubstituteMatches(L"*/*", {L"one"}), L"one/");
}

}  // namespace
