// The store file format. XML that people write by hand either loads with
// exactly the values it holds or is damage and stays untouched.
#include "cfgkit/xml_codec.h"

#include <optional>
#include <random>
#include <set>
#include <tuple>
#include <variant>

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

using RoundTripTest = StoreTest;

// Text XML finds awkward, and ten thousand random strings, each a value name
// and a value, saved and back byte for byte and in order; hex is written only
// where XML cannot carry the text as it is.
TEST_F(RoundTripTest, SpecialAndRandomTextSurvivesAndIsWrittenReadably) {
  std::vector<std::string> texts({"a<b", "x&y>z \"q\" 'a'", "tab\there", "line\nbreak", "cr\rhere",
                                  "ctl\x01\x1f\x7f", "bad \xff\xfe utf8", "cut \xc3",
                                  "\xed\xa0\x80 surrogate", "\xef\xbf\xbe nonchar",
                                  "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "]]>", "   ",
                                  " \t\n ", " lead and trail ", "", std::string(1000000, 'v')});
  std::mt19937 random(20240611);
  const std::string alphabet = "abcXYZ019 <>&\"'\t\n\r/\\;=]?\x01\x7f\xc3\xa9\xe2\x82\xac";
  std::set<std::string> seen(texts.begin(), texts.end());
  for (const size_t wanted = texts.size() + 10000; texts.size() < wanted;) {
    std::string text(random() % 24, '\0');
    const bool anyByte = random() % 2 == 0;  // else mostly text that XML can carry
    for (char& c : text)
      c = anyByte ? static_cast<char>(1 + random() % 255) : alphabet[random() % alphabet.size()];
    if (seen.insert(text).second) texts.push_back(text);
  }
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
  const std::string file = ReadFile(user + "/user.XML");
  for (const char* line :
       {"<value name=\"a&lt;b\" type=\"string\">a&lt;b</value>",
        "<value name=\"tab&#9;here\" type=\"string\">tab\there</value>",
        "<value name=\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\" type",
        "hexname=\"63720d68657265\" type=\"string\" encoding=\"hex\">63720d68657265<"})
    EXPECT_NE(std::string::npos, file.find(line)) << line;
  // The deepest key that can be created reloads too.
  std::string path = "deep";
  for (size_t i = 0; i < cfgkit::kMaxKeyDepth; ++i) path += "/k";
  TalRegKey deepest = Create(path.c_str()), tooDeep = nullptr;
  EXPECT_EQ(kTalRegTooDeep, TalRegCreateKeyA(deepest, "k", &tooDeep));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  ASSERT_EQ(0, Load());
  Open(path.c_str());
}

using Scalar = std::variant<std::string, int32_t>;
// Value path below the top-level key (last component: the value name) -> expected value.
using Values = std::vector<std::pair<std::string, Scalar>>;

struct Row {
  const char* shape;
  std::string file;
  std::optional<Values> loads;  // nullopt: damage
  const char* reason = "";      // for damage: part of the logged reason
};

Row Loads(const char* shape, std::string file, Values values) {
  return {shape, std::move(file), std::move(values)};
}
Row Damage(const char* shape, std::string file, const char* reason) {
  return {shape, std::move(file), std::nullopt, reason};
}

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
std::string Hand(const std::string& body) { return StoreFile("hand", body); }
std::string Text(const std::string& text) {
  return Hand("<value name=\"a\" type=\"string\">" + text + "</value>");
}

std::string Repeat(const std::string& text) {
  std::string out;
  for (int i = 0; i < 100000; ++i) out += text;
  return out;
}

// Each ASCII byte followed by a zero byte.
std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += c, out += '\0';
  return out;
}

std::vector<Row> Rows() {
  const std::string body = "<key name=\"hand\"><value name=\"a\" type=\"string\">x</value></key>";
  return {
      Loads("comments between elements",
            Hand("<!-- a --><value name='a' type='string'>x</value><!-- b -->"
                 "<value name='b' type='int'>7</value><!-- c --><key name='k'><!-- d --></key>"),
            {{"a", "x"}, {"b", 7}}),
      Loads("comment inside a value, blanks around it", Text("  <!-- c -->  "), {{"a", "    "}}),
      Loads("comments splitting a value", Text("x<!--1--> <!--2-->y<!--3-->"), {{"a", "x y"}}),
      Loads("comments around the root", "<!-- before -->\n" + body + "\n<!-- after -->\n",
            {{"a", "x"}}),
      Loads("CDATA alone", Text("<![CDATA[<b>&amp;</b>]]>"), {{"a", "<b>&amp;</b>"}}),
      Loads("CDATA with blanks around it", Text(" <![CDATA[x]]> "), {{"a", " x "}}),
      Loads("CDATA mixed with text", Text("a<![CDATA[ & ]]>b&lt;<![CDATA[]]>"), {{"a", "a & b<"}}),
      Loads("predefined entities",
            Hand("<value name='&lt;&amp;&gt;&apos;&quot;' type='string'>"
                 "&lt;&amp;&gt;&apos;&quot;&amp;undefined;</value>"),
            {{"<&>'\"", "<&>'\"&undefined;"}}),
      Loads("character references",
            Hand("<value name='&#9;&#x41;' type='&#115;tring'>&#65;&#x42;&#xe9;&#x1F600;&#13;&#10;"
                 "</value>"),
            {{"\tA", "AB\xc3\xa9\xf0\x9f\x98\x80\r\n"}}),
      Damage("undefined entity in text", Text("a&undefined;"), "reference"),
      Damage("undefined entity in a name", Hand("<value name='a&undefined;' type='string'/>"),
             "reference"),
      Damage("undefined entity in another attribute",
             Hand("<value name='a' type='string' note='&undefined;'/>"), "reference"),
      Damage("attribute given twice", Hand("<value name='a' type='string' name='b'/>"), "twice"),
      Damage("two damages: the one below the first key is told, not its sibling's",
             Hand("<key name='A'><key name='x'><value name='v' type='bad'/></key></key>"
                  "<key name='B'><value name='d' type='int'/><value name='d' type='int'/></key>"),
             "unknown type"),
      Damage("bare ampersand", Text("a & b"), "reference"),
      Damage("reference to a character XML forbids", Text("a&#0;b"), "reference"),
      Loads("DOCTYPE without declarations", "<!DOCTYPE key>\n" + body, {{"a", "x"}}),
      Loads("DOCTYPE declaring an element",
            "<!DOCTYPE key [ <!ELEMENT key ANY> <!-- c --> ]>\n" + body, {{"a", "x"}}),
      Damage("DOCTYPE declaring an entity", "<!DOCTYPE key [ <!ENTITY e \"y\"> ]>\n" + body,
             "DOCTYPE"),
      Damage("DOCTYPE declaring attribute defaults",
             "<!DOCTYPE key [ <!ATTLIST value encoding CDATA \"hex\"> ]>\n" + body, "DOCTYPE"),
      Loads("processing instructions",
            "<?app before?><key name='hand'><?app x?><value name='a' type='string'>x<?app y?>y"
            "</value></key><?app after?>",
            {{"a", "xy"}}),
      Loads("UTF-8 byte-order mark", "\xef\xbb\xbf" + kDeclaration + body, {{"a", "x"}}),
      Loads("encoding name in lower case", "<?xml version='1.0' encoding='utf-8'?>" + body,
            {{"a", "x"}}),
      Damage("UTF-16 byte-order mark", "\xff\xfe" + Utf16Le(body), "UTF-16"),
      Damage("UTF-16 without a byte-order mark", Utf16Le(body), "UTF-16"),
      Damage("Latin-1 declaration",
             "<?xml version='1.0' encoding='ISO-8859-1'?>\n"
             "<key name='hand'><value name='a' type='string'>caf\xe9</value></key>",
             "ISO-8859-1"),
      Loads("CRLF line ends",
            Hand("<value\r\nname='a\r\nb' type='string'>one\r\ntwo\rthree\r\n</value>\r\n"),
            {{"a b", "one\ntwo\nthree\n"}}),
      Loads("whitespace around every element and attribute",
            " \n\t<key \n name = \"hand\"\t>\n <value\tname\n=\n'a'  type = \"int\" >\t 12 \n"
            "</value >\n <key\tname='sub' > <value name='b' type='string' ></value\n> </key >\n"
            " <value name='c' type='string'> \n </value> </key\n>\n\n",
            {{"a", 12}, {"sub/b", ""}, {"c", " \n "}}),
      Damage("second root", Hand("") + "<key name=\"hand\"/>\n", "second root"),
      Damage("text after the root", Hand("") + "trailing\n", "outside"),
      Damage("one character after the root", Hand("") + "x", "outside"),
      Damage("NUL byte after the root", Hand("") + std::string(1, '\0') + "<key/>", "NUL"),
      Loads("trailing comment", Hand("") + "<!-- end -->", {}),
      Loads("hex with blanks and upper case",
            Hand("<value name='h' type='string' encoding='hex'> 4A4b </value>"), {{"h", "JK"}}),
      Damage("malformed", Hand("<value name='a' type='string'>x</key>"), ""),
      Damage("empty", "", ""),
      Damage("root is not a key", "<keys name=\"hand\"/>\n", ""),
      Damage("root is a value", "<value name='x' type='string'/>", ""),
      Damage("root named otherwise", StoreFile("elsewhere", ""), ""),
      Damage("unknown element", Hand("<item name='a'/>"), ""),
      Damage("text in a key", Hand("stray"), ""),
      Damage("value with an element", Hand("<value name='a' type='string'><b/></value>"), ""),
      Damage("missing type", Hand("<value name='a'>1</value>"), ""),
      Damage("unknown type", Hand("<value name='a' type='float'>1.5</value>"), ""),
      Damage("int too large", Hand("<value name='a' type='int'>4294967296</value>"), ""),
      Damage("int too small", Hand("<value name='a' type='int'>-2147483649</value>"), ""),
      Damage("int not a number", Hand("<value name='a' type='int'>12a</value>"), ""),
      Damage("int empty", Hand("<value name='a' type='int'></value>"), ""),
      Damage("duplicate keys", Hand("<key name='k'/><key name='k'/>"), ""),
      Damage("duplicate values",
             Hand("<value name='v' type='int'>1</value><value name='v' type='string'/>"), ""),
      Damage("key without a name", Hand("<key/>"), ""),
      Damage("key name with a backslash", Hand("<key hexname='615c62'/>"), ""),
      Damage("bad hex name", Hand("<value hexname='4' type='string'/>"), ""),
      Damage("bad hex value", Hand("<value name='a' type='string' encoding='hex'>zz</value>"), ""),
      Damage("hex digit then none", Hand("<value name='a' type='string' encoding='hex'>4g</value>"),
             ""),
      Damage("name and hexname", Hand("<key name='a' hexname='61'/>"), ""),
      Damage("nested 100,000 deep", Hand(Repeat("<key name='k'>") + Repeat("</key>")), ""),
  };
}

class HandEditTest : public StoreTest {
 protected:
  // The value at `path` below the top-level key, as its type reads it.
  static Scalar Read(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string keyPath = "hand/" + (slash == std::string::npos ? "" : path.substr(0, slash));
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    TalRegKey key = Open(keyPath.c_str());
    int32_t type = 0, number = 0;
    EXPECT_EQ(kTalRegOk, TalRegGetValueTypeA(key, name.c_str(), &type)) << path;
    if (type != kTalRegTypeInt32) return Str(key, name.c_str());
    EXPECT_EQ(kTalRegOk, TalRegGetInt32ValueA(key, name.c_str(), &number));
    return number;
  }
};

TEST_F(HandEditTest, LoadsExactlyOrIsDamageAndKeptAsItIs) {
  const std::string path = admin + "/hand.XML";
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.shape);
    WriteFile(path, row.file);
    Put(admin, "other", "");
    logs.clear();
    ASSERT_EQ(0, Load());
    TalRegFileReport report;
    ASSERT_EQ(kTalRegOk, TalRegReportFileA("hand", &report));
    EXPECT_EQ(path, report.path);
    if (row.loads) {
      EXPECT_EQ(kTalRegOk, report.status) << report.reason;
      EXPECT_TRUE(logs.empty()) << logs[0].second;
      for (const auto& [valuePath, expected] : *row.loads)
        EXPECT_EQ(expected, Read(valuePath)) << valuePath;
      continue;
    }
    EXPECT_EQ(kTalRegProtected, report.status);
    EXPECT_NE(std::string::npos, report.reason.find(row.reason)) << report.reason;
    // Damage found before any line, such as the encoding, too.
    EXPECT_TRUE(report.reason.starts_with("line ")) << report.reason;
    EXPECT_EQ(std::string::npos, report.reason.find(path)) << report.reason;
    EXPECT_EQ(1u, logs.size());
    if (logs.empty()) continue;
    EXPECT_NE(std::string::npos, logs[0].second.find(path)) << logs[0].second;
    EXPECT_NE(std::string::npos, logs[0].second.find(row.reason)) << logs[0].second;
    EXPECT_EQ(kTalRegKeyNotFound, OpenStatus("hand"));
    TalRegKey key = nullptr;
    for (const char* keyPath : {"hand", "\\hand//sub"})
      EXPECT_EQ(kTalRegProtected, TalRegCreateKeyA(nullptr, keyPath, &key)) << keyPath;
    EXPECT_EQ(kTalRegProtected, TalRegDeleteKeyRecursiveA(nullptr, "hand"));
    ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open("other"), "v", "1"));
    ASSERT_EQ(kTalRegOk, TalRegSave());
    EXPECT_EQ(row.file, ReadFile(path));
  }
}

// Where each key's file was read from and why it could not be, whether the
// load read every file or leaves them until they are used.
TEST_F(HandEditTest, ReportsSayWhereEachFileIsAndWhyItDidNotLoad) {
  Put(admin, "default", "");
  Put(admin, "user", "");  // read from here: the user folder has none
  WriteFile(admin + "/bad.XML",
            "<key name='bad'>\n  <value name='a' type='int'>x</value>\n</key>\n");
  std::filesystem::create_directory(admin + "/folder.XML");
  WriteFile(admin + "/huge.XML", "");
  std::filesystem::resize_file(admin + "/huge.XML", std::uintmax_t{300} << 20);  // sparse
  // {key, the file it was read from, its status, the reason}
  const std::tuple<const char*, std::string, int, std::string> rows[] = {
      {"default", admin + "/default.XML", kTalRegOk, ""},
      {"user", admin + "/user.XML", kTalRegOk, ""},
      {"bad", admin + "/bad.XML", kTalRegProtected,
       "line 2, column 4: int value out of range or not a number"},  // at the element's name
      {"folder", admin + "/folder.XML", kTalRegIoError, "not a regular file"},
      {"huge", admin + "/huge.XML", kTalRegProtected,
       "larger than 256 MiB, the most a store file or document may hold"},
      {"missing", "", kTalRegOk, ""},
  };
  for (bool readAll : {true, false}) {
    if (!readAll) TalRegSetLogSink(nullptr);
    ASSERT_EQ(0, Load());
    for (const auto& [key, path, status, reason] : rows) {
      TalRegFileReport report;
      ASSERT_EQ(kTalRegOk, TalRegReportFileA(key, &report));
      EXPECT_EQ(std::tie(path, status, reason), std::tie(report.path, report.status, report.reason))
          << key;
    }
  }
  std::vector<TalRegFileReport> folders;
  ASSERT_EQ(kTalRegOk, TalRegReportUnlistedFolders(&folders));
  EXPECT_TRUE(folders.empty());

  // A folder that cannot be listed hides no other, and nothing is saved into it.
  std::filesystem::remove(user);
  WriteFile(user, "a file where the folder belongs");
  EXPECT_EQ(0, Load());
  ASSERT_EQ(kTalRegOk, TalRegReportUnlistedFolders(&folders));
  ASSERT_EQ(1u, folders.size());
  EXPECT_EQ(std::tuple(user + "/", kTalRegIoError, "Not a directory"),
            std::tie(folders[0].path, folders[0].status, folders[0].reason));
  EXPECT_EQ(kTalRegOk, OpenStatus("default"));
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Create("default"), "v", "1"));
  EXPECT_EQ(kTalRegOk, TalRegSave());
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Create("x_user"), "v", "1"));
  EXPECT_EQ(kTalRegIoError, TalRegSave());
  EXPECT_EQ("a file where the folder belongs", ReadFile(user));
}

}  // namespace
}  // namespace cfgtest
