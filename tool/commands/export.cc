#include "cfgkit/key_tree.h"
#include "cfgkit/xml_codec.h"
#include "tool/commands/commands.h"
#include "tool/key_catalogue.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"
#include "vxcore/tal_debug.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The key of `section` below `top`, made as needed.
cfgkit::KeyId KeyOfSection(cfgkit::KeyTree& tree, cfgkit::KeyId top, std::string_view section) {
  cfgkit::KeyId key = top;
  while (!section.empty()) {
    size_t end = 0;
    while (end < section.size() && !IsSeparator(section[end])) ++end;
    std::string_view name = section.substr(0, end);
    section.remove_prefix(end == section.size() ? end : end + 1);
    if (name.empty()) continue;
    cfgkit::KeyId subkey = tree.FindSubkey(key, name);
    key = subkey != cfgkit::kNoKey ? subkey : tree.AddSubkey(key, std::string(name));
  }
  return key;
}

}  // namespace

int RunExport(ToolOptions& options, int level) {
  ProductRegistry product(options);
  MorixRegistryImpl& registry = product.registry;
  const wchar_t* pattern = options.values[SlotGetKeysPattern];
  TalDebugBuffer logBuffer;

  cfgkit::KeyTree tree;
  const cfgkit::KeyId top = tree.AddSubkey(tree.Root(), product.client.productName.ASCII());
  std::string lastSection = "\n";  // no section is called that
  cfgkit::KeyId sectionKey = top;
  const CatalogueFilter filter{pattern, options.caseSensitive};
  BuildKeyCatalogue(registry, filter, level, [&](const ListedEntry& entry) {
    if (entry.isKey || entry.level == 0) return;
    if (entry.section != lastSection) {
      lastSection.assign(entry.section);
      sectionKey = KeyOfSection(tree, top, entry.section);
    }
    cfgkit::Value value;
    value.name.assign(entry.name);
    if (entry.isNumber) {
      value.type = cfgkit::ValueType::kInt32;
      value.number = static_cast<uint32_t>(entry.number);
    } else {
      value.text.assign(entry.text);
    }
    tree.SetValue(sectionKey, std::move(value));
  });
  core::PrintBytes(cfgkit::SerializeKey(tree, top));
  return 0;
}
