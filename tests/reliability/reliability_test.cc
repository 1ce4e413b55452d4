// What scripts rely on when many runs share one installation: concurrent
// writers lose nothing, a run killed at any moment or failing to write tears
// nothing, and damaged files are left exactly as they are.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "support/key_file.h"
#include "support/spawn.h"

namespace fs = std::filesystem;
using testsupport::Args;

namespace {

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A product Meridian without syntax files (every key may be set), with the
// install value S/Base and a user_machine file holding S/Old.
class Installation {
 public:
  explicit Installation(const char* binary = SETWISE_BINARY) {
    char pattern[] = "/tmp/setwise_reliability.XXXXXX";
    root_ = mkdtemp(pattern);
    fs::create_directories(admin());
    fs::create_directories(user());
    fs::copy_file(binary, root_ / "inst/Setwise");
    WriteFile(admin() / "ProductList.txt", "Meridian\n");
    WriteFile(admin() / "default.XML",
              "<key name='default'><key name='S'><value name='Base' type='string'>install</value>"
              "</key></key>");
    WriteFile(userMachineFile(), "<key name='" + HostName() +
                                     "_user'><key name='S'><value name='Old' type='string'>"
                                     "old</value></key></key>");
  }
  ~Installation() { fs::remove_all(root_); }

  fs::path admin() const { return root_ / "inst/config"; }
  fs::path user() const { return root_ / "home/Documents/Talven/Meridian/config"; }
  fs::path userMachineFile() const { return user() / (HostName() + "_user.XML"); }
  std::string binary() const { return root_ / "inst/Setwise"; }
  std::string home() const { return root_ / "home"; }

  testsupport::RunResult Run(const Args& args, const Args& env = {}) const {
    return testsupport::Run(binary(), args, home(), root_, env);
  }

  // Files a save left behind in the user folder (the lock file stays by design).
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(user())) {
      std::string name = item.path().filename();
      if (name[0] == '.' && name != ".cfgkit.lock") names.push_back(name);
    }
    return names;
  }

  // The string values of key S in the user_machine file; nullopt when it does not load.
  std::optional<std::map<std::string, std::string>> UserMachineValues() const {
    return testsupport::SectionTexts(testsupport::ReadFile(userMachineFile()),
                                     HostName() + "_user", "S");
  }

  fs::path root_;
};

Args SetArgs(const std::string& entry, const std::string& value) {
  return {"-Set",       "-ProductName",   "Meridian", "-RegistryKey",
          "S/" + entry, "-RegistryValue", value};
}

// Fewer where sanitizers make every run many times slower.
#ifdef SETWISE_SANITIZED_BUILD
constexpr int kConcurrentRounds = 20;
#else
constexpr int kConcurrentRounds = 50;
#endif

TEST(ReliabilityTest, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 8, kEntriesEach = kConcurrentRounds;
  Installation installation;
  for (int round = 0; round < kEntriesEach; ++round) {
    std::vector<pid_t> writers;
    for (int writer = 0; writer < kWriters; ++writer) {
      std::string name = "w" + std::to_string(writer) + "_" + std::to_string(round);
      fs::path out = installation.root_ / ("out" + std::to_string(writer));
      writers.push_back(testsupport::Spawn(installation.binary(), SetArgs(name, "v" + name),
                                           installation.home(), out, out.string() + ".err"));
    }
    for (int writer = 0; writer < kWriters; ++writer) {
      ASSERT_EQ(0, testsupport::Wait(writers[writer])) << "round " << round << " writer " << writer;
    }
  }
  auto values = installation.UserMachineValues();
  ASSERT_TRUE(values.has_value());
  EXPECT_EQ(kWriters * kEntriesEach + 1u, values->size());
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int round = 0; round < kEntriesEach; ++round) {
      std::string name = "w" + std::to_string(writer) + "_" + std::to_string(round);
      EXPECT_EQ("v" + name, (*values)[name]);
    }
  }
  EXPECT_EQ("old", (*values)["Old"]);
}

// Fewer where sanitizers make every run many times slower.
#ifdef SETWISE_SANITIZED_BUILD
constexpr int kKilledRuns = 30;
#else
constexpr int kKilledRuns = 200;
#endif

TEST(ReliabilityTest, KilledRunsLeaveEveryValueOldOrNew) {
  Installation installation;
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(0, installation.Run(SetArgs("Entry", "v0")).status);
  auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int64_t> delay(0, runTime.count() * 3 / 2);
  std::string previous = "v0";
  int landed = 0;
  for (int run = 1; run <= kKilledRuns; ++run) {
    std::string value = "v" + std::to_string(run);
    fs::path out = installation.root_ / "killed";
    pid_t pid = testsupport::Spawn(installation.binary(), SetArgs("Entry", value),
                                   installation.home(), out, out);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(pid, SIGKILL);
    testsupport::Wait(pid);
    auto values = installation.UserMachineValues();
    ASSERT_TRUE(values.has_value()) << "run " << run << " tore the file";
    const std::string now = (*values)["Entry"];
    ASSERT_TRUE(now == previous || now == value) << "run " << run << ": " << now;
    EXPECT_EQ("old", (*values)["Old"]);
    landed += now == value;
    previous = now;
  }
  // A kill right after the start always lands before the save.
  std::cout << "killed runs whose value landed: " << landed << " of " << kKilledRuns << "\n";
  EXPECT_LT(landed, kKilledRuns);
  ASSERT_EQ(0, installation.Run(SetArgs("Entry", "final")).status);
  EXPECT_EQ(std::vector<std::string>{}, installation.Leftovers());
}

TEST(ReliabilityTest, EveryFailedWriteStepLeavesTheFileAsItWas) {
  Installation installation(FAULTY_SETWISE_BINARY);
  const std::string before = testsupport::ReadFile(installation.userMachineFile());
  for (const char* call :
       {"LockFile", "CreateTemp", "Write", "Sync", "Close", "Link", "Rename", "SyncDir"}) {
    auto result =
        installation.Run(SetArgs("Old", "new"), {std::string("SETWISE_TEST_FAIL_CALL=") + call});
    EXPECT_EQ(
        "error on save registry changes make sure user has the write access to the registry\n",
        result.out)
        << call;
    EXPECT_EQ("", result.err) << call;
    EXPECT_EQ(255, result.status) << call;
    EXPECT_EQ(before, testsupport::ReadFile(installation.userMachineFile())) << call;
    EXPECT_EQ(std::vector<std::string>{}, installation.Leftovers()) << call;
  }
  EXPECT_EQ(0, installation.Run(SetArgs("Old", "new")).status);
  EXPECT_EQ("new", (*installation.UserMachineValues())["Old"]);
}

// A file-size limit (ulimit -f) is an ordinary failed write, not a dead run.
TEST(ReliabilityTest, AFileSizeLimitFailsTheSaveAndKeepsTheFile) {
  Installation installation;
  ::chmod(installation.userMachineFile().c_str(), 0600);
  const std::string before = testsupport::ReadFile(installation.userMachineFile());
  Args limited = {"-c", "ulimit -f 1; exec \"$0\" \"$@\"", installation.binary()};
  for (const std::string& arg : SetArgs("Big", std::string(4000, 'x'))) limited.push_back(arg);
  auto result = testsupport::Run("/bin/sh", limited, installation.home(), installation.root_);
  EXPECT_EQ("error on save registry changes make sure user has the write access to the registry\n",
            result.out);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(255, result.status);
  EXPECT_EQ(before, testsupport::ReadFile(installation.userMachineFile()));
  EXPECT_EQ(std::vector<std::string>{}, installation.Leftovers());
  // Without the limit the same Set lands, and the file stays private.
  EXPECT_EQ(0, installation.Run(SetArgs("Big", "x")).status);
  struct stat info;
  ASSERT_EQ(0, ::stat(installation.userMachineFile().c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777);
}

// Memory running out (ulimit -v) fails a run with a status, never with a
// signal or a word on standard error, from the smallest limit at which the
// executable starts at all; unbounded input is damage, not memory exhausted.
TEST(ReliabilityTest, AnAddressSpaceLimitFailsARunWithItsStatus) {
#ifdef SETWISE_SANITIZED_BUILD
  GTEST_SKIP() << "the sanitizers reserve more address space than any such limit";
#endif
  Installation installation;
  auto limited = [&](int kib, const Args& args, const std::string& input = "") {
    Args shell = {"-c", "ulimit -v " + std::to_string(kib) + "; exec \"$0\" \"$@\"",
                  installation.binary()};
    shell.insert(shell.end(), args.begin(), args.end());
    return testsupport::Run("/bin/sh", shell, installation.home(), installation.root_, Args(),
                            input);
  };
  int floor = 1024;
  while (floor < 65536 && limited(floor, {"-Help", "x"}).status != 0) floor += 64;
  const Args runs[] = {
      {"-Get", "-ProductName", "Meridian", "-RegistryKey", "S/Base", "-Json"},
      SetArgs("New", "value"),
      {"-GetKeys", "-ProductName", "Meridian"},
      {"-Check", "-ProductName", "Meridian", "-Json"},
      {"-Import", "-", "-ProductName", "Meridian"},
  };
  for (int kib : {floor, floor + 64, floor + 512, floor + 4096, floor + 32768}) {
    for (const Args& args : runs) {
      auto result = limited(kib, args, args[1] == "-" ? "/dev/zero" : "");
      SCOPED_TRACE(std::to_string(kib) + " KiB: " + args[0] + " " + result.out.substr(0, 200));
      EXPECT_LT(result.status, 256);
      EXPECT_EQ("", result.err);
    }
  }
  auto endless = testsupport::Run(installation.binary(), {"-Import", "-", "-ProductName", "Meridian"},
                                  installation.home(), installation.root_, Args(), "/dev/zero");
  EXPECT_EQ(255, endless.status);
  EXPECT_EQ("Import document <-> is damaged: standard input: larger than 256 MiB, the most a "
            "store file or document may hold\n", endless.out);
}

TEST(ReliabilityTest, DamagedFilesAreLeftExactlyAsTheyAre) {
  const std::string top = "<key name='" + HostName() + "_user'>";
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<key name='k'>";
  const std::pair<const char*, std::string> kinds[] = {
      {"malformed", top + "<key name='S'>"},
      {"empty", ""},
      {"root is not a key", "<value name='x' type='string'/>"},
      {"root named otherwise", "<key name='other'/>"},
      {"unknown element", top + "<entry/></key>"},
      {"value with an element", top + "<value name='v' type='string'><b/></value></key>"},
      {"missing type", top + "<value name='v'>1</value></key>"},
      {"unknown type", top + "<value name='v' type='float'>1</value></key>"},
      {"int out of range", top + "<value name='v' type='int'>4294967296</value></key>"},
      {"duplicate keys", top + "<key name='S'/><key name='S'/></key>"},
      {"duplicate values",
       top + "<value name='v' type='int'>1</value><value name='v' type='int'>2</value></key>"},
      {"bad hex", top + "<value name='v' type='string' encoding='hex'>4g</value></key>"},
      {"nested 100,000 deep", top + deep},
  };
  for (const auto& [kind, content] : kinds) {
    Installation installation;
    WriteFile(installation.userMachineFile(), content);
    auto get = installation.Run({"-Get", "-ProductName", "Meridian", "-RegistryKey", "S/Base"});
    EXPECT_EQ(
        "Registry setting <S/Base> has value <install> of type <string> at level <install>.\n",
        get.out)
        << kind;
    auto set = installation.Run(SetArgs("New", "1"));
    EXPECT_EQ("error on to set registry value at <S/New>\n", set.out) << kind;
    EXPECT_EQ(255, set.status) << kind;
    EXPECT_EQ("", get.err + set.err) << kind;
    EXPECT_EQ(content, testsupport::ReadFile(installation.userMachineFile())) << kind;
  }
}

// A run reads only the files it uses, unless the debug log is there to name
// every damaged one.
TEST(ReliabilityTest, EveryDamagedFileIsNamedOnTheDebugLog) {
  Installation installation;
  WriteFile(installation.admin() / "Unused.XML", "<key name='Unused'>");
  const std::string log = installation.root_ / "debug.log";
  auto get = installation.Run({"-Get", "-ProductName", "Meridian", "-RegistryKey", "S/Base"},
                              {"TALVEN_DEBUG_LEVEL=1", "TALVEN_DEBUG_FILE=" + log});
  EXPECT_EQ(
      "Registry setting <S/Base> has value <install> of type <string> at level <install>.\n",
      get.out);
  EXPECT_NE(std::string::npos, testsupport::ReadFile(log).find("Unused.XML"));
}

}  // namespace
