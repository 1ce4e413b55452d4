#include "registry/level_keys.h"

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
  const std::vector<std::string_view> names = cfgkit::KeyPathComponents(name);
  for (size_t i = 0; i < kLevels; ++i) {
    keys_[i].Close();
    atRoot_[i] = parent.atRoot_[i] && names.empty();
    if (parent.keys_[i].get() != nullptr || (parent.atRoot_[i] && !names.empty())) {
      keys_[i] = OpenNames(parent.keys_[i].get(), names);
    }
  }
}

bool LevelKeys::Exists(ConfigurationProvider provider) const {
  return provider < kLevels && keys_[provider].get() != nullptr;
}

bool LevelKeys::Find(ConfigurationProvider provider, std::string_view entry,
                     TalRegValueView* view) const {
  if (!Exists(provider)) return false;
  // A name is asked for up to its first NUL, as the store's reads by name take it.
  entry = entry.substr(0, entry.find('\0'));
  return TalRegFindValueA(keys_[provider].get(), entry, view) == kTalRegOk;
}

int32_t LevelKeys::TypeOf(ConfigurationProvider provider, std::string_view entry) const {
  TalRegValueView view;
  return Find(provider, entry, &view) ? view.type : 0;
}

bool LevelKeys::Read(ConfigurationProvider provider, std::string_view entry, int32_t type,
                     LevelValue* value) const {
  TalRegValueView view;
  if (!Find(provider, entry, &view) || view.type != type) return false;
  if (type == kTalRegTypeString && view.text.size() > kLongestStoreText) return false;
  value->provider = provider;
  value->isNumber = type == kTalRegTypeInt32;
  value->text = value->isNumber ? std::string_view() : view.text.substr(0, view.text.find('\0'));
  value->number = view.number;
  return true;
}

LevelValue LevelKeys::ReadFirst(std::span<const ConfigurationProvider> order,
                                std::string_view entry, int32_t type, bool log) const {
  LevelValue value{ProviderNone, false, {}, 0};
  for (ConfigurationProvider provider : order) {
    if (log) LogOpen(provider);
    if (Read(provider, entry, type, &value)) break;
  }
  return value;
}

void LevelKeys::LogOpen(ConfigurationProvider provider) const {
  const std::string path =
      registry_->GetProviderKeyPath(top_, AString::FromBytes(section_), provider).ASCII();
  std::string lines;
  MorixRegistryImpl::AppendKeyOpenTrace(lines, path, false, Exists(provider));
  TalDebugLines(5, lines);
}
