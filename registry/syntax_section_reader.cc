#include "registry/syntax_section_reader.h"

#include <algorithm>

#include "registry/registry_names.h"
#include "registry/store_names.h"

namespace {

// The largest string value a registry read takes (see ReadStoreValue).
constexpr int32_t kLongestText = 1000000;

}  // namespace

SyntaxSectionReader::SyntaxSectionReader(MorixRegistryImpl& registry)
    : text_(std::make_unique_for_overwrite<char[]>(kLongestText)) {
  registry.EnsureMorixRegistryIsLoaded();
  for (int i = 0; i < registry.GetNumSyntaxFiles(); ++i) {
    syntaxRoots_.push_back(registry.GetSyntaxRootKeyName(i).ASCII());
    StoreKey root;
    if (firstPresentRoot_ < 0 && root.Open(syntaxRoots_.back().c_str())) firstPresentRoot_ = i;
  }
  syntaxKeys_.resize(syntaxRoots_.size());
  for (ConfigurationProvider provider : kProviderPrecedence) {
    providerPrefixes_.push_back(registry.GetProviderKeyPath(HKCU, AString(), provider).ASCII());
  }
  providerKeys_.resize(providerPrefixes_.size());
}

void SyntaxSectionReader::OpenSection(const std::string& section) {
  for (size_t i = 0; i < syntaxRoots_.size(); ++i) {
    std::string path = section.empty() ? syntaxRoots_[i] : syntaxRoots_[i] + "/" + section;
    syntaxKeys_[i].Open(path.c_str());
  }
  for (size_t i = 0; i < providerPrefixes_.size(); ++i) {
    providerKeys_[i].Open((providerPrefixes_[i] + section).c_str());
  }
}

void SyntaxSectionReader::MergeNames(bool subkeys, std::vector<std::string>& names) {
  names.clear();
  for (const StoreKey& key : syntaxKeys_) {
    if (key.get() == nullptr) continue;
    ForEachStoreName(key.get(), subkeys, [&names](const char* name) { names.emplace_back(name); });
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
}

void SyntaxSectionReader::SubkeyNames(std::vector<std::string>& names) { MergeNames(true, names); }

void SyntaxSectionReader::EntryNames(std::vector<std::string>& names) { MergeNames(false, names); }

SyntaxSectionReader::Answer SyntaxSectionReader::ReadValue(const char* entry, std::string& text,
                                                           ConfigurationProvider& provider) {
  int32_t type = 0;
  if (firstPresentRoot_ < 0 || syntaxKeys_[firstPresentRoot_].get() == nullptr ||
      TalRegGetValueTypeA(syntaxKeys_[firstPresentRoot_].get(), entry, &type) != kTalRegOk) {
    return Answer::kAskRegistry;
  }
  // A string at any level wins over an integer at a more specific one.
  size_t numberAt = providerKeys_.size();
  for (size_t i = 0; i < providerKeys_.size(); ++i) {
    TalRegKey key = providerKeys_[i].get();
    if (key == nullptr) continue;
    int32_t size = kLongestText;
    int status = TalRegGetStringValueA(key, entry, text_.get(), &size);
    if (status == kTalRegOk) {
      text.assign(text_.get());
      provider = kProviderPrecedence[i];
      return Answer::kFound;
    }
    if (status == kTalRegWrongType && numberAt == providerKeys_.size()) numberAt = i;
  }
  ConfigurationProvider numberProvider = ProviderNone;
  int32_t number = 0;
  for (size_t i = numberAt; i < providerKeys_.size(); ++i) {
    TalRegKey key = providerKeys_[i].get();
    if (key != nullptr && TalRegGetInt32ValueA(key, entry, &number) == kTalRegOk) {
      numberProvider = kProviderPrecedence[i];
      break;
    }
  }
  if (numberProvider == ProviderNone) return Answer::kNotFound;
  text = std::to_string(number);
  provider = numberProvider;
  return Answer::kFound;
}
