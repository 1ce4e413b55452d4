// Running a program the way a script does: a clean environment, standard
// output and error captured, the exit status as the shell sees it.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"

namespace testsupport {

using Args = std::vector<std::string>;

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
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
                     const std::filesystem::path& scratch, const Args& extraEnv = {},
                     const std::string& inPath = "") {
  const std::string out = scratch / "out", err = scratch / "err";
  int status = Wait(Spawn(binary, args, home, out, err, extraEnv, inPath));
  return {ReadFile(out), ReadFile(err), status};
}

}  // namespace testsupport
