// The tool's pure logic: key splitting, the alias table, the option grammar
// and its checks, level names. Nothing here touches a store.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tool/key_operations.h"
#include "tool/tool_options.h"
#include "vxcore/console_output.h"
#include "vxcore/tal_debug.h"

namespace {

std::string N(const wchar_t* text) { return text == nullptr ? "(null)" : AString(text).ASCII(); }

TEST(SplitKeyPath, CutsAtLastSeparatorInPlace) {
  const wchar_t* rows[][3] = {
      {L"a/b/c", L"a/b", L"c"}, {L"a\\b", L"a", L"b"}, {L"c", L"", L"c"},
      {L"/c", L"", L"/c"},      {L"a/", L"a", L""},    {L"a\\b/c\\d", L"a\\b/c", L"d"},
      {L"", L"", L""},          {L"//", L"/", L""},
  };
  for (auto& [key, section, entry] : rows) {
    AString text = key;
    KeyPathParts parts = SplitKeyPath(text.data());
    EXPECT_EQ(N(parts.section), N(section)) << N(key);
    EXPECT_EQ(N(parts.entry), N(entry)) << N(key);
    // Commands rely on the argument reading as the section afterwards.
    if (*section != L'\0') {
      EXPECT_EQ(N(text.c_str()), N(section)) << N(key);
    }
  }
}

TEST(SubstituteMatches, FillsWildcardsAndReportsMissingMatches) {
  struct Row {
    const wchar_t* pattern;
    std::vector<AString> matches;
    const wchar_t* expected;
    int reports;
  } rows[] = {
      {L"a\\*b", {}, L"a*b", 0},         {L"Item*", {L"12"}, L"Item12", 0},
      {L"?x*", {L"1", L"2"}, L"1x2", 0}, {L"a\\", {}, L"a\\", 0},
      {L"\\\\*", {L"z"}, L"\\z", 0},     {L"*/*", {L"one"}, L"one/", 1},
  };
  // Assertion reports go to the debug log; point it at a file to count them.
  const std::string log = "/tmp/tool_unit_log." + std::to_string(getpid());
  setenv("TALVEN_DEBUG_LEVEL", "1", 1);
  setenv("TALVEN_DEBUG_FILE", log.c_str(), 1);
  for (const Row& row : rows) {
    unlink(log.c_str());
    my_tal_debug_data.ReloadFromEnvironment();
    EXPECT_EQ(N(SubstituteMatches(row.pattern, row.matches).c_str()), N(row.expected));
    std::ostringstream text;
    text << std::ifstream(log).rdbuf();
    // One line per report; nothing else logs at level 1 here.
    const std::string lines = text.str();
    const int reports = static_cast<int>(std::count(lines.begin(), lines.end(), '\n'));
    EXPECT_EQ(reports, row.reports) << N(row.pattern);
  }
  unsetenv("TALVEN_DEBUG_LEVEL");
  unsetenv("TALVEN_DEBUG_FILE");
  my_tal_debug_data.ReloadFromEnvironment();
  unlink(log.c_str());
}

TEST(KeyAlias, RewritesToAliasSpellingOrLeavesUntouched) {
  struct Row {
    const wchar_t *section, *entry;
    int type;  // 0: no match, and both stay as typed
    const wchar_t *newSection, *newEntry;
  } rows[] = {
      {L"desktop/zsrconfigurations", L"item7", 2, L"Desktop/ZSRConfigurations", L"Item7"},
      {L"DESKTOP/ZSRCONFIGURATIONS", L"ITEMab", 2, L"Desktop/ZSRConfigurations", L"Itemab"},
      {L"Desktop/ZSRConfigurations", L"Item", 2, L"Desktop/ZSRConfigurations", L"Item"},
      {L"desktop/zsrconfigurations", L"xItem1", 0, L"desktop/zsrconfigurations", L"xItem1"},
      {L"Desktop/ZSRConfigurations/Sub", L"Item1", 0, L"Desktop/ZSRConfigurations/Sub", L"Item1"},
      {L"Desktop", L"ZSRConfigurations", 0, L"Desktop", L"ZSRConfigurations"},
  };
  for (const Row& row : rows) {
    int type = -9;
    AString newSection, newEntry;
    EXPECT_EQ(MatchKeyAlias(KeyAliasTable[0], row.section, row.entry, type, newSection, newEntry),
              row.type != 0)
        << N(row.entry);
    AString section = row.section, entry = row.entry;
    EXPECT_EQ(LookupKeyAlias(section, entry), row.type) << N(row.entry);
    EXPECT_EQ(N(section.c_str()), N(row.newSection));
    EXPECT_EQ(N(entry.c_str()), N(row.newEntry));
  }
}

TEST(LevelNames, NumbersAndNames) {
  // clang-format off
  std::pair<const wchar_t*, int> rows[] = {{L"user_machine", 1}, {L"USER", 2},
      {L"Install_Machine", 3}, {L"install", 4}, {L"ADMIN", 5}, {L"machine", 0}, {L"", 0},
      {L"user ", 0}};
  const char* names[] = {"unknown", "not found", "user_machine", "user", "install_machine",
                         "install", "admin", "unknown"};
  // clang-format on
  for (auto& [name, level] : rows) EXPECT_EQ(LevelFromName(name), level) << N(name);
  for (int level = -1; level <= 6; ++level) EXPECT_EQ(LevelName(level).ASCII(), names[level + 1]);
  EXPECT_EQ(ValueTypeName(2).ASCII() + ValueTypeName(4).ASCII() + ValueTypeName(0).ASCII(),
            "stringintegerunknown");
}

class StringSink : public core::OutputSink {
 public:
  void Write(const char* data, size_t size) override { text.append(data, size); }
  std::string text;
};

struct Parsed {
  std::string output;
  ToolOptions record;
  std::vector<AString> args;
};

// The test binary's folder holds no product list, so every product counts as installed.
void Parse(Parsed& parsed, const std::vector<std::string>& argv) {
  for (const std::string& arg : argv) parsed.args.push_back(AString::FromBytes(arg));
  StringSink sink;
  core::OutputSink* previous = core::SetOutputSink(&sink);
  ParseOptions(parsed.record, static_cast<int>(parsed.args.size()), parsed.args.data());
  core::SetOutputSink(previous);
  parsed.output = sink.text;
}

// Messages are compared end to end by the CLI tests; these rows pin what the
// driver decides on: the value count, the command and the slots.
TEST(ParseOptions, CountCommandAndSlots) {
  struct Row {
    std::vector<std::string> argv;
    std::string output;
    int valueCount, command, slot;  // slot -1: none checked
    const char* slotValue;
  } rows[] = {
      // clang-format off
      {{"-get", "-ProductName", "P", "-RegistryKey", "k"}, "", 2, CommandGet, SlotRegistryKey, "k"},
      {{"/GET", "/productname", "P", "-REGISTRYKEY", "/c"}, "", 2, CommandGet, SlotRegistryKey,
       "/c"},
      {{"-Set", "-ProductName", "P", "-RegistryKey", "k", "/RegistryValue", "-5"}, "", 3,
       CommandSet, SlotRegistryValue, "-5"},
      {{"-Delete", "-ProductName", "P", "-RegistryKey", "", "-RegistryLevel", "x"}, "", 3,
       CommandDelete, SlotRegistryKey, ""},
      {{"-GetKeys", "Item*", "-ProductName", "P"}, "", 2, CommandGetKeys, SlotGetKeysPattern,
       "Item*"},
      {{"-GetKeys", "/x", "-ProductName", "P"}, "Unkown option <x> is ignored\n", 1, CommandGetKeys,
       SlotGetKeysPattern, nullptr},
      {{"-Get", "-Set", "-ProductName", "P", "-ProductName", "Q", "-RegistryKey", "k",
        "-RegistryValue", "v"}, "", 4, CommandSet, SlotProductName, "Q"},
      {{"-Help", "-Get", "-ProductName", "P", "-RegistryKey", "k"}, "", 2, CommandGet, -1, nullptr},
      {{"-GetKeys", "-Case", "-ProductName", "P"}, "Option -Case ignored; it is valid only if a "
       "pattern is specified with the -GetKeys command\n", 1, CommandGetKeys, -1, nullptr},
      {{"-Set", "-Case", "-ProductName", "P", "-RegistryKey", "k", "-RegistryValue", "v"}, "", 3,
       CommandSet, -1, nullptr},
      // clang-format on
  };
  for (const Row& row : rows) {
    std::string where;
    for (const std::string& arg : row.argv) where += " " + arg;
    Parsed parsed;
    Parse(parsed, row.argv);
    EXPECT_EQ(parsed.output, row.output) << where;
    EXPECT_EQ(parsed.record.valueCount, row.valueCount) << where;
    EXPECT_EQ(parsed.record.command, row.command) << where;
    if (row.slot >= 0) {
      EXPECT_EQ(N(parsed.record.values[row.slot]), row.slotValue ? row.slotValue : "(null)")
          << where;
    }
  }
}

TEST(ParseOptions, MegabyteValuePointsIntoItsArgument) {
  Parsed parsed;
  Parse(parsed, {"-Set", "-ProductName", "P", "-RegistryKey", "k", "-RegistryValue",
                 std::string(1 << 20, 'v')});
  EXPECT_EQ(parsed.output, "");
  EXPECT_EQ(parsed.record.valueCount, 3);
  EXPECT_EQ(parsed.record.values[SlotRegistryValue], parsed.args[6].data());
}

}  // namespace
