#include "tool/commands/commands.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/set_setting.h"
#include "tool/setting_json.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"

namespace {

// `what` is "key" or "value" for a deletion, null when nothing was there.
int PrintJson(JsonOutput& json, const AString& key, int level, const char* what, bool saved) {
  Json document = SettingJson(key, level);
  document["outcome"] = what != nullptr ? "deleted" : "absent";
  if (what != nullptr) {
    document["deleted"] = what;
    document["saved"] = saved;
  }
  if (!saved) document["error"] = MessageText(AString(msg::kSaveFailed).ASCII());
  json.Print(std::move(document));
  if (!saved) return JsonNotSaved;
  return what != nullptr ? JsonDone : JsonNotFound;
}

}  // namespace

int RunDelete(ToolOptions& options, int level, JsonOutput* json) {
  ToolRegistryAccess client(options.values[SlotProductName]);
  MorixRegistryImpl registry(&client);
  IRegistryImpl& changes = registry;

  // First the whole argument as a key.
  AString wholeKey = options.values[SlotRegistryKey];
  AString noEntry;
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);
  NormaliseKey(registry, wholeKey, noEntry);
  if (registry.DoesRegistryKeyExistInProvider(HKCU, wholeKey, level) &&
      registry.DeleteRegistryKey(HKCU, wholeKey, level)) {
    // A failed save after a deletion has never been reported; scripts rely on that.
    bool saved = changes.CommitRegistryChanges();
    if (json != nullptr) return PrintJson(*json, wholeKey, level, "key", saved);
    core::PrintWide(msg::kKeyDeleted, wholeKey.c_str());
    return 0;
  }

  // Then as a section and an entry.
  KeyPathParts parts = SplitKeyPath(options.values[SlotRegistryKey]);
  AString section = parts.section;
  AString entry = parts.entry;
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);
  NormaliseKey(registry, section, entry);
  if (!registry.DeleteRegistryEntry(HKCU, section, entry, level)) {
    if (json != nullptr) {
      return PrintJson(*json, DisplayKey(section, entry), level, nullptr, true);
    }
    core::PrintWide(msg::kDeleteFailed, parts.section, parts.entry);
    return -1;
  }
  bool saved = changes.CommitRegistryChanges();
  if (json != nullptr) {
    return PrintJson(*json, DisplayKey(section, entry), level, "value", saved);
  }
  if (parts.section[0] != L'\0') {
    core::PrintWide(msg::kValueDeletedInSection, section.c_str(), entry.c_str());
  } else {
    core::PrintWide(msg::kValueDeleted, entry.c_str());
  }
  return 0;
}
