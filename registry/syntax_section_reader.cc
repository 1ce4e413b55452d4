#include "registry/syntax_section_reader.h"

#include <algorithm>
#include <functional>

#include "registry/registry_names.h"
#include "registry/store_names.h"

namespace {

// What the registry's reads can take: value names that fit the enumerations'
// buffer of 16,000 bytes, and strings that fit ReadStoreValue's largest.
constexpr size_t kLongestValueName = 15999;
constexpr size_t kLongestText = 999999;

// Texts as the C-string reads give them: up to the first NUL.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

template <class Use>
void VisitValues(TalRegKey key, Use& use) {
  static_cast<void>(TalRegVisitValuesA(
      key, [](void* target, const TalRegValueView& value) { (*static_cast<Use*>(target))(value); },
      &use));
}

}  // namespace

SyntaxSectionReader::SyntaxSectionReader(MorixRegistryImpl& registry) {
  registry.EnsureMorixRegistryIsLoaded();
  Level& roots = levels_.emplace_back();
  for (int i = 0; i < registry.GetNumSyntaxFiles(); ++i) {
    const std::string root = registry.GetSyntaxRootKeyName(i).ASCII();
    syntaxRootless_.push_back(NamesNoKey(root));
    StoreKey& key = roots.syntaxKeys.emplace_back();
    if (!syntaxRootless_.back() && key.Open(root.c_str()) && firstPresentRoot_ < 0) {
      firstPresentRoot_ = i;
    }
  }
  // A provider path is "<provider key>/<section>": the provider key itself
  // stands for the empty section.
  for (ConfigurationProvider provider : kProviderPrecedence) {
    const std::string base = registry.GetProviderKeyPath(HKCU, AString(), provider).ASCII();
    providerRootless_.push_back(NamesNoKey(base));
    StoreKey& key = roots.providerKeys.emplace_back();
    if (!providerRootless_.back()) key.Open(base.c_str());
  }
}

bool SyntaxSectionReader::NamesNoKey(const std::string& path) {
  return std::all_of(path.begin(), path.end(), [](char c) { return c == '/' || c == '\\'; });
}

void SyntaxSectionReader::Enter(const std::string& name) {
  // Growing levels_ would move the keys that `above` refers to.
  levels_.reserve(levels_.size() + 1);
  const bool fromRoots = levels_.size() == 1;
  const Level& above = levels_.back();
  Level& level = levels_.emplace_back();
  auto openBelow = [&](const std::vector<StoreKey>& parents, const std::vector<bool>& rootless,
                       std::vector<StoreKey>& keys) {
    keys.resize(parents.size());
    for (size_t i = 0; i < parents.size(); ++i) {
      // Below a root whose path names no key (the registry could not tell
      // its key names), "<root>/<section>" is the top-level key <section>.
      if (fromRoots && rootless[i]) {
        keys[i].Open(name.c_str());
      } else if (parents[i].get() != nullptr) {
        keys[i].Open(name.c_str(), parents[i].get());
      }
    }
  };
  openBelow(above.syntaxKeys, syntaxRootless_, level.syntaxKeys);
  openBelow(above.providerKeys, providerRootless_, level.providerKeys);
}

void SyntaxSectionReader::Leave() { levels_.pop_back(); }

void SyntaxSectionReader::SubkeyNames(std::vector<std::string>& names) {
  names.clear();
  for (const StoreKey& key : levels_.back().syntaxKeys) {
    if (key.get() == nullptr) continue;
    ForEachStoreName(key.get(), true, [&names](const char* name) { names.emplace_back(name); });
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
}

void SyntaxSectionReader::CollectEntryNames() {
  pending_.clear();
  const std::vector<StoreKey>& syntaxKeys = levels_.back().syntaxKeys;
  for (size_t i = 0; i < syntaxKeys.size(); ++i) {
    if (syntaxKeys[i].get() == nullptr) continue;
    // The lookup finds an entry without respelling it only where the first
    // file holds a value of exactly that name.
    const bool firstFile = static_cast<int>(i) == firstPresentRoot_;
    auto collect = [&](const TalRegValueView& value) {
      if (value.name.size() > kLongestValueName) return;
      std::string_view name = UpToNul(value.name);
      pending_.push_back({name, firstFile && name.size() == value.name.size(), 0, -1, -1, {}, 0});
    };
    VisitValues(syntaxKeys[i].get(), collect);
  }
  std::sort(pending_.begin(), pending_.end(),
            [](const Pending& a, const Pending& b) { return a.name < b.name; });
  size_t kept = 0;
  for (size_t i = 0; i < pending_.size(); ++i) {
    if (kept > 0 && pending_[kept - 1].name == pending_[i].name) {
      pending_[kept - 1].definedInFirstFile |= pending_[i].definedInFirstFile;
    } else {
      pending_[kept++] = pending_[i];
    }
  }
  pending_.resize(kept);
}

void SyntaxSectionReader::IndexEntries() {
  size_t size = 16;
  while (size < pending_.size() * 2) size *= 2;
  slots_.assign(size, 0);
  for (size_t i = 0; i < pending_.size(); ++i) {
    size_t slot = std::hash<std::string_view>()(pending_[i].name) & (size - 1);
    while (slots_[slot] != 0) slot = (slot + 1) & (size - 1);
    slots_[slot] = static_cast<uint32_t>(i + 1);
  }
}

SyntaxSectionReader::Pending* SyntaxSectionReader::FindEntry(std::string_view name) {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = std::hash<std::string_view>()(name) & mask; slots_[slot] != 0;
       slot = (slot + 1) & mask) {
    Pending& entry = pending_[slots_[slot] - 1];
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

void SyntaxSectionReader::TakeValue(size_t provider, const TalRegValueView& value) {
  // A read by name finds a value only under exactly that name.
  Pending* entry = FindEntry(value.name);
  if (entry == nullptr || (entry->seenIn & (1u << provider)) != 0) return;
  entry->seenIn |= static_cast<uint8_t>(1u << provider);
  if (value.type == kTalRegTypeString) {
    if (entry->stringAt < 0 && value.text.size() <= kLongestText) {
      entry->stringAt = static_cast<int>(provider);
      entry->text = UpToNul(value.text);
    }
  } else if (value.type == kTalRegTypeInt32 && entry->numberAt < 0) {
    entry->numberAt = static_cast<int>(provider);
    entry->number = value.number;
  }
}

void SyntaxSectionReader::ReadEntries(std::vector<Entry>& entries) {
  CollectEntryNames();
  IndexEntries();
  // In precedence order, so the first value an entry gets of a kind is the one a read finds.
  const std::vector<StoreKey>& providerKeys = levels_.back().providerKeys;
  for (size_t provider = 0; provider < providerKeys.size(); ++provider) {
    if (providerKeys[provider].get() == nullptr) continue;
    auto take = [this, provider](const TalRegValueView& value) { TakeValue(provider, value); };
    VisitValues(providerKeys[provider].get(), take);
  }
  entries.clear();
  for (const Pending& entry : pending_) {
    Entry out{entry.name, Answer::kNotFound, ProviderNone, false, 0, {}};
    if (!entry.definedInFirstFile) {
      out.answer = Answer::kAskRegistry;
    } else if (entry.stringAt >= 0) {
      out.answer = Answer::kFound;
      out.provider = kProviderPrecedence[entry.stringAt];
      out.text = entry.text;
    } else if (entry.numberAt >= 0) {
      out.answer = Answer::kFound;
      out.provider = kProviderPrecedence[entry.numberAt];
      out.isNumber = true;
      out.number = entry.number;
    }
    entries.push_back(out);
  }
}
