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
  // A listing with a debug log writes millions of lines.
  TalDebugBuffer logBuffer;
  KeyCatalogue catalogue;
  catalogue.Build(registry);

  if (catalogue.empty()) {
    core::PrintWide(msg::kNoKeys);
  } else if (pattern == nullptr) {
    core::PrintWide(msg::kKeysHeader);
    catalogue.Print(registry);
  } else {
    bool caseSensitive = options.caseSensitive;
    catalogue.Filter(pattern, caseSensitive);
    if (catalogue.empty()) {
      core::PrintWide(caseSensitive ? msg::kNoMatchCaseSensitive : msg::kNoMatchCaseInsensitive,
                      pattern);
    } else {
      core::PrintWide(caseSensitive ? msg::kMatchingCaseSensitive : msg::kMatchingCaseInsensitive,
                      pattern);
      catalogue.Print(registry);
    }
  }
  return -1;
}
