#include <charconv>

#include "tool/commands/commands.h"
#include "tool/key_catalogue.h"
#include "tool/messages.h"
#include "tool/setting_json.h"
#include "tool/store_reports.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"
#include "vxcore/tal_debug.h"

namespace {

using namespace std::string_view_literals;

// The listing as one JSON document, written entry by entry.
// At `level`, the values that level holds; 0: those a Get without a level finds.
int PrintJsonListing(MorixRegistryImpl& registry, const CatalogueFilter& filter, int level,
                     const ToolOptions& options, JsonOutput& json) {
  Json head = Json::object();
  if (const wchar_t* pattern = options.values[SlotGetKeysPattern]) {
    PutBytes(head, "pattern", AString(pattern).ASCII());
  }
  head["case_sensitive"] = options.caseSensitive;
  if (level != ProviderNone) head["level"] = LevelName(level).ASCII();
  const std::string headText = JsonText(head);
  JsonBlocks out(json);
  out.Put(std::string_view(headText).substr(0, headText.size() - 1), ",\"entries\":["sv);
  // Each entry's pieces after its path, joined once.
  const std::string keyOnly = ",\"why\":\"" + std::string(msg::kKeyOnly) + "\"}";
  const std::string noValue = ",\"why\":\"" + std::string(msg::kNoValueFound) + "\"}";
  std::string atLevel[ProviderAdmin + 1];
  for (int level = ProviderUserMachine; level <= ProviderAdmin; ++level) {
    atLevel[level] = ",\"level\":\"" + LevelName(level).ASCII() + "\"}";
  }
  char number[16];
  bool first = true;
  std::string path;
  const CatalogueCount count =
      BuildKeyCatalogue(registry, filter, level, [&](const ListedEntry& entry) {
        out.Put(first ? "{"sv : ",{"sv);
        first = false;
        path.assign(entry.parent).append(entry.leaf);
        out.PutBytesField("path", path);
        if (entry.isKey) {
          out.Put(keyOnly);
        } else if (entry.level == 0) {
          out.Put(noValue);
        } else if (entry.isNumber) {
          const char* end = std::to_chars(number, number + sizeof number, entry.number).ptr;
          out.Put(",\"type\":\"integer\",\"value\":"sv, std::string_view(number, end),
                  atLevel[entry.level]);
        } else {
          out.Put(",\"type\":\"string\","sv);
          out.PutBytesField("value", entry.text);
          out.Put(atLevel[entry.level]);
        }
      });
  out.Put("]"sv);
  const Json warnings = StoreWarnings(registry, level);
  if (!warnings.is_null()) out.Put(",\"warnings\":"sv, JsonText(warnings));
  Json notes = json.TakeNotes();
  if (!notes.empty()) out.Put(",\"notes\":"sv, JsonText(notes));
  out.Put("}\n"sv);
  out.Finish();
  return count.shown == 0 ? JsonNotFound : JsonDone;
}

void PrintHeader(const CatalogueFilter& filter) {
  if (filter.pattern == nullptr) {
    core::PrintWide(msg::kKeysHeader);
  } else {
    core::PrintWide(
        filter.caseSensitive ? msg::kMatchingCaseSensitive : msg::kMatchingCaseInsensitive,
        filter.pattern);
  }
}

}  // namespace

int RunGetKeys(ToolOptions& options, int level, JsonOutput* json) {
  ProductRegistry product(options);
  MorixRegistryImpl& registry = product.registry;
  const wchar_t* pattern = options.values[SlotGetKeysPattern];
  // A listing with a debug log writes millions of lines.
  TalDebugBuffer logBuffer;
  const CatalogueFilter filter{pattern, options.caseSensitive};
  if (json != nullptr) return PrintJsonListing(registry, filter, level, options, *json);
  const CatalogueCount count = PrintKeyCatalogue(registry, filter, PrintHeader);
  if (count.defined == 0) {
    core::PrintWide(msg::kNoKeys);
  } else if (count.shown == 0) {
    core::PrintWide(
        options.caseSensitive ? msg::kNoMatchCaseSensitive : msg::kNoMatchCaseInsensitive, pattern);
  }
  return -1;
}
