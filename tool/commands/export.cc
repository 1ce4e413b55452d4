#include "registry/settings_document.h"
#include "tool/commands/commands.h"
#include "tool/key_catalogue.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"

int RunExport(ToolOptions& options, int level) {
  ProductRegistry product(options);
  MorixRegistryImpl& registry = product.registry;
  SettingsDocumentWriter document(product.client.productName.ASCII());
  const CatalogueFilter filter{options.values[SlotGetKeysPattern], options.caseSensitive};
  BuildKeyCatalogue(registry, filter, level, [&](const ListedEntry& entry) {
    if (entry.isKey || entry.level == 0) return;
    if (entry.isNumber) {
      document.AddInteger(entry.section, entry.name, entry.number);
    } else {
      document.AddString(entry.section, entry.name, entry.text);
    }
  });
  core::PrintBytes(document.Text());
  return 0;
}
