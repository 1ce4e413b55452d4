#include "tool/set_setting.h"

#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/tool_options.h"

bool LevelUsesAdminFolder(int level) {
  return level == ProviderInstallMachine || level == ProviderInstall || level == ProviderAdmin;
}

const char* RefusalText(SetRefusal refusal) {
  switch (refusal) {
    case SetNotDefined:
      return msg::kNotDefined;
    case SetTypeChange:
      return msg::kTypeChange;
    case SetNotAnInteger:
      return msg::kNotAnInteger;
    default:
      return "";
  }
}

SetResult CheckSettingValue(MorixRegistryImpl& registry, AString& section, AString& entry,
                            const AString& value, int requestedType, int level, bool entryAbsent) {
  SetResult result;
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);

  bool syntaxFound = false;
  const int declaredType = SpellSetting(registry, section, entry, &syntaxFound);
  if (declaredType == 0 && syntaxFound) {
    result.refusal = SetNotDefined;
    return result;
  }

  int32_t number = 0;
  bool isNumber = value.IsNumber(number, 10);
  int existingType =
      entryAbsent ? 0
                  : static_cast<int>(registry.GetRegistryValueType(HKCU, section, entry, level));
  if (existingType != 0) {
    AString current;
    int readLevel = level;
    ReadSettingValue(registry, current, existingType, readLevel, section, entry);
    bool sameType = requestedType == kTypeNone || requestedType == existingType;
    bool sameText = current.Compare(value) == 0;
    result.outcome = sameText && sameType ? SetUnchanged : SetChanged;
    // An integer read at a level comes unsigned: -1 is 4294967295.
    int32_t currentNumber = 0;
    bool sameNumber = existingType == kTypeInt32 && isNumber &&
                      current.IsNumber(currentNumber, 10) && currentNumber == number;
    result.holdsValue = sameType && (sameText || sameNumber);
  }

  int effectiveType = requestedType;
  if (effectiveType == kTypeNone) effectiveType = existingType;
  if (effectiveType == kTypeNone) effectiveType = declaredType;
  if (effectiveType == kTypeNone) effectiveType = isNumber ? kTypeInt32 : kTypeString;
  result.type = effectiveType;

  if (result.outcome != SetCreated && effectiveType != existingType) {
    result.refusal = SetTypeChange;
  } else if (effectiveType == kTypeInt32 && !isNumber) {
    result.refusal = SetNotAnInteger;
  } else if (effectiveType != kTypeString && effectiveType != kTypeInt32) {
    result.refusal = SetWriteFailed;
  }
  return result;
}

bool WriteSettingValue(MorixRegistryImpl& registry, const AString& section, const AString& entry,
                       const AString& value, int type, int level) {
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);
  if (type == kTypeString) {
    return registry.WriteRegistryStringToProvider(HKCU, section, entry, value, level);
  }
  int32_t number = 0;
  return value.IsNumber(number, 10) &&
         registry.WriteRegistryIntToProvider(HKCU, section, entry, number, level);
}

SetResult SetSettingValue(MorixRegistryImpl& registry, AString& section, AString& entry,
                          const AString& value, int requestedType, int level) {
  SetResult result = CheckSettingValue(registry, section, entry, value, requestedType, level);
  if (result.refusal == SetAccepted &&
      !WriteSettingValue(registry, section, entry, value, result.type, level)) {
    result.refusal = SetWriteFailed;
  }
  return result;
}
