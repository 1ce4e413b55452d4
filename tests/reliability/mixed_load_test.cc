// Many writers and readers at once, on every level: a save must catch up with
// what other processes saved meanwhile, a read must never show a value that
// nobody wrote, and the files must stay whole.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "support/installation.h"
#include "support/key_file.h"

namespace fs = std::filesystem;
using testsupport::Args;
using testsupport::HostName;

namespace {

constexpr int kWriters = 16, kReaders = 4, kOwnEntries = 3, kLevels = 5;
// A sanitized Setwise run costs ten times as much or more: fewer runs keep
// the test within its time there.
#ifdef SETWISE_SANITIZED_BUILD
constexpr int kOpsEach = 8;
#else
constexpr int kOpsEach = 100;
#endif
const char* const kLevelNames[kLevels] = {"user_machine", "user", "install_machine", "install",
                                          "admin"};
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

// Meridian without syntax files; every level's file holds S/Shared = seed.
class Installation : public testsupport::Installation {
 public:
  Installation() : testsupport::Installation(false, false) {
    for (int level = 0; level < kLevels; ++level) {
      testsupport::WriteStoreFile(FileOf(level).parent_path(), KeyNameOf(level),
                                  testsupport::Key("S", testsupport::Str(kShared, kSeed)));
    }
  }

  static std::string KeyNameOf(int level) {
    const std::string names[kLevels] = {HostName() + "_user", "user", HostName(), "default",
                                        "admin"};
    return names[level];
  }
  fs::path FileOf(int level) const {
    return (level < 2 ? userDir() : adminDir()) / (KeyNameOf(level) + ".XML");
  }

  Outcome Timed(const Args& args, const std::string& out) const {
    Outcome run;
    run.start = Clock::now();
    run.status = testsupport::Wait(testsupport::Spawn(binary(), args, home(), out, out + ".err"));
    run.end = Clock::now();
    run.out = testsupport::ReadFile(out), run.err = testsupport::ReadFile(out + ".err");
    return run;
  }

  // The entries of key S at `level`; nullopt when the file does not load.
  std::optional<std::map<std::string, std::string>> Values(int level) const {
    return testsupport::SectionTexts(testsupport::ReadFile(FileOf(level)), KeyNameOf(level), "S");
  }
};

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

TEST(MixedLoadTest, WritersAndReadersOnEveryLevelAgree) {
  Installation installation;
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
        op.run = installation.Timed(args, out);
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
        op.run = installation.Timed(Command("-Get", op.entry, op.level), out);
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
        EXPECT_EQ(
            "error on save registry changes make sure user has the write access to the "
            "registry\n",
            op.run.out)
            << where;
        EXPECT_EQ(255, op.run.status) << where;
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
        Outcome get = installation.Timed(Command("-Get", entry, level), installation.root_ / "get");
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
