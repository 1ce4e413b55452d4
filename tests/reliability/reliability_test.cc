// What scripts rely on when many runs share one installation: concurrent
// writers lose nothing, a run killed at any moment or failing to write tears
// nothing, and damaged files are left exactly as they are.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <thread>

#include "support/installation.h"
#include "support/key_file.h"

namespace fs = std::filesystem;
using testsupport::Args;
using testsupport::Delete;
using testsupport::HostName;
using testsupport::Import;
using testsupport::Key;
using testsupport::Str;

namespace {

// A product Meridian without syntax files (every key may be set), with the
// install value S/Base and a user_machine file holding S/Old.
struct Installation : testsupport::Installation {
  explicit Installation(const char* setwise = SETWISE_BINARY)
      : testsupport::Installation(false, false, setwise) {
    testsupport::WriteStoreFile(adminDir(), "default", Key("S", Str("Base", "install")));
    testsupport::WriteStoreFile(userDir(), HostName() + "_user", Key("S", Str("Old", "old")));
  }

  // The string values of `section` in the user_machine file; nullopt when it does not load.
  std::optional<std::map<std::string, std::string>> Values(const std::string& section = "S") const {
    return testsupport::SectionTexts(testsupport::ReadFile(userMachineFile()), HostName() + "_user",
                                     section);
  }
};

Args Set(const std::string& entry, const std::string& value) {
  return testsupport::Set("S/" + entry, value);
}
Args Get(const std::string& entry) { return testsupport::Get("S/" + entry); }

const std::string kNotSaved =
    "error on save registry changes make sure user has the write access to the registry";

// Fewer where sanitizers make every run many times slower.
#ifdef SETWISE_SANITIZED_BUILD
constexpr int kConcurrentRounds = 20, kKilledRuns = 30;
#else
constexpr int kConcurrentRounds = 50, kKilledRuns = 200;
#endif

// Each round Sets of entries of their own race each other and an Import of
// a document of many values.
TEST(ReliabilityTest, ConcurrentWritersLoseNothing) {
  constexpr int kSetters = 8, kImported = 40;
  Installation in;
  for (int round = 0; round < kConcurrentRounds; ++round) {
    std::string imported;
    for (int i = 0; i < kImported; ++i) {
      const std::string name = "r" + std::to_string(round) + "_" + std::to_string(i);
      imported += Str(name, "i" + name);
    }
    const std::string document = in.root_ / "document.xml";
    std::ofstream(document) << Key("Document", Key("I", imported));
    const std::string out = in.root_ / "out";
    std::vector<pid_t> runs = {
        testsupport::Spawn(in.binary(), Import(document), in.home(), out + "i", out + "i")};
    for (int setter = 0; setter < kSetters; ++setter) {
      const std::string name = "w" + std::to_string(setter) + "_" + std::to_string(round);
      const std::string setterOut = out + std::to_string(setter);
      runs.push_back(
          testsupport::Spawn(in.binary(), Set(name, "v" + name), in.home(), setterOut, setterOut));
    }
    for (pid_t pid : runs) ASSERT_EQ(0, testsupport::Wait(pid)) << "round " << round;
  }
  auto set = in.Values(), imported = in.Values("I");
  ASSERT_TRUE(set && imported);
  EXPECT_EQ(kSetters * kConcurrentRounds + 1u, set->size());
  EXPECT_EQ(size_t{kImported * kConcurrentRounds}, imported->size());
  for (const auto& [name, text] : *imported) EXPECT_EQ("i" + name, text);
  for (const auto& [name, text] : *set) EXPECT_EQ(name == "Old" ? "old" : "v" + name, text);
}

TEST(ReliabilityTest, KilledRunsLeaveEveryValueOldOrNew) {
  Installation in;
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(0, in.Run(Set("Entry", "v0")).status);
  auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int64_t> delay(0, runTime.count() * 3 / 2);
  std::string previous = "v0";
  int landed = 0;
  for (int run = 1; run <= kKilledRuns; ++run) {
    std::string value = "v" + std::to_string(run);
    const std::string out = in.root_ / "killed";
    pid_t pid = testsupport::Spawn(in.binary(), Set("Entry", value), in.home(), out, out);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(pid, SIGKILL);
    testsupport::Wait(pid);
    auto values = in.Values();
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
  ASSERT_EQ(0, in.Run(Set("Entry", "final")).status);
  EXPECT_EQ(std::vector<std::string>{}, in.Leftovers());
}

TEST(ReliabilityTest, EveryFailedWriteStepLeavesTheFileAsItWas) {
  Installation in(FAULTY_SETWISE_BINARY);
  const std::string before = testsupport::ReadFile(in.userMachineFile());
  for (const char* call :
       {"LockFile", "CreateTemp", "Write", "Sync", "Close", "Link", "Rename", "SyncDir"}) {
    auto result = in.Run(Set("Old", "new"), "", {std::string("SETWISE_TEST_FAIL_CALL=") + call});
    EXPECT_EQ(kNotSaved + "\n", result.out) << call;
    EXPECT_EQ("", result.err) << call;
    EXPECT_EQ(255, result.status) << call;
    EXPECT_EQ(before, testsupport::ReadFile(in.userMachineFile())) << call;
    EXPECT_EQ(std::vector<std::string>{}, in.Leftovers()) << call;
  }
  EXPECT_EQ(0, in.Run(Set("Old", "new")).status);
  EXPECT_EQ("new", (*in.Values())["Old"]);
}

// A file-size limit (ulimit -f) is an ordinary failed save, not a dead run,
// whichever command saves and however it reports.
TEST(ReliabilityTest, AFileSizeLimitFailsEverySaveAndKeepsTheFiles) {
  Installation in;
  ASSERT_EQ(0, in.Run(Set("Big", std::string(4000, 'x'))).status);  // outgrows the limit
  const auto before = in.Snapshot();
  auto limited = [&](Args args, int status) {
    auto run = in.RunLimited("-f 1", args);
    EXPECT_EQ(status, run.status) << run.out;
    EXPECT_EQ("", run.err);
    return run.out;
  };
  EXPECT_EQ(kNotSaved + "\n", limited(Set("Old", "new"), 255));
  const std::string document = in.root_ / "document.xml";
  std::ofstream(document) << Key("Document", Key("S", Str("Old", "imported")));
  const std::pair<Args, const char*> jsonRuns[] = {
      {Set("Old", "new"), "saved"}, {Delete("S/Old"), "saved"}, {Import(document), "written"}};
  for (auto [args, field] : jsonRuns) {
    args.push_back("-Json");
    const auto json = nlohmann::json::parse(limited(args, 3), nullptr, false);
    EXPECT_EQ(kNotSaved, json.value("error", "")) << args[0];
    EXPECT_EQ(false, json.value(field, true)) << args[0];
  }
  EXPECT_TRUE(before == in.Snapshot());
  EXPECT_EQ(std::vector<std::string>{}, in.Leftovers());
  EXPECT_EQ(0, in.Run(Set("Old", "new")).status);  // without the limit
}

// Memory running out (ulimit -v) fails a run with a status, never with a
// signal or a word on standard error, from the smallest limit at which the
// executable starts at all; unbounded input is damage, not memory exhausted.
TEST(ReliabilityTest, AnAddressSpaceLimitFailsARunWithItsStatus) {
#ifdef SETWISE_SANITIZED_BUILD
  GTEST_SKIP() << "the sanitizers reserve more address space than any such limit";
#endif
  Installation in;
  auto limited = [&](int kib, const Args& args, const std::string& input = "") {
    return in.RunLimited("-v " + std::to_string(kib), args, input);
  };
  int floor = 1024;
  while (floor < 65536 && limited(floor, {"-Help", "x"}).status != 0) floor += 64;
  const Args runs[] = {
      testsupport::Get("S/Base", {"-Json"}),           Set("New", "value"), testsupport::Keys(),
      {"-Check", "-ProductName", "Meridian", "-Json"}, Import("-"),
  };
  for (int kib : {floor, floor + 64, floor + 512, floor + 4096, floor + 32768}) {
    for (const Args& args : runs) {
      auto result = limited(kib, args, args[1] == "-" ? "/dev/zero" : "");
      SCOPED_TRACE(std::to_string(kib) + " KiB: " + args[0] + " " + result.out.substr(0, 200));
      EXPECT_LT(result.status, 256);
      EXPECT_EQ("", result.err);
    }
  }
  auto endless = in.Run(Import("-"), "/dev/zero");
  EXPECT_EQ(255, endless.status);
  EXPECT_EQ(
      "Import document <-> is damaged: standard input: larger than 256 MiB, the most a "
      "store file or document may hold\n",
      endless.out);
}

const std::string kBase =
    "Registry setting <S/Base> has value <install> of type <string> at level <install>.\n";

// A run reads only the files it uses, unless the debug log is there to name
// every damaged one.
TEST(ReliabilityTest, DamagedFilesAreLeftExactlyAsTheyAreAndNamedOnTheDebugLog) {
  const std::string top = "<key name='" + HostName() + "_user'>";
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<key name='k'>";
  // Each kind of damage is the store's own test; these are the ones cut short.
  const std::pair<const char*, std::string> kinds[] = {
      {"malformed", top + "<key name='S'>"},
      {"empty", ""},
      {"nested 100,000 deep", top + deep},
  };
  for (const auto& [kind, content] : kinds) {
    Installation in;
    std::ofstream(in.userMachineFile(), std::ios::binary) << content;
    std::ofstream(in.adminDir() / "Unused.XML") << "<key name='Unused'>";
    auto get = in.Run(Get("Base"));
    EXPECT_EQ(kBase, get.out) << kind;
    const std::string log = in.root_ / "debug.log";
    auto logged = in.Run(Get("Base"), "", {"TALVEN_DEBUG_LEVEL=1", "TALVEN_DEBUG_FILE=" + log});
    EXPECT_EQ(kBase, logged.out) << kind;
    EXPECT_NE(std::string::npos, testsupport::ReadFile(log).find("Unused.XML")) << kind;
    auto set = in.Run(Set("New", "1"));
    EXPECT_EQ("error on to set registry value at <S/New>\n", set.out) << kind;
    EXPECT_EQ(255, set.status) << kind;
    EXPECT_EQ("", get.err + set.err) << kind;
    EXPECT_EQ(content, testsupport::ReadFile(in.userMachineFile())) << kind;
  }
}

}  // namespace
