#include <random>
#include <set>

#include "cfgkit/xml_codec.h"
#include "test_util.h"

namespace cfgtest {
namespace {

class RoundTripTest : public StoreTest {
 protected:
  // Stores every text as a value name, a value and (where allowed) a subkey name,
  // saves, reloads and expects them all back byte for byte and in order.
  void ExpectRoundTrip(const std::vector<std::string>& texts) {
    auto keyName = [](const std::string& text) {
      return !text.empty() && text.find_first_of("/\\") == std::string::npos;
    };
    ASSERT_EQ(0, Load());
    TalRegKey key = Create("user/T"), sub = nullptr;
    for (const std::string& text : texts) {
      ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(key, text.c_str(), text.c_str()));
      if (keyName(text)) {
        ASSERT_EQ(kTalRegOk, TalRegCreateKeyA(key, text.c_str(), &sub));
      }
    }
    ASSERT_EQ(kTalRegOk, TalRegSave());
    ASSERT_EQ(0, Load());
    key = Open("user/T");
    std::vector<char> buffer(1 << 21);
    for (size_t i = 0, subkeys = 0; i < texts.size(); ++i) {
      int32_t size = static_cast<int32_t>(buffer.size());
      ASSERT_EQ(kTalRegOk, TalRegGetValueNameA(key, static_cast<int32_t>(i), buffer.data(), &size));
      ASSERT_EQ(texts[i], std::string(buffer.data(), size - 1)) << "value name " << i;
      ASSERT_EQ(texts[i], Str(key, texts[i].c_str()));
      if (!keyName(texts[i])) continue;
      size = static_cast<int32_t>(buffer.size());
      ASSERT_EQ(kTalRegOk,
                TalRegGetSubKeyNameA(key, static_cast<int32_t>(subkeys++), buffer.data(), &size));
      ASSERT_EQ(texts[i], std::string(buffer.data(), size - 1)) << "subkey " << i;
    }
    int32_t count = 0;
    EXPECT_EQ(kTalRegOk, TalRegGetNumValues(key, &count));
    EXPECT_EQ(texts.size(), static_cast<size_t>(count));
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
       {"<value name=\"a&lt;b\" type=\"string\">a&lt;b</value>", "<key name=\"a&lt;b\"/>",
        "<value name=\"tab&#9;here\" type=\"string\">tab\there</value>",
        "<value name=\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\" type",
        "hexname=\"63720d68657265\" type=\"string\" encoding=\"hex\">63720d68657265<",
        "<value name=\"]]&gt;\" type=\"string\">]]&gt;</value>"}) {
    EXPECT_NE(std::string::npos, file.find(line)) << line;
  }
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
  ASSERT_EQ(kTalRegOk, TalRegSetInt32ValueA(Create(path.c_str()), "n", 1));
  TalRegKey tooDeep = nullptr;
  EXPECT_EQ(kTalRegTooDeep, TalRegCreateKeyA(Open(path.c_str()), "k", &tooDeep));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  ASSERT_EQ(0, Load());
  EXPECT_TRUE(logs().empty());
  int32_t n = 0;
  EXPECT_EQ(kTalRegOk, TalRegGetInt32ValueA(Open(path.c_str()), "n", &n));
}

}  // namespace
}  // namespace cfgtest
