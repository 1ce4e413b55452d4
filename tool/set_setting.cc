#include "tool/set_setting.h"

#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/tool_options.h"
#include "vxcore/console_output.h"

bool LevelUsesAdminFolder(int level) {
  return level == LevelInstallMachine || level == LevelInstall || level == LevelAdmin;
}

bool SetSettingValue(MorixRegistryImpl& registry, AString& section, AString& entry,
                     const AString& value, int requestedType, int level, int& outcome) {
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);

  bool syntaxFound = false;
  int declaredType = LookupKeyAlias(section, entry);
  if (declaredType == 0) declaredType = registry.LookupRegistrySyntax(section, entry, &syntaxFound);
  if (declaredType == 0 && syntaxFound) {
    core::PrintNarrow(msg::kNotDefined);
    return false;
  }

  int existingType = static_cast<int>(registry.GetRegistryValueType(HKCU, section, entry, level));
  outcome = SetCreated;
  if (existingType != 0) {
    AString current;
    int readLevel = level;
    ReadSettingValue(registry, current, existingType, readLevel, section, entry);
    bool sameType = requestedType == kTypeNone || requestedType == existingType;
    outcome = current.Compare(value) == 0 && sameType ? SetUnchanged : SetChanged;
  }

  int32_t number = 0;
  bool isNumber = value.IsNumber(number, 10);
  int effectiveType = requestedType;
  if (effectiveType == kTypeNone) effectiveType = existingType;
  if (effectiveType == kTypeNone) effectiveType = declaredType;
  if (effectiveType == kTypeNone) effectiveType = isNumber ? kTypeInt32 : kTypeString;

  if (outcome != SetCreated && effectiveType != existingType) {
    core::PrintNarrow(msg::kTypeChange);
    return false;
  }
  if (effectiveType == kTypeString) {
    return registry.WriteRegistryStringToProvider(HKCU, section, entry, value, level);
  }
  if (effectiveType == kTypeInt32) {
    if (!isNumber) {
      core::PrintNarrow(msg::kNotAnInteger);
      return false;
    }
    return registry.WriteRegistryIntToProvider(HKCU, section, entry, number, level);
  }
  return false;
}
