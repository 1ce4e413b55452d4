// Reads for a check of the store: how each of the product's files loaded,
// and every value a level holds, the multi-product records left out.
#include <set>

#include "registry/morix_registry_impl.h"
#include "registry/registry_names.h"
#include "registry/store_names.h"

namespace {

// The top-level key of a store key path.
std::string TopLevelKeyOf(const std::string& path) { return path.substr(0, path.find('/')); }

class ValueCollector {
 public:
  explicit ValueCollector(std::vector<ProviderValue>& values)
      : values_(values),
        productListKey_(kProductsKeyPath.ASCII()),
        productFlagKey_(kAdminKeyName.ASCII()),
        productFlag_(kMultipleApplicationsValue.ASCII()) {}

  // `storePath` names `key` in the store, `section` below the product's key.
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
    // Opening a subkey calls the store, which the enumeration must finish first.
    std::vector<std::string> subkeys;
    ForEachStoreName(key, true, [&subkeys](std::string_view name) { subkeys.emplace_back(name); });
    for (const std::string& name : subkeys) {
      // A name that reads as empty (it begins with a NUL byte) would open the key itself again.
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
    keys.emplace_back(provider,
                      TopLevelKeyOf(GetProviderKeyPath(HKCU, AString(), provider).ASCII()));
  }
  for (int i = 0; i < GetNumSyntaxFiles(); ++i) {
    keys.emplace_back(ProviderRegistrySyntax, GetSyntaxRootKeyName(i).ASCII());
  }
  std::set<std::string> seen;
  for (const auto& [provider, key] : keys) {
    // An unknown product in a multi-product store has no keys.
    if (key.empty() || !seen.insert(key).second) continue;
    RegistryFileReport file{provider, {}};
    if (TalRegReportFileA(key.c_str(), &file.report) == kTalRegOk) files.push_back(std::move(file));
  }
}

bool MorixRegistryImpl::GetProviderFileReport(uint32_t provider, TalRegFileReport& report) {
  EnsureMorixRegistryIsLoaded();
  const std::string key = TopLevelKeyOf(GetProviderKeyPath(HKCU, AString(), provider).ASCII());
  return !key.empty() && TalRegReportFileA(key.c_str(), &report) == kTalRegOk;
}

void MorixRegistryImpl::GetUnlistedFolders(std::vector<TalRegFileReport>& folders) {
  EnsureMorixRegistryIsLoaded();
  if (TalRegReportUnlistedFolders(&folders) != kTalRegOk) folders.clear();
}

void MorixRegistryImpl::GetProviderValues(uint32_t provider, std::vector<ProviderValue>& values) {
  EnsureMorixRegistryIsLoaded();
  std::string path = GetProviderKeyPath(HKCU, AString(), provider).ASCII();
  path.pop_back();  // the separator put before a section name
  StoreKey key;
  if (path.empty() || !key.Open(path.c_str())) return;
  ValueCollector(values).Collect(key.get(), path, std::string());
}
