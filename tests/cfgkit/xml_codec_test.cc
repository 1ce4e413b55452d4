#include "cfgkit/xml_codec.h"

#include <random>
#include <set>

#include "test_util.h"

namespace cfgtest {
namespace {

using cfgkit::KeyTree;
using cfgkit::Value;
using cfgkit::ValueType;

TEST(WriterTest, LayoutIsFixed) {
  KeyTree tree;
  cfgkit::KeyId top = tree.AddSubkey(tree.Root(), "user");
  tree.AddSubkey(top, "Empty");
  cfgkit::KeyId options = tree.AddSubkey(top, "Options");
  tree.AddValue(top, Value{"Theme", ValueType::kString, "dark", 0});  // after its subkeys
  tree.AddValue(options, Value{"All", ValueType::kInt32, "", 4294967295u});
  tree.AddValue(options, Value{"Title", ValueType::kString, "Main window", 0});
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<key name=\"user\">\n"
      "  <value name=\"Theme\" type=\"string\">dark</value>\n"
      "  <key name=\"Empty\"/>\n"
      "  <key name=\"Options\">\n"
      "    <value name=\"All\" type=\"int\">-1</value>\n"
      "    <value name=\"Title\" type=\"string\">Main window</value>\n"
      "  </key>\n"
      "</key>\n",
      cfgkit::SerializeKey(tree, top));
}

class RoundTripTest : public StoreTest {
 protected:
  // Stores every text as a value name and a value, saves, reloads and expects
  // them all back byte for byte and in order.
  void ExpectRoundTrip(const std::vector<std::string>& texts) {
    ASSERT_EQ(0, Load());
    TalRegKey key = Create("user/T");
    for (const std::string& text : texts)
      ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(key, text.c_str(), text.c_str()));
    ASSERT_EQ(kTalRegOk, TalRegSave());
    ASSERT_EQ(0, Load());
    key = Open("user/T");
    std::vector<char> buffer(1 << 21);
    for (size_t i = 0; i < texts.size(); ++i) {
      int32_t size = static_cast<int32_t>(buffer.size());
      ASSERT_EQ(kTalRegOk, TalRegGetValueNameA(key, static_cast<int32_t>(i), buffer.data(), &size));
      ASSERT_EQ(texts[i], std::string(buffer.data(), size - 1)) << "value name " << i;
      ASSERT_EQ(texts[i], Str(key, texts[i].c_str()));
    }
  }
};

TEST_F(RoundTripTest, SpecialTextSurvivesAndIsWrittenReadably) {
  ExpectRoundTrip({"a<b", "x&y>z \"q\" 'a'", "tab\there", "line\nbreak", "cr\rhere",
                   "ctl\x01\x1f\x7f", "bad \xff\xfe utf8", "cut \xc3", "\xed\xa0\x80 surrogate",
                   "\xef\xbf\xbe nonchar", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "]]>",
                   "   ", " \t\n ", " lead and trail ", "", std::string(1000000, 'v')});
  // Hex only where XML cannot carry the text as it is.
  const std::string file = ReadBytes(user + "/user.XML");
  for (const char* line :
       {"<value name=\"a&lt;b\" type=\"string\">a&lt;b</value>",
        "<value name=\"tab&#9;here\" type=\"string\">tab\there</value>",
        "<value name=\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\" type",
        "hexname=\"63720d68657265\" type=\"string\" encoding=\"hex\">63720d68657265<"})
    EXPECT_NE(std::string::npos, file.find(line)) << line;
}

TEST_F(RoundTripTest, TenThousandRandomStrings) {
  std::mt19937 random(20240611);
  const std::string alphabet = "abcXYZ019 <>&\"'\t\n\r/\\;=]?\x01\x7f\xc3\xa9\xe2\x82\xac";
  std::set<std::string> seen;
  std::vector<std::string> texts;
  while (texts.size() < 10000) {
    std::string text(random() % 24, '\0');
    const bool anyByte = random() % 2 == 0;  // else mostly text that XML can carry
    for (char& c : text)
      c = anyByte ? static_cast<char>(1 + random() % 255) : alphabet[random() % alphabet.size()];
    if (seen.insert(text).second) texts.push_back(text);
  }
  ExpectRoundTrip(texts);
}

TEST_F(RoundTripTest, DeepestCreatableKeyReloads) {
  ASSERT_EQ(0, Load());
  std::string path = "deep";
  for (size_t i = 0; i < cfgkit::kMaxKeyDepth; ++i) path += "/k";
  TalRegKey deepest = Create(path.c_str()), tooDeep = nullptr;
  EXPECT_EQ(kTalRegTooDeep, TalRegCreateKeyA(deepest, "k", &tooDeep));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  ASSERT_EQ(0, Load());
  Open(path.c_str());
}

}  // namespace
}  // namespace cfgtest
