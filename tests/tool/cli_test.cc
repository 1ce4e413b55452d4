// The real Setwise binary's text commands (reads also as -Json), -Check and
// debug log: the whole standard output, the (empty) standard error and the
// exit status.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <regex>

#include "support/installation.h"

namespace testsupport {
namespace {

// One run and what it must print and return. Without checks the run must leave
// every file as it was; each check is a later run and its expected output.
struct Step {
  Args args;
  std::string out;
  int status;
  std::vector<std::pair<Args, std::string>> checks = {};
};

// Each step in a fresh installation, or all of them in one when `shared`.
void RunSteps(const std::vector<Step>& steps, bool withSyntax = true, bool shared = false) {
  auto installation = std::make_unique<Installation>(withSyntax);
  for (const Step& step : steps) {
    if (!shared) installation = std::make_unique<Installation>(withSyntax);
    const Unwritten unwritten{*installation};
    auto run = installation->Run(step.args);
    EXPECT_EQ(std::tie(run.out, run.err, run.status), std::tuple(step.out, "", step.status))
        << Show(step.args);
    if (step.checks.empty()) unwritten.Check(Show(step.args));
    for (const auto& [args, out] : step.checks) {
      auto check = installation->Run(args);
      EXPECT_EQ(check.out + check.err, out) << Show(step.args) << " then" << Show(args);
    }
  }
}

std::string Created(const std::string& key, const std::string& value) {
  return "Register value <" + key + "> is created with value <" + value + "> \n";
}
std::string SetTo(const std::string& key, const std::string& value) {
  return "Register value <" + key + "> is set to <" + value + ">\n ";
}
std::string DryRunAt(const std::string& level, const std::string& counts) {
  return "Dry run at level <" + level + ">, nothing written: " + counts + ".\n";
}
std::string SetFailed(const std::string& key) {
  return "error on to set registry value at <" + key + ">\n";
}
const std::string kNotInt = "Value type is Int32, but registry value is not an integer\n";
const std::string kUsage =
    "usage: Setwise -Get -ProductName name -RegistryKey keyPath [-RegistryLevel level]\n"
    "usage: Setwise -GetKeys [pattern] [-Case] -ProductName name\n"
    "usage: Setwise -Set -ProductName name -RegistryKey keyPath  -RegistryValue value "
    "[-RegistryLevel level]\n"
    "usage: Setwise -Delete -ProductName name -RegistryKey keyPath  [-RegistryLevel level]\n"
    "note: RegistryLevel  -- >  install | install_machine | user | user_machine; default to "
    "user_machine\n"
    "      For the -Get command, if RegistryLevel is not specified, then the levels are searched "
    "in order.\n"
    "      For the -GetKeys command, if pattern is present, then only keys matching the pattern "
    "are shown.\n"
    "      The -Case option specifies a case sensitive pattern match; otherwise the match is case "
    "insensitive.\n";

// The step tables read best one row to a line, so clang-format leaves them alone.
TEST(CliOptions, UsageAndOptionErrors) {
  const std::string flag = Found("Flag", "on", "string");
  // clang-format off
  RunSteps({
      {{}, kUsage, 255},
      {{"-Help", "-ProductName", "Nobody"}, kUsage, 0},
      {{"-Help", "-Get", "-ProductName", "Meridian", "-RegistryKey", "Flag"}, flag, 255},
      // Option names in any case after either prefix; the last command and value win.
      {{"/GET", "/productname", "Meridian", "-REGISTRYKEY", "Flag"}, flag, 255},
      {{"-Set", "-Get", "-ProductName", "Other", "-ProductName", "Meridian", "-RegistryKey", "Flag"},
       flag, 255},
      {{"-Get", "-Foo", "bar", "-ProductName", "Meridian", "-RegistryKey", "Flag"},
       "Unkown option <Foo> and its value <bar> are ignored\n" + flag, 255},
      {{"--Get", "-ProductName", "Meridian", "-RegistryKey", "Flag"},
       "Unkown option <-Get> is ignored\nMissing -Get, -GetKeys, -Set and -Delete option\n" +
       kUsage, 255},
      {{"-Get", "-ProductName", "Meridian", "-RegistryKey"},
       "Value for option <RegistryKey> is missing\nMissing RegistryKey parameter\n" + kUsage, 255},
      {Command("-Set", "Solver/Threads", {"-RegistryValue", "-5"}),
       "Value for option <RegistryValue> is missing\nUnkown option <5> is ignored\n"
       "RegistryValue parameter is required for Setting Registry value\n" + kUsage, 255},
      {{"-Get", "", "-ProductName", "Meridian"},
       "Parameter option <> must started with - or /\nMissing ProductName parameter\n" + kUsage,
       255},
      {GetAt("Flag", "machine"), "unknown RegistryLevel <machine>\n" + kUsage, 255},
      {GetAt("desktop\\THEME", "Install"), Found("Desktop/Theme", "light", "string", "install"),
       255},
      {Get(""), NotFound(""), 255},
      {{"-Get", "-ProductName", "Merid", "-RegistryKey", "Flag"},
       "<Merid> is not an installed product\n" + kUsage, 255},
      // The list's spelling names the user folder that holds Flag.
      {{"-Get", "-ProductName", "MERIDIAN", "-RegistryKey", "Flag"}, flag, 255},
      // The list's last line has no line break; this product has no user files.
      {{"-Get", "-ProductName", "meridianviewer", "-RegistryKey", "Flag"}, NotFound("Flag"), 255},
  }, true, /*shared=*/true);
  // clang-format on
  Installation exporting(true);
  // -Help -All: the classic usage as it is, then a line and a sentence per newer option.
  const auto help = exporting.Run({"-Help", "-All"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.out.rfind(kUsage, 0)) << help.out;
  for (const char* option :
       {"-ValueType", "admin", "-AllLevels", "-Export", "-Import", "-DryRun", "-Check", "-Json"}) {
    EXPECT_NE(std::string::npos, help.out.find(option, kUsage.size())) << option;
  }
  EXPECT_EQ(2, exporting.Run(Get("Flag", {"-All"})).status);
  // A note would come before Export's document, so that it could not be imported.
  for (const Args& args : {Args{"-Export", "-Case", "-ProductName", "Meridian"},
                           Args{"-Export", "-ProductName", "Meridian", "-Foo", "bar"}}) {
    const auto run = exporting.Run(args);
    EXPECT_EQ(2, run.status) << Show(args);
    EXPECT_TRUE(run.out.find("<?xml") == std::string::npos &&
                run.out.find(kUsage) != std::string::npos)
        << run.out;
  }
  // A list that is no regular file reads as no list: every name is accepted,
  // and a FIFO does not hang the command.
  for (bool fifo : {true, false}) {
    Installation installation(true);
    const fs::path list = installation.adminDir() / "ProductList.txt";
    fs::remove(list);
    ASSERT_EQ(0, fifo ? mkfifo(list.c_str(), 0644) : mkdir(list.c_str(), 0755));
    auto run = testsupport::Run(
        "/usr/bin/timeout",
        {"10", installation.binary(), "-Get", "-ProductName", "Merid", "-RegistryKey", "Flag"},
        installation.home(), installation.root_);
    EXPECT_EQ(NotFound("Flag") + "|255", run.out + "|" + std::to_string(run.status)) << fifo;
  }
  // An executable whose folder the system cannot name (its path is longer
  // than a path may be) knows no installation, rather than using /config.
  Installation deep(true);
  const std::string folder(250, 'd');
  const auto lost = testsupport::Run(
      "/bin/bash",
      {"-c", "cd '" + deep.root_.string() + "' && for i in $(seq 18); do mkdir " + folder + " && cd " + folder +
                 " || exit 9; done; cp \"$0\" . && ./Setwise \"$@\"",
       deep.binary(), "-Set", "-ProductName", "Meridian", "-RegistryKey", "Desktop/Theme",
       "-RegistryValue", "x", "-RegistryLevel", "install"},
      deep.home(), deep.root_);
  EXPECT_EQ("<Meridian> is not an installed product\n" + kUsage + "|255",
            lost.out + "|" + std::to_string(lost.status));
}

// Each key's every level read alone, all at once (-AllLevels) and by
// precedence, as text and as JSON, none of which writes anything. The text of
// -AllLevels is the lines a Get at each level prints, then what a plain Get
// finds; read at a level, an integer shows unsigned in the text.
TEST(CliGet, EachLevelAloneAllLevelsAndByPrecedence) {
  Installation in(/*withSyntax=*/true);
  const Unwritten unwritten{in};
  const struct {
    std::string key, declared;
    Json values;  // {level: value}
  } rows[] = {
      {"desktop/theme", "Desktop/Theme", {{"user", "dark"}, {"install", "light"}}},
      {"Desktop\\FontSize", "Desktop/FontSize", {{"user_machine", 14}, {"install", 10}}},
      {"solver/threads", "Solver/Threads", {{"user_machine", -1}}},
      {"logging/file", "Logging/File", {{"admin", "/var/log/m.log"}}},
      {"Desktop/Recent", "Desktop/Recent", Json::object()},
      {"desktop/zsrconfigurations/item3", "Desktop/ZSRConfigurations/Item3", {{"user", "zsr3"}}},
      {"Desktop/TempDirectory", "Desktop/TempDirectory", Json::object()},
  };
  // What a Get of `key` shows of `value` (null for none) at `level`, as JSON and as text.
  auto document = [](const std::string& key, const Json& value, const Json& level) {
    Json doc = {{"key", key}, {"level", level}, {"found", !value.is_null()}};
    if (!value.is_null()) doc["type"] = value.is_number() ? "integer" : "string";
    if (!value.is_null()) doc["value"] = value;
    return doc;
  };
  auto text = [](const std::string& key, const Json& value, const Json& level, bool atLevel) {
    if (value.is_null()) return NotFound(key, level.is_null() ? "" : level.get<std::string>());
    if (!value.is_number()) return Found(key, value.get<std::string>(), "string", level);
    return Found(key, atLevel ? std::to_string(value.get<uint32_t>()) : value.dump(), "integer",
                 level);
  };
  // Runs a read as text and as JSON, whose status says whether it found a value.
  auto expect = [&](const Args& args, const std::string& text, int status, const Json& doc) {
    const auto run = in.Run(args);
    const JsonRun json = RunJson(in, args);
    EXPECT_EQ((Json{text, status, doc, doc["found"] == true ? 0 : 1}),
              (Json{run.out, run.status, json.doc, json.status}));
    return json.doc;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.key);
    std::string lines;
    Json levels = Json::array(), finds;
    for (const char* level : {"user_machine", "user", "install_machine", "install", "admin"}) {
      const Json value = row.values.value(level, Json());
      lines += text(row.declared, value, level, true);
      levels.push_back(expect(GetAt(row.key, level), text(row.declared, value, level, true), 255,
                              document(row.declared, value, level)));
      levels.back().erase("key");
      if (finds.is_null() && !value.is_null() && level != std::string("admin")) finds = level;
    }
    lines += finds.is_null() ? "A Get without a level finds no value.\n"
                             : "A Get without a level finds level <" + std::string(finds) + ">.\n";
    expect(Get(row.key, {"-AllLevels"}), lines, row.values.empty() ? 1 : 0,
           {{"key", row.declared},
            {"levels", levels},
            {"found", !row.values.empty()},
            {"get_finds", finds}});
    // A plain Get shows the value of the level it finds, an integer signed.
    const Json found = finds.is_null() ? Json() : row.values[std::string(finds)];
    expect(Get(row.key), text(row.declared, found, finds, false), 255,
           document(row.declared, found, finds));
  }
  unwritten.Check("a read");
}

TEST(CliSet, OutcomesAndRefusals) {
  const std::string large(130000, 'x');
  // clang-format off
  RunSteps({
      // Declared a string, so 42 stays one; the message uses the declared spelling.
      {Set("desktop/theme", "42"), Created("Desktop/Theme", "42"), 0,
       {{GetAt("Desktop/Theme", "user_machine"), Found("Desktop/Theme", "42", "string")}}},
      // The dry run's summary starts a line of its own after the blank.
      {Set("Solver/Threads", "8", {"-DryRun"}), SetTo("Solver/Threads", "8") + "\n" +
       DryRunAt("user_machine", "0 created, 1 changed, 0 unchanged, 0 deleted, 0 absent"), 0},
      {Set("Solver/Threads", "-3"), SetTo("Solver/Threads", "-3"), 0,
       {{GetAt("Solver/Threads", "user_machine"),
         Found("Solver/Threads", "4294967293", "integer")}}},
      {Set("Desktop/Options/Units", ""), SetTo("Desktop/Options/Units", ""), 0,
       {{Get("Desktop/Options/Units"), Found("Desktop/Options/Units", "", "string")}}},
      {Set("desktop/zsrconfigurations/item9", "v"), Created("Desktop/ZSRConfigurations/Item9", "v"),
       0, {{Get("Desktop/ZSRConfigurations/ITEM9"),
            Found("Desktop/ZSRConfigurations/Item9", "v", "string")}}},
      {Set("Desktop/Theme", "blue", {"-RegistryLevel", "install"}), SetTo("Desktop/Theme", "blue"),
       0, {{GetAt("Desktop/Theme", "install"), Found("Desktop/Theme", "blue", "string", "install")},
           {Get("Desktop/Theme"), Found("Desktop/Theme", "dark", "string", "user")}}},
      // The kernel caps one argument at 128 KiB; reading this one back needs the largest buffer.
      {Set("Desktop/Theme", large), Created("Desktop/Theme", large), 0,
       {{Get("Desktop/Theme"), Found("Desktop/Theme", large, "string")},
        {Get("Solver/Threads"), Found("Solver/Threads", "-1", "integer")}}},
      // Refusals: every file stays as it was.
      {Set("Desktop/Theme", "x", {"-ValueType", "integer"}),
       "Unsupported value type integer\n" + kUsage, 255},
      {Set("Desktop/Recent", "42a"), kNotInt + SetFailed("Desktop/Recent"), 255},
      {Set("Solver/Threads", "abc"), kNotInt + SetFailed("Solver/Threads"), 255},
      {Set("Solver/Threads", "abc", {"-ValueType", "2"}),
       "Cannot set the registry value to different data type\n"
       "The work around is delete it, then create it again\n" + SetFailed("Solver/Threads"), 255},
      {Set("Desktop/Nope", "x"),
       "registry key is not defined in this product\n" + SetFailed("Desktop/Nope"), 255},
      {Set("", "x"), SetFailed(""), 255},
  });
  // Without any syntax file the value's spelling picks the type.
  RunSteps({
      {Set("A/B", "42"), Created("A/B", "42"), 0, {{Get("A/B"), Found("A/B", "42", "integer")}}},
      {Set("A/B", "42a"), Created("A/B", "42a"), 0, {{Get("A/B"), Found("A/B", "42a", "string")}}},
      {Set("A/B", "42", {"-ValueType", "2"}), Created("A/B", "42"), 0,
       {{Get("A/B"), Found("A/B", "42", "string")}}},
      // An existing integer keeps its type, so the text is refused as a number.
      {Set("Solver/Threads", "abc"), kNotInt + SetFailed("Solver/Threads"), 255},
  }, /*withSyntax=*/false);
  // clang-format on
}

TEST(CliDelete, KeysEntriesAndLevels) {
  const std::string failed = "No able to delete Value or Key <";
  // clang-format off
  RunSteps({
      {Delete("desktop/options"), "Register key <Desktop/Options> is deleted \n", 0,
       {{Get("Desktop/Options/Units"), Found("Desktop/Options/Units", "mm", "string", "install")},
        {Get("Desktop/Options/Extra/Deep"), NotFound("Desktop/Options/Extra/Deep")}}},
      {Delete("Solver/Threads"), "Register value  <Solver/Threads> is deleted \n", 0,
       {{Get("Solver/Threads"), NotFound("Solver/Threads")},
        {Get("Flag"), Found("Flag", "on", "string")}}},
      {Delete("Flag"), "Register value  <Flag> is deleted \n", 0,
       {{Get("Flag"), NotFound("Flag")}}},
      {Delete("desktop/THEME", {"-RegistryLevel", "user"}),
       "Register value  <Desktop/Theme> is deleted \n", 0,
       {{Get("Desktop/Theme"), Found("Desktop/Theme", "light", "string", "install")}}},
      // Failures name the argument as typed; nothing is saved.
      {Delete("desktop/nope"), failed + "desktop/nope> \n", 255},
      {Delete("x"), failed + "/x> \n", 255},
      {Delete("desktop/THEME"), failed + "desktop/THEME> \n", 255},  // not at user_machine
      // No name, or separators alone, is never the level's whole key.
      {Delete("", {"-RegistryLevel", "install"}), failed + "/> \n", 255},
      {Delete("/"), failed + "//> \n", 255},
  });
  // clang-format on
}

TEST(CliGetKeys, ListingAndPatterns) {
  const std::string options =
      "Desktop/Options: no value (key only)\n"
      "Desktop/Options/Units: value is <in> at level <user_machine>\n";
  const std::string all =
      "Desktop: no value (key only)\n"
      "Desktop/FontSize: value is <14> at level <user_machine>\n"
      "Desktop/Recent: no value found in registry\n"
      "Desktop/Theme: value is <dark> at level <user>\n" +
      options +
      "Logging: no value (key only)\n"
      "Logging/File: no value found in registry\n"
      "Solver: no value (key only)\n"
      "Solver/Threads: value is <-1> at level <user_machine>\n";
  // clang-format off
  RunSteps({
      {Keys({"-Case"}), "Option -Case ignored; it is valid only if a pattern is specified with the "
                        "-GetKeys command\nRegistry keys:\n" + all, 255},
      {Keys({"/x"}), "Unkown option <x> is ignored\nRegistry keys:\n" + all, 255},
      // A level, even one that is none, is ignored.
      {Keys({"Opt", "-Case", "-RegistryLevel", "machine"}),
       "Registry keys matching pattern <Opt> case sensitively:\n" + options, 255},
      {Keys({"opt", "-Case"}), "No registry keys found matching pattern <opt> case sensitively.\n",
       255},
      {Keys({"D?sk*Units"}), "Registry keys matching pattern <D?sk*Units> case insensitively:\n"
                             "Desktop/Options/Units: value is <in> at level <user_machine>\n", 255},
  }, true, /*shared=*/true);
  // clang-format on
  RunSteps({{Keys({}), "No registry keys found.\n", 255}}, /*withSyntax=*/false);
}

// Each entry reads as a Get of its path would: names the syntax respells, the
// alias table, names with a NUL or an empty one, a name that does not split
// back into its key and name, an integer shadowed by a string further down.
// In a store of several products where the product cannot be told, the
// registry's key names stay empty, and a path "/<section>" then names the
// top-level key <section>. A debug log at level 5 must not change the listing.
TEST(CliGetKeys, EntriesReadAsAGetOfTheirPath) {
  // "N\0" (a name with a NUL) lists as "N"; "Cut" is a text with a NUL.
  const std::string nulName = "<value hexname=\"4e00\" type=\"string\"/>";
  const struct {
    const char* product;
    std::function<void(const fs::path& admin, const fs::path& user)> prepare;
    std::string listing;
  } rows[] = {
      {"Meridian",
       [&](const fs::path& admin, const fs::path& user) {
         WriteStoreFile(
             admin, "RegistrySyntax",
             Key("Desktop",
                 Str("Theme") + Int("FontSize") + Str("") + Str("a\\b") + nulName + Str("Mixed") +
                     Str("Cut") + Key("ZSRConfigurations", Str("Item3") + Str("item3")) +
                     Key("Options", Str("Units") + Str("Extra") + nulName) + Key("Empty")));
         WriteStoreFile(admin, "CoreRegistrySyntax",
                        Key("desktop", Str("THEME") + Int("fontsize")) +
                            Key("Desktop", Str("Theme") + Int("Recent")));
         WriteStoreFile(
             admin, "default",
             Key("Desktop", Str("Theme", "light") + Int("FontSize", "10") + Str("", "unnamed") +
                                Str("a\\b", "slash") + Str("N", "n") + Str("Mixed", "text") +
                                "<value name=\"Cut\" type=\"string\" encoding=\"hex\">"
                                "61006200</value>" +
                                Key("a", Str("b", "ab")) +
                                Key("Options", Int("Units", "5") + Str("Extra", "x"))));
         WriteStoreFile(user, HostName() + "_user",
                        Key("Desktop", Int("FontSize", "14") + Int("Mixed", "7") +
                                           Key("Options", Str("Units", "in"))));
       },
       "Registry keys:\n"
       "Desktop: no value (key only)\n"
       "Desktop: no value found in registry\n"
       "Desktop/Cut: value is <a> at level <install>\n"
       "Desktop/FontSize: value is <14> at level <user_machine>\n"
       "Desktop/Mixed: value is <text> at level <install>\n"
       "Desktop/N: value is <n> at level <install>\n"
       "Desktop/Recent: no value found in registry\n"
       "Desktop/Theme: value is <dark> at level <user>\n"
       "Desktop/a\\b: value is <ab> at level <install>\n"
       "Desktop/Empty: no value (key only)\n"
       "Desktop/Options: no value (key only)\n"
       "Desktop/Options/Extra: value is <x> at level <install>\n"
       "Desktop/Options/N: no value found in registry\n"
       "Desktop/Options/Units: value is <in> at level <user_machine>\n"
       "Desktop/ZSRConfigurations: no value (key only)\n"
       "Desktop/ZSRConfigurations/Item3: value is <zsr3> at level <user>\n"
       "Desktop/ZSRConfigurations/item3: value is <zsr3> at level <user>\n"
       "desktop: no value (key only)\n"
       "desktop/THEME: value is <dark> at level <user>\n"
       "desktop/fontsize: value is <14> at level <user_machine>\n"},
      {"2024",
       [](const fs::path& admin, const fs::path&) {
         WriteStoreFile(admin, "admin", Int("SupportsMultipleApplications", "1"));
         WriteStoreFile(admin, "Desktop",
                        Str("Theme", "dark") + Int("Extra", "3") + Key("Sub", Str("Deep", "d")));
         std::ofstream(admin / "ProductList.txt") << "2024\n";
       },
       "Registry keys:\n"
       "Desktop: no value (key only)\n"
       "Desktop/Extra: value is <3> at level <install_machine>\n"
       "Desktop/Recent: no value found in registry\n"
       "Desktop/Theme: value is <dark> at level <install_machine>\n"
       "Desktop/Sub: no value (key only)\n"
       "Desktop/Sub/Deep: value is <d> at level <install_machine>\n"
       "Logging: no value (key only)\n"
       "Logging/File: no value found in registry\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.product);
    Installation installation(true);
    row.prepare(installation.adminDir(), installation.userDir());
    const std::string log = installation.root_ / "log";
    const Args keys = {"-GetKeys", "-ProductName", row.product};
    auto logged =
        installation.RunAsIs(keys, "", {"TALVEN_DEBUG_LEVEL=5", "TALVEN_DEBUG_FILE=" + log});
    auto quiet = installation.RunAsIs(keys);
    EXPECT_EQ(std::tie(row.listing, logged.out), std::tie(quiet.out, quiet.out));
    EXPECT_EQ(255, quiet.status);
    EXPECT_NE(std::string::npos, ReadFile(log).find("GetRegistryString"));
  }
}

// Root running with a user's home (sudo) leaves the user folder it creates
// the user's, who can then still save there.
TEST(CliUserFolder, MadeByRootInAUsersHomeStaysTheUsers) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can run as another user";
  Installation in(/*withSyntax=*/true);
  fs::remove_all(in.home() + "/Documents");
  ASSERT_TRUE(GiveHomeToNobody(in));
  EXPECT_EQ(255, in.Run(Get("Desktop/Theme")).status);
  for (fs::path dir = in.userDir(); dir != in.home(); dir = dir.parent_path()) {
    struct stat info {};
    ASSERT_EQ(0, ::stat(dir.c_str(), &info)) << dir;
    EXPECT_EQ(kNobody, info.st_uid) << dir;
  }
  EXPECT_EQ(0, RunAsNobody(in, Set("Desktop/Theme", "blue")).status);
  // A file root makes there is the user's too, to edit by hand.
  fs::remove(in.userDir() / "user.XML");
  EXPECT_EQ(0, in.Run(Set("Desktop/Theme", "red", {"-RegistryLevel", "user"})).status);
  struct stat made {};
  ASSERT_EQ(0, ::stat((in.userDir() / "user.XML").c_str(), &made));
  EXPECT_EQ(kNobody, made.st_uid);
}

TEST(CliTempDirectory, OwnRegistryByLevel) {
  const std::string refused =
      "Registry level <admin> in not valid for registry entry <TempDirectory>.\n";
  auto found = [](const std::string& value, const std::string& level) {
    return "Registry setting <TempDirectory> has value <" + value + "> at level <" + level + ">.\n";
  };
  auto written = [](const std::string& value, const std::string& level) {
    return "Success setting registry <TempDirectory> value to <" + value + "> at level <" + level +
           ">.\n";
  };
  // clang-format off
  RunSteps({
      {GetAt("TempDirectory", "admin"), refused, 255},
      {Set("TEMPDIRECTORY", "/scratch/a", {"-RegistryLevel", "Admin"}), refused, 255},
      {Set("tempdirectory", "/scratch/u", {"-RegistryLevel", "user"}),
       written("/scratch/u", "user"), 255,
       {{Get("TempDirectory"), found("/scratch/u", "user")},
        {GetAt("TempDirectory", "install"), NotFound("TempDirectory", "install")}}},
      {Set("TempDirectory", "/scratch/m"), written("/scratch/m", "user_machine"), 255,
       {{Get("TempDirectory"), found("/scratch/m", "user_machine")}}},
      {Delete("TempDirectory"),
       "Success deleting registry entry <TempDirectory> from level <user_machine>.\n", 255,
       {{GetAt("TempDirectory", "user_machine"), NotFound("TempDirectory", "user_machine")},
        {GetAt("TempDirectory", "user"), found("/scratch/u", "user")}}},
      {Delete("TempDirectory", {"-DryRun"}),
       "Success deleting registry entry <TempDirectory> from level <user_machine>.\n" +
       DryRunAt("user_machine", "0 created, 0 changed, 0 unchanged, 0 deleted, 1 absent"), 255},
  }, true, /*shared=*/true);
  // clang-format on
}

// The kind a JSON finding has for a text line: its first word, but for a string too long.
std::string KindOf(const std::string& line) {
  std::string kind = line.substr(0, line.find(' '));
  std::transform(kind.begin(), kind.end(), kind.begin(), ::tolower);
  return kind == "string" ? "too_long" : kind;
}

struct Paths {
  fs::path admin, user;
  std::string host;
};

struct Row {
  const char* what;
  std::function<void(const Paths&)> change;
  int filesChecked;
  std::vector<std::string> findings;  // {admin}, {user} and {host} stand for the paths
  bool asNobody = false;              // run by another user, see GiveHomeToNobody
};

std::string Expand(std::string text, const Paths& paths) {
  const std::pair<std::string, std::string> names[] = {
      {"{admin}", paths.admin}, {"{user}", paths.user}, {"{host}", paths.host}};
  for (const auto& [name, value] : names) ReplaceAll(text, name, value);
  return text;
}

// -Check: one installation per kind of finding, the same findings in JSON,
// and nothing on disk changed or created.
TEST(CliCheck, OneInstallationPerKindOfFinding) {
  const std::string syntax =
      Key("Desktop", Str("Theme") + Int("FontSize") + Key("Options", Str("Units"))) +
      Key("Solver", Int("Threads"));
  // clang-format off
  const Row rows[] = {
      {"clean, with the registry's records of products and an alias entry", [](const Paths&) {}, 6, {}},
      {"a damaged file", [](const Paths& p) {
         std::ofstream(p.admin / "default.XML")
             << "<?xml version=\"1.0\"?>\n<key name=\"default\">\n  <key name=\"Desktop\">\n"
                "    <value name=\"Theme\" type=\"string\">a</value>\n"
                "    <value name=\"Theme\" type=\"string\">b</value>\n  </key>\n</key>\n";
       }, 6, {"Damaged file <{admin}/default.XML>: line 5, column 6: duplicate value"}},
      {"an unreadable file", [](const Paths& p) { fs::create_directory(p.admin / (p.host + ".XML")); },
       7, {"Unreadable file <{admin}/{host}.XML>: not a regular file"}},
      // The other folder is read all the same.
      {"an unreadable folder", [](const Paths& p) {
         fs::remove_all(p.user);
         std::ofstream(p.user) << "a file where the folder belongs";
         std::ofstream(p.admin / "admin.XML") << "<key name=\"admin\"><broken>";
       }, 4, {"Unreadable folder <{user}/>: Not a directory",
              "Damaged file <{admin}/admin.XML>: line 1, column 26: Start-end tags mismatch"}},
      {"a missing folder", [](const Paths& p) { fs::remove_all(p.user); }, 4, {}},
      {"undefined settings", [](const Paths& p) {
         WriteStoreFile(p.user, p.host + "_user", Str("Flag", "on"));
         WriteStoreFile(p.admin, "default", Key("Desktop", Str("Theme") + Int("Foo")));
       }, 6, {"Undefined setting <Flag> at level <user_machine> in <{user}/{host}_user.XML>",
              "Undefined setting <Desktop/Foo> at level <install> in <{admin}/default.XML>"}},
      {"a type", [](const Paths& p) {
         WriteStoreFile(p.user, p.host + "_user", Key("Solver", Str("Threads", "-1")));
       }, 6, {"Type of <Solver/Threads> at level <user_machine> in <{user}/{host}_user.XML> is "
              "<string>, declared <integer>"}},
      {"spellings, of the syntax and of the alias table", [](const Paths& p) {
         WriteStoreFile(p.user, "user", Key("desktop", Str("THEME")) +
                                            Key("Desktop", Key("zsrconfigurations", Str("ITEM4"))));
       }, 6, {"Spelling of <desktop/THEME> at level <user> in <{user}/user.XML> differs from the "
              "declared <Desktop/Theme> in letter case only",
              "Spelling of <Desktop/zsrconfigurations/ITEM4> at level <user> in <{user}/user.XML> "
              "differs from the declared <Desktop/ZSRConfigurations/Item4> in letter case only"}},
      {"strings of the largest size a Get reads and one byte more", [](const Paths& p) {
         WriteStoreFile(p.user, "user", Key("Desktop", Str("Theme", std::string(999999, 'x'))));
         WriteStoreFile(p.admin, "default", Key("Desktop", Str("Theme", std::string(1000000, 'x'))));
       }, 6, {"String <Desktop/Theme> at level <install> in <{admin}/default.XML> is too long to "
              "be read (1000000 bytes)"}},
      {"a store of several products", [&syntax](const Paths& p) {
         WriteStoreFile(p.admin, "admin", Int("SupportsMultipleApplications", "1") +
             Key("products", Key("Meridian", Key("Logging", Str("File"))) + Key("Other", Str("Junk"))));
         WriteStoreFile(p.admin, "default", Key("products",
             Key("Meridian", Key("Desktop", Str("Theme") + Str("Nope"))) + Key("Other", Str("Junk"))));
         WriteStoreFile(p.admin, "MeridianRegistrySyntax", syntax);
       }, 6, {"Undefined setting <Desktop/Nope> at level <install> in <{admin}/default.XML>"}},
      // Each folder in turn: the user folder is above, as a file.
      {"an admin folder its user may not list", [](const Paths& p) {
         fs::permissions(p.admin, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
       }, 2, {"Unreadable folder <{admin}/>: Permission denied"}, true},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Installation installation(true);
    const Paths paths{installation.adminDir(), installation.userDir(), HostName()};
    // A clean base: the registry's records of products, an alias entry at user.
    WriteStoreFile(paths.admin, "admin",
                   Int("SupportsMultipleApplications", "0") + Key("Logging", Str("File")) +
                       Key("products", Key("Other", Str("Junk"))));
    WriteStoreFile(paths.user, paths.host + "_user",
                   Key("Solver", Int("Threads", "-1")) + Key("Desktop", Int("FontSize", "14")));
    installation.WarmUp();
    if (row.asNobody) {
      ASSERT_TRUE(GiveHomeToNobody(installation));
    }
    row.change(paths);
    const auto before = installation.Snapshot(/*all=*/true);
    auto run = [&](const Args& args) {
      return row.asNobody ? RunAsNobody(installation, args) : installation.RunAsIs(args);
    };
    const auto text = run({"-Check", "-ProductName", "Meridian"});
    const auto json = run({"-Check", "-ProductName", "Meridian", "-Json"});
    EXPECT_TRUE(installation.Snapshot(true) == before) << "the check changed or created something";

    std::string expected;
    for (const std::string& finding : row.findings) expected += Expand(finding, paths) + "\n";
    const std::string summary = "Checked " + std::to_string(row.filesChecked) +
                                " files: " + std::to_string(row.findings.size()) + " findings.";
    const int status = row.findings.empty() ? 0 : 1;
    EXPECT_EQ(std::tie(text.out, text.err, text.status, json.status),
              std::tuple(expected + summary + "\n", "", status, status));
    const Json document = Parse(json);
    ASSERT_TRUE(document.is_object()) << json.out;
    EXPECT_EQ((Json{row.filesChecked, summary}),
              (Json{document["files_checked"], document["summary"]}));
    ASSERT_EQ(row.findings.size(), document["findings"].size()) << json.out;
    for (size_t i = 0; i < row.findings.size(); ++i) {
      const std::string line = Expand(row.findings[i], paths);
      const auto& finding = document["findings"][i];
      EXPECT_EQ(KindOf(line), finding.value("kind", "")) << line;
      const std::string place = finding.value("file", finding.value("folder", "?"));
      EXPECT_NE(std::string::npos, line.find("<" + place + ">")) << line;
      if (finding.contains("key")) {
        EXPECT_TRUE(line.find("<" + finding.value("key", "?") + ">") != std::string::npos) << line;
      }
    }
  }
}

// The host name where it stands as a name of its own ("vm_user", "vm.XML").
void ReplaceHost(std::string& text, const std::string& host) {
  const std::string literal =
      std::regex_replace(host, std::regex(R"([.^$|()\[\]{}*+?\\-])"), R"(\$&)");
  text = std::regex_replace(text, std::regex("(^|[^[:alnum:]])" + literal + "(?![[:alnum:]])"),
                            "$1{host}");
}

std::string Normalised(std::string log, const Installation& in) {
  std::string root = in.root_.string(), backslashed = root;
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  ReplaceAll(log, root, "{root}");
  ReplaceAll(log, backslashed, "{root}");
  ReplaceHost(log, HostName());
  return log;
}

// The debug log at level 5 of a table of runs, line for line as recorded in
// tests/data/debug_logs/ (the installation's root and the host name written
// {root} and {host}), whatever reads the registry underneath. To record them anew:
//   SETWISE_RECORD_LOGS=1 build/default/tests/tool/cli_tests --gtest_filter='CliDebugLog.*'
TEST(CliDebugLog, EveryRunLogsAsRecorded) {
  Installation in(/*withSyntax=*/true);
  // A second syntax file that spells a key and an entry in other letter case.
  WriteStoreFile(
      in.adminDir(), "CoreRegistrySyntax",
      Key("desktop", Int("Recent") + Str("THEME") + Str("Zoom")) + Key("Logging", Str("File")));
  const std::pair<const char*, Args> runs[] = {
      {"get_by_precedence", Get("desktop/theme")},
      {"get_integer_at_level", GetAt("Desktop/FontSize", "user_machine")},
      {"get_alias", Get("Desktop/ZSRConfigurations/Item3")},
      {"get_undefined", Get("Desktop/Nope")},
      {"getkeys", Keys()},
      {"getkeys_pattern", Keys({"*THEME*"})},
      {"getkeys_case", Keys({"Desk*Units", "-Case"})},
      {"set_second_syntax", Set("DESKTOP/zoom", "big", {"-RegistryLevel", "user"})},
      {"set_integer", Set("Solver/Threads", "4", {"-RegistryLevel", "install"})},
      {"delete_value", Delete("Desktop/Options/Units")},
      {"delete_key", Delete("Desktop/Options/Extra")},
      {"getkeys_after_changes", Keys()},
  };
  const fs::path recorded = fs::path(SETWISE_TEST_DATA) / "debug_logs";
  const bool record = getenv("SETWISE_RECORD_LOGS") != nullptr;
  for (const auto& [name, args] : runs) {
    SCOPED_TRACE(name);
    const fs::path log = in.root_ / "debug.log";
    fs::remove(log);
    auto run = in.Run(args, "", {"TALVEN_DEBUG_LEVEL=5", "TALVEN_DEBUG_FILE=" + log.string()});
    EXPECT_EQ("", run.err);
    const std::string lines = Normalised(ReadFile(log), in);
    const fs::path expected = recorded / (std::string(name) + ".log");
    if (record) {
      fs::create_directories(recorded);
      std::ofstream(expected, std::ios::binary) << lines;
    }
    EXPECT_EQ(ReadFile(expected), lines);
  }
}

}  // namespace
}  // namespace testsupport
