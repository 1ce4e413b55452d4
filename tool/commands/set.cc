#include "tool/commands/commands.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/set_setting.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"

int RunSet(ToolOptions& options, int level) {
  KeyPathParts parts = SplitKeyPath(options.values[SlotRegistryKey]);
  int requestedType = kTypeNone;
  if (const wchar_t* typeText = options.values[SlotValueType]) {
    int32_t code = 0;
    if (!AString(typeText).IsNumber(code, 10) || (code != kTypeString && code != kTypeInt32)) {
      core::PrintWide(msg::kUnsupportedValueType, typeText);
      PrintUsage();
      return -1;
    }
    requestedType = code;
  }
  ToolRegistryAccess client(options.values[SlotProductName]);
  MorixRegistryImpl registry(&client);

  AString section = parts.section;
  AString entry = parts.entry;
  AString value = options.values[SlotRegistryValue];
  int outcome = SetCreated;
  bool written = SetSettingValue(registry, section, entry, value, requestedType, level, outcome);
  AString key = DisplayKey(section, entry);
  if (!written) {
    core::PrintWide(msg::kSetFailed, key.c_str());
    return -1;
  }
  IRegistryImpl& changes = registry;
  if (changes.CommitRegistryChanges()) {
    core::PrintWide(outcome == SetCreated ? msg::kCreated : msg::kSetTo, key.c_str(),
                    value.c_str());
    return 0;
  }
  if (outcome == SetUnchanged) {
    core::PrintWide(msg::kUnchangedWarning);
    core::PrintWide(msg::kSetTo, key.c_str(), value.c_str());
    return 0;
  }
  core::PrintWide(msg::kSaveFailed);
  return -1;
}
