#include "tool/commands/commands.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"

int RunGet(ToolOptions& options, int level) {
  KeyPathParts parts = SplitKeyPath(options.values[SlotRegistryKey]);
  AString section = parts.section;
  AString entry = parts.entry;
  ToolRegistryAccess client(options.values[SlotProductName]);
  MorixRegistryImpl registry(&client);

  AString value;
  int type = kTypeNone;
  int foundLevel = level;
  bool found = ReadSettingValue(registry, value, type, foundLevel, section, entry);
  AString key = DisplayKey(section, entry);
  if (found && foundLevel != 0) {
    core::PrintWide(msg::kGetFound, key.c_str(), value.c_str(), ValueTypeName(type).c_str(),
                    LevelName(foundLevel).c_str());
  } else if (level == 0) {
    core::PrintWide(msg::kNotFound, key.c_str());
  } else {
    core::PrintWide(msg::kNotFoundAtLevel, key.c_str(), LevelName(level).c_str());
  }
  return -1;
}
