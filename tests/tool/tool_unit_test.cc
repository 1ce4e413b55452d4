// The tool's pure logic. The classic option grammar, messages and level
// names are checked end to end by the CLI tests.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "../support/files.h"
#include "cfgkit/xml_text.h"
#include "registry/byte_text.h"
#include "registry/settings_document.h"
#include "tool/json_output.h"
#include "tool/key_operations.h"
#include "tool/tool_options.h"

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

// Parses `line` (blank-separated) with the notes kept out of the test's output.
struct Parsed {
  explicit Parsed(const std::string& line) {
    for (size_t at = 0, end; at < line.size(); at = end + 1) {
      end = std::min(line.find(' ', at), line.size());
      args.push_back(AString::FromBytes(line.substr(at, end - at)));
    }
    JsonOutput notesKept;
    ParseOptions(options, static_cast<int>(args.size()), args.data());
    notes = JsonText(notesKept.TakeNotes());
  }
  std::vector<AString> args;
  ToolOptions options;
  std::string notes;
};

// Names are tested eight bytes at a time: the byte sought is found at every
// place in every length, and no other byte, high ones included, passes for it.
TEST(HoldsEither, FindsTheByteAtEveryPlaceAndNothingElse) {
  for (size_t size = 0; size <= 20; ++size) {
    const std::string plain(size, '\xAF');
    EXPECT_FALSE(HoldsEither(plain, '/', '\\')) << size;
    EXPECT_FALSE(HoldsEither(std::string(size, '.'), '/', '\0')) << size;
    for (size_t at = 0; at < size; ++at) {
      for (char sought : {'/', '\\', '\0'}) {
        std::string text = plain;
        text[at] = sought;
        EXPECT_TRUE(HoldsEither(text, sought, sought == '\0' ? '\0' : '/')) << size << " " << at;
      }
    }
  }
}

TEST(NewOptions, NameTheirCommandAndFlagsAndFlagWhatDoesNotBelong) {
  // The -Json runs check the misplaced options they report, notes and all.
  // {line, command, json, all levels, dry run, misplaced}
  const std::tuple<const char*, int, bool, bool, bool, bool> rows[] = {
      {"-Get -ProductName P -RegistryKey K -ALLLEVELS /json", CommandGet, true, true, false, false},
      {"-Import - -ProductName P -DryRun", CommandImport, false, false, true, false},
      {"-ProductName P -Import -Json", CommandImport, false, false, false, false},
      {"-GetKeys -ProductName P -AllLevels", CommandGetKeys, false, true, false, true},
      // With a newer option, a value the command would ignore and a second
      // command anywhere on the line are mistakes; the classic lines go on.
      {"-Check -ProductName P -RegistryLevel user", CommandCheck, false, false, false, true},
      {"-Export -ProductName P -RegistryKey K", CommandExport, false, false, false, true},
      {"-Import f -ProductName P -ValueType 2", CommandImport, false, false, false, true},
      {"-Import f -ProductName P -RegistryLevel user /json", CommandImport, true, false, false, false},
      {"-Get -ProductName P -RegistryKey K -Json -RegistryValue v", CommandGet, true, false, false, true},
      {"-Get -ProductName P -RegistryKey K -RegistryValue v", CommandGet, false, false, false, false},
      {"-Import f -Set -ProductName P -RegistryKey K -RegistryValue v", CommandSet, false, false, false, true},
      {"-Import f -Import g -ProductName P -DryRun", CommandImport, false, false, true, true},
      {"-Get -ProductName P -RegistryKey K -RegistryKey L /JSON", CommandGet, true, false, false, true},
      {"-Get -ProductName P -RegistryKey K -RegistryKey L", CommandGet, false, false, false, false},
      {"-Get -Get -ProductName P -RegistryKey K /json", CommandGet, true, false, false, true},
      {"-Get -Get -ProductName P -RegistryKey K", CommandGet, false, false, false, false},
      {"-Get -ProductName P -RegistryKey K -Json -Help", CommandHelp, true, false, false, true},
      {"-Help -DryRun", CommandHelp, false, false, true, true},
      {"-Help -All -RegistryValue v", CommandHelp, false, false, false, true},
      {"-Help -RegistryValue v", CommandHelp, false, false, false, false},
      {"-Get -ProductName P -RegistryKey K stray -AllLevels", CommandGet, false, false, false, true},
  };
  for (const auto& [line, command, json, allLevels, dryRun, misplaced] : rows) {
    Parsed parsed(line);
    const ToolOptions& o = parsed.options;
    EXPECT_EQ(std::tuple(o.command, o.json, o.allLevels, o.dryRun, o.misplacedOption),
              std::tuple(command, json, allLevels, dryRun, misplaced))
        << line << " " << parsed.notes;
    EXPECT_EQ(o.misplacedOption, parsed.notes != "[]") << line << " " << parsed.notes;
  }
  // The file of -Import is taken whatever it begins with.
  EXPECT_EQ(N(Parsed("-ProductName P -Import -Json").options.values[SlotImportFile]), "-Json");
  EXPECT_EQ(N(Parsed("-Export Desk* -ProductName P").options.values[SlotGetKeysPattern]), "Desk*");
}

TEST(JsonStrings, EveryByteStringComesBackWhole) {
  const std::string corpus[] = {
      "",
      "plain",
      "quote \" and \\ back",
      std::string("nul\0inside", 10),
      "\x01\x1f\x7f",
      "tab\tline\ncr\r",
      "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
      "\xff",
      "\xc0\xaf",
      "\xed\xa0\x80",
      "\xf4\x90\x80\x80",
      "\xe2\x82",
      "\xc3",
  };
  std::vector<std::string> texts;
  for (const std::string& bytes : corpus) {
    // Also inside longer texts, where eight bytes are read at once around them.
    texts.insert(texts.end(), {bytes, "abcdefgh" + bytes + "ijklmnopq", "abc" + bytes + "defghij"});
  }
  // What the document writer prints, through the sink -Json prints to.
  struct Printed : core::OutputSink {
    void Write(const char* data, size_t size) override { text.append(data, size); }
    std::string text;
  };
  for (const std::string& bytes : texts) {
    Printed printed;
    core::OutputSink* previous = core::SetOutputSink(&printed);
    {
      JsonOutput json;
      JsonBlocks blocks(json);
      blocks.Put(std::string_view("{"));
      blocks.PutBytesField("value", bytes);
      blocks.Put(std::string_view("}"));
      blocks.Finish();
    }
    core::SetOutputSink(previous);
    const std::string& text = printed.text;
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << text;
    std::string back = parsed.contains("value")
                           ? parsed["value"].get<std::string>()
                           : *cfgkit::HexDecode(parsed["value_hex"].get<std::string>());
    EXPECT_EQ(back, bytes) << text;
    EXPECT_EQ(parsed.contains("value"), IsValidUtf8(bytes)) << text;
    Json object = Json::object();
    PutBytes(object, "value", bytes);
    EXPECT_EQ(JsonText(object), text);
  }
}

std::string DocumentLines(const std::string& xml) {
  const testsupport::TempDir dir;
  testsupport::WriteFile(dir.path + "/document.xml", xml);
  std::vector<DocumentEntry> entries;
  const DocumentProblem problem = ReadSettingsDocument(dir.path + "/document.xml", &entries);
  if (!problem.ok()) return problem.reason;
  std::string lines;
  for (const DocumentEntry& e : entries) {
    lines += (e.isRemoval ? (e.removesKey ? "-key " : "-value ") : std::to_string(e.type) + " ") +
             e.section + "|" + e.name + (e.isRemoval ? "" : "=" + e.text) + "\n";
  }
  return lines;
}

TEST(SettingsDocument, ReadsValuesAndRemovalsOrSaysWhereItIsDamaged) {
  EXPECT_EQ(DocumentLines("<key name='Any'><value name='Top' type='int'>-1</value>"
                          "<key name='A'><key name='B'><value name='S' type='string'>x</value>"
                          "<delete type='value' name='Old'/></key>"
                          "<delete type='key' hexname='4b'/></key></key>"),
            "-key A|K\n-value A/B|Old\n4 |Top=-1\n2 A/B|S=x\n");
  EXPECT_EQ(DocumentLines(" \n\t"), "");
  EXPECT_EQ(DocumentLines("<key/>"), "");
  // The column is where the element's name begins.
  const std::pair<std::string, const char*> damaged[] = {
      {"<key>\n  <value name='a' type='int'>x</value></key>", "line 2, column 4: int value"},
      {"<key>\n<delete name='a'/></key>", "line 2, column 2: a <delete> needs type"},
      {"<key><delete type='value' name='a'>t</delete></key>", "line 1, column 7: a <delete> has"},
      {"<key>\n\n <key name='a'></key>", "line 3, column "},
      {"<key><key name='a/b'/></key>", "line 1, column 7: invalid key name"},
      // Found before any line: the encoding.
      {std::string("\xff\xfe<\0k\0e\0y\0/\0>\0", 14), "line 1, column 1: UTF-16"},
  };
  for (auto& [xml, reason] : damaged) {
    EXPECT_EQ(DocumentLines(xml).rfind(reason, 0), 0u) << DocumentLines(xml);
  }
}

}  // namespace
