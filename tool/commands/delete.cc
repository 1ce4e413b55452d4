#include "tool/commands/commands.h"
#include "tool/finish_change.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/set_setting.h"
#include "tool/setting_json.h"
#include "tool/store_reports.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"

namespace {

// `what` is "key" or "value" for a deletion, null when nothing was there;
// `saved`: the save went through, or for a dry run would.
int PrintJson(JsonOutput& json, const AString& key, int level, const char* what, bool saved,
              bool dryRun) {
  Json document = SettingJson(key, level);
  document["outcome"] = what != nullptr ? "deleted" : "absent";
  if (what != nullptr) {
    document["deleted"] = what;
    if (dryRun) {
      document["dry_run"] = true;
    } else {
      document["saved"] = saved;
    }
  }
  if (!saved) document["error"] = MessageText(AString(msg::kSaveFailed).ASCII());
  json.Print(std::move(document));
  if (!saved) return JsonNotSaved;
  return what != nullptr ? JsonDone : JsonNotFound;
}

// A deletion's text form, the same whatever the save returned: scripts rely
// on that. A dry run adds its summary.
int PrintDeleted(const wchar_t* message, const AString& first, const AString& second, int level,
                 bool dryRun) {
  core::PrintWide(message, first.c_str(), second.c_str());
  if (dryRun) {
    ChangeCounts counts;
    counts.deleted = 1;
    PrintDryRunSummary(level, counts);
  }
  return 0;
}

}  // namespace

int RunDelete(ToolOptions& options, int level, JsonOutput* json) {
  ProductRegistry product(options);
  MorixRegistryImpl& registry = product.registry;
  const bool dryRun = options.dryRun;

  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);  // before the store loads
  if (json != nullptr) {
    // The text form keeps its classic answer, which names no file.
    const std::string refusal = LevelStoreRefusal(registry, level);
    if (!refusal.empty()) {
      return PrintRefusal(*json, options.values[SlotRegistryKey], level, refusal);
    }
  }
  // First the whole argument as a key.
  AString wholeKey = options.values[SlotRegistryKey];
  AString noEntry;
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);
  NormaliseKey(registry, wholeKey, noEntry);
  if (registry.DoesRegistryKeyExistInProvider(HKCU, wholeKey, level) &&
      registry.DeleteRegistryKey(HKCU, wholeKey, level)) {
    bool saved = FinishChange(registry, dryRun);
    if (json != nullptr) return PrintJson(*json, wholeKey, level, "key", saved, dryRun);
    return PrintDeleted(msg::kKeyDeleted, wholeKey, AString(), level, dryRun);
  }

  // Then as a section and an entry.
  KeyPathParts parts = SplitKeyPath(options.values[SlotRegistryKey]);
  AString section = parts.section;
  AString entry = parts.entry;
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);
  NormaliseKey(registry, section, entry);
  if (!registry.DeleteRegistryEntry(HKCU, section, entry, level)) {
    if (json != nullptr) {
      return PrintJson(*json, DisplayKey(section, entry), level, nullptr, true, dryRun);
    }
    core::PrintWide(msg::kDeleteFailed, parts.section, parts.entry);
    return -1;
  }
  bool saved = FinishChange(registry, dryRun);
  if (json != nullptr) {
    return PrintJson(*json, DisplayKey(section, entry), level, "value", saved, dryRun);
  }
  if (parts.section[0] != L'\0') {
    return PrintDeleted(msg::kValueDeletedInSection, section, entry, level, dryRun);
  }
  return PrintDeleted(msg::kValueDeleted, entry, AString(), level, dryRun);
}
