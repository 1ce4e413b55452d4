// Load cost of a large store and the cost of opening key paths in it.
// Store: 10,000 keys three levels deep, 10 values each (100,000 values),
// split over an install file and a user file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cfgkit/cfgkit.h"

namespace {

constexpr int kGroups = 100;
constexpr int kKeysPerGroup = 100;
constexpr int kValuesPerKey = 10;

std::string KeyPath(const std::string& top, int group, int key) {
  return top + "/Section" + std::to_string(group) + "/Options/Key" + std::to_string(key);
}

void WriteStoreFile(const std::filesystem::path& dir, const std::string& top, int firstGroup,
                    int groups) {
  std::ofstream out(dir / (top + ".XML"));
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<key name=\"" << top << "\">\n";
  for (int g = firstGroup; g < firstGroup + groups; ++g) {
    out << "  <key name=\"Section" << g << "\">\n    <key name=\"Options\">\n";
    for (int k = 0; k < kKeysPerGroup; ++k) {
      out << "      <key name=\"Key" << k << "\">\n";
      for (int v = 0; v < kValuesPerKey; ++v) {
        if (v % 2 == 0) {
          out << "        <value name=\"Entry" << v << "\" type=\"int\">" << g * k + v
              << "</value>\n";
        } else {
          out << "        <value name=\"Entry" << v << "\" type=\"string\">value " << g << "."
              << k << "." << v << "</value>\n";
        }
      }
      out << "      </key>\n";
    }
    out << "    </key>\n  </key>\n";
  }
  out << "</key>\n";
}

class LargeStore {
 public:
  LargeStore() {
    char pattern[] = "/tmp/cfgkit_bench.XXXXXX";
    root_ = mkdtemp(pattern);
    std::filesystem::create_directories(root_ / "admin");
    std::filesystem::create_directories(root_ / "user");
    WriteStoreFile(root_ / "admin", "default", 0, kGroups / 2);
    WriteStoreFile(root_ / "user", "user", kGroups / 2, kGroups / 2);
  }
  ~LargeStore() { std::filesystem::remove_all(root_); }

  int Load() const {
    return _LoadPathsA((root_ / "admin").c_str(), (root_ / "user").c_str());
  }

 private:
  std::filesystem::path root_;
};

const LargeStore& Store() {
  static LargeStore store;
  return store;
}

void BM_Load100kValues(benchmark::State& state) {
  for (auto _ : state) {
    if (Store().Load() != 0) state.SkipWithError("load failed");
  }
  state.SetItemsProcessed(state.iterations() * kGroups * kKeysPerGroup * kValuesPerKey);
}
BENCHMARK(BM_Load100kValues)->Unit(benchmark::kMillisecond);

void BM_Open100kPaths(benchmark::State& state) {
  if (Store().Load() != 0) state.SkipWithError("load failed");
  std::vector<std::string> paths;
  for (int i = 0; i < 100000; ++i) {
    int group = i % kGroups;
    std::string top = group < kGroups / 2 ? "default" : "user";
    paths.push_back(KeyPath(top, group, (i / kGroups) % kKeysPerGroup));
  }
  for (auto _ : state) {
    for (const std::string& path : paths) {
      TalRegKey key = nullptr;
      if (TalRegOpenKeyA(nullptr, path.c_str(), &key) != 0) state.SkipWithError("open failed");
      benchmark::DoNotOptimize(key);
      if (TalRegCloseKey(key) != 0) state.SkipWithError("close failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(paths.size()));
}
BENCHMARK(BM_Open100kPaths)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
