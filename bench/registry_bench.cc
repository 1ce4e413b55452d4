// Enumerating a syntax key with 50,000 entries and looking each one up, the
// way GetKeys walks a large product syntax.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "registry/morix_registry_impl.h"

namespace {

constexpr int kEntries = 50000;

class BenchClient : public IMorixRegistryClient {
 public:
  explicit BenchClient(AString installDir) : installDir_(std::move(installDir)) {}
  bool SetClientFlag(bool) override { return false; }
  AString GetInstallDirOverride() override { return installDir_; }
  AString GetVersionedProductName() override { return L"BenchProduct"; }
  AString GetDesktopProductName() override { return AString(); }

 private:
  AString installDir_;
};

class LargeSyntax {
 public:
  LargeSyntax() {
    char pattern[] = "/tmp/registry_bench.XXXXXX";
    root_ = mkdtemp(pattern);
    std::filesystem::create_directories(root_ / "inst/config");
    setenv("HOME", (root_ / "home").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    std::ofstream out(root_ / "inst/config/RegistrySyntax.XML");
    out << "<key name=\"RegistrySyntax\">\n  <key name=\"Big\">\n";
    for (int i = 0; i < kEntries; ++i) {
      out << "    <value name=\"Entry" << i << "\" type=\"" << (i % 2 ? "int\">0" : "string\">")
          << "</value>\n";
    }
    out << "  </key>\n</key>\n";
  }
  ~LargeSyntax() { std::filesystem::remove_all(root_); }

  AString InstallDir() const { return AString((root_ / "inst").c_str()); }

 private:
  std::filesystem::path root_;
};

void BM_EnumerateAndLookUp50kSyntaxEntries(benchmark::State& state) {
  // The store loads once per process, and only the instance that loads it
  // knows the product's keys, so every run uses the same one.
  static LargeSyntax syntax;
  static BenchClient client(syntax.InstallDir());
  static MorixRegistryImpl registry(&client);
  for (auto _ : state) {
    std::vector<std::string> names;
    registry.GetValueNamesFromSyntaxFiles(names, "Big");
    if (names.size() != kEntries) {
      state.SkipWithError(("entry count " + std::to_string(names.size())).c_str());
      break;
    }
    for (const std::string& name : names) {
      AString section = L"big";
      AString entry = name.c_str();
      if (registry.LookupRegistrySyntax(section, entry, nullptr) == 0) {
        state.SkipWithError("entry not found");
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_EnumerateAndLookUp50kSyntaxEntries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
