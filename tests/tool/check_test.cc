// Runs -Check in throw-away installations: one installation per kind of
// finding, the same findings in JSON, and nothing on disk changed or created.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/installation.h"
#include "support/spawn.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Int;
using testsupport::Key;
using testsupport::Str;
using testsupport::WriteStoreFile;
using testsupport::Args;

// Every file and folder below `root` but the captured output, with its mode,
// size and modification time, and the bytes of the registry's files.
std::map<std::string, std::string> Listing(const fs::path& root) {
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

struct Paths {
  fs::path admin, user;
  std::string host;
};

struct Row {
  const char* what;
  std::function<void(const Paths&)> change;
  int filesChecked;
  std::vector<std::string> findings;  // {admin}, {user} and {host} stand for the paths
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
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    testsupport::Installation installation(true);
    const fs::path& root = installation.root_;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const Paths paths{root / "inst/config", root / "home/Documents/Talven/Meridian/config", host};
    // A clean base: the registry's records of products, an alias entry at user.
    WriteStoreFile(paths.admin, "admin",
                   Int("SupportsMultipleApplications", "0") + Key("Logging", Str("File")) +
                       Key("products", Key("Other", Str("Junk"))));
    WriteStoreFile(paths.user, paths.host + "_user",
                   Key("Solver", Int("Threads", "-1")) + Key("Desktop", Int("FontSize", "14")));
    installation.WarmUp();
    row.change(paths);
    const auto before = Listing(root);
    const Args check = {"-Check", "-ProductName", "Meridian"};
    const auto text = installation.RunAsIs(check);
    const auto json = installation.RunAsIs({"-Check", "-ProductName", "Meridian", "-Json"});
    EXPECT_TRUE(Listing(root) == before) << "the check changed or created something";

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

}  // namespace
