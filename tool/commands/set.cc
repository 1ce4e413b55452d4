#include "tool/commands/commands.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/set_setting.h"
#include "tool/setting_json.h"
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

int PrintJson(JsonOutput& json, const AString& key, int level, const AString& value,
              const SetResult& result, bool saved) {
  Json document = SettingJson(key, level);
  if (result.refusal != SetAccepted) {
    document["refused"] = result.refusal == SetWriteFailed
                              ? MessageText(msg::kSetFailed, key)
                              : MessageText(RefusalText(result.refusal));
    json.Print(std::move(document));
    return JsonRefused;
  }
  PutValue(document, value.ASCII(), result.type);
  // -1 over 4294967295 is the same value, which the text form has never said.
  const SetOutcome outcome = result.holdsValue ? SetUnchanged : result.outcome;
  document["outcome"] = OutcomeName(outcome);
  document["saved"] = saved;
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
  ToolRegistryAccess client(options.values[SlotProductName]);
  MorixRegistryImpl registry(&client);

  AString section = parts.section;
  AString entry = parts.entry;
  AString value = options.values[SlotRegistryValue];
  SetResult result = SetSettingValue(registry, section, entry, value, requestedType, level);
  AString key = DisplayKey(section, entry);
  IRegistryImpl& changes = registry;
  bool saved = result.refusal == SetAccepted && changes.CommitRegistryChanges();
  if (json != nullptr) return PrintJson(*json, key, level, value, result, saved);

  if (result.refusal != SetAccepted) {
    core::PrintBytes(RefusalText(result.refusal));
    core::PrintWide(msg::kSetFailed, key.c_str());
    return -1;
  }
  if (saved) {
    core::PrintWide(result.outcome == SetCreated ? msg::kCreated : msg::kSetTo, key.c_str(),
                    value.c_str());
    return 0;
  }
  if (result.outcome == SetUnchanged) {
    core::PrintWide(msg::kUnchangedWarning);
    core::PrintWide(msg::kSetTo, key.c_str(), value.c_str());
    return 0;
  }
  core::PrintWide(msg::kSaveFailed);
  return -1;
}
