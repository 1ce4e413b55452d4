// The scripting interface run as scripts run it: -Json documents over awkward
// bytes and their exit statuses, Export and Import between installations,
// Import's all-or-nothing under refusals and kills, dry runs, deletions, and
// Get -AllLevels.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#include "cfgkit/xml_text.h"
#include "support/installation.h"
#include "support/key_file.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;
using testsupport::Args;
using testsupport::Delete;
using testsupport::Get;
using testsupport::HostName;
using testsupport::Import;
using testsupport::Installation;
using testsupport::Int;
using testsupport::Key;
using testsupport::Keys;
using testsupport::Set;
using testsupport::Str;

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

// Writes a settings document into the installation's folder; its path.
std::string Document(const Installation& in, const std::string& body,
                     const std::string& name = "doc.xml") {
  const fs::path path = in.root_ / name;
  std::ofstream(path, std::ios::binary) << Key("Document", body);
  return path;
}

// Standard output must be one JSON document and one line break; standard error empty.
Json Parse(const testsupport::RunResult& run) {
  EXPECT_EQ("", run.err);
  EXPECT_EQ(run.out.size() - 1, run.out.find('\n')) << run.out;
  Json document = Json::parse(run.out, nullptr, /*allow_exceptions=*/false);
  EXPECT_FALSE(document.is_discarded()) << run.out;
  return document;
}

struct JsonRun {
  Json doc;
  int status;
};
JsonRun RunJson(const Installation& in, Args args, const std::string& input = "") {
  args.push_back("-Json");
  auto run = in.Run(args, input);
  return {Parse(run), run.status};
}

// The bytes under `field`, or under `field`_hex decoded; never both.
std::string Bytes(const Json& object, const std::string& field) {
  const bool plain = object.contains(field), hex = object.contains(field + "_hex");
  EXPECT_NE(plain, hex) << field << " in " << object;
  if (plain) return object[field].get<std::string>();
  if (!hex) return "<none>";
  return cfgkit::HexDecode(object[field + "_hex"].get<std::string>()).value_or("<bad hex>");
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
    EXPECT_EQ(Seen(0, key, "", "deleted"), seen(Delete(key), "outcome"));
    EXPECT_EQ(Seen(1, key, "", "absent"), seen(Delete(key), "outcome"));
    EXPECT_EQ(Seen(1, key, "", nullptr), seen(Get(key), "level"));

    // The same value through a document, whose keys join with '/'.
    std::vector<std::string> names{""};
    for (char c : key) {
      if (c == '/' || c == '\\')
        names.emplace_back();
      else
        names.back().push_back(c);
    }
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
  testsupport::WriteStoreFile(
      in.userDir(), "user",
      Key("Nul", "<value name=\"V\" type=\"string\" encoding=\"hex\">61006200</value>"));
  EXPECT_EQ("a", Bytes(RunJson(in, Get("Nul/V")).doc, "value"));
  EXPECT_NE(std::string::npos, in.Run(Get("Nul/V")).out.find("has value <a> of type"));
}

TEST(ScriptingJson, ExitStatusesAndNotes) {
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
  } rows[] = {
      // clang-format off
      {Get("Desktop/Theme"), 0,
       {{"key", "Desktop/Theme"}, {"level", "user"}, {"found", true}, {"value", "dark"}}},
      // Integers are signed whatever level they are read at.
      {Get("solver/threads"), 0, {{"key", "Solver/Threads"}, {"type", "integer"}, {"value", -1}}},
      {Get("Solver/Threads", {"-RegistryLevel", "user_machine"}), 0, {{"value", -1}}},
      {Get("Desktop/Theme", {"-RegistryLevel", "install_machine"}), 1,
       {{"found", false}, {"level", "install_machine"}}},
      {Keys({"Opt", "-Case"}), 0,
       {{"pattern", "Opt"}, {"case_sensitive", true}, {"entries", options}}},
      {Keys({"opt", "-Case"}), 1, {{"entries", Json::array()}}},
      {Set("Desktop/Theme", "blue"), 0, {{"outcome", "created"}, {"saved", true}}},
      {Set("desktop/THEME", "blue"), 0, {{"key", "Desktop/Theme"}, {"outcome", "unchanged"}}},
      {Set("Solver/Threads", "abc", {"-ValueType", "2"}), 2,
       {{"refused",
         "Cannot set the registry value to different data type\n"
         "The work around is delete it, then create it again"}}},
      {Set("", "x"), 2, {{"key", ""}, {"refused", "error on to set registry value at <>"}}},
      {Delete("Desktop/Theme"), 0, {{"outcome", "deleted"}, {"deleted", "value"}}},
      {Delete("desktop/options"), 0, {{"key", "Desktop/Options"}, {"deleted", "key"}}},
      // The option parser's notes, also from the listing, which writes its own document.
      {Get("Flag", {"-Foo", "bar"}), 0,
       {{"value", "on"}, {"notes", {"Unkown option <Foo> and its value <bar> are ignored"}}}},
      {Keys({"-Case", "-\xff"}), 0,
       {{"notes",
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
      {Set("Flag", "x", {"-DryRun"}), 2,
       {{"notes", {"Option -DryRun is valid only with the -Import command"}}}},
      // TempDirectory, which lives in the foundation library's registry.
      {Get("TempDirectory"), 1, {{"key", "TempDirectory"}, {"found", false}, {"level", nullptr}}},
      {Set("tempdirectory", "/t"), 0, {{"level", "user_machine"}, {"outcome", "created"}}},
      {Set("TempDirectory", "/t"), 0, {{"outcome", "unchanged"}, {"saved", true}}},
      {Get("TempDirectory"), 0, {{"found", true}, {"value", "/t"}, {"level", "user_machine"}}},
      {Delete("TempDirectory"), 0, {{"outcome", "deleted"}, {"saved", true}}},
      {Delete("TempDirectory"), 1, {{"outcome", "absent"}}},
      {Get("TempDirectory", {"-RegistryLevel", "admin"}), 2, {{"error", "bad usage"}}},
      {Get("TempDirectory", {"-AllLevels"}), 2,
       {{"notes", {"The TempDirectory setting is read one level at a time, without -AllLevels"}}}},
      {{"-Help"}, 0, Json::object()},
      {Import("no/such.xml"), 2,
       {{"file", "no/such.xml"}, {"error", "no/such.xml: No such file or directory"}}},
      {Import(empty), 0, {{"entries", Json::array()}, {"written", false}}},
      {Import("-"), 0, {{"entries", Json::array()}, {"written", false}}, empty},
      {Import("-"), 0, {{"level", "user_machine"}, {"dry_run", false}, {"written", true}},
       Document(in, Key("Desktop", Str("Theme", "green")), "good.xml")},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.front() + " " + row.args.back());
    auto [document, status] = RunJson(in, row.args, row.input);
    EXPECT_EQ(row.status, status) << document;
    for (const auto& [field, value] : row.expected.items()) {
      EXPECT_EQ(value, document[field]) << field << " of " << document;
    }
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
    testsupport::WriteStoreFile(in->adminDir(), "RegistrySyntax", Values(corpus, "", true));
  }
  std::vector<CorpusEntry> shadowed = corpus;
  shadowed.push_back({"C", "plain", "shadowed", false, install});  // user_machine wins
  testsupport::WriteStoreFile(from.userDir(), HostName() + "_user",
                              Values(shadowed, machine, false));
  testsupport::WriteStoreFile(from.userDir(), "user", Values(shadowed, user, false));
  testsupport::WriteStoreFile(from.adminDir(), "default", Values(shadowed, install, false));

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
  for (const CorpusEntry& entry : shadowed) {
    if (std::string_view(entry.level) == install) atInstall.push_back(entry);
  }
  ExpectListing(installOnly, atInstall);
}

// The store files and their stamps, to show that a run wrote nothing.
struct Unwritten {
  const Installation& in;
  std::map<std::string, std::string> files = in.Snapshot();
  std::map<std::string, std::pair<ino_t, int64_t>> stamps = in.Stamps();
  void Check(const std::string& what) const {
    EXPECT_TRUE(files == in.Snapshot()) << what << " changed a file";
    EXPECT_TRUE(stamps == in.Stamps()) << what << " rewrote a file";
  }
};

TEST(ScriptingImport, ARefusalAnywhereWritesNothingAndEveryRefusalIsReported) {
  Installation in(/*withSyntax=*/true);
  const std::string document =
      Document(in, Str("TempDirectory", "/tmp") +
                       Key("Desktop", Str("Theme", "new") + Int("FontSize", "20") +
                                          Str("Nope", "x") + Key("Options", Str("Units", "cm")) +
                                          Key("ZSRConfigurations", Str("Item5", "z5"))) +
                       Key("desktop", Str("THEME", "other")) + Key("Solver", Str("Threads", "8")) +
                       Key("Logging", Str("File", "/new")));
  Unwritten unwritten{in};
  auto text = in.Run(Import(document));
  EXPECT_EQ(
      "Registry setting <TempDirectory> is refused:\n"
      "TempDirectory is not a product setting; set it with -Set\n"
      "Registry setting <Desktop/Theme> is refused:\n"
      "more than one entry of the document names <Desktop/Theme>\n"
      "Registry setting <Desktop/Nope> is refused:\n"
      "registry key is not defined in this product\n"
      "Registry setting <Desktop/Theme> is refused:\n"
      "more than one entry of the document names <Desktop/Theme>\n"
      "Registry setting <Solver/Threads> is refused:\n"
      "Cannot set the registry value to different data type\n"
      "The work around is delete it, then create it again\n"
      "Nothing was imported: 5 entries refused.\n",
      text.out);
  EXPECT_EQ(255, text.status);
  JsonRun json = RunJson(in, Import(document));
  EXPECT_EQ(2, json.status);
  EXPECT_EQ((std::vector<std::string>{"refused", "refused", "changed", "refused", "refused",
                                      "refused", "created", "changed", "created"}),
            Outcomes(json.doc));
  EXPECT_EQ(false, json.doc["written"]);
  unwritten.Check("a refused import");

  // Refused, naming why: a string longer than a Get reads, or every entry
  // when the level's file or folder cannot be used (another level's import
  // goes on). Each row changes the installation further.
  const std::string file = in.userMachineFile(), folder = in.userDir();
  const std::string tooLong =
      "String value is too long to be read (1000000 bytes); the limit is 999999 bytes";
  const std::string damagedFile = "Store file <" + file + "> is damaged: ",
                    unreadable = "Store file <" + file + "> cannot be read: not a regular file",
                    unlisted = "Store folder <" + folder + "/> cannot be listed: Not a directory";
  // Removals come first.
  const std::string keys[] = {"Solver", "Desktop/Theme", "Desktop/Options/Units"};
  const std::string body =
      Key("Desktop", Str("Theme", std::string(999999, 'x')) +
                         Key("Options", Str("Units", std::string(1000000, 'y')))) +
      DelKey("Solver");
  const struct {
    std::function<void()> change;
    std::vector<std::string> refusals;  // of each entry; "" for none
  } rows[] = {
      {[] {}, {"", "", tooLong}},
      {[&] { std::ofstream(file) << "<key name=\"damaged\">"; },
       std::vector<std::string>(3, damagedFile + "line 1, column 20: Start-end tags mismatch")},
      {[&] {
         fs::remove(file);
         fs::create_directory(file);
       },
       std::vector<std::string>(3, unreadable)},
      {[&] {
         fs::remove_all(folder);
         std::ofstream(folder) << "x";
       },
       std::vector<std::string>(3, unlisted)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.refusals[0]);
    row.change();
    Unwritten unchanged{in};
    std::string expected;
    int refused = 0;
    for (size_t i = 0; i < row.refusals.size(); ++i) {
      if (row.refusals[i].empty()) continue;
      expected += "Registry setting <" + keys[i] + "> is refused:\n" + row.refusals[i] + "\n";
      ++refused;
    }
    expected += "Nothing was imported: " + std::to_string(refused) + " entries refused.\n";
    const std::string refusedDocument = Document(in, body);
    text = in.Run(Import(refusedDocument));
    // Cut: a wrong run would print megabytes.
    EXPECT_EQ(expected + "|255", text.out.substr(0, 2000) + "|" + std::to_string(text.status));
    json = RunJson(in, Import(refusedDocument));
    EXPECT_EQ(2, json.status);
    for (size_t i = 0; i < row.refusals.size(); ++i) {
      const Json& entry = json.doc["entries"][i];
      EXPECT_EQ(row.refusals[i], entry.contains("refused") ? entry["refused"] : Json("")) << i;
    }
    unchanged.Check("a refused import");
    const std::string other = Document(in, Key("Desktop", Str("Theme", "t")));
    EXPECT_EQ(0, in.Run(Import(other, {"-RegistryLevel", "install", "-DryRun"})).status);
  }
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
    pid_t pid = testsupport::Spawn(in.binary(), Import(document(run)), in.home(), out, out);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(pid, SIGKILL);
    testsupport::Wait(pid);
    auto values = testsupport::SectionTexts(testsupport::ReadFile(in.userMachineFile()),
                                            HostName() + "_user", "K");
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
  Installation in(/*withSyntax=*/true), twin(/*withSyntax=*/true);
  const std::string body =
      DelValue("Flag") + DelKey("Logging") +
      Key("Desktop", DelValue("Recent") + Int("FontSize", "14") + Str("Theme", "blue") +
                         Key("Options", DelKey("Extra") + Str("Units", "cm"))) +
      Key("Solver", Int("Threads", "4294967295"));
  const std::string document = Document(in, body);
  Unwritten unwritten{in};
  JsonRun dry = RunJson(in, Import(document, {"-DryRun"}));
  EXPECT_EQ(0, dry.status);
  EXPECT_EQ(true, dry.doc["dry_run"]);
  EXPECT_EQ(false, dry.doc["written"]);
  auto dryText = in.Run(Import(document, {"-DryRun"}));
  unwritten.Check("a dry run");

  JsonRun real = RunJson(twin, Import(Document(twin, body)));
  EXPECT_EQ(true, real.doc["written"]);
  EXPECT_EQ(dry.doc["entries"], real.doc["entries"]);
  std::multiset<std::string> outcomes;
  for (const std::string& outcome : Outcomes(real.doc)) outcomes.insert(outcome);
  EXPECT_EQ((std::multiset<std::string>{"created", "changed", "unchanged", "unchanged", "deleted",
                                        "deleted", "absent", "absent"}),
            outcomes);
  auto realText = in.Run(Import(document));
  EXPECT_EQ(0, realText.status);
  const size_t summary = dryText.out.rfind("Dry run");
  EXPECT_EQ(dryText.out.substr(0, summary), realText.out.substr(0, summary));
  EXPECT_EQ(
      "Dry run at level <user_machine>, nothing written: 1 created, 1 changed, 2 unchanged, "
      "2 deleted, 2 absent.\n",
      dryText.out.substr(summary));
  EXPECT_EQ(
      "Imported at level <user_machine>: 1 created, 1 changed, 2 unchanged, 2 deleted, "
      "2 absent.\n",
      realText.out.substr(summary));
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
  for (const std::string& outcome : Outcomes(againJson.doc)) {
    EXPECT_TRUE(outcome == "unchanged" || outcome == "absent") << outcome;
  }
  repeated.Check("a repeated import");
}

TEST(ScriptingImport, DeletionsOfKeysAndValues) {
  Installation in(/*withSyntax=*/true);
  auto run = in.Run(Import(
      Document(in, DelValue("Flag") + DelKey("Logging") +
                       Key("Desktop", DelValue("FontSize") + DelValue("Theme") +
                                          Key("Options", DelKey("Extra") + DelKey("None"))))));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(
      "Registry setting <Flag> is deleted.\n"
      "Registry key <Logging> is absent; nothing to delete.\n"
      "Registry setting <Desktop/FontSize> is deleted.\n"
      "Registry setting <Desktop/Theme> is absent; nothing to delete.\n"
      "Registry key <Desktop/Options/Extra> is deleted.\n"
      "Registry key <Desktop/Options/None> is absent; nothing to delete.\n"
      "Imported at level <user_machine>: 0 created, 0 changed, 0 unchanged, 3 deleted, 3 absent.\n",
      run.out);
  EXPECT_EQ("install", RunJson(in, Get("Desktop/FontSize")).doc["level"]);
  EXPECT_EQ("dark", RunJson(in, Get("Desktop/Theme")).doc["value"]);
  EXPECT_EQ("in", RunJson(in, Get("Desktop/Options/Units")).doc["value"]);
  EXPECT_EQ(1, RunJson(in, Get("Desktop/Options/Extra/Deep")).status);
  EXPECT_EQ(1, RunJson(in, Get("Flag")).status);
  // At another level.
  JsonRun user = RunJson(
      in, Import(Document(in, Key("desktop", DelValue("THEME"))), {"-RegistryLevel", "user"}));
  EXPECT_EQ((std::vector<std::string>{"deleted"}), Outcomes(user.doc));
  EXPECT_EQ("Desktop/Theme", user.doc["entries"][0]["key"]);
  EXPECT_EQ("light", RunJson(in, Get("Desktop/Theme")).doc["value"]);

  // Removals inside a key that the document also removes.
  JsonRun nested = RunJson(
      in, Import(Document(
              in, DelKey("Solver") + Key("Solver", DelValue("Threads")) +
                      Key("Desktop", DelKey("Options") + Key("Options", DelValue("Units"))))));
  EXPECT_EQ(0, nested.status) << nested.doc;
  EXPECT_EQ(std::vector<std::string>(4, "deleted"), Outcomes(nested.doc));
  EXPECT_EQ("mm", RunJson(in, Get("Desktop/Options/Units")).doc["value"]);
  EXPECT_EQ(1, RunJson(in, Get("Solver/Threads")).status);

  // A deleted key's new content is created as a Set of a new entry would
  // create it: no value is lost, and the document's type is taken.
  Installation fresh(/*withSyntax=*/true);
  JsonRun renewed = RunJson(
      fresh, Import(Document(fresh, DelKey("Solver") + Key("solver", Str("THREADS", "-1")) +
                                        Key("Desktop", DelKey("options") +
                                                           Key("Options", Str("Units", "in"))))));
  EXPECT_EQ(0, renewed.status) << renewed.doc;
  EXPECT_EQ((std::vector<std::string>{"deleted", "deleted", "created", "created"}),
            Outcomes(renewed.doc));
  JsonRun threads = RunJson(fresh, Get("Solver/Threads"));
  EXPECT_EQ("string", threads.doc["type"]);
  EXPECT_EQ("-1", threads.doc["value"]);
  EXPECT_EQ("in", RunJson(fresh, Get("Desktop/Options/Units")).doc["value"]);

  // Deleting and setting one entry, in any spelling, is refused.
  Unwritten unwritten{in};
  JsonRun both = RunJson(
      in, Import(Document(
              in, Key("Desktop", DelValue("Theme") + Str("Theme", "x") + Int("FontSize", "3")) +
                      Key("desktop", DelValue("FONTSIZE")))));
  EXPECT_EQ(2, both.status);
  ASSERT_EQ(4u, both.doc["entries"].size());
  for (const Json& entry : both.doc["entries"]) {
    EXPECT_EQ("more than one entry of the document names <" + entry["key"].get<std::string>() + ">",
              entry["refused"]);
  }
  unwritten.Check("deleting and setting one entry");
}

TEST(ScriptingGet, AllLevelsTextAndJson) {
  Installation in(/*withSyntax=*/true);
  auto text = [&](const std::string& key) {
    auto run = in.Run(Get(key, {"-AllLevels"}));
    return std::to_string(run.status) + ": " + run.out;
  };
  EXPECT_EQ(
      "0: No registry setting found for <Desktop/Theme> at level <user_machine>.\n"
      "Registry setting <Desktop/Theme> has value <dark> of type <string> at level <user>.\n"
      "No registry setting found for <Desktop/Theme> at level <install_machine>.\n"
      "Registry setting <Desktop/Theme> has value <light> of type <string> at level <install>.\n"
      "No registry setting found for <Desktop/Theme> at level <admin>.\n"
      "A Get without a level finds level <user>.\n",
      text("desktop/theme"));
  EXPECT_EQ(
      "0: No registry setting found for <Logging/File> at level <user_machine>.\n"
      "No registry setting found for <Logging/File> at level <user>.\n"
      "No registry setting found for <Logging/File> at level <install_machine>.\n"
      "No registry setting found for <Logging/File> at level <install>.\n"
      "Registry setting <Logging/File> has value </var/log/m.log> of type <string> at level "
      "<admin>.\n"
      "A Get without a level finds no value.\n",
      text("Logging/File"));
  EXPECT_EQ(0u, text("Desktop/Recent").find("1: No registry setting found"));

  // JSON: {level: value} of the levels that hold one, and what a plain Get finds.
  const struct {
    std::string key;
    int status;
    Json values;
    Json finds;
  } rows[] = {
      {"Desktop/FontSize", 0, {{"user_machine", 14}, {"install", 10}}, "user_machine"},
      {"Solver/Threads", 0, {{"user_machine", -1}}, "user_machine"},
      {"Logging/File", 0, {{"admin", "/var/log/m.log"}}, nullptr},
      {"Desktop/Recent", 1, Json::object(), nullptr},
  };
  for (const auto& row : rows) {
    JsonRun all = RunJson(in, Get(row.key, {"-AllLevels"}));
    EXPECT_EQ(row.status, all.status);
    EXPECT_EQ(row.key, all.doc["key"]);
    EXPECT_EQ(row.finds, all.doc["get_finds"]);
    EXPECT_EQ(row.status == 0, all.doc["found"]);
    Json values = Json::object();
    for (const Json& level : all.doc["levels"]) {
      EXPECT_EQ(level.contains("value"), level["found"]);
      if (level["found"] == true) values[level["level"].get<std::string>()] = level["value"];
    }
    EXPECT_EQ(row.values, values) << row.key;
    EXPECT_EQ(5u, all.doc["levels"].size());
  }
}

}  // namespace
