#include "registry/level_keys.h"

#include <algorithm>

#include "cfgkit/key_path.h"
#include "registry/morix_registry_impl.h"
#include "registry/store_value.h"
#include "vxcore/tal_debug.h"

namespace {

constexpr ConfigurationProvider kAdminAlone[] = {ProviderAdmin};

}  // namespace

std::span<const ConfigurationProvider> LevelKeys::PrecedenceOf(uint32_t top) {
  if (top == HKLM) return kAdminAlone;
  return kProviderPrecedence;
}

void LevelKeys::Open(MorixRegistryImpl& registry, uint32_t top, std::string_view section,
                     std::span<const ConfigurationProvider> providers) {
  registry.EnsureMorixRegistryIsLoaded();
  registry_ = &registry;
  top_ = top;
  section_.assign(section);
  for (size_t i = 0; i < kLevels; ++i) {
    keys_[i].Close();
    atRoot_[i] = false;
    openTraces_[i].clear();
  }
  const std::vector<std::string_view> sectionNames = cfgkit::KeyPathComponents(section);
  std::vector<std::string_view> names;
  for (ConfigurationProvider provider : providers) {
    // The level's key path with the section after it, as one path.
    const std::string base = registry.GetProviderKeyPath(top, AString(), provider).ASCII();
    names = cfgkit::KeyPathComponents(base);
    names.insert(names.end(), sectionNames.begin(), sectionNames.end());
    // A level without a key path (its product unknown) stands at the root,
    // which holds no values but whose keys a path below it reaches.
    atRoot_[provider] = names.empty();
    if (!names.empty()) keys_[provider] = OpenNames(nullptr, names);
  }
}

void LevelKeys::OpenChild(const LevelKeys& parent, std::string_view name) {
  registry_ = parent.registry_;
  top_ = parent.top_;
  section_.assign(parent.section_);
  if (!section_.empty()) section_.push_back('/');
  section_.append(name);
  std::vector<std::string_view> split;
  const std::span<const std::string_view> names = cfgkit::KeyPathComponents(name, &split);
  for (size_t i = 0; i < kLevels; ++i) {
    keys_[i].Close();
    openTraces_[i].clear();
    atRoot_[i] = parent.atRoot_[i] && names.empty();
    if (parent.keys_[i].get() != nullptr || (parent.atRoot_[i] && !names.empty())) {
      keys_[i] = OpenNames(parent.keys_[i].get(), names);
    }
  }
}

bool LevelKeys::Exists(ConfigurationProvider provider) const {
  return provider < kLevels && keys_[provider].get() != nullptr;
}

void LevelKeys::FindAll(std::span<const ConfigurationProvider> order, std::string_view entry,
                        TalRegValueView* views) const {
  // A name is asked for up to its first NUL, as the store's reads by name take it.
  entry = entry.substr(0, entry.find('\0'));
  TalRegKey keys[kLevels] = {};
  const size_t count = std::min(order.size(), kLevels);
  for (size_t i = 0; i < count; ++i) keys[i] = KeyOf(order[i]);
  static_cast<void>(TalRegFindValuesA(keys, count, &entry, 1, views));
}

int32_t LevelKeys::TypeOf(ConfigurationProvider provider, std::string_view entry) const {
  const ConfigurationProvider only[] = {provider};
  TalRegValueView view;
  FindAll(only, entry, &view);
  return view.type;
}

void LevelKeys::LogOpensUpTo(std::span<const ConfigurationProvider> order, size_t at) const {
  for (size_t i = 0; i < std::min(order.size(), kLevels) && i <= at; ++i) LogOpen(order[i]);
}

LevelValue LevelKeys::ReadFirst(std::span<const ConfigurationProvider> order,
                                std::string_view entry, int32_t type, bool log) const {
  TalRegValueView views[kLevels];
  FindAll(order, entry, views);
  const Located located = Locate(order, views, type == kTalRegTypeInt32);
  const size_t at = type == kTalRegTypeInt32 ? located.integer : located.string;
  if (log) LogOpensUpTo(order, at);
  return ValueAt(order, views, at, type);
}

void LevelKeys::LogOpen(ConfigurationProvider provider) const {
  if (provider >= kLevels) return;
  // A listing logs the same open once per entry: its lines are made once.
  std::string& lines = openTraces_[provider];
  if (lines.empty()) {
    const std::string path =
        registry_->GetProviderKeyPath(top_, AString::FromBytes(section_), provider).ASCII();
    MorixRegistryImpl::AppendKeyOpenTrace(lines, path, false, Exists(provider));
  }
  TalDebugLines(5, lines);
}
