// What Check reads: how each file of the product loaded, and every value
// one level holds, without the bookkeeping of stores shared by products.
#include <set>

#include "registry/morix_registry_impl.h"
#include "registry/registry_names.h"
#include "registry/store_names.h"

namespace {

// The first name of a path: the file it lives in.
std::string TopLevelKeyOf(const std::string& path) { return path.substr(0, path.find('/')); }

class ValueCollector {
 public:
  explicit ValueCollector(std::vector<ProviderValue>& values)
      : values_(values),
        productListKey_(kProductsKeyPath.ASCII()),
        productFlagKey_(kAdminKeyName.ASCII()),
        productFlag_(kMultipleApplicationsValue.ASCII()) {}

  // `storePath` is where `key` is in the store; `section` is its path below the product.
  void Collect(TalRegKey key, const std::string& storePath, const std::string& section) {
    const bool holdsProductFlag = storePath == productFlagKey_;
    auto add = [&](const TalRegValueView& value) {
      if (holdsProductFlag && value.name == productFlag_) return;
      values_.push_back({section, std::string(value.name), value.type, value.text.size()});
    };
    static_cast<void>(TalRegVisitValuesA(
        key,
        [](void* target, const TalRegValueView& value) {
          (*static_cast<decltype(add)*>(target))(value);
        },
        &add));
    // The visit must end before a subkey is opened: opening calls the store again.
    std::vector<std::string> subkeys;
    ForEachStoreName(key, true, [&subkeys](std::string_view name) { subkeys.emplace_back(name); });
    for (const std::string& name : subkeys) {
      // An empty name (one that begins with NUL) would open this same key.
      if (name.empty()) continue;
      const std::string path = storePath + "/" + name;
      if (path == productListKey_) continue;
      StoreKey subkey;
      if (subkey.Open(name.c_str(), key)) {
        Collect(subkey.get(), path, section.empty() ? name : section + "/" + name);
      }
    }
  }

 private:
  std::vector<ProviderValue>& values_;
  const std::string productListKey_, productFlagKey_, productFlag_;
};

}  // namespace

void MorixRegistryImpl::GetRegistryFileReports(std::vector<RegistryFileReport>& files) {
  EnsureMorixRegistryIsLoaded();
  std::vector<std::pair<uint32_t, std::string>> keys;
  for (uint32_t provider = ProviderUserMachine; provider <= ProviderAdmin; ++provider) {
    keys.emplace_back(provider, GetProviderFileKey(provider));
  }
  for (int i = 0; i < GetNumSyntaxFiles(); ++i) {
    keys.emplace_back(ProviderRegistrySyntax, GetSyntaxRootKeyName(i).ASCII());
  }
  std::set<std::string> seen;
  for (const auto& [provider, key] : keys) {
    // A product the store does not know has no files to report.
    if (key.empty() || !seen.insert(key).second) continue;
    RegistryFileReport file{provider, {}};
    if (TalRegReportFileA(key.c_str(), &file.report) == kTalRegOk) files.push_back(std::move(file));
  }
}

std::string MorixRegistryImpl::GetProviderFileKey(uint32_t provider) {
  EnsureMorixRegistryIsLoaded();
  return TopLevelKeyOf(GetProviderKeyPath(HKCU, AString(), provider).ASCII());
}

bool MorixRegistryImpl::GetProviderFileReport(uint32_t provider, TalRegFileReport& report) {
  const std::string key = GetProviderFileKey(provider);
  return !key.empty() && TalRegReportFileA(key.c_str(), &report) == kTalRegOk;
}

void MorixRegistryImpl::GetUnlistedFolders(std::vector<TalRegFileReport>& folders) {
  EnsureMorixRegistryIsLoaded();
  if (TalRegReportUnlistedFolders(&folders) != kTalRegOk) folders.clear();
}

void MorixRegistryImpl::GetProviderValues(uint32_t provider, std::vector<ProviderValue>& values) {
  EnsureMorixRegistryIsLoaded();
  std::string path = GetProviderKeyPath(HKCU, AString(), provider).ASCII();
  path.pop_back();  // the trailing '/' left for names to follow
  StoreKey key;
  if (path.empty() || !key.Open(path.c_str())) return;
  ValueCollector(values).Collect(key.get(), path, std::string());
}
