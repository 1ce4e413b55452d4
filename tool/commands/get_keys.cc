#include "tool/catalogue_listing.h"
#include "tool/commands/commands.h"
#include "tool/key_catalogue.h"
#include "tool/messages.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"
#include "vxcore/tal_debug.h"

int RunGetKeys(ToolOptions& options) {
  ToolRegistryAccess client(options.values[SlotProductName]);
  MorixRegistryImpl registry(&client);
  const wchar_t* pattern = options.values[SlotGetKeysPattern];
  // Entry by entry only when the debug log wants to see each read.
  if (!my_tal_debug_data.Debug(1)) {
    ListKeyCatalogue(registry, pattern, options.caseSensitive);
    return -1;
  }
  KeyCatalogue catalogue;
  BuildKeyCatalogue(registry, catalogue);

  if (catalogue.empty()) {
    core::PrintWide(msg::kNoKeys);
  } else if (pattern == nullptr) {
    core::PrintWide(msg::kKeysHeader);
    PrintKeyCatalogue(catalogue, registry);
  } else {
    bool caseSensitive = options.caseSensitive;
    FilterKeyCatalogue(catalogue, pattern, caseSensitive);
    if (catalogue.empty()) {
      core::PrintWide(caseSensitive ? msg::kNoMatchCaseSensitive : msg::kNoMatchCaseInsensitive,
                      pattern);
    } else {
      core::PrintWide(caseSensitive ? msg::kMatchingCaseSensitive : msg::kMatchingCaseInsensitive,
                      pattern);
      PrintKeyCatalogue(catalogue, registry);
    }
  }
  return -1;
}
