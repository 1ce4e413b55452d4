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

const char* OutcomeName(SetOutcome outcome) {
  switch (outcome) {
    case SetCreated:
      return "created";
    case SetChanged:
      return "changed";
    default:
      return "unchanged";
  }
}

// The outcome a script is told: -1 over 4294967295 is the same value, which
// the text form has never said.
SetOutcome ToldOutcome(const SetResult& result) {
  return result.holdsValue ? SetUnchanged : result.outcome;
}

// `saved`: the save went through, or for a dry run would.
int PrintJson(JsonOutput& json, const AString& key, int level, const AString& value,
              const SetResult& result, bool saved, bool dryRun) {
  if (result.refusal != SetAccepted) {
    return PrintRefusal(json, key, level,
                        result.refusal == SetWriteFailed
                            ? MessageText(msg::kSetFailed, key)
                            : MessageText(RefusalText(result.refusal)));
  }
  Json document = SettingJson(key, level);
  PutValue(document, value.ASCII(), result.type);
  const SetOutcome outcome = ToldOutcome(result);
  document["outcome"] = OutcomeName(outcome);
  if (dryRun) {
    document["dry_run"] = true;
  } else {
    document["saved"] = saved;
  }
  // A value already in place is done even when the save failed.
  bool done = saved || outcome == SetUnchanged;
  if (!saved) document["error"] = MessageText(AString(msg::kSaveFailed).ASCII());
  json.Print(std::move(document));
  return done ? JsonDone : JsonNotSaved;
}

}  // namespace

int RunSet(ToolOptions& options, int level, JsonOutput* json) {
  KeyPathParts parts = SplitKeyPath(options.values[SlotRegistryKey]);
  int requestedType = kTypeNone;
  if (const wchar_t* typeText = options.values[SlotValueType]) {
    int32_t code = 0;
    if (!AString(typeText).IsNumber(code, 10) || (code != kTypeString && code != kTypeInt32)) {
      core::PrintWide(msg::kUnsupportedValueType, typeText);
      if (json != nullptr) {
        json->Print({{"error", "bad usage"}});
        return JsonRefused;
      }
      PrintUsage();
      return -1;
    }
    requestedType = code;
  }
  ProductRegistry product(options);
  MorixRegistryImpl& registry = product.registry;

  AString section = parts.section;
  AString entry = parts.entry;
  AString value = options.values[SlotRegistryValue];
  registry.userDirIsAdminDir = LevelUsesAdminFolder(level);  // before the store loads
  if (json != nullptr) {
    // The text form keeps its classic refusal, which names no file.
    const std::string refusal = LevelStoreRefusal(registry, level);
    if (!refusal.empty()) return PrintRefusal(*json, DisplayKey(section, entry), level, refusal);
  }
  SetResult result = SetSettingValue(registry, section, entry, value, requestedType, level);
  AString key = DisplayKey(section, entry);
  bool saved = result.refusal == SetAccepted && FinishChange(registry, options.dryRun);
  if (json != nullptr) return PrintJson(*json, key, level, value, result, saved, options.dryRun);

  if (result.refusal != SetAccepted) {
    core::PrintBytes(RefusalText(result.refusal));
    core::PrintWide(msg::kSetFailed, key.c_str());
    return -1;
  }
  const wchar_t* told = saved && result.outcome == SetCreated ? msg::kCreated : msg::kSetTo;
  if (saved) {
    core::PrintWide(told, key.c_str(), value.c_str());
  } else if (result.outcome == SetUnchanged) {
    core::PrintWide(msg::kUnchangedWarning);
    core::PrintWide(told, key.c_str(), value.c_str());
  } else {
    core::PrintWide(msg::kSaveFailed);
    return -1;
  }
  if (options.dryRun) {
    // The set-to message leaves a blank after its line break: the summary
    // gets a line of its own.
    if (told == msg::kSetTo) core::PrintBytes("\n");
    const SetOutcome outcome = ToldOutcome(result);
    ChangeCounts counts;
    ++(outcome == SetCreated   ? counts.created
       : outcome == SetChanged ? counts.changed
                               : counts.unchanged);
    PrintDryRunSummary(level, counts);
  }
  return 0;
}
