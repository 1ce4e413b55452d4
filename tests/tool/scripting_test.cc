// Runs the real Setwise binary as scripts run it: -Json documents, Export,
// Import's all-or-nothing and dry runs.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include "cfgkit/xml_text.h"
#include "support/installation.h"
#include "support/key_file.h"

namespace testsupport {
namespace {

// Document pieces whose names and texts may hold any bytes.
std::string HexKey(const std::string& name, const std::string& body) {
  return "<key hexname=\"" + cfgkit::HexEncode(name) + "\">" + body + "</key>";
}
std::string HexStr(const std::string& name, const std::string& text) {
  return "<value hexname=\"" + cfgkit::HexEncode(name) + "\" type=\"string\" encoding=\"hex\">" +
         cfgkit::HexEncode(text) + "</value>";
}
std::string HexInt(const std::string& name, const std::string& number) {
  return "<value hexname=\"" + cfgkit::HexEncode(name) + "\" type=\"int\">" + number + "</value>";
}
std::string DelValue(const std::string& name) {
  return "<delete type=\"value\" name=\"" + name + "\"/>";
}
std::string DelKey(const std::string& name) {
  return "<delete type=\"key\" name=\"" + name + "\"/>";
}

// The bytes under `field`, or under `field`_hex decoded; never both.
std::string Bytes(const Json& object, const std::string& field) {
  const bool plain = object.contains(field), hex = object.contains(field + "_hex");
  EXPECT_NE(plain, hex) << field << " in " << object;
  if (plain) return object[field].get<std::string>();
  if (!hex) return "<none>";
  return cfgkit::HexDecode(object[field + "_hex"].get<std::string>()).value_or("<bad hex>");
}

// What a text Import prints when it refuses these {entry, why} and so imports nothing.
std::string Refusals(const std::vector<std::pair<std::string, std::string>>& refused) {
  std::string text;
  for (const auto& [key, why] : refused)
    text += "Registry setting <" + key + "> is refused:\n" + why + "\n";
  return text + "Nothing was imported: " + std::to_string(refused.size()) + " entries refused.\n";
}

std::vector<std::string> Outcomes(const Json& report) {
  std::vector<std::string> outcomes;
  for (const Json& entry : report["entries"]) outcomes.push_back(entry["outcome"]);
  return outcomes;
}

TEST(ScriptingJson, AwkwardBytesRoundTripThroughEveryDocument) {
  Installation in(/*withSyntax=*/false);
  // Key as typed (its last separator a '/'), and value; neither may start with '-' or '/'.
  const std::pair<std::string, std::string> cases[] = {
      {"Back\\slash/Q\"uote", "say \"hi\" \\ there"},
      {std::string("Ctl\x01\x1f/T\tab\x7f"), "nl\ncr\r\x01\x1f\x7f"},
      {"Bad\xff\xfe/N\xc3", "\xed\xa0\x80 \xc0\xaf \xf4\x90\x80\x80 \xe2\x82"},
      {"Utf8 \xc3\xa9/\xe2\x98\x83", "\xf0\x9f\x98\x80 <&>"},
      {"RootValue", ""},
  };
  // Exit status, key, value ("" for none) and one more field of a run.
  using Seen = std::tuple<int, std::string, std::string, Json>;
  auto seen = [&](const Args& args, const std::string& field) {
    JsonRun run = RunJson(in, args);
    Json& holder = run.doc.contains("levels") ? run.doc["levels"][0] : run.doc;
    const bool hasValue = holder.contains("value") || holder.contains("value_hex");
    return Seen(run.status, Bytes(run.doc, "key"), hasValue ? Bytes(holder, "value") : "",
                run.doc[field]);
  };
  for (const auto& [key, value] : cases) {
    SCOPED_TRACE(cfgkit::HexEncode(key));
    EXPECT_EQ(Seen(0, key, value, "created"), seen(Set(key, value), "outcome"));
    EXPECT_EQ(Seen(0, key, value, "unchanged"), seen(Set(key, value), "outcome"));
    EXPECT_EQ(Seen(0, key, value, "user_machine"), seen(Get(key), "level"));
    EXPECT_EQ(Seen(0, key, value, "user_machine"), seen(Get(key, {"-AllLevels"}), "get_finds"));
    EXPECT_EQ(Found(key, value, "string"), in.Run(Get(key)).out);
    EXPECT_EQ(Seen(0, key, "", "deleted"), seen(Delete(key), "outcome"));
    EXPECT_EQ(Seen(1, key, "", "absent"), seen(Delete(key), "outcome"));
    EXPECT_EQ(Seen(1, key, "", nullptr), seen(Get(key), "level"));
    EXPECT_EQ(NotFound(key), in.Run(Get(key)).out);

    // The same value through a document, whose keys join with '/'.
    const std::regex separator(R"([/\\])");
    const std::vector<std::string> names(
        std::sregex_token_iterator(key.begin(), key.end(), separator, -1), {});
    std::string body = HexStr(names.back(), value), slashed = names.back();
    for (size_t i = names.size() - 1; i-- > 0;) {
      body = HexKey(names[i], body);
      slashed = names[i] + "/" + slashed;
    }
    for (const char* outcome : {"created", "unchanged"}) {
      JsonRun imported = RunJson(in, Import(Document(in, body)));
      ASSERT_EQ(1u, imported.doc["entries"].size()) << imported.doc;
      const Json& entry = imported.doc["entries"][0];
      EXPECT_EQ(Seen(0, slashed, value, outcome), Seen(imported.status, Bytes(entry, "key"),
                                                       Bytes(entry, "value"), entry["outcome"]));
    }
    EXPECT_EQ(Seen(0, key, value, "user_machine"), seen(Get(key), "level"));
  }
  // A stored value with a NUL reads up to it, as the text Get shows it.
  WriteStoreFile(in.userDir(), "user",
                 Key("Nul", "<value name=\"V\" type=\"string\" encoding=\"hex\">61006200</value>"));
  EXPECT_EQ("a", Bytes(RunJson(in, Get("Nul/V")).doc, "value"));
  EXPECT_NE(std::string::npos, in.Run(Get("Nul/V")).out.find("has value <a> of type"));
}

// The example README.md gives of a command's document, with its
// placeholders ("...", P, "a"\|"b") made JSON; null when there is none.
Json ReadmeExample(const std::string& readme, const std::string& start) {
  const size_t at = readme.find(start);
  if (at == std::string::npos) return Json();
  const size_t open = readme.find('{', at);
  std::string text = readme.substr(open, readme.find('`', open) - open);
  const std::pair<std::regex, const char*> placeholders[] = {
      {std::regex(R"(\\\|"[^"]*")"), ""},  // alternatives: the first
      {std::regex(R"(:(\.\.\.|[A-Z]+)(?=[,}\]]))"), ":null"},
      {std::regex(R"(,\.\.\.)"), ""},
      {std::regex(R"(\[\.\.\.\])"), "[]"},
  };
  for (const auto& [pattern, replacement] : placeholders) {
    text = std::regex_replace(text, pattern, replacement);
  }
  return Json::parse(text, nullptr, /*allow_exceptions=*/false);
}

std::vector<std::string> FieldsOf(const Json& document) {
  std::vector<std::string> fields;
  for (const auto& [field, value] : document.items()) {
    if (field != "notes" && field != "warnings") fields.push_back(field);
  }
  return fields;
}

// Each run's status and some fields of its document; where README.md gives an
// example of the command's document, the example's fields, no more and no fewer.
TEST(ScriptingJson, ExitStatusesNotesAndTheShapesReadmeGives) {
  const std::string readme = ReadFile(SETWISE_README);
  Installation in(/*withSyntax=*/true);
  const std::string empty = in.root_ / "empty.xml";
  std::ofstream(empty) << "";
  const Json options = {{{"path", "Desktop/Options"}, {"why", "no value (key only)"}},
                        {{"path", "Desktop/Options/Units"},
                         {"type", "string"},
                         {"value", "in"},
                         {"level", "user_machine"}}};
  const struct {
    Args args;
    int status;
    Json expected;  // fields the document must have
    std::string input = "";
    const char* example = nullptr;  // where README.md's example of the document begins
  } rows[] = {
      // clang-format off
      {Keys({"Opt", "-Case"}), 0,
       {{"pattern", "Opt"}, {"case_sensitive", true}, {"entries", options}}, "", "| GetKeys |"},
      {Keys({"opt", "-Case"}), 1, {{"entries", Json::array()}}},
      // At one level, admin included: what that level holds.
      {Keys({"Units", "-RegistryLevel", "install"}), 0,
       {{"level", "install"},
        {"entries", {{{"path", "Desktop/Options/Units"}, {"type", "string"}, {"value", "mm"},
                      {"level", "install"}}}}}},
      {Keys({"Logging/File", "-RegistryLevel", "ADMIN"}), 0,
       {{"entries", {{{"path", "Logging/File"}, {"type", "string"}, {"value", "/var/log/m.log"},
                      {"level", "admin"}}}}}},
      {Keys({"-RegistryLevel", "machine"}), 2, {{"notes", {"unknown RegistryLevel <machine>"}}}},
      {Set("Desktop/Theme", "blue"), 0, {{"outcome", "created"}, {"saved", true}}, "", "| Set |"},
      {Set("desktop/THEME", "blue"), 0, {{"key", "Desktop/Theme"}, {"outcome", "unchanged"}}},
      {Set("", "x"), 2, {{"key", ""}, {"refused", "error on to set registry value at <>"}}},
      {Delete("Desktop/Theme"), 0, {{"outcome", "deleted"}, {"deleted", "value"}}, "",
       "| Delete |"},
      {Get("Desktop/Theme", {"-AllLevels"}), 0, {{"get_finds", "user"}}, "", "| Get -AllLevels |"},
      {Delete("desktop/options"), 0, {{"key", "Desktop/Options"}, {"deleted", "key"}}},
      // The option parser's notes, also from the listing, which writes its own document.
      {Get("Flag", {"-Foo", "bar"}), 0,
       {{"value", "on"}, {"notes", {"Unkown option <Foo> and its value <bar> are ignored"}}}, "",
       "| Get |"},
      {Keys({"-Case", "-\xff"}), 0,
       {{"case_sensitive", false},
        {"notes",
         {{{"text_hex", cfgkit::HexEncode("Unkown option <\xff> is ignored")}},
          "Option -Case ignored; it is valid only if a pattern is specified with the -GetKeys "
          "command"}}}},
      {{"-Export", "-ProductName", "Meridian"}, 2,
       {{"error", "bad usage"},
        {"notes", {"Option -Json is not valid with -Export, whose output is a store document"}}}},
      {Get("Flag", {"-AllLevels", "-RegistryLevel", "user"}), 2,
       {{"error", "bad usage"},
        {"notes",
         {"Option -AllLevels shows every level; it cannot be combined with -RegistryLevel"}}}},
      // The parse ends at a stray argument; the -Json after it still counts.
      {Get("Flag", {"stray"}), 2,
       {{"error", "bad usage"}, {"notes", {"Parameter option <stray> must started with - or /"}}}},
      // A value left out (an empty shell variable) is no change at the default level.
      {Set("Desktop/Theme", "x", {"-RegistryLevel", "-DryRun"}), 2,
       {{"error", "bad usage"}, {"notes", {"Value for option <RegistryLevel> is missing"}}}},
      {Get("Flag", {"-Delete"}), 2,
       {{"error", "bad usage"},
        {"notes", {"A command line with a newer option gives one command, not two or more"}}}},
      {Get("Flag", {"-DryRun"}), 2,
       {{"error", "bad usage"},
        {"notes", {"Option -DryRun is valid only with the -Set, -Delete and -Import commands"}}}},
      // TempDirectory, which lives in the foundation library's registry.
      {Get("TempDirectory"), 1, {{"key", "TempDirectory"}, {"found", false}, {"level", nullptr}}},
      {Set("tempdirectory", "/t"), 0, {{"level", "user_machine"}, {"outcome", "created"}}},
      {Set("TempDirectory", "/t"), 0, {{"outcome", "unchanged"}, {"saved", true}}},
      {Get("TempDirectory"), 0, {{"found", true}, {"value", "/t"}, {"level", "user_machine"}}},
      {Delete("TempDirectory"), 0, {{"outcome", "deleted"}, {"saved", true}}},
      {Delete("TempDirectory"), 1, {{"outcome", "absent"}}},
      // The empty text is no value: setting it where there is none changes nothing.
      {Set("TempDirectory", ""), 0, {{"outcome", "unchanged"}}},
      {Get("TempDirectory", {"-AllLevels"}), 2,
       {{"notes", {"The TempDirectory setting is read one level at a time, without -AllLevels"}}}},
      {{"-Help"}, 0, Json::object()},
      {{"-Check", "-ProductName", "Meridian"}, 1, {{"files_checked", 6}}, "", "JSON:\n"},
      {Import("no/such.xml"), 2,
       {{"file", "no/such.xml"}, {"error", "no/such.xml: No such file or directory"}}},
      {Import(empty), 0, {{"entries", Json::array()}, {"written", false}}},
      {Import("-"), 0, {{"entries", Json::array()}, {"written", false}}, empty},
      {Import("-"), 0, {{"level", "user_machine"}, {"dry_run", false}, {"written", true}},
       Document(in, Key("Desktop", Str("Theme", "green")), "good.xml"), "| Import |"},
      // What a shell's <(...) names: a descriptor, read as a stream.
      {Import("/dev/fd/0"), 0, {{"written", true}},
       Document(in, Key("Desktop", Str("Theme", "teal")), "teal.xml")},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.front() + " " + row.args.back());
    auto [document, status] = RunJson(in, row.args, row.input);
    EXPECT_EQ(row.status, status) << document;
    for (const auto& [field, value] : row.expected.items()) {
      EXPECT_EQ(value, document[field]) << field << " of " << document;
    }
    EXPECT_FALSE(document.contains("warnings")) << "a healthy store: " << document;
    if (row.example == nullptr) continue;
    const Json example = ReadmeExample(readme, row.example);
    ASSERT_TRUE(example.is_object()) << "no example in README.md";
    EXPECT_EQ(FieldsOf(example), FieldsOf(document));
  }
}

// A corpus of names and values, each at one level; the syntax defines them all.
struct CorpusEntry {
  std::string section, name, text;
  bool isInt;
  const char* level;
};

std::string Values(const std::vector<CorpusEntry>& corpus, const std::string& level, bool syntax) {
  std::string top, deep;
  for (const CorpusEntry& entry : corpus) {
    if (!syntax && entry.level != level) continue;
    const std::string text = syntax ? (entry.isInt ? "0" : "") : entry.text;
    (entry.section == "C" ? top : deep) +=
        entry.isInt ? HexInt(entry.name, text) : HexStr(entry.name, text);
  }
  return HexKey("C", top + HexKey("K\xff", deep));
}

// GetKeys of `in` shows exactly the entries of `corpus` (all at user_machine).
void ExpectListing(const Installation& in, const std::vector<CorpusEntry>& corpus) {
  JsonRun listing = RunJson(in, Keys());
  std::map<std::string, Json> byPath;
  for (const Json& entry : listing.doc["entries"]) {
    if (!entry.contains("why")) byPath[Bytes(entry, "path")] = entry;
  }
  EXPECT_EQ(corpus.size(), byPath.size()) << listing.doc;
  for (const CorpusEntry& expected : corpus) {
    const Json& entry = byPath[expected.section + "/" + expected.name];
    SCOPED_TRACE(cfgkit::HexEncode(expected.name));
    EXPECT_EQ("user_machine", entry["level"]);
    if (expected.isInt) {
      EXPECT_EQ(static_cast<int32_t>(std::stoll(expected.text)), entry["value"]);
      EXPECT_EQ("integer", entry["type"]);
    } else {
      EXPECT_EQ(expected.text, Bytes(entry, "value"));
      EXPECT_EQ("string", entry["type"]);
    }
  }
}

TEST(ScriptingExport, ImportIntoAnotherInstallationReproducesEveryValue) {
  const char *machine = "user_machine", *user = "user", *install = "install";
  const std::string deep = "C/K\xff";
  std::vector<CorpusEntry> corpus = {
      {"C", "plain", "text", false, machine},
      {"C", "empty", "", false, user},
      {"C", "blanks", "  lead\tand trail \n", false, install},
      {"C", "markup", "\"quotes' <&> ]]> back\\slash &amp;", false, machine},
      {"C", "controls", std::string("\x01\x1f\x7f\x0b", 4), false, user},
      {"C", "line ends", "a\r\nb\rc\n", false, install},
      {"C", "utf-8 \xc3\xa9", "\xc3\xa9 \xe2\x98\x83 \xf0\x9f\x98\x80", false, machine},
      {"C", "bad \xff", "\xfe\xff \xc0\xaf \xed\xa0\x80", false, user},
      {"C", "ctl \x01 name", "x", false, install},
      {"C", "m1", "-1", true, machine},
      {"C", "max", "4294967295", true, user},
      {"C", "min", "-2147483648", true, install},
      {"C", "zero", "0", true, machine},
      {deep, "v", "deep \xff", false, install},
  };
  // Enough entries that the listing is written in several blocks.
  for (int i = 0; i < 3000; ++i) {
    corpus.push_back(
        {"C", "bulk " + std::to_string(i), "\xff" + std::to_string(i), false, machine});
  }
  Installation from(/*withSyntax=*/false, /*withValues=*/false),
      to(/*withSyntax=*/false, /*withValues=*/false), installOnly(false, false);
  for (const Installation* in : {&from, &to, &installOnly}) {
    WriteStoreFile(in->adminDir(), "RegistrySyntax", Values(corpus, "", true));
  }
  std::vector<CorpusEntry> shadowed = corpus;
  shadowed.push_back({"C", "plain", "shadowed", false, install});  // user_machine wins
  WriteStoreFile(from.userDir(), HostName() + "_user", Values(shadowed, machine, false));
  WriteStoreFile(from.userDir(), "user", Values(shadowed, user, false));
  WriteStoreFile(from.adminDir(), "default", Values(shadowed, install, false));

  auto exported = [](const Installation& in, Args more = {}) {
    more.insert(more.begin(), {"-Export", "-ProductName", "Meridian"});
    auto run = in.Run(more);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("", run.err);
    return run.out;
  };
  const std::string document = exported(from);
  std::ofstream(to.root_ / "export.xml", std::ios::binary) << document;
  auto imported = to.Run(Import(to.root_ / "export.xml"));
  EXPECT_EQ(0, imported.status) << imported.out;
  EXPECT_NE(std::string::npos,
            imported.out.find(": " + std::to_string(corpus.size()) + " created, 0 changed"));
  ExpectListing(to, corpus);
  EXPECT_EQ(document, exported(to));

  // At a named level only that level's values are exported.
  std::ofstream(installOnly.root_ / "install.xml", std::ios::binary)
      << exported(from, {"-RegistryLevel", "install"});
  EXPECT_EQ(0, installOnly.Run(Import(installOnly.root_ / "install.xml")).status);
  std::vector<CorpusEntry> atInstall;
  std::copy_if(shadowed.begin(), shadowed.end(), std::back_inserter(atInstall),
               [&](const CorpusEntry& entry) { return std::string_view(entry.level) == install; });
  ExpectListing(installOnly, atInstall);
}

// A syntax name holding a separator files its value below a key that the
// walk reaches later: the document keeps each key's values before its subkeys.
// A name another syntax file spells otherwise is the same setting, written once.
TEST(ScriptingExport, ANameHoldingASeparatorKeepsValuesBeforeSubkeys) {
  Installation in(/*withSyntax=*/false, /*withValues=*/false);
  WriteStoreFile(in.adminDir(), "RegistrySyntax",
                 Key("S", Str("a/v") + Str("w") + Key("a", Str("x"))));
  WriteStoreFile(in.adminDir(), "CoreRegistrySyntax", Key("S", Str("W")));
  WriteStoreFile(in.adminDir(), "default",
                 Key("S", Str("w", "2") + Key("a", Str("v", "1") + Str("x", "3"))));
  auto run = in.Run({"-Export", "-ProductName", "Meridian"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(run.out,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<key name=\"Meridian\">\n"
            "  <key name=\"S\">\n"
            "    <value name=\"w\" type=\"string\">2</value>\n"
            "    <key name=\"a\">\n"
            "      <value name=\"v\" type=\"string\">1</value>\n"
            "      <value name=\"x\" type=\"string\">3</value>\n"
            "    </key>\n"
            "  </key>\n"
            "</key>\n");
}

// A document or an export that standard output could not take, or an export
// that left part of the store out, is no success; the classic commands keep
// their status and silence.
TEST(ScriptingOutput, AnAnswerThatIsNotWholeFailsTheRun) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  Installation in(/*withSyntax=*/true);
  const std::pair<Args, int> runs[] = {{{"-Export", "-ProductName", "Meridian"}, 4},
                                       {Keys({"-Json"}), 4},
                                       {Get("Desktop/Theme", {"-AllLevels"}), 4},
                                       {Keys(), 255}};
  for (const auto& [args, status] : runs) {
    Args shell = {"-c", "exec \"$0\" \"$@\" >/dev/full", in.binary()};
    shell.insert(shell.end(), args.begin(), args.end());
    const auto run = testsupport::Run("/bin/sh", shell, in.home(), in.root_);
    EXPECT_EQ(status, run.status) << Show(args);
    EXPECT_EQ(status == 4 ? "Setwise: standard output could not be written: No space left on device\n"
                          : "",
              run.err);
  }
  const fs::path install = in.adminDir() / "default.XML";
  std::ofstream(install, std::ios::app) << "<x/>";
  const auto partial = in.Run({"-Export", "-ProductName", "Meridian"});
  EXPECT_EQ(1, partial.status);
  EXPECT_TRUE(partial.out.starts_with("<?xml")) << partial.out;
  EXPECT_EQ("Setwise: left out of the export: Store file <" + install.string() +
                "> is damaged: line 3, column 2: a second root element\n",
            partial.err);
}

// Among the refusals: one entry named twice, in other letter case, by a Set
// and a Set or by a deletion and a Set.
TEST(ScriptingImport, ARefusalAnywhereWritesNothingAndEveryRefusalIsReported) {
  Installation in(/*withSyntax=*/true);
  const std::string document =
      Document(in, Str("TempDirectory", "/tmp") + DelKey("TempDirectory") +
                       HexStr("Nul", std::string("a\0b", 3)) +
                       Key("Desktop", Str("Theme", "new") + Int("FontSize", "20") +
                                          Str("Nope", "x") + Key("Options", Str("Units", "cm")) +
                                          Key("ZSRConfigurations", Str("Item5", "z5"))) +
                       Key("desktop", DelValue("FONTSIZE") + Str("THEME", "other")) +
                       Key("Solver", Str("Threads", "8")) + Key("Logging", Str("File", "/new")));
  Unwritten unwritten{in};
  auto text = in.Run(Import(document));
  const std::string temp = "TempDirectory is not a product setting; set it with -Set",
                    twice = "more than one entry of the document names <";
  EXPECT_EQ(Refusals({{"TempDirectory", temp},
                      {"Desktop/FontSize", twice + "Desktop/FontSize>"},
                      {"TempDirectory", temp},
                      {"Nul",
                       "A name or value holding NUL cannot be stored: the store keeps a text "
                       "up to its first NUL"},
                      {"Desktop/Theme", twice + "Desktop/Theme>"},
                      {"Desktop/FontSize", twice + "Desktop/FontSize>"},
                      {"Desktop/Nope", "registry key is not defined in this product"},
                      {"Desktop/Theme", twice + "Desktop/Theme>"},
                      {"Solver/Threads",
                       "Cannot set the registry value to different data type\n"
                       "The work around is delete it, then create it again"}}),
            text.out);
  EXPECT_EQ(255, text.status);
  JsonRun json = RunJson(in, Import(document));
  EXPECT_EQ(2, json.status);
  std::vector<std::string> outcomes(9, "refused");
  outcomes.insert(outcomes.end(), {"created", "changed", "created"});
  EXPECT_EQ(outcomes, Outcomes(json.doc));
  EXPECT_EQ(false, json.doc["written"]);
  unwritten.Check("a refused import");

  // A string longer than a Get reads is refused, naming why; removals come first.
  const std::string tooLong =
      Document(in, Key("Desktop", Str("Theme", std::string(999999, 'x')) +
                                      Key("Options", Str("Units", std::string(1000000, 'y')))) +
                       DelKey("Solver"));
  text = in.Run(Import(tooLong));
  const std::string why =
      "String value is too long to be read (1000000 bytes); the limit is 999999 bytes";
  // Cut: a wrong run would print megabytes.
  EXPECT_EQ(Refusals({{"Desktop/Options/Units", why}}) + "|255",
            text.out.substr(0, 2000) + "|" + std::to_string(text.status));
  json = RunJson(in, Import(tooLong));
  EXPECT_EQ(2, json.status);
  std::vector<Json> refusals;
  for (const Json& entry : json.doc["entries"])
    refusals.push_back(entry.value("refused", Json("")));
  EXPECT_EQ((std::vector<Json>{"", "", why}), refusals);
  unwritten.Check("a refused import");

  // A value name holding a separator names what no Get of its path reads back.
  const std::string split =
      "A value name holding / or \\ cannot be read back: a path splits at its last separator";
  text = in.Run(Import(Document(in, DelValue("Solver/Threads") + Key("Desktop", Str("a\\b")))));
  EXPECT_EQ(Refusals({{"Solver/Threads", split}, {"Desktop/a\\b", split}}) + "|255",
            text.out + "|" + std::to_string(text.status));
  unwritten.Check("a refused import");
}

TEST(ScriptingImport, AKilledImportLeavesNoneOrAllOfTheDocument) {
  constexpr int kRuns = 20, kValues = 100;
  Installation in(/*withSyntax=*/false);
  auto document = [&](int run) {
    std::string values;
    for (int i = 0; i < kValues; ++i) values += Str("e" + std::to_string(i), std::to_string(run));
    return Document(in, Key("K", values) + DelValue("Flag"), "run" + std::to_string(run));
  };
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(0, in.Run(Import(document(0))).status);
  auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int64_t> delay(0, runTime.count() * 3 / 2);
  int landed = 0;
  for (int run = 1; run <= kRuns; ++run) {
    std::string value = std::to_string(run);
    const std::string out = in.root_ / "killed";
    pid_t pid = Spawn(in.binary(), Import(document(run)), in.home(), out, out);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(pid, SIGKILL);
    Wait(pid);
    auto values = SectionTexts(ReadFile(in.userMachineFile()), HostName() + "_user", "K");
    ASSERT_TRUE(values.has_value()) << "run " << run << " tore the file";
    std::set<std::string> texts;
    for (const auto& entry : *values) texts.insert(entry.second);
    ASSERT_EQ(size_t{kValues}, values->size()) << "run " << run;
    ASSERT_EQ(1u, texts.size()) << "run " << run << " landed partly";
    landed += *texts.begin() == value;
  }
  std::cout << "killed imports that landed: " << landed << " of " << kRuns << "\n";
  ASSERT_EQ(0, in.Run(Import(document(kRuns + 1))).status);
  EXPECT_EQ(std::vector<std::string>{}, in.Leftovers());
}

TEST(ScriptingImport, ADryRunReportsWhatTheRealRunDoesAndARepeatWritesNothing) {
  Installation in(/*withSyntax=*/true);
  const std::string body =
      DelValue("Flag") + DelKey("Logging") +
      Key("Desktop", DelValue("Recent") + Int("FontSize", "14") + Str("Theme", "blue") +
                         Key("Options", DelKey("Extra") + Str("Units", "cm"))) +
      Key("Solver", Int("Threads", "4294967295"));
  const std::string document = Document(in, body);
  Unwritten unwritten{in};
  JsonRun dry = RunJson(in, Import(document, {"-DryRun"}));
  auto dryText = in.Run(Import(document, {"-DryRun"}));
  unwritten.Check("a dry run");
  EXPECT_EQ((Json{0, true, false}), (Json{dry.status, dry.doc["dry_run"], dry.doc["written"]}));
  EXPECT_EQ((std::vector<std::string>{"deleted", "absent", "absent", "deleted", "unchanged",
                                      "created", "unchanged", "changed"}),
            Outcomes(dry.doc));
  auto realText = in.Run(Import(document));
  EXPECT_EQ(0, realText.status);
  const std::string lines =
      "Registry setting <Flag> is deleted.\n"
      "Registry key <Logging> is absent; nothing to delete.\n"
      "Registry setting <Desktop/Recent> is absent; nothing to delete.\n"
      "Registry key <Desktop/Options/Extra> is deleted.\n"
      "Registry setting <Desktop/FontSize> already has value <14>.\n"
      "Registry setting <Desktop/Theme> is created with value <blue> of type <string>.\n"
      "Registry setting <Solver/Threads> already has value <-1>.\n"
      "Registry setting <Desktop/Options/Units> is changed to value <cm> of type <string>.\n";
  const std::string counts = "1 created, 1 changed, 2 unchanged, 2 deleted, 2 absent.\n";
  EXPECT_EQ(lines + "Dry run at level <user_machine>, nothing written: " + counts, dryText.out);
  EXPECT_EQ(lines + "Imported at level <user_machine>: " + counts, realText.out);
  EXPECT_EQ(1, RunJson(in, Get("Flag")).status);
  EXPECT_EQ("cm", RunJson(in, Get("Desktop/Options/Units")).doc["value"]);
  EXPECT_EQ(1, RunJson(in, Get("Desktop/Options/Extra/Deep")).status);

  Unwritten repeated{in};
  auto again = in.Run(Import(document));
  EXPECT_NE(std::string::npos,
            again.out.find("Imported at level <user_machine>: 0 created, 0 changed, 4 unchanged, "
                           "0 deleted, 4 absent.\n"))
      << again.out;
  JsonRun againJson = RunJson(in, Import(document));
  EXPECT_EQ(false, againJson.doc["written"]);
  EXPECT_EQ((std::vector<std::string>{"absent", "absent", "absent", "absent", "unchanged",
                                      "unchanged", "unchanged", "unchanged"}),
            Outcomes(againJson.doc));
  repeated.Check("a repeated import");
}

// Sets or clears the immutable flag; false where the file system has none.
bool SetFlag(const fs::path& path, int flag, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  int flags = 0;
  bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | flag : flags & ~flag;
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) ::close(fd);
  return done;
}

// The output with the installation's folder as "<root>", and without the dry
// run's summary line, where the real Import has its own.
std::string Comparable(const Installation& in, std::string text) {
  for (const char* start : {"Dry run at level <", "Imported at level <"}) {
    const size_t at = text.find(start);
    if (at == std::string::npos) continue;
    // After the set-to message, which leaves a blank on a line of its own,
    // the summary's line starts with a break.
    const size_t from = at >= 3 && text.compare(at - 3, 3, "\n \n") == 0 ? at - 1 : at;
    text.erase(from, text.find('\n', at) + 1 - from);
  }
  ReplaceAll(text, in.root_.string(), "<root>");
  return text;
}

// Also without the fields that tell whether it saved.
std::string ComparableDocument(const Installation& in, Json document) {
  for (const char* field : {"dry_run", "saved", "written"}) document.erase(field);
  return Comparable(in, document.dump());
}

// A dry run is the real run without its save: over each store state, every
// change ends as the real run in a twin installation does (status, text bar
// the summary line, document bar the fields that say whether it saved), and
// writes nothing. A failure only the write meets is out of its reach. Where a
// file or folder cannot be read, the classic commands skip it silently; a
// document names each one the run skipped, and a change whose level's file
// cannot take it is refused naming the file, dry or real.
TEST(ScriptingDryRun, EndsAsTheRealRunOverEveryStoreState) {
  using Prepare = std::function<bool(const Installation&)>;
  auto unreadable = [](const fs::path& file) {
    return [file](const Installation& in) {
      fs::remove(in.root_ / file);
      return fs::create_directory(in.root_ / file);
    };
  };
  // The store file of the admin folder's key `key`, holding one value twice.
  auto damaged = [](const char* key) {
    return [key](const Installation& in) {
      WriteStoreFile(in.adminDir(), key, Str("A", "1") + Str("A", "2"));
      return true;
    };
  };
  // A file where the folder `folder` belongs.
  auto aFileAt = [](const fs::path& folder) {
    return [folder](const Installation& in) {
      fs::remove_all(in.root_ / folder);
      return bool(std::ofstream(in.root_ / folder) << "x");
    };
  };
  auto flag = [](const fs::path& file, int flag, bool on) {
    return [=](const Installation& in) { return SetFlag(in.root_ / file, flag, on); };
  };
  const std::string config = "home/Documents/Talven/Meridian/config";
  const struct {
    const char* state;
    Prepare prepare, undo;
    bool asNobody = false;
    // Of a file or folder that cannot be read: whose it is, where it is below
    // the installation, and the refusal's reason after that place.
    std::string level = "", place = "", why = "";
  } states[] = {
      {"healthy", nullptr, nullptr},
      {"install folder not writable by its user", GiveHomeToNobody, nullptr, true},
      {"another user's install file in a shared folder",
       [](const Installation& in) {
         fs::permissions(in.adminDir(), fs::perms::all | fs::perms::sticky_bit);
         fs::permissions(in.adminDir() / "default.XML", fs::perms::owner_read |
                         fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write |
                         fs::perms::others_read | fs::perms::others_write);
         return GiveHomeToNobody(in);
       },
       nullptr, true},
      {"damaged install file", damaged("default"), nullptr, false, "install",
       "inst/config/default.XML", "is damaged: line 2, column 61: duplicate value"},
      // Every run reads the admin file, so every document names it.
      {"damaged admin file", damaged("admin"), nullptr, false, "admin", "inst/config/admin.XML",
       "is damaged: line 2, column 59: duplicate value"},
      {"unreadable install file", unreadable("inst/config/default.XML"), nullptr, false, "install",
       "inst/config/default.XML", "cannot be read: not a regular file"},
      {"unreadable user file", unreadable(config + "/user.XML"), nullptr, false, "user",
       config + "/user.XML", "cannot be read: not a regular file"},
      {"unlisted user folder", aFileAt(config), nullptr, false, "user", config + "/",
       "cannot be listed: Not a directory"},
      {"user folder cannot be created", aFileAt("home/Documents"), nullptr},
      {"lock file a folder",
       [](const Installation& in) { return fs::create_directory(in.adminDir() / ".cfgkit.lock"); },
       nullptr},
      {"lock file a link",
       [](const Installation& in) {
         fs::create_symlink("lock", in.adminDir() / ".cfgkit.lock");
         return bool(std::ofstream(in.adminDir() / "lock"));
       },
       nullptr},
      // Last: where the file system has no such flag, the test ends here.
      {"immutable install file", flag("inst/config/default.XML", FS_IMMUTABLE_FL, true),
       flag("inst/config/default.XML", FS_IMMUTABLE_FL, false)},
      {"immutable admin folder", flag("inst/config", FS_IMMUTABLE_FL, true),
       flag("inst/config", FS_IMMUTABLE_FL, false)},
      {"append-only admin folder", flag("inst/config", FS_APPEND_FL, true),
       flag("inst/config", FS_APPEND_FL, false)},
  };
  const std::string body = Key("Desktop", DelValue("FontSize") + Str("Theme", "blue"));
  const std::vector<Args> changes = {
      Set("Desktop/Theme", "blue", {"-RegistryLevel", "install"}),
      Set("Desktop/Theme", "blue", {"-RegistryLevel", "user"}),
      Set("Desktop/Themme", "blue", {"-RegistryLevel", "install"}),
      Delete("Desktop/Theme", {"-RegistryLevel", "install"}),
      Delete("Desktop/Options", {"-RegistryLevel", "user_machine"}),
      Import("doc.xml", {"-RegistryLevel", "install"}),
      Import("doc.xml", {"-RegistryLevel", "user"}),
      Set("TempDirectory", "/t", {"-RegistryLevel", "install"}),
  };
  for (const auto& row : states) {
    SCOPED_TRACE(row.state);
    if (!row.place.empty()) {
      Installation in(/*withSyntax=*/true);
      ASSERT_TRUE(row.prepare(in));
      const std::string place = (in.root_ / row.place).string();
      for (const Args& read : {Get("Desktop/Theme"), Get("Desktop/Theme", {"-AllLevels"}),
                               Keys({"Theme"}), Keys({"Theme", "-RegistryLevel", row.level})}) {
        const Json warnings = RunJson(in, read).doc["warnings"];
        ASSERT_EQ(1u, warnings.size()) << Show(read) << warnings;
        EXPECT_EQ(place, warnings[0].value("file", warnings[0].value("folder", "")));
      }
      const std::string refusal =
          (place.ends_with('/') ? "Store folder <" : "Store file <") + place + "> " + row.why;
      const Unwritten unwritten{in};
      for (const Args& change :
           {Set("Desktop/Theme", "x", {"-RegistryLevel", row.level}),
            Delete("Desktop/Theme", {"-RegistryLevel", row.level, "-DryRun"})}) {
        const JsonRun run = RunJson(in, change);
        EXPECT_EQ(2, run.status) << Show(change);
        EXPECT_EQ(refusal, run.doc.value("refused", "")) << Show(change);
      }
      // An Import refuses every entry, removals included; another level's goes on.
      const Args import = Import(Document(in, DelKey("Solver") + Key("Desktop", Str("Theme", "x"))),
                                 {"-RegistryLevel", row.level});
      const auto text = in.Run(import);
      EXPECT_EQ(Refusals({{"Solver", refusal}, {"Desktop/Theme", refusal}}) + "|255",
                text.out + "|" + std::to_string(text.status));
      const JsonRun json = RunJson(in, import);
      EXPECT_EQ(2, json.status);
      EXPECT_EQ(2u, json.doc["entries"].size());
      for (const Json& entry : json.doc["entries"]) EXPECT_EQ(refusal, entry.value("refused", ""));
      unwritten.Check("a refused change");
      Args elsewhere = import;
      elsewhere.back() = row.level == "install" ? "user" : "install";
      elsewhere.push_back("-DryRun");
      EXPECT_EQ(0, in.Run(elsewhere).status);
    }
    // Warm, each of the hundreds of runs below would list the store first; the
    // warm Set, Delete and Import suites cover changes made over images.
    if (getenv("SETWISE_CLI_WARM") != nullptr) continue;
    for (const Args& change : changes) {
      for (const bool json : {false, true}) {
        SCOPED_TRACE(Show(change) + (json ? " -Json" : ""));
        Installation dry(/*withSyntax=*/true), real(/*withSyntax=*/true);
        Args dryArgs = change, realArgs = change;
        if (change[0] == "-Import") {
          dryArgs[1] = Document(dry, body), realArgs[1] = Document(real, body);
        }
        dryArgs.push_back("-DryRun");
        if (json) dryArgs.push_back("-Json"), realArgs.push_back("-Json");
        if (row.prepare && !(row.prepare(dry) && row.prepare(real))) {
          GTEST_SKIP() << row.state << ": not possible on this file system";
        }
        Unwritten unwritten{dry};
        const auto dryRun = row.asNobody ? RunAsNobody(dry, dryArgs) : dry.Run(dryArgs);
        const auto realRun = row.asNobody ? RunAsNobody(real, realArgs) : real.Run(realArgs);
        unwritten.Check("a dry run");
        if (row.undo) row.undo(dry), row.undo(real);
        EXPECT_EQ(dryRun.status, realRun.status);
        EXPECT_EQ(std::vector<std::string>{}, real.Leftovers());
        if (json) {
          const Json dryDoc = Parse(dryRun);
          EXPECT_EQ(true, dryDoc.value("dry_run", Json(true))) << dryRun.out;
          EXPECT_EQ(ComparableDocument(dry, dryDoc), ComparableDocument(real, Parse(realRun)));
          // A change that could not be saved says why.
          EXPECT_TRUE(realRun.status != 3 || Parse(realRun).contains("error")) << realRun.out;
        } else {
          EXPECT_EQ(Comparable(dry, dryRun.out), Comparable(real, realRun.out));
          // A TempDirectory Set ends 255 even when it went through.
          const bool wentThrough = dryRun.status == 0 || dryRun.out.starts_with("Success setting");
          EXPECT_EQ(wentThrough, dryRun.out.find("Dry run at level <") != std::string::npos)
              << dryRun.out;
        }
      }
    }
  }
}

// Dry runs and the reads of the new options create no user folder; the
// classic commands still do.
TEST(ScriptingDryRun, CreatesNoUserFolderNorDoReadsForScripts) {
  Installation in(/*withSyntax=*/true);
  const std::string documents = in.home() + "/Documents";
  fs::remove_all(documents);
  const std::string document = Document(in, Key("Desktop", Str("Theme", "blue")));
  const Args runs[] = {
      Set("Desktop/Theme", "blue", {"-DryRun"}),
      Delete("Desktop/Theme", {"-DryRun", "-RegistryLevel", "install"}),
      Import(document, {"-DryRun"}),
      Get("Desktop/Theme", {"-Json"}),
      Get("Desktop/Theme", {"-AllLevels"}),
      Keys({"-Json"}),
      {"-Export", "-ProductName", "Meridian"},
      {"-Check", "-ProductName", "Meridian"},
  };
  for (const Args& args : runs) {
    in.RunAsIs(args);
    EXPECT_FALSE(fs::exists(documents)) << Show(args);
  }
  in.RunAsIs(Get("Desktop/Theme"));
  EXPECT_TRUE(fs::is_directory(in.userDir()));
}

// On a host named after another level's file or a syntax root, a change at
// install_machine would land in that file: refused, naming both. The classic
// text Set is left as it always was.
TEST(ScriptingJson, AHostNamedAfterAnotherFileIsRefused) {
  const std::pair<const char*, const char*> hosts[] = {
      {"admin", "level <admin>"},
      {"default", "level <install>"},
      {"RegistrySyntax", "the syntax root <RegistrySyntax>"}};
  for (const auto& [host, owner] : hosts) {
    SCOPED_TRACE(host);
    Installation in(/*withSyntax=*/true);
    const std::string document = Document(in, Key("Desktop", Str("Theme", "x")));
    auto runOn = [&](Args args) {
      args.insert(args.begin(),
                  {"-u", "/bin/sh", "-c",
                   std::string("hostname ") + host + " && exec \"$0\" \"$@\"", in.binary()});
      return testsupport::Run("/usr/bin/unshare", args, in.home(), in.root_);
    };
    Unwritten unwritten{in};
    const auto set =
        runOn(Set("Desktop/Theme", "x", {"-RegistryLevel", "install_machine", "-Json"}));
    if (!set.err.empty()) GTEST_SKIP() << "no host name of one's own here: " << set.err;
    const std::string refusal = std::string("Level <install_machine> would write store key <") +
                                host + ">, which is also that of " + owner;
    EXPECT_EQ(2, set.status);
    EXPECT_EQ(refusal, Parse(set).value("refused", "")) << set.out;
    Args import = Import(document, {"-RegistryLevel", "install_machine"});
    const auto imported = runOn(import);
    EXPECT_EQ(255, imported.status);
    EXPECT_NE(std::string::npos, imported.out.find(refusal)) << imported.out;
    import.push_back("-DryRun");
    EXPECT_EQ(255, runOn(import).status);
    unwritten.Check("a refused change");
  }
}

// What each deletion reports is in the dry-run test.
TEST(ScriptingImport, DeletionsOfKeysAndValues) {
  Installation in(/*withSyntax=*/true);
  // At another level, in another spelling: the level below shows through.
  JsonRun user = RunJson(
      in, Import(Document(in, Key("desktop", DelValue("THEME"))), {"-RegistryLevel", "user"}));
  EXPECT_EQ((std::vector<std::string>{"deleted"}), Outcomes(user.doc));
  EXPECT_EQ("Desktop/Theme", user.doc["entries"][0]["key"]);
  EXPECT_EQ("light", RunJson(in, Get("Desktop/Theme")).doc["value"]);

  // A deleted key's new content is created as a Set of a new entry would
  // create it: no value is lost, and the document's type is taken.
  JsonRun renewed = RunJson(
      in, Import(Document(
              in, DelKey("Solver") + Key("solver", Str("THREADS", "-1")) +
                      Key("Desktop", DelKey("options") + Key("Options", Str("Units", "in"))))));
  EXPECT_EQ(0, renewed.status) << renewed.doc;
  EXPECT_EQ((std::vector<std::string>{"deleted", "deleted", "created", "created"}),
            Outcomes(renewed.doc));
  JsonRun threads = RunJson(in, Get("Solver/Threads"));
  EXPECT_EQ((Json{"string", "-1"}), (Json{threads.doc["type"], threads.doc["value"]}));
  EXPECT_EQ("in", RunJson(in, Get("Desktop/Options/Units")).doc["value"]);

  // Removals inside a key that the document also removes.
  JsonRun nested = RunJson(
      in, Import(Document(
              in, DelKey("Solver") + Key("Solver", DelValue("Threads")) +
                      Key("Desktop", DelKey("Options") + Key("Options", DelValue("Units"))))));
  EXPECT_EQ(0, nested.status) << nested.doc;
  EXPECT_EQ(std::vector<std::string>(4, "deleted"), Outcomes(nested.doc));
  EXPECT_EQ("mm", RunJson(in, Get("Desktop/Options/Units")).doc["value"]);
  EXPECT_EQ(1, RunJson(in, Get("Solver/Threads")).status);
}

}  // namespace
}  // namespace testsupport
