// What scripts rely on when many runs share one installation: concurrent
// writers lose nothing, a run killed at any moment or failing to write tears
// nothing, damaged files are left exactly as they are, and many writers and
// readers at once on every level agree: a save catches up with what other
// processes saved meanwhile, a read never shows a value that nobody wrote.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "support/installation.h"
#include "support/key_file.h"

namespace testsupport {
namespace {

constexpr int kLevels = 5;
const char* const kLevelNames[kLevels] = {"user_machine", "user", "install_machine", "install",
                                          "admin"};

// A product Meridian without syntax files (every key may be set), with the
// install value S/Base and a user_machine file holding S/Old.
struct Installation : testsupport::Installation {
  explicit Installation(const char* setwise = SETWISE_BINARY)
      : testsupport::Installation(false, false, setwise) {
    WriteStoreFile(adminDir(), "default", Key("S", Str("Base", "install")));
    WriteStoreFile(userDir(), HostName() + "_user", Key("S", Str("Old", "old")));
  }

  static std::string KeyNameOf(int level) {
    const std::string names[kLevels] = {HostName() + "_user", "user", HostName(), "default",
                                        "admin"};
    return names[level];
  }
  fs::path FileOf(int level) const {
    return (level < 2 ? userDir() : adminDir()) / (KeyNameOf(level) + ".XML");
  }

  // The texts of `section`'s values at `level`; nullopt when its file does not load.
  std::optional<std::map<std::string, std::string>> Values(int level = 0,
                                                           const std::string& section = "S") const {
    return SectionTexts(ReadFile(FileOf(level)), KeyNameOf(level), section);
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
    const std::string document = Document(in, Key("I", imported));
    const std::string out = in.root_ / "out";
    std::vector<pid_t> runs = {Spawn(in.binary(), Import(document), in.home(), out, out)};
    for (int setter = 0; setter < kSetters; ++setter) {
      const std::string name = "w" + std::to_string(setter) + "_" + std::to_string(round);
      const std::string setterOut = out + std::to_string(setter);
      runs.push_back(Spawn(in.binary(), Set(name, "v" + name), in.home(), setterOut, setterOut));
    }
    for (pid_t pid : runs) ASSERT_EQ(0, Wait(pid)) << "round " << round;
  }
  auto set = in.Values(), imported = in.Values(0, "I");
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
    pid_t pid = Spawn(in.binary(), Set("Entry", value), in.home(), out, out);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(pid, SIGKILL);
    Wait(pid);
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
  const std::string before = ReadFile(in.userMachineFile());
  for (const char* call :
       {"LockFile", "CreateTemp", "Write", "Sync", "Close", "Link", "Rename", "SyncDir"}) {
    auto result = in.Run(Set("Old", "new"), "", {std::string("SETWISE_TEST_FAIL_CALL=") + call});
    EXPECT_EQ(std::tuple(kNotSaved + "\n", "", 255, before, std::vector<std::string>{}),
              std::tuple(result.out, result.err, result.status, ReadFile(in.userMachineFile()),
                         in.Leftovers()))
        << call;
  }
  EXPECT_EQ(0, in.Run(Set("Old", "new")).status);
  EXPECT_EQ("new", (*in.Values())["Old"]);
}

// A file-size limit (ulimit -f) is an ordinary failed save, not a dead run,
// whichever command saves and however it reports.
TEST(ReliabilityTest, AFileSizeLimitFailsEverySaveAndKeepsTheFiles) {
  Installation in;
  ASSERT_EQ(0, in.Run(Set("Big", std::string(4000, 'x'))).status);  // outgrows the limit
  ASSERT_EQ(0, in.Run(Set("Same", "v")).status);
  const Unwritten unwritten{in};
  auto limited = [&](Args args, int status) {
    auto run = in.RunLimited("-f 1", args);
    EXPECT_EQ(status, run.status) << run.out;
    EXPECT_EQ("", run.err);
    return run.out;
  };
  EXPECT_EQ(kNotSaved + "\n", limited(Set("Old", "new"), 255));
  // The value in place is written again all the same: its failed save warns.
  EXPECT_EQ("warning: New register value is same as the existing value\n"
            "Register value <S/Same> is set to <v>\n ",
            limited(Set("Same", "v"), 0));
  const std::string document = Document(in, Key("S", Str("Old", "imported")));
  const std::pair<Args, const char*> jsonRuns[] = {
      {Set("Old", "new"), "saved"}, {Delete("S/Old"), "saved"}, {Import(document), "written"}};
  for (auto [args, field] : jsonRuns) {
    args.push_back("-Json");
    const auto json = nlohmann::json::parse(limited(args, 3), nullptr, false);
    EXPECT_EQ(kNotSaved, json.value("error", "")) << args[0];
    EXPECT_EQ(false, json.value(field, true)) << args[0];
  }
  unwritten.Check("a save over the size limit");
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
      testsupport::Get("S/Base", {"-Json"}), Set("New", "value"), Keys(),
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
    EXPECT_NE(std::string::npos, ReadFile(log).find("Unused.XML")) << kind;
    auto set = in.Run(Set("New", "1"));
    EXPECT_EQ("error on to set registry value at <S/New>\n", set.out) << kind;
    EXPECT_EQ(255, set.status) << kind;
    EXPECT_EQ("", get.err + set.err) << kind;
    EXPECT_EQ(content, ReadFile(in.userMachineFile())) << kind;
  }
}

// Many writers and readers at once, on every level.
constexpr int kWriters = 16, kReaders = 4, kOwnEntries = 3;
// A sanitized Setwise run costs ten times as much or more: fewer runs keep
// the test within its time there.
#ifdef SETWISE_SANITIZED_BUILD
constexpr int kOpsEach = 8;
#else
constexpr int kOpsEach = 100;
#endif
const std::string kShared = "Shared", kSeed = "seed";
// How long a save waits for another's lock before it gives up.
constexpr auto kLockWait = std::chrono::seconds(5);
using Clock = std::chrono::steady_clock;

struct Outcome {
  Clock::time_point start, end;
  int status = -1;
  std::string out, err;
};

// A writer's Set or Delete, or a reader's Get (at level -1: by precedence).
struct Op {
  bool isSet = false;
  int level = -1;
  std::string entry, value;
  Outcome run;
};

Outcome Timed(const Installation& in, const Args& args, const std::string& out) {
  Outcome run;
  run.start = Clock::now();
  run.status = Wait(Spawn(in.binary(), args, in.home(), out, out + ".err"));
  run.end = Clock::now();
  run.out = ReadFile(out), run.err = ReadFile(out + ".err");
  return run;
}

Args Command(const char* command, const std::string& entry, int level) {
  if (level < 0) return testsupport::Command(command, "S/" + entry);
  return testsupport::Command(command, "S/" + entry, {"-RegistryLevel", kLevelNames[level]});
}

std::string Found(const std::string& entry, const std::string& value, int level) {
  return testsupport::Found("S/" + entry, value, "string", kLevelNames[level]);
}
std::string NotFound(const std::string& entry, int level) {
  return testsupport::NotFound("S/" + entry, level < 0 ? "" : kLevelNames[level]);
}

// The value and level a Get printed; level -1 when it found nothing.
std::pair<std::string, int> ParseGet(const std::string& entry, const std::string& out) {
  std::smatch found;
  const std::regex pattern(
      R"(Registry setting <S/[^>]*> has value <(.*)> of type <string> [\s\S]*)");
  if (!std::regex_match(out, found, pattern)) return {out, -1};
  for (int level = 0; level < kLevels; ++level) {
    if (out == Found(entry, found[1], level)) return {found[1], level};
  }
  return {out, -1};
}

std::string OwnEntry(int writer, int index) {
  return "W" + std::to_string(writer) + "E" + std::to_string(index);
}

// Every level's file holds S/Shared = seed.
TEST(MixedLoadTest, WritersAndReadersOnEveryLevelAgree) {
  Installation installation;
  for (int level = 0; level < kLevels; ++level) {
    WriteStoreFile(installation.FileOf(level).parent_path(), Installation::KeyNameOf(level),
                   Key("S", Str(kShared, kSeed)));
  }
  std::vector<std::vector<Op>> writerOps(kWriters), readerOps(kReaders);
  std::atomic<int> writersLeft{kWriters};

  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      std::mt19937 random(1000 + w);
      const std::string out = installation.root_ / ("w" + std::to_string(w));
      for (int i = 0; i < kOpsEach; ++i) {
        Op op;
        op.level = random() % kLevels;
        int dice = random() % 4;
        op.isSet = dice != 0;
        op.entry = dice == 1 ? kShared : OwnEntry(w, random() % kOwnEntries);
        op.value = "w" + std::to_string(w) + "op" + std::to_string(i);
        Args args = Command(op.isSet ? "-Set" : "-Delete", op.entry, op.level);
        if (op.isSet) args.insert(args.end(), {"-RegistryValue", op.value});
        op.run = Timed(installation, args, out);
        writerOps[w].push_back(std::move(op));
      }
      --writersLeft;
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      std::mt19937 random(2000 + r);
      const std::string out = installation.root_ / ("r" + std::to_string(r));
      while (writersLeft > 0) {
        Op op;
        op.level = static_cast<int>(random() % (kLevels + 1)) - 1;
        int writer = random() % (kWriters + 1);
        op.entry = writer == kWriters ? kShared : OwnEntry(writer, random() % kOwnEntries);
        op.run = Timed(installation, Command("-Get", op.entry, op.level), out);
        readerOps[r].push_back(std::move(op));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  // Every Set by level and entry, successful or not.
  std::map<std::pair<int, std::string>, std::vector<const Op*>> sets;
  // Own entries, replayed in each writer's order: the values each may hold,
  // "" for none. Only its writer touches one, so that is a single value, but
  // after a Delete that gave up waiting for the lock, which reports success.
  std::map<std::pair<int, std::string>, std::set<std::string>> possible;
  for (int w = 0; w < kWriters; ++w) {
    for (const Op& op : writerOps[w]) {
      const std::pair<int, std::string> slot{op.level, op.entry};
      const std::string where = op.entry + " at " + kLevelNames[op.level] + " by " + op.value;
      EXPECT_EQ("", op.run.err) << where;
      std::set<std::string>& may = possible[slot];
      if (may.empty()) may.insert("");
      const bool mayHold = may.size() > may.count("");
      if (!op.isSet) {
        const bool deleted = op.run.status == 0;
        EXPECT_EQ(deleted ? "Register value  <S/" + op.entry + "> is deleted \n"
                          : "No able to delete Value or Key <S/" + op.entry + "> \n",
                  op.run.out)
            << where;
        EXPECT_TRUE(deleted ? mayHold : op.run.status == 255 && may.count("")) << where;
        if (!deleted || op.run.end - op.run.start < kLockWait) may.clear();
        may.insert("");
        continue;
      }
      sets[slot].push_back(&op);
      if (op.run.status != 0) {
        // Refused only for want of the lock; a failed Set writes nothing.
        EXPECT_EQ(std::pair(kNotSaved + "\n", 255), std::pair(op.run.out, op.run.status)) << where;
        continue;
      }
      const std::string head = "Register value <S/" + op.entry + "> is ";
      const bool setTo = op.run.out == head + "set to <" + op.value + ">\n ";
      const bool created = op.run.out == head + "created with value <" + op.value + "> \n";
      // Shared is seeded at every level, so it is never created.
      EXPECT_TRUE(setTo ? op.entry == kShared || mayHold
                        : created && op.entry != kShared && may.count(""))
          << where << ": " << op.run.out;
      may = {op.value};
    }
  }

  // Overlapping Sets of the shared entry may land in either order, so it may
  // end with any successful Set that ended after the last successful one began.
  auto sharedMayEndWith = [&](int level) {
    Clock::time_point lastStart = Clock::time_point::min();
    for (const Op* op : sets[{level, kShared}]) {
      if (op->run.status == 0) lastStart = std::max(lastStart, op->run.start);
    }
    std::set<std::string> values;
    for (const Op* op : sets[{level, kShared}]) {
      if (op->run.status == 0 && op->run.end >= lastStart) values.insert(op->value);
    }
    if (values.empty()) values.insert(kSeed);
    return values;
  };

  for (int level = 0; level < kLevels; ++level) {
    auto values = installation.Values(level);
    ASSERT_TRUE(values.has_value()) << installation.FileOf(level) << " does not load";
    std::set<std::string> sharedValues = sharedMayEndWith(level);
    EXPECT_TRUE(sharedValues.count((*values)[kShared]))
        << "Shared at " << kLevelNames[level] << " ended as " << (*values)[kShared]
        << ", a value that later Sets replaced";
    for (int w = 0; w < kWriters; ++w) {
      for (int e = 0; e < kOwnEntries; ++e) {
        const std::string entry = OwnEntry(w, e);
        auto got = values->find(entry);
        const std::string held = got == values->end() ? "" : got->second;
        auto may = possible.find({level, entry});
        EXPECT_TRUE(may == possible.end() ? held.empty() : may->second.count(held) != 0)
            << entry << " at " << kLevelNames[level] << " holds \"" << held << "\" in the file";
        if (may == possible.end()) continue;
        // A Get must see what the file holds, whatever its snapshot image says.
        Outcome get =
            Timed(installation, Command("-Get", entry, level), installation.root_ / "get");
        EXPECT_EQ(got == values->end() ? NotFound(entry, level) : Found(entry, got->second, level),
                  get.out);
      }
    }
  }

  // A reader may see only a value whose Set had started, at that value's level.
  size_t reads = 0;
  for (const auto& ops : readerOps) {
    reads += ops.size();
    for (const Op& op : ops) {
      EXPECT_EQ(255, op.run.status);
      EXPECT_EQ("", op.run.err);
      auto [value, level] = ParseGet(op.entry, op.run.out);
      if (level < 0) {
        EXPECT_EQ(NotFound(op.entry, op.level), op.run.out);
        // Shared is never deleted, so it is always found.
        EXPECT_NE(kShared, op.entry) << op.run.out;
        continue;
      }
      const std::string where = "read of " + op.entry + ": " + op.run.out;
      if (op.level >= 0) {
        EXPECT_EQ(op.level, level) << where;
      } else {
        EXPECT_EQ(op.entry == kShared ? 0 : level, level) << where;
        EXPECT_NE(4, level) << where;
      }
      bool written = op.entry == kShared && value == kSeed;
      for (const Op* set : sets[{level, op.entry}]) {
        written |= set->value == value && set->run.start < op.run.end;
      }
      EXPECT_TRUE(written) << where;
    }
  }

  EXPECT_EQ(std::vector<std::string>{}, installation.Leftovers());
  std::printf("mixed load: %d writer runs, %zu reader runs\n", kWriters * kOpsEach, reads);
  RecordProperty("reader_runs", static_cast<int>(reads));
}

}  // namespace
}  // namespace testsupport
