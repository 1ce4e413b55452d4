// A throw-away installation of the product Meridian around the real Setwise
// binary, and the XML of its store files, for the CLI suites.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "support/spawn.h"

namespace clitest {

namespace fs = std::filesystem;
using testsupport::Args;

inline std::string Key(const std::string& name, const std::string& body = "") {
  return "<key name=\"" + name + "\">" + body + "</key>";
}
inline std::string Str(const std::string& name, const std::string& text = "") {
  return "<value name=\"" + name + "\" type=\"string\">" + text + "</value>";
}
inline std::string Int(const std::string& name, const std::string& number = "0") {
  return "<value name=\"" + name + "\" type=\"int\">" + number + "</value>";
}

inline void WriteStoreFile(const fs::path& dir, const std::string& key, const std::string& body) {
  std::ofstream((dir / key).string() + ".XML") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                               << Key(key, body) << "\n";
}

// The product Meridian with settings at every level:
//   Desktop/Theme          install "light", user "dark"
//   Desktop/FontSize       install 10, user_machine 14
//   Desktop/Options/Units  install "mm", user_machine "in" (beside a subkey Extra/Deep)
//   Solver/Threads -1 and Flag "on" (no section) at user_machine
//   Logging/File at admin only; Desktop/ZSRConfigurations/Item3 "zsr3" at user
class Installation {
 public:
  explicit Installation(bool withSyntax) {
    char pattern[] = "/tmp/setwise_cli.XXXXXX";
    root_ = mkdtemp(pattern);
    const fs::path admin = root_ / "inst/config",
                   user = root_ / "home/Documents/Talven/Meridian/config";
    fs::create_directories(admin);
    fs::create_directories(user);
    std::error_code linkFailed;  // a link is much faster than a copy of the binary
    fs::create_hard_link(SETWISE_BINARY, root_ / "inst/Setwise", linkFailed);
    if (linkFailed) fs::copy_file(SETWISE_BINARY, root_ / "inst/Setwise");
    std::ofstream(admin / "ProductList.txt") << "  Meridian  \nOther\nMeridianViewer";
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::map<fs::path, std::string> files = {
        {admin / "admin", Key("Logging", Str("File", "/var/log/m.log"))},
        {admin / "default", Key("Desktop", Str("Theme", "light") + Int("FontSize", "10") +
                                               Key("Options", Str("Units", "mm")))},
        {user / "user",
         Key("Desktop", Str("Theme", "dark") + Key("ZSRConfigurations", Str("Item3", "zsr3")))},
        {user / (std::string(host) + "_user"),
         Str("Flag", "on") + Key("Solver", Int("Threads", "-1")) +
             Key("Desktop",
                 Int("FontSize", "14") +
                     Key("Options", Str("Units", "in") + Key("Extra", Str("Deep", "d"))))},
    };
    if (withSyntax) {
      files[admin / "RegistrySyntax"] =
          Key("Desktop", Str("Theme") + Int("FontSize") + Key("Options", Str("Units"))) +
          Key("Solver", Int("Threads"));
      files[admin / "CoreRegistrySyntax"] =
          Key("Desktop", Int("Recent") + Str("Theme")) + Key("Logging", Str("File"));
    }
    for (const auto& [path, body] : files)
      WriteStoreFile(path.parent_path(), path.filename(), body);
  }
  ~Installation() { fs::remove_all(root_); }

  // Every store, list and own-registry file, with its bytes (not the
  // snapshot cache, which is no part of the registry).
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const char* folder : {"inst/config", "home"}) {
      for (const auto& item : fs::recursive_directory_iterator(root_ / folder)) {
        bool cached = item.path().string().find("/.cache/") != std::string::npos;
        if (item.is_regular_file() && !cached) {
          files[item.path()] = testsupport::ReadFile(item.path());
        }
      }
    }
    return files;
  }

  // No TALVEN_* and no XDG_CONFIG_HOME reach the binary. The warm variant of
  // the suite first lets a listing make snapshot images of every file, so
  // that the run itself reads the images (after comparing the young files'
  // bytes with them).
  testsupport::RunResult Run(const Args& args) const {
    WarmUp();
    return RunAsIs(args);
  }
  void WarmUp() const {
    if (getenv("SETWISE_CLI_WARM") != nullptr) RunAsIs({"-GetKeys", "-ProductName", "Meridian"});
  }
  testsupport::RunResult RunAsIs(const Args& args) const {
    return testsupport::Run(root_ / "inst/Setwise", args, root_ / "home", root_);
  }

  fs::path root_;
};

}  // namespace clitest
