#include "tool/commands/commands.h"
#include "tool/key_catalogue.h"
#include "tool/messages.h"
#include "tool/setting_json.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"
#include "vxcore/tal_debug.h"

namespace {

constexpr size_t kOutputBlock = 1 << 16;

// The listing as one JSON document, written entry by entry.
int PrintJsonListing(MorixRegistryImpl& registry, const KeyCatalogue& catalogue,
                     const ToolOptions& options, JsonOutput& json) {
  Json head = Json::object();
  if (const wchar_t* pattern = options.values[SlotGetKeysPattern]) {
    PutBytes(head, "pattern", AString(pattern).ASCII());
    head["case_sensitive"] = options.caseSensitive;
  }
  std::string out = JsonText(head);
  out.pop_back();
  out.append(head.empty() ? "\"entries\":[" : ",\"entries\":[");
  const std::string keyOnly(msg::kKeyOnly);
  const std::string noValue(msg::kNoValueFound);
  bool first = true;
  Json entryJson;
  catalogue.ForEachListed(registry, 0, [&](const ListedEntry& entry) {
    entryJson = Json::object();
    PutBytes(entryJson, "path", entry.path);
    if (entry.isKey) {
      entryJson["why"] = keyOnly;
    } else if (entry.level == 0) {
      entryJson["why"] = noValue;
    } else {
      if (entry.isNumber) {
        entryJson["type"] = "integer";
        entryJson["value"] = entry.number;
      } else {
        entryJson["type"] = "string";
        PutBytes(entryJson, "value", entry.text);
      }
      entryJson["level"] = LevelName(entry.level).ASCII();
    }
    if (!first) out.push_back(',');
    first = false;
    out.append(JsonText(entryJson));
    if (out.size() >= kOutputBlock) {
      json.PrintRaw(out);
      out.clear();
    }
  });
  out.append("]");
  Json notes = json.TakeNotes();
  if (!notes.empty()) out.append(",\"notes\":").append(JsonText(notes));
  out.append("}\n");
  json.PrintRaw(out);
  return catalogue.empty() ? JsonNotFound : JsonDone;
}

}  // namespace

int RunGetKeys(ToolOptions& options, JsonOutput* json) {
  ToolRegistryAccess client(options.values[SlotProductName]);
  MorixRegistryImpl registry(&client);
  const wchar_t* pattern = options.values[SlotGetKeysPattern];
  // A listing with a debug log writes millions of lines.
  TalDebugBuffer logBuffer;
  KeyCatalogue catalogue;
  catalogue.Build(registry);
  const bool anyKeys = !catalogue.empty();
  if (pattern != nullptr && anyKeys) catalogue.Filter(pattern, options.caseSensitive);
  if (json != nullptr) return PrintJsonListing(registry, catalogue, options, *json);

  bool caseSensitive = options.caseSensitive;
  if (!anyKeys || pattern == nullptr) {
    core::PrintWide(anyKeys ? msg::kKeysHeader : msg::kNoKeys);
  } else if (catalogue.empty()) {
    core::PrintWide(caseSensitive ? msg::kNoMatchCaseSensitive : msg::kNoMatchCaseInsensitive,
                    pattern);
  } else {
    core::PrintWide(caseSensitive ? msg::kMatchingCaseSensitive : msg::kMatchingCaseInsensitive,
                    pattern);
  }
  if (!catalogue.empty()) catalogue.Print(registry);
  return -1;
}
