// A throw-away installation of the product Meridian for tests that run the
// real binary (SETWISE_BINARY, defined by the test target), run as a script
// runs it: a clean environment, standard output and error captured, the exit
// status as the shell sees it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "support/files.h"

namespace testsupport {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
using Json = nlohmann::json;

struct RunResult {
  std::string out, err;
  int status = -1;  // the exit code, or 1000 + the wait status when killed
};

// Starts `binary` with `args`, HOME=`home` and `extraEnv`; PATH and the
// sanitizers' options are kept, nothing else. Output goes to `outPath` and
// `errPath`; standard input comes from `inPath` when one is given.
inline pid_t Spawn(const std::string& binary, Args args, const std::string& home,
                   const std::string& outPath, const std::string& errPath,
                   const Args& extraEnv = {}, const std::string& inPath = "") {
  args.insert(args.begin(), binary);
  Args env{"HOME=" + home};
  for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> argv, envp;
  for (std::string& arg : args) argv.push_back(arg.data());
  for (std::string& entry : env) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  if (!inPath.empty()) posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline int Wait(pid_t pid) {
  int status = -1;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + status;
}

// Runs to the end; `scratch` holds the captured output files.
inline RunResult Run(const std::string& binary, const Args& args, const std::string& home,
                     const fs::path& scratch, const Args& extraEnv = {},
                     const std::string& inPath = "") {
  const std::string out = scratch / "out", err = scratch / "err";
  int status = Wait(Spawn(binary, args, home, out, err, extraEnv, inPath));
  return {ReadFile(out), ReadFile(err), status};
}

// The product Meridian with settings at every level (unless `withValues` is false):
//   Desktop/Theme          install "light", user "dark"
//   Desktop/FontSize       install 10, user_machine 14
//   Desktop/Options/Units  install "mm", user_machine "in" (beside a subkey Extra/Deep)
//   Solver/Threads -1 and Flag "on" (no section) at user_machine
//   Logging/File at admin only; Desktop/ZSRConfigurations/Item3 "zsr3" at user
class Installation {
 public:
  explicit Installation(bool withSyntax, bool withValues = true,
                        const char* setwise = SETWISE_BINARY) {
    fs::create_directories(adminDir());
    fs::create_directories(userDir());
    std::error_code linkFailed;  // a link is much faster than a copy of the binary
    fs::create_hard_link(setwise, binary(), linkFailed);
    if (linkFailed) fs::copy_file(setwise, binary());
    std::ofstream(adminDir() / "ProductList.txt") << "  Meridian  \nOther\nMeridianViewer";
    const fs::path admin = adminDir(), user = userDir();
    std::map<fs::path, std::string> files;
    if (withValues) {
      files = {
          {admin / "admin", Key("Logging", Str("File", "/var/log/m.log"))},
          {admin / "default", Key("Desktop", Str("Theme", "light") + Int("FontSize", "10") +
                                                 Key("Options", Str("Units", "mm")))},
          {user / "user",
           Key("Desktop", Str("Theme", "dark") + Key("ZSRConfigurations", Str("Item3", "zsr3")))},
          {user / (HostName() + "_user"),
           Str("Flag", "on") + Key("Solver", Int("Threads", "-1")) +
               Key("Desktop",
                   Int("FontSize", "14") +
                       Key("Options", Str("Units", "in") + Key("Extra", Str("Deep", "d"))))},
      };
    }
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
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  fs::path adminDir() const { return root_ / "inst/config"; }
  fs::path userDir() const { return root_ / "home/Documents/Talven/Meridian/config"; }
  fs::path userMachineFile() const { return userDir() / (HostName() + "_user.XML"); }
  std::string binary() const { return root_ / "inst/Setwise"; }
  std::string home() const { return root_ / "home"; }

  // Every store, list and own-registry file (not the snapshot cache, which
  // is no part of the registry) with its inode, mode, modification time and
  // bytes: a rewrite shows even when it writes the same bytes. With `all`,
  // everything below the root but the captured output, folders and cache too.
  std::map<std::string, std::string> Snapshot(bool all = false) const {
    std::map<std::string, std::string> files;
    for (const std::string& top : all ? Args{root_} : Args{adminDir(), home()}) {
      for (const auto& item : fs::recursive_directory_iterator(top)) {
        const std::string path = item.path();
        const bool file = item.is_regular_file();
        if (path == root_ / "out" || path == root_ / "err") continue;
        if (!all && (!file || path.find("/.cache/") != std::string::npos)) continue;
        struct stat info {};
        (all ? ::lstat : ::stat)(path.c_str(), &info);
        files[path] = std::to_string(info.st_ino) + " " + std::to_string(info.st_mode) + " " +
                      std::to_string(info.st_mtim.tv_sec) + "." +
                      std::to_string(info.st_mtim.tv_nsec) +
                      (file && path != binary() ? " " + ReadFile(path) : "");
      }
    }
    return files;
  }

  // No TALVEN_* but those in `env` and no XDG_CONFIG_HOME reach the binary.
  // The warm variant of the CLI suite first lets a listing make snapshot
  // images of every file, so that the run itself reads the images (after
  // comparing the young files' bytes with them). `input` is a file for
  // standard input.
  RunResult Run(const Args& args, const std::string& input = "", const Args& env = {}) const {
    WarmUp();
    return RunAsIs(args, input, env);
  }
  void WarmUp() const {
    if (getenv("SETWISE_CLI_WARM") != nullptr) RunAsIs({"-GetKeys", "-ProductName", "Meridian"});
  }
  RunResult RunAsIs(const Args& args, const std::string& input = "", const Args& env = {}) const {
    return testsupport::Run(binary(), args, home(), root_, env, input);
  }
  // The run under a shell's resource limit, such as "-f 1".
  RunResult RunLimited(const std::string& limit, Args args, const std::string& input = "") const {
    args.insert(args.begin(), {"-c", "ulimit " + limit + "; exec \"$0\" \"$@\"", binary()});
    return testsupport::Run("/bin/sh", args, home(), root_, Args(), input);
  }

  std::vector<std::string> Leftovers() const {
    return testsupport::Leftovers({adminDir(), userDir()});
  }

  TempDir temp_;
  fs::path root_ = temp_.path;
};

// Command lines of the product Meridian.
inline Args Command(const char* command, const std::string& key, Args more = {}) {
  Args args{command, "-ProductName", "Meridian", "-RegistryKey", key};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}
inline Args Get(const std::string& key, Args more = {}) { return Command("-Get", key, more); }
inline Args GetAt(const std::string& key, const std::string& level) {
  return Get(key, {"-RegistryLevel", level});
}
inline Args Set(const std::string& key, const std::string& value, Args more = {}) {
  // A value that starts with '-' needs the other prefix on its option.
  more.insert(more.begin(), {value[0] == '-' ? "/RegistryValue" : "-RegistryValue", value});
  return Command("-Set", key, more);
}
inline Args Delete(const std::string& key, Args more = {}) { return Command("-Delete", key, more); }
inline Args Keys(Args more = {}) {
  more.insert(more.begin(), "-GetKeys");
  more.insert(more.end(), {"-ProductName", "Meridian"});
  return more;
}
inline Args Import(const std::string& file, Args more = {}) {
  more.insert(more.begin(), {"-Import", file, "-ProductName", "Meridian"});
  return more;
}

// Writes a settings document into the installation's folder; its path.
inline std::string Document(const Installation& in, const std::string& body,
                            const std::string& name = "doc.xml") {
  WriteFile(in.root_ / name, Key("Document", body));
  return in.root_ / name;
}

// A run's arguments, each cut short, for failure messages.
inline std::string Show(const Args& args) {
  std::string text;
  for (const std::string& arg : args) text += " '" + arg.substr(0, 60) + "'";
  return text;
}

// What a Get prints when a level holds `key`.
inline std::string Found(const std::string& key, const std::string& value, const std::string& type,
                         const std::string& level = "user_machine") {
  return "Registry setting <" + key + "> has value <" + value + "> of type <" + type +
         "> at level <" + level + ">.\n";
}

// What a Get prints when no level (or not `level`) holds `key`.
inline std::string NotFound(const std::string& key, const std::string& level = "") {
  return "No registry setting found for <" + key +
         (level.empty() ? ">.\n" : "> at level <" + level + ">.\n");
}

constexpr uid_t kNobody = 65534;

// A run of another user, whose home is its own and who may read the
// installation but not write it.
inline bool GiveHomeToNobody(const Installation& in) {
  fs::permissions(in.root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
  for (const auto& item : fs::recursive_directory_iterator(in.home())) {
    if (::lchown(item.path().c_str(), kNobody, kNobody) != 0) return false;
  }
  return ::chown(in.home().c_str(), kNobody, kNobody) == 0;
}

inline RunResult RunAsNobody(const Installation& in, Args args) {
  args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", in.binary()});
  return Run("/usr/bin/setpriv", args, in.home(), in.root_);
}

// Standard output must be one JSON document and one line break; standard error empty.
inline Json Parse(const RunResult& run) {
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
inline JsonRun RunJson(const Installation& in, Args args, const std::string& input = "") {
  args.push_back("-Json");
  auto run = in.Run(args, input);
  return {Parse(run), run.status};
}

// The store files and their stamps, to show that a run wrote nothing.
struct Unwritten {
  const Installation& in;
  std::map<std::string, std::string> files = in.Snapshot();
  void Check(const std::string& what) const {
    EXPECT_TRUE(files == in.Snapshot()) << what << " changed or rewrote a file";
  }
};

inline void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace testsupport
