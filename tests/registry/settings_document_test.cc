// Export's document writer: in walk order it writes as values come, and must
// give what the tree it replaces gives, or say that it cannot.
#include "registry/settings_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Added {
  std::string section, name;
  bool isNumber;
  std::string text;
  int32_t number;
};

Added S(std::string section, std::string name, std::string text) {
  return {std::move(section), std::move(name), false, std::move(text), 0};
}
Added I(std::string section, std::string name, int32_t number) {
  return {std::move(section), std::move(name), true, "", number};
}

// The document, or "(out of order)" when the writer gave up.
std::string Write(const std::vector<Added>& values, SettingsDocumentWriter::Order order) {
  SettingsDocumentWriter writer("P", order);
  for (const Added& value : values) {
    if (value.isNumber) {
      writer.AddInteger(value.section, value.name, value.number);
    } else {
      writer.AddString(value.section, value.name, value.text);
    }
  }
  if (!writer.InOrder()) return "(out of order)";
  std::string document;
  for (std::string_view piece : writer.Finish()) document.append(piece);
  return document;
}

TEST(SettingsDocumentWriter, WritesInWalkOrderAsTheTreeDoesOrSaysItCannot) {
  constexpr auto kWalk = SettingsDocumentWriter::Order::kWalk;
  constexpr auto kAny = SettingsDocumentWriter::Order::kAny;
  const std::pair<std::vector<Added>, bool> cases[] = {
      // {values, in walk order}
      {{}, true},
      {{S("", "top", "t"), S("A", "a", "<&>\""), I("A/B/C", "deep", -7), S("A/B/D", "e", ""),
        S("B", "x\xff", "\x01"), I("B", "y", 1), S("Bz", "tab\tname", "t")},
       true},
      // One key, three spellings.
      {{S("A//B", "a", "1"), S("A/B", "b", "2"), S("A\\B", "c", "3")}, true},
      {{S("A/B", "x", "1"), S("A", "y", "2")}, false},  // a value after its key's subkeys
      {{S("A", "x", "1"), S("B", "y", "2"), S("A", "z", "3")},
       false},                                        // a key closed, then reached
      {{S("B", "x", "1"), S("A", "y", "2")}, false},  // siblings descending
      {{S("A", "x", "1"), S("A", "x", "2")}, false},  // a name repeated
      {{S("A", "y", "1"), S("A", "x", "2")}, false},  // names descending
      {{S("A/B", "x", "1"), S("A/B/C", "y", "2"), S("A/B", "z", "3")}, false},
  };
  for (const auto& [values, inOrder] : cases) {
    SCOPED_TRACE(testing::PrintToString(values.size()) + " values, first " +
                 (values.empty() ? "none" : values[0].section + "|" + values[0].name));
    const std::string tree = Write(values, kAny);
    EXPECT_EQ(inOrder ? tree : "(out of order)", Write(values, kWalk));
  }
  EXPECT_EQ(Write({}, kWalk), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<key name=\"P\"/>\n");
  EXPECT_EQ(Write({S("A/B", "x", "1"), S("A", "y", "<2>")}, kAny),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<key name=\"P\">\n"
            "  <key name=\"A\">\n"
            "    <value name=\"y\" type=\"string\">&lt;2&gt;</value>\n"
            "    <key name=\"B\">\n"
            "      <value name=\"x\" type=\"string\">1</value>\n"
            "    </key>\n"
            "  </key>\n"
            "</key>\n");
}

}  // namespace
