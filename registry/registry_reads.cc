// Reading values from one provider or by precedence, and existence tests,
// all through the keys of the section at each level.
#include "registry/level_keys.h"
#include "registry/morix_registry_impl.h"
#include "registry/store_value.h"
#include "vxcore/tal_debug.h"

namespace {

const wchar_t* BoolWord(bool value) { return value ? L"true" : L"false"; }

// How a read of each value kind asks the store and gives its result.
template <class T>
struct LevelRead;

template <>
struct LevelRead<AString> {
  static constexpr int32_t kType = kTalRegTypeString;
  static AString From(const LevelValue& value) { return AString::FromBytes(value.text); }
};

template <>
struct LevelRead<uint32_t> {
  static constexpr int32_t kType = kTalRegTypeInt32;
  static uint32_t From(const LevelValue& value) { return static_cast<uint32_t>(value.number); }
};

}  // namespace

template <class T>
bool MorixRegistryImpl::ReadFromProvider(T& value, uint32_t top, const AString& section,
                                         const AString& entry, uint32_t provider) {
  const ConfigurationProvider level[] = {static_cast<ConfigurationProvider>(provider)};
  LevelKeys keys;
  keys.Open(*this, top, section.ASCII(), level);
  const LevelValue found =
      keys.ReadFirst(level, entry.ASCII(), LevelRead<T>::kType, my_tal_debug_data.Debug(5));
  if (found.provider == ProviderNone) return false;
  value = LevelRead<T>::From(found);
  return true;
}

bool MorixRegistryImpl::ReadRegistryStringFromProvider(AString& value, uint32_t top,
                                                       const AString& section, const AString& entry,
                                                       uint32_t provider) {
  return ReadFromProvider(value, top, section, entry, provider);
}

bool MorixRegistryImpl::ReadRegistryIntFromProvider(uint32_t& value, uint32_t top,
                                                    const AString& section, const AString& entry,
                                                    uint32_t provider) {
  return ReadFromProvider(value, top, section, entry, provider);
}

LevelValue MorixRegistryImpl::ReadSetting(const LevelKeys& keys, std::string_view entry,
                                          const TalRegValueView* found) {
  const auto order = LevelKeys::PrecedenceOf(keys.top());
  const bool log = my_tal_debug_data.Debug(5);
  // One look-up answers both reads; each logs as if it had asked on its own.
  TalRegValueView views[std::size(kProviderPrecedence)];
  if (found == nullptr) {
    keys.FindAll(order, entry, views);
    found = views;
  }
  const LevelKeys::Located at = keys.Locate(order, found, false);
  LevelValue value = keys.ValueAt(order, found, at.string, kTalRegTypeString);
  if (log) {
    keys.LogOpensUpTo(order, at.string);
    LogRead<AString>(keys.top(), keys.section(), entry, LevelRead<AString>::From(value),
                     value.provider);
  }
  if (value.provider != ProviderNone) return value;
  value = keys.ValueAt(order, found, at.integer, kTalRegTypeInt32);
  if (log) {
    keys.LogOpensUpTo(order, at.integer);
    LogRead<uint32_t>(keys.top(), keys.section(), entry, LevelRead<uint32_t>::From(value),
                      value.provider);
  }
  return value;
}

LevelValue MorixRegistryImpl::ReadSettingAt(const LevelKeys& keys, ConfigurationProvider level,
                                            std::string_view entry, const TalRegValueView* found) {
  const ConfigurationProvider only[] = {level};
  const bool log = my_tal_debug_data.Debug(5);
  TalRegValueView view;
  if (found == nullptr) {
    keys.FindAll(only, entry, &view);
    found = &view;
  }
  const LevelKeys::Located at = keys.Locate(only, found, false);
  if (log) keys.LogOpensUpTo(only, at.string);
  const LevelValue value = keys.ValueAt(only, found, at.string, kTalRegTypeString);
  if (value.provider != ProviderNone) return value;
  if (log) keys.LogOpensUpTo(only, at.integer);
  return keys.ValueAt(only, found, at.integer, kTalRegTypeInt32);
}

template <class T>
void MorixRegistryImpl::LogRead(uint32_t top, std::string_view section, std::string_view entry,
                                const T& value, ConfigurationProvider provider) {
  TalDebug(5, RegistryValueTraits<T>::kReadLog, GetTopName(top).c_str(),
           AString::FromBytes(section).c_str(), AString::FromBytes(entry).c_str(),
           RegistryValueTraits<T>::Arg(value), GetProviderName(provider).c_str());
}

template <class T>
T MorixRegistryImpl::GetByPrecedence(ConfigurationProvider& provider, uint32_t top,
                                     const AString& section, const AString& entry,
                                     const T& defaultValue) {
  const auto order = LevelKeys::PrecedenceOf(top);
  LevelKeys keys;
  keys.Open(*this, top, section.ASCII(), order);
  const LevelValue found =
      keys.ReadFirst(order, entry.ASCII(), LevelRead<T>::kType, my_tal_debug_data.Debug(5));
  provider = found.provider;
  const T result = provider == ProviderNone ? defaultValue : LevelRead<T>::From(found);
  TalDebug(5, RegistryValueTraits<T>::kReadLog, GetTopName(top).c_str(), section.c_str(),
           entry.c_str(), RegistryValueTraits<T>::Arg(result), GetProviderName(provider).c_str());
  return result;
}

AString MorixRegistryImpl::GetRegistryString(ConfigurationProvider& provider, uint32_t top,
                                             const AString& section, const AString& entry,
                                             const AString& defaultValue) {
  return GetByPrecedence(provider, top, section, entry, defaultValue);
}

AString MorixRegistryImpl::GetRegistryString(uint32_t top, const AString& section,
                                             const AString& entry, const AString& defaultValue) {
  ConfigurationProvider provider;
  return GetRegistryString(provider, top, section, entry, defaultValue);
}

uint32_t MorixRegistryImpl::GetRegistryInt(ConfigurationProvider& provider, uint32_t top,
                                           const AString& section, const AString& entry,
                                           uint32_t defaultValue) {
  return GetByPrecedence(provider, top, section, entry, defaultValue);
}

uint32_t MorixRegistryImpl::GetRegistryInt(uint32_t top, const AString& section,
                                           const AString& entry, uint32_t defaultValue) {
  ConfigurationProvider provider;
  return GetRegistryInt(provider, top, section, entry, defaultValue);
}

template <class Test>
bool MorixRegistryImpl::ExistsByPrecedence(uint32_t top, const AString& section,
                                           const Test& existsIn, ConfigurationProvider& found) {
  const auto order = LevelKeys::PrecedenceOf(top);
  LevelKeys keys;
  keys.Open(*this, top, section.ASCII(), order);
  const bool log = my_tal_debug_data.Debug(5);
  found = ProviderNone;
  for (ConfigurationProvider candidate : order) {
    if (log) keys.LogOpen(candidate);
    if (existsIn(keys, candidate)) {
      found = candidate;
      break;
    }
  }
  return found != ProviderNone;
}

bool MorixRegistryImpl::DoesRegistryValueExistInProvider(uint32_t top, const AString& section,
                                                         const AString& entry, uint32_t provider) {
  return GetRegistryValueType(top, section, entry, provider) != 0;
}

bool MorixRegistryImpl::DoesRegistryValueExist(uint32_t top, const AString& section,
                                               const AString& entry) {
  const std::string name = entry.ASCII();
  ConfigurationProvider found;
  bool exists = ExistsByPrecedence(
      top, section,
      [&](const LevelKeys& keys, ConfigurationProvider provider) {
        return keys.TypeOf(provider, name) != 0;
      },
      found);
  TalDebug(5,
           L"Info: MorixRegistry DoesRegistryValueExist: result=%s, top=%s, section='%s', "
           L"entry='%s', provider=%s.\n",
           BoolWord(exists), GetTopName(top).c_str(), section.c_str(), entry.c_str(),
           GetProviderName(found).c_str());
  return exists;
}

uint32_t MorixRegistryImpl::GetRegistryValueType(uint32_t top, const AString& section,
                                                 const AString& entry, uint32_t provider) {
  const ConfigurationProvider level[] = {static_cast<ConfigurationProvider>(provider)};
  LevelKeys keys;
  keys.Open(*this, top, section.ASCII(), level);
  if (my_tal_debug_data.Debug(5)) keys.LogOpen(level[0]);
  return static_cast<uint32_t>(keys.TypeOf(level[0], entry.ASCII()));
}

bool MorixRegistryImpl::DoesRegistryKeyExistInProvider(uint32_t top, const AString& section,
                                                       uint32_t provider) {
  const ConfigurationProvider level[] = {static_cast<ConfigurationProvider>(provider)};
  LevelKeys keys;
  keys.Open(*this, top, section.ASCII(), level);
  if (my_tal_debug_data.Debug(5)) keys.LogOpen(level[0]);
  return keys.Exists(level[0]);
}

bool MorixRegistryImpl::DoesRegistryKeyExist(uint32_t top, const AString& section) {
  ConfigurationProvider found;
  bool exists = ExistsByPrecedence(
      top, section,
      [](const LevelKeys& keys, ConfigurationProvider provider) { return keys.Exists(provider); },
      found);
  TalDebug(5,
           L"Info: MorixRegistry DoesRegistryKeyExist: result=%s, top=%s, section='%s', "
           L"provider=%s.\n",
           BoolWord(exists), GetTopName(top).c_str(), section.c_str(),
           GetProviderName(found).c_str());
  return exists;
}
