#include <unistd.h>

#include "registry/settings_document.h"
#include "tool/commands/commands.h"
#include "tool/key_catalogue.h"
#include "tool/store_reports.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"
#include "vxcore/posix_io.h"
#include "vxcore/tal_debug.h"

namespace {

// Prints the document of every value the listing finds; false, with nothing
// printed, when the walk broke the order it was promised.
bool PrintDocument(ProductRegistry& product, const CatalogueFilter& filter, int level,
                   SettingsDocumentWriter::Order order) {
  SettingsDocumentWriter document(product.client.productName.ASCII(), order);
  BuildKeyCatalogue(product.registry, filter, level, [&](const ListedEntry& entry) {
    // A setting two syntax files spell otherwise is written once, as it is read.
    if (entry.isKey || entry.level == 0 || entry.readAsSibling || !document.InOrder()) return;
    if (entry.isNumber) {
      document.AddInteger(entry.section, entry.name, entry.number);
    } else {
      document.AddString(entry.section, entry.name, entry.text);
    }
  });
  if (!document.InOrder()) return false;
  for (std::string_view piece : document.Finish()) core::PrintBytes(piece);
  return true;
}

}  // namespace

int RunExport(ToolOptions& options, int level) {
  ProductRegistry product(options);
  const CatalogueFilter filter{options.values[SlotGetKeysPattern], options.caseSensitive};
  // The walk gives the document's order unless a syntax name holds a
  // separator; that rare document is built again in any order. A debug log
  // would show the walk twice, so a logged run takes any order at once.
  const bool logged = my_tal_debug_data.Level() > 0;
  if (logged || !PrintDocument(product, filter, level, SettingsDocumentWriter::Order::kWalk)) {
    PrintDocument(product, filter, level, SettingsDocumentWriter::Order::kAny);
  }
  // A backup that left a part of the store out is no success: standard error
  // names each part, beside the document of what could be read.
  int status = 0;
  auto name = [&status](const SkippedPart& part) {
    const std::string line = "Setwise: left out of the export: " + SkippedText(part) + "\n";
    static_cast<void>(core::WriteAll(STDERR_FILENO, line));
    status = 1;
  };
  ForEachSkipped(product.registry, level, name);
  return status;
}
