// Runs the real Setwise binary in throw-away installations, as people and
// scripts run it: the whole standard output, the (empty) standard error and
// the exit status of text commands and of -Check; -Json documents over
// awkward bytes and their exit statuses, Export and Import between
// installations, Import's all-or-nothing under refusals and kills, dry runs,
// deletions, and Get -AllLevels.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "cfgkit/xml_text.h"
#include "support/installation.h"
#include "support/key_file.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;
using testsupport::Args;

namespace {

using testsupport::Command;
using testsupport::Delete;
using testsupport::Get;
using testsupport::GetAt;
using testsupport::HostName;
using testsupport::Import;
using testsupport::Installation;
using testsupport::Int;
using testsupport::Key;
using testsupport::Keys;
using testsupport::Set;
using testsupport::Str;
using testsupport::WriteStoreFile;

std::string Show(const Args& args) {
  std::string text;
  for (const std::string& arg : args) text += " '" + arg.substr(0, 60) + "'";
  return text;
}

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
    auto before = installation->Snapshot();
    auto run = installation->Run(step.args);
    EXPECT_EQ(run.out, step.out) << Show(step.args);
    EXPECT_EQ(run.err, "") << Show(step.args);
    EXPECT_EQ(run.status, step.status) << Show(step.args);
    if (step.checks.empty()) {
      EXPECT_TRUE(installation->Snapshot() == before) << "files changed by" << Show(step.args);
    }
    for (const auto& [args, out] : step.checks) {
      auto check = installation->Run(args);
      EXPECT_EQ(check.out + check.err, out) << Show(step.args) << " then" << Show(args);
    }
  }
}

std::string Found(const std::string& key, const std::string& value, const std::string& type,
                  const std::string& level = "user_machine") {
  return "Registry setting <" + key + "> has value <" + value + "> of type <" + type +
         "> at level <" + level + ">.\n";
}
std::string NotFound(const std::string& key, const std::string& level = "") {
  return "No registry setting found for <" + key +
         (level.empty() ? ">.\n" : "> at level <" + level + ">.\n");
}
std::string Created(const std::string& key, const std::string& value) {
  return "Register value <" + key + "> is created with value <" + value + "> \n";
}
std::string SetTo(const std::string& key, const std::string& value) {
  return "Register value <" + key + "> is set to <" + value + ">\n ";
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
  for (const char* option : {"-ValueType", "admin", "-AllLevels", "-Export", "-Import", "-DryRun",
                             "-Check", "-Json"}) {
    EXPECT_NE(std::string::npos, help.out.find(option, kUsage.size())) << option;
  }
  EXPECT_EQ(2, exporting.Run(Get("Flag", {"-All"})).status);
  // A note would come before Export's document, so that it could not be imported.
  for (const Args& args : {Args{"-Export", "-Case", "-ProductName", "Meridian"},
                           Args{"-Export", "-ProductName", "Meridian", "-Foo", "bar"}}) {
    const auto run = exporting.Run(args);
    EXPECT_EQ(2, run.status) << Show(args);
    EXPECT_TRUE(run.out.find("<?xml") == std::string::npos && run.out.find(kUsage) != std::string::npos)
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
}

TEST(CliGet, PrecedenceLevelsAndSpelling) {
  std::vector<Step> steps;
  // clang-format off
  for (auto& [args, out] : std::vector<std::pair<Args, std::string>>{
      {Get("Desktop/Theme"), Found("Desktop/Theme", "dark", "string", "user")},
      {GetAt("desktop\\THEME", "Install"), Found("Desktop/Theme", "light", "string", "install")},
      {Get("Desktop/FontSize"), Found("Desktop/FontSize", "14", "integer")},
      {Get("Solver/Threads"), Found("Solver/Threads", "-1", "integer")},
      {GetAt("Solver/Threads", "user_machine"), Found("Solver/Threads", "4294967295", "integer")},
      {GetAt("logging/file", "ADMIN"), Found("Logging/File", "/var/log/m.log", "string", "admin")},
      {Get("desktop/zsrconfigurations/item3"),
       Found("Desktop/ZSRConfigurations/Item3", "zsr3", "string", "user")},
      {Get("Desktop/TempDirectory"), NotFound("Desktop/TempDirectory")},
      {Get(""), NotFound("")}})
    steps.push_back({args, out, 255});
  // clang-format on
  RunSteps(steps, true, /*shared=*/true);
}

TEST(CliSet, OutcomesAndRefusals) {
  const std::string large(130000, 'x');
  // clang-format off
  RunSteps({
      {Set("Desktop/Theme", "blue"), Created("Desktop/Theme", "blue"), 0,
       {{Get("Desktop/Theme"), Found("Desktop/Theme", "blue", "string")}}},
      // Declared a string, so 42 stays one; the message uses the declared spelling.
      {Set("desktop/theme", "42"), Created("Desktop/Theme", "42"), 0,
       {{GetAt("Desktop/Theme", "user_machine"), Found("Desktop/Theme", "42", "string")}}},
      {Set("Solver/Threads", "8"), SetTo("Solver/Threads", "8"), 0,
       {{Get("Solver/Threads"), Found("Solver/Threads", "8", "integer")}}},
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
      {Keys({}), "Registry keys:\n" + all, 255},
      {Keys({"-Case"}), "Option -Case ignored; it is valid only if a pattern is specified with the "
                        "-GetKeys command\nRegistry keys:\n" + all, 255},
      {Keys({"/x"}), "Unkown option <x> is ignored\nRegistry keys:\n" + all, 255},
      {Keys({"Opt", "-Case"}), "Registry keys matching pattern <Opt> case sensitively:\n" + options,
       255},
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

// The listing of `product`, read entry by entry like a Get; the same with a
// debug log at level 5, which must not change what is printed.
std::string Listing(const Installation& installation, const std::string& product) {
  const std::string log = installation.root_ / "log";
  const Args keys = {"-GetKeys", "-ProductName", product};
  auto logged =
      installation.RunAsIs(keys, "", {"TALVEN_DEBUG_LEVEL=5", "TALVEN_DEBUG_FILE=" + log});
  auto quiet = installation.RunAsIs(keys);
  EXPECT_EQ(quiet.out, logged.out);
  EXPECT_EQ(255, quiet.status);
  EXPECT_NE(std::string::npos, testsupport::ReadFile(log).find("GetRegistryString"));
  return quiet.out;
}

// Each entry reads as a Get of its path would: names the syntax respells, the
// alias table, names with a NUL or an empty one, a name that does not split
// back into its key and name, an integer shadowed by a string further down.
TEST(CliGetKeys, EntriesReadAsAGetOfTheirPath) {
  Installation installation(true);
  const fs::path admin = installation.adminDir();
  // "N\0" (a name with a NUL) lists as "N"; "Cut" is a text with a NUL.
  const std::string nulName = "<value hexname=\"4e00\" type=\"string\"/>";
  WriteStoreFile(admin, "RegistrySyntax",
                 Key("Desktop", Str("Theme") + Int("FontSize") + Str("") + Str("a\\b") + nulName +
                                    Str("Mixed") + Str("Cut") +
                                    Key("ZSRConfigurations", Str("Item3") + Str("item3")) +
                                    Key("Options", Str("Units") + Str("Extra")) + Key("Empty")));
  WriteStoreFile(admin, "CoreRegistrySyntax",
                 Key("desktop", Str("THEME") + Int("fontsize")) +
                     Key("Desktop", Str("Theme") + Int("Recent")));
  WriteStoreFile(admin, "default",
                 Key("Desktop", Str("Theme", "light") + Int("FontSize", "10") + Str("", "unnamed") +
                                    Str("a\\b", "slash") + Str("N", "n") + Str("Mixed", "text") +
                                    "<value name=\"Cut\" type=\"string\" encoding=\"hex\">"
                                    "61006200</value>" +
                                    Key("a", Str("b", "ab")) +
                                    Key("Options", Int("Units", "5") + Str("Extra", "x"))));
  WriteStoreFile(installation.userDir(), HostName() + "_user",
                 Key("Desktop", Int("FontSize", "14") + Int("Mixed", "7") +
                                    Key("Options", Str("Units", "in"))));
  EXPECT_EQ(Listing(installation, "Meridian"),
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
            "Desktop/Options/Units: value is <in> at level <user_machine>\n"
            "Desktop/ZSRConfigurations: no value (key only)\n"
            "Desktop/ZSRConfigurations/Item3: value is <zsr3> at level <user>\n"
            "Desktop/ZSRConfigurations/item3: value is <zsr3> at level <user>\n"
            "desktop: no value (key only)\n"
            "desktop/THEME: value is <dark> at level <user>\n"
            "desktop/fontsize: value is <14> at level <user_machine>\n");
}

// A store of several products in which the product cannot be told: the
// registry's key names stay empty, and a path "/<section>" then names the
// top-level key <section>.
TEST(CliGetKeys, ListingWhenTheProductsKeysAreUnknown) {
  Installation installation(true);
  const fs::path admin = installation.adminDir();
  WriteStoreFile(admin, "admin", Int("SupportsMultipleApplications", "1"));
  WriteStoreFile(admin, "Desktop",
                 Str("Theme", "dark") + Int("Extra", "3") + Key("Sub", Str("Deep", "d")));
  std::ofstream(admin / "ProductList.txt") << "2024\n";
  EXPECT_EQ(Listing(installation, "2024"),
            "Registry keys:\n"
            "Desktop: no value (key only)\n"
            "Desktop/Extra: value is <3> at level <install_machine>\n"
            "Desktop/Recent: no value found in registry\n"
            "Desktop/Theme: value is <dark> at level <install_machine>\n"
            "Desktop/Sub: no value (key only)\n"
            "Desktop/Sub/Deep: value is <d> at level <install_machine>\n"
            "Logging: no value (key only)\n"
            "Logging/File: no value found in registry\n");
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
  }, true, /*shared=*/true);
  // clang-format on
}

// Every file and folder below `root` but the captured output, with its mode,
// size and modification time, and the bytes of the registry's files.
std::map<std::string, std::string> DiskState(const fs::path& root) {
  std::map<std::string, std::string> listing;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const fs::path& path = item.path();
    if (path == root / "out" || path == root / "err") continue;
    struct stat info = {};
    lstat(path.c_str(), &info);
    std::string& entry = listing[path];
    entry = std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
            std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
    if (item.is_regular_file() && path != root / "inst/Setwise") {
      entry += " " + testsupport::ReadFile(path);
    }
  }
  return listing;
}

// The kind a JSON finding has for a text line.
std::string KindOf(const std::string& line) {
  const std::pair<const char*, const char*> kinds[] = {
      {"Damaged ", "damaged"}, {"Unreadable ", "unreadable"}, {"Undefined ", "undefined"},
      {"Type ", "type"},       {"Spelling ", "spelling"},     {"String ", "too_long"}};
  for (const auto& [start, kind] : kinds) {
    if (line.starts_with(start)) return kind;
  }
  return "?";
}

constexpr uid_t kNobody = 65534;

// A run of another user, whose home is its own and who may read the
// installation but not write it.
bool GiveHomeToNobody(const Installation& in) {
  fs::permissions(in.root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
  for (const auto& item : fs::recursive_directory_iterator(in.home())) {
    if (::lchown(item.path().c_str(), kNobody, kNobody) != 0) return false;
  }
  return ::chown(in.home().c_str(), kNobody, kNobody) == 0;
}

testsupport::RunResult RunAsNobody(const Installation& in, Args args) {
  args.insert(args.begin(),
              {"--reuid=65534", "--regid=65534", "--clear-groups", in.binary()});
  return testsupport::Run("/usr/bin/setpriv", args, in.home(), in.root_);
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
  bool asNobody = false;               // run by another user, see GiveHomeToNobody
};

std::string Expand(std::string text, const Paths& paths) {
  const std::pair<std::string, std::string> names[] = {
      {"{admin}", paths.admin}, {"{user}", paths.user}, {"{host}", paths.host}};
  for (const auto& [name, value] : names) {
    for (size_t at; (at = text.find(name)) != std::string::npos;)
      text.replace(at, name.size(), value);
  }
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
    const fs::path& root = installation.root_;
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
    const auto before = DiskState(root);
    auto run = [&](const Args& args) {
      return row.asNobody ? RunAsNobody(installation, args) : installation.RunAsIs(args);
    };
    const auto text = run({"-Check", "-ProductName", "Meridian"});
    const auto json = run({"-Check", "-ProductName", "Meridian", "-Json"});
    EXPECT_TRUE(DiskState(root) == before) << "the check changed or created something";

    std::string expected;
    for (const std::string& finding : row.findings) expected += Expand(finding, paths) + "\n";
    const std::string summary = "Checked " + std::to_string(row.filesChecked) +
                                " files: " + std::to_string(row.findings.size()) + " findings.";
    const int status = row.findings.empty() ? 0 : 1;
    EXPECT_EQ(expected + summary + "\n", text.out);
    EXPECT_EQ(status, text.status);
    EXPECT_EQ("", text.err + json.err);
    EXPECT_EQ(status, json.status);
    const auto document = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_TRUE(document.is_object()) << json.out;
    EXPECT_EQ(row.filesChecked, document.value("files_checked", -1));
    EXPECT_EQ(summary, document.value("summary", ""));
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
    EXPECT_EQ(Found(key, value, "string"), in.Run(Get(key)).out);
    EXPECT_EQ(Seen(0, key, "", "deleted"), seen(Delete(key), "outcome"));
    EXPECT_EQ(Seen(1, key, "", "absent"), seen(Delete(key), "outcome"));
    EXPECT_EQ(Seen(1, key, "", nullptr), seen(Get(key), "level"));
    EXPECT_EQ(NotFound(key), in.Run(Get(key)).out);

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
      // Integers are signed, also at a level (see -AllLevels).
      {Get("solver/threads"), 0, {{"key", "Solver/Threads"}, {"type", "integer"}, {"value", -1}}},
      {Get("Desktop/Theme", {"-RegistryLevel", "install_machine"}), 1,
       {{"found", false}, {"level", "install_machine"}}},
      {Keys({"Opt", "-Case"}), 0,
       {{"pattern", "Opt"}, {"case_sensitive", true}, {"entries", options}}},
      {Keys({"opt", "-Case"}), 1, {{"entries", Json::array()}}},
      {Keys({}), 0, {{"case_sensitive", false}}},
      // At one level, admin included: what that level holds.
      {Keys({"Units", "-RegistryLevel", "install"}), 0,
       {{"level", "install"},
        {"entries", {{{"path", "Desktop/Options/Units"}, {"type", "string"}, {"value", "mm"},
                      {"level", "install"}}}}}},
      {Keys({"Logging/File", "-RegistryLevel", "ADMIN"}), 0,
       {{"entries", {{{"path", "Logging/File"}, {"type", "string"}, {"value", "/var/log/m.log"},
                      {"level", "admin"}}}}}},
      {Keys({"-RegistryLevel", "machine"}), 2, {{"notes", {"unknown RegistryLevel <machine>"}}}},
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
    EXPECT_FALSE(document.contains("warnings")) << "a healthy store: " << document;
  }
}

// The classic commands skip a damaged or unreadable file silently; a document
// names each one the run skipped, and a change whose level's file cannot take
// it is refused naming the file, dry or real.
TEST(ScriptingJson, SkippedFilesAreWarnedOfAndChangesRefusedByName) {
  const struct {
    const char* state;
    std::function<void(const Installation&)> change;
    std::string level;  // whose file or folder it is
    std::string warning;  // the warning's "file" or "folder", below the installation
    std::string refusal;  // below the installation
  } rows[] = {
      {"damaged", [](const Installation& in) {
         WriteStoreFile(in.adminDir(), "default", Str("A", "1") + Str("A", "2"));
       }, "install", "/inst/config/default.XML",
       "Store file <{}/inst/config/default.XML> is damaged: line 2, column 61: duplicate value"},
      {"unreadable", [](const Installation& in) {
         fs::remove(in.userDir() / "user.XML");
         fs::create_directory(in.userDir() / "user.XML");
       }, "user", "/home/Documents/Talven/Meridian/config/user.XML",
       "Store file <{}/home/Documents/Talven/Meridian/config/user.XML> cannot be read: not a "
       "regular file"},
      {"unlisted", [](const Installation& in) {
         fs::remove_all(in.userDir());
         std::ofstream(in.userDir()) << "x";
       }, "user", "/home/Documents/Talven/Meridian/config/",
       "Store folder <{}/home/Documents/Talven/Meridian/config/> cannot be listed: Not a "
       "directory"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.state);
    Installation in(/*withSyntax=*/true);
    row.change(in);
    const std::string root = in.root_.string();
    for (const Args& read : {Get("Desktop/Theme"), Get("Desktop/Theme", {"-AllLevels"}),
                             Keys({"Theme"}), Keys({"Theme", "-RegistryLevel", row.level})}) {
      const Json warnings = RunJson(in, read).doc["warnings"];
      ASSERT_EQ(1u, warnings.size()) << Show(read) << warnings;
      EXPECT_EQ(root + row.warning, warnings[0].value("file", warnings[0].value("folder", "")));
    }
    std::string refusal = row.refusal;
    refusal.replace(refusal.find("{}"), 2, root);
    for (const Args& change : {Set("Desktop/Theme", "x", {"-RegistryLevel", row.level}),
                               Delete("Desktop/Theme", {"-RegistryLevel", row.level, "-DryRun"})}) {
      const JsonRun run = RunJson(in, change);
      EXPECT_EQ(2, run.status) << Show(change);
      EXPECT_EQ(refusal, run.doc.value("refused", "")) << Show(change);
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
  void Check(const std::string& what) const {
    EXPECT_TRUE(files == in.Snapshot()) << what << " changed or rewrote a file";
  }
};

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
  EXPECT_EQ(
      "Registry setting <TempDirectory> is refused:\n"
      "TempDirectory is not a product setting; set it with -Set\n"
      "Registry setting <Desktop/FontSize> is refused:\n"
      "more than one entry of the document names <Desktop/FontSize>\n"
      "Registry setting <TempDirectory> is refused:\n"
      "TempDirectory is not a product setting; set it with -Set\n"
      "Registry setting <Nul> is refused:\n"
      "A name or value holding NUL cannot be stored: the store keeps a text up to its first NUL\n"
      "Registry setting <Desktop/Theme> is refused:\n"
      "more than one entry of the document names <Desktop/Theme>\n"
      "Registry setting <Desktop/FontSize> is refused:\n"
      "more than one entry of the document names <Desktop/FontSize>\n"
      "Registry setting <Desktop/Nope> is refused:\n"
      "registry key is not defined in this product\n"
      "Registry setting <Desktop/Theme> is refused:\n"
      "more than one entry of the document names <Desktop/Theme>\n"
      "Registry setting <Solver/Threads> is refused:\n"
      "Cannot set the registry value to different data type\n"
      "The work around is delete it, then create it again\n"
      "Nothing was imported: 9 entries refused.\n",
      text.out);
  EXPECT_EQ(255, text.status);
  JsonRun json = RunJson(in, Import(document));
  EXPECT_EQ(2, json.status);
  std::vector<std::string> outcomes(9, "refused");
  outcomes.insert(outcomes.end(), {"created", "changed", "created"});
  EXPECT_EQ(outcomes, Outcomes(json.doc));
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
  for (const std::string& outcome : Outcomes(againJson.doc)) {
    EXPECT_TRUE(outcome == "unchanged" || outcome == "absent") << outcome;
  }
  repeated.Check("a repeated import");
}

// Sets or clears the immutable flag; false where the file system has none.
bool SetImmutable(const fs::path& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  int flags = 0;
  bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) ::close(fd);
  return done;
}

// The output with the installation's folder as "<root>", and without the dry
// run's summary line, where the real Import has its own.
std::string Comparable(const Installation& in, std::string text) {
  for (const char* start : {"Dry run at level <", "Imported at level <"}) {
    const size_t at = text.find(start);
    if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
  }
  const std::string root = in.root_.string();
  for (size_t at = text.find(root); at != std::string::npos; at = text.find(root, at)) {
    text.replace(at, root.size(), "<root>");
  }
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
// writes nothing. A failure only the write meets is out of its reach.
TEST(ScriptingDryRun, EndsAsTheRealRunOverEveryStoreState) {
  // Warm, every one of its hundreds of runs would list the store first; the
  // warm Set, Delete and Import suites cover changes made over images.
  if (getenv("SETWISE_CLI_WARM") != nullptr) GTEST_SKIP() << "run cold only";
  using Prepare = std::function<bool(const Installation&)>;
  const Prepare damaged = [](const Installation& in) {
    WriteStoreFile(in.adminDir(), "default", Str("A", "1") + Str("A", "2"));
    return true;
  };
  const struct {
    const char* state;
    Prepare prepare;
    Prepare undo;
    bool asNobody = false;
  } states[] = {
      {"healthy", nullptr, nullptr},
      {"install folder not writable by its user", GiveHomeToNobody, nullptr, true},
      {"damaged install file", damaged, nullptr},
      {"unreadable install file",
       [](const Installation& in) {
         fs::remove(in.adminDir() / "default.XML");
         return fs::create_directory(in.adminDir() / "default.XML");
       },
       nullptr},
      {"immutable install file",
       [](const Installation& in) { return SetImmutable(in.adminDir() / "default.XML", true); },
       [](const Installation& in) { return SetImmutable(in.adminDir() / "default.XML", false); }},
      {"immutable admin folder",
       [](const Installation& in) { return SetImmutable(in.adminDir(), true); },
       [](const Installation& in) { return SetImmutable(in.adminDir(), false); }},
      {"user folder cannot be created",
       [](const Installation& in) {
         fs::remove_all(in.home() + "/Documents");
         std::ofstream(in.home() + "/Documents") << "x";
         return true;
       },
       nullptr},
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
    for (const Args& change : changes) {
      for (const bool json : {false, true}) {
        SCOPED_TRACE(std::string(row.state) + ": " + Show(change) + (json ? " -Json" : ""));
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
        if (json) {
          const Json dryDoc = Parse(dryRun);
          EXPECT_EQ(true, dryDoc.value("dry_run", Json(true))) << dryRun.out;
          EXPECT_EQ(ComparableDocument(dry, dryDoc), ComparableDocument(real, Parse(realRun)));
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

// The example README.md gives of a command's document, with its
// placeholders ("...", P, "a"\|"b") made JSON; null when there is none.
Json ReadmeExample(const std::string& readme, const std::string& start) {
  const size_t at = readme.find(start);
  if (at == std::string::npos) return Json();
  const size_t open = readme.find('{', at);
  std::string text = readme.substr(open, readme.find('`', open) - open);
  const std::pair<std::regex, const char*> placeholders[] = {
      {std::regex(R"(\\\|"[^"]*")"), ""},              // alternatives: the first
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

// Each command's document has the fields of its example in README.md, no
// more and no fewer.
TEST(ScriptingJson, DocumentsHaveTheShapesReadmeGives) {
  const std::string readme = testsupport::ReadFile(SETWISE_README);
  Installation in(/*withSyntax=*/true);
  const struct {
    std::string start;  // where the example's row begins
    Args args;
  } rows[] = {
      {"| Get |", GetAt("Desktop/Theme", "install")},
      {"| Get -AllLevels |", Get("Desktop/Theme", {"-AllLevels"})},
      {"| GetKeys |", Keys({"Options"})},
      {"| Set |", Set("Desktop/FontSize", "8")},
      {"| Delete |", Delete("Desktop/FontSize")},
      {"| Import |", Import(Document(in, Key("Desktop", Str("Theme", "t") + DelValue("Recent"))),
                            {"-RegistryLevel", "install"})},
      {"JSON:\n", {"-Check", "-ProductName", "Meridian"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.start);
    const Json example = ReadmeExample(readme, row.start);
    ASSERT_TRUE(example.is_object()) << "no example in README.md";
    EXPECT_EQ(FieldsOf(example), FieldsOf(RunJson(in, row.args).doc));
  }
}

// On a host named after another level's file or a syntax root, a change at
// install_machine would land in that file: refused, naming both. The classic
// text Set is left as it always was.
TEST(ScriptingJson, AHostNamedAfterAnotherFileIsRefused) {
  const std::pair<const char*, const char*> hosts[] = {
      {"admin", "level <admin>"}, {"default", "level <install>"},
      {"RegistrySyntax", "the syntax root <RegistrySyntax>"}};
  for (const auto& [host, owner] : hosts) {
    SCOPED_TRACE(host);
    Installation in(/*withSyntax=*/true);
    const std::string document = Document(in, Key("Desktop", Str("Theme", "x")));
    auto runOn = [&](Args args) {
      args.insert(args.begin(), {"-u", "/bin/sh", "-c",
                                 std::string("hostname ") + host + " && exec \"$0\" \"$@\"",
                                 in.binary()});
      return testsupport::Run("/usr/bin/unshare", args, in.home(), in.root_);
    };
    const Args level = {"-RegistryLevel", "install_machine"};
    Unwritten unwritten{in};
    Args setJson = Set("Desktop/Theme", "x", level);
    setJson.push_back("-Json");
    const auto set = runOn(setJson);
    if (!set.err.empty()) GTEST_SKIP() << "no host name of one's own here: " << set.err;
    const std::string refusal = std::string("Level <install_machine> would write store key <") +
                                host + ">, which is also that of " + owner;
    EXPECT_EQ(2, set.status);
    EXPECT_EQ(refusal, Parse(set).value("refused", "")) << set.out;
    Args import = Import(document, level);
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
}

// The text names every level, the JSON the levels that hold a value; both
// say what a plain Get finds.
TEST(ScriptingGet, AllLevelsTextAndJson) {
  Installation in(/*withSyntax=*/true);
  const struct {
    std::string key, declared;
    Json values;  // {level: value}
    Json finds;
  } rows[] = {
      {"desktop/theme", "Desktop/Theme", {{"user", "dark"}, {"install", "light"}}, "user"},
      {"Desktop/FontSize",
       "Desktop/FontSize",
       {{"user_machine", 14}, {"install", 10}},
       "user_machine"},
      {"Solver/Threads", "Solver/Threads", {{"user_machine", -1}}, "user_machine"},
      {"Logging/File", "Logging/File", {{"admin", "/var/log/m.log"}}, nullptr},
      {"Desktop/Recent", "Desktop/Recent", Json::object(), nullptr},
  };
  for (const auto& row : rows) {
    std::string text;
    for (const char* level : {"user_machine", "user", "install_machine", "install", "admin"}) {
      if (!row.values.contains(level)) {
        text += NotFound(row.declared, level);
        continue;
      }
      const Json& value = row.values[level];
      // Read at a level, an integer shows unsigned.
      text += value.is_number()
                  ? Found(row.declared, std::to_string(value.get<uint32_t>()), "integer", level)
                  : Found(row.declared, value.get<std::string>(), "string", level);
    }
    text += row.finds.is_null()
                ? "A Get without a level finds no value.\n"
                : "A Get without a level finds level <" + row.finds.get<std::string>() + ">.\n";
    const int status = row.values.empty() ? 1 : 0;
    auto run = in.Run(Get(row.key, {"-AllLevels"}));
    EXPECT_EQ(text, run.out);
    EXPECT_EQ(status, run.status) << row.key;

    JsonRun all = RunJson(in, Get(row.key, {"-AllLevels"}));
    EXPECT_EQ(status, all.status);
    EXPECT_EQ(row.declared, all.doc["key"]);
    EXPECT_EQ(row.finds, all.doc["get_finds"]);
    EXPECT_EQ(status == 0, all.doc["found"]);
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
