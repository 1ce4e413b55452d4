#include "cfgkit/xml_codec.h"

#include <algorithm>

#include "test_util.h"

namespace cfgtest {
namespace {

using cfgkit::KeyTree;
using cfgkit::Value;
using cfgkit::ValueType;

struct Damage {
  const char* kind;
  std::string file;  // the whole content of bad.XML
};
void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.kind; }

std::string Bad(const std::string& body) { return StoreFile("bad", body); }

std::string NestedKeys(int levels) {
  std::string open, close;
  for (int i = 0; i < levels; ++i) open += "<key name=\"k\">", close += "</key>";
  return Bad(open + close);
}

const Damage kDamage[] = {
    {"MalformedXml", Bad("<value name='a' type='string'>x</key>")},
    {"EmptyFile", ""},
    {"DeclarationOnly", "<?xml version=\"1.0\"?>\n"},
    {"RootIsNotKey", "<keys name=\"bad\"/>\n"},
    {"RootNamedOtherwise", StoreFile("other", "")},
    {"UnknownElement", Bad("<item name='a'/>")},
    {"TextInKey", Bad("stray")},
    {"ValueWithChild", Bad("<value name='a' type='string'><b/></value>")},
    {"MissingType", Bad("<value name='a'>x</value>")},
    {"UnknownType", Bad("<value name='a' type='float'>1.5</value>")},
    {"IntTooLarge", Bad("<value name='a' type='int'>4294967296</value>")},
    {"IntTooSmall", Bad("<value name='a' type='int'>-2147483649</value>")},
    {"IntHuge", Bad("<value name='a' type='int'>99999999999999999999999</value>")},
    {"IntNotANumber", Bad("<value name='a' type='int'>12a</value>")},
    {"IntEmpty", Bad("<value name='a' type='int'></value>")},
    {"IntPlusSign", Bad("<value name='a' type='int'>+1</value>")},
    {"DuplicateKeys", Bad("<key name='k'/><key name='k'/>")},
    {"DuplicateValues", Bad("<value name='v' type='int'>1</value><value name='v' type='string'/>")},
    {"KeyWithEmptyName", Bad("<key name=''/>")},
    {"KeyWithoutName", Bad("<key/>")},
    {"KeyNameWithSlash", Bad("<key name='a/b'/>")},
    {"KeyNameWithBackslash", Bad("<key hexname='615c62'/>")},
    {"BadHexName", Bad("<value hexname='4' type='string'/>")},
    {"BadHexValue", Bad("<value name='a' type='string' encoding='hex'>zz</value>")},
    {"NameAndHexname", Bad("<key name='a' hexname='61'/>")},
    {"NestedTooDeep", NestedKeys(100000)},
};

class DamagedFileTest : public StoreTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedFileTest, IsReportedProtectedAndNeverRewritten) {
  const std::string path = admin + "/bad.XML";
  WriteBytes(path, GetParam().file);
  Put(admin, "good", "<value name='v' type='string'>1</value>");
  ASSERT_EQ(0, Load());
  EXPECT_TRUE(std::any_of(logs().begin(), logs().end(), [&](const auto& log) {
    return log.first == 1 && log.second.find(path) != std::string::npos;
  }));
  EXPECT_EQ(kTalRegKeyNotFound, OpenStatus("bad"));
  TalRegKey key = nullptr;
  for (const char* p : {"bad", "bad/sub", "\\bad//sub"}) {
    EXPECT_EQ(kTalRegProtected, TalRegCreateKeyA(nullptr, p, &key)) << p;
  }
  EXPECT_EQ(kTalRegProtected, TalRegDeleteKeyRecursiveA(nullptr, "bad"));

  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open("good"), "v", "2"));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  EXPECT_EQ(GetParam().file, ReadBytes(path));
  ASSERT_EQ(0, Load());
  EXPECT_EQ("2", Str(Open("good"), "v"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedFileTest, ::testing::ValuesIn(kDamage),
                         [](const auto& info) { return std::string(info.param.kind); });

using ReaderTest = StoreTest;

// What people write by hand: no declaration, no root name, comments, processing
// instructions, CDATA, references, hex in either case, blanks around numbers.
TEST_F(ReaderTest, AcceptsEveryHandWrittenForm) {
  WriteBytes(admin + "/hand.XML",
             "<!-- shipped by the installer -->\n<key>\n  <?tool keep?>\n"
             "  <value hexname='410d' type='string'>cr name</value>\n"
             "  <value name='hex' type='string' encoding='hex'>4A4b0A</value>\n"
             "  <value name='blank' type='string'>  a <!-- x -->b  </value>\n"
             "  <value name='cdata' type='string'><![CDATA[<raw & text>]]></value>\n"
             "  <value name='refs' type='string'>&lt;&amp;&#x9;&#233;&quot;</value>\n"
             "  <value name='int' type='int'>\n    42\n  </value>\n"
             "  <key hexname='4B'><!-- empty --></key>\n</key>\n");
  ASSERT_EQ(0, Load());
  TalRegKey key = Open("hand");
  EXPECT_EQ("cr name", Str(key, "A\r"));
  EXPECT_EQ("JK\n", Str(key, "hex"));
  EXPECT_EQ("  a b  ", Str(key, "blank"));
  EXPECT_EQ("<raw & text>", Str(key, "cdata"));
  EXPECT_EQ("<&\t\xc3\xa9\"", Str(key, "refs"));
  int32_t n = 0;
  EXPECT_EQ(kTalRegOk, TalRegGetInt32ValueA(key, "int", &n));
  EXPECT_EQ(42, n);
  EXPECT_NE(nullptr, Open("hand/K"));
  EXPECT_TRUE(logs().empty());
}

TEST(WriterTest, LayoutIsFixed) {
  KeyTree tree;
  cfgkit::KeyId top = tree.AddSubkey(tree.Root(), "user");
  cfgkit::KeyId desktop = tree.AddSubkey(top, "Desktop");
  tree.AddSubkey(desktop, "Empty");
  cfgkit::KeyId options = tree.AddSubkey(desktop, "Options");
  tree.AddValue(top, Value{"Theme", ValueType::kString, "dark", 0});  // after its subkeys
  tree.AddValue(options, Value{"Size", ValueType::kInt32, "", 12});
  tree.AddValue(options, Value{"All", ValueType::kInt32, "", 4294967295u});
  tree.AddValue(options, Value{"Title", ValueType::kString, "Main window", 0});
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<key name=\"user\">\n"
      "  <value name=\"Theme\" type=\"string\">dark</value>\n"
      "  <key name=\"Desktop\">\n"
      "    <key name=\"Empty\"/>\n"
      "    <key name=\"Options\">\n"
      "      <value name=\"Size\" type=\"int\">12</value>\n"
      "      <value name=\"All\" type=\"int\">-1</value>\n"
      "      <value name=\"Title\" type=\"string\">Main window</value>\n"
      "    </key>\n"
      "  </key>\n"
      "</key>\n";
  std::string written = cfgkit::SerializeKey(tree, top);
  EXPECT_EQ(expected, written);
  KeyTree reread;  // reads back to a tree that writes the same text

  ASSERT_TRUE(cfgkit::ParseKeyFile(&written, "user", &reread).ok());
  EXPECT_EQ(expected, cfgkit::SerializeKey(reread, reread.SubkeyAt(reread.Root(), 0)));
}

}  // namespace
}  // namespace cfgtest
