#include "tool/commands/commands.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/setting_json.h"
#include "tool/store_reports.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"

namespace {

struct Reading {
  bool found = false;
  AString value;
  int type = kTypeNone;
  int level = ProviderNone;  // where the value was found
};

// Reads the setting of the command line at `level` (0: by precedence); the
// key comes back in its declared spelling.
Reading ReadSetting(MorixRegistryImpl& registry, const ToolOptions& options, int level,
                    AString* key) {
  AString keyText = options.values[SlotRegistryKey];
  KeyPathParts parts = SplitKeyPath(keyText.data());
  AString section = parts.section;
  AString entry = parts.entry;
  Reading reading;
  reading.level = level;
  reading.found = ReadSettingValue(registry, reading.value, reading.type, reading.level, section,
                                   entry) &&
                  reading.level != ProviderNone;
  *key = DisplayKey(section, entry);
  return reading;
}

Json LevelJson(const Reading& reading, int level) {
  Json object = {{"level", LevelName(level).ASCII()}, {"found", reading.found}};
  if (reading.found) PutValue(object, reading.value.ASCII(), reading.type);
  return object;
}

}  // namespace

int RunGet(ToolOptions& options, int level, JsonOutput* json) {
  ProductRegistry product(options);
  MorixRegistryImpl& registry = product.registry;
  AString key;
  Reading reading = ReadSetting(registry, options, level, &key);
  if (json != nullptr) {
    Json document = SettingJson(key, reading.found ? reading.level : level);
    document["found"] = reading.found;
    if (reading.found) PutValue(document, reading.value.ASCII(), reading.type);
    Json warnings = StoreWarnings(registry, level);
    if (!warnings.is_null()) document["warnings"] = std::move(warnings);
    json->Print(std::move(document));
    return reading.found ? JsonDone : JsonNotFound;
  }
  if (reading.found) {
    core::PrintWide(msg::kGetFound, key.c_str(), reading.value.c_str(),
                    ValueTypeName(reading.type).c_str(), LevelName(reading.level).c_str());
  } else if (level == 0) {
    core::PrintWide(msg::kNotFound, key.c_str());
  } else {
    core::PrintWide(msg::kNotFoundAtLevel, key.c_str(), LevelName(level).c_str());
  }
  return -1;
}

int RunGetAllLevels(ToolOptions& options, JsonOutput* json) {
  ProductRegistry product(options);
  MorixRegistryImpl& registry = product.registry;
  AString key;
  Reading levels[ProviderAdmin + 1];
  bool anyFound = false;
  for (int level = ProviderUserMachine; level <= ProviderAdmin; ++level) {
    levels[level] = ReadSetting(registry, options, level, &key);
    anyFound = anyFound || levels[level].found;
  }
  const Reading effective = ReadSetting(registry, options, ProviderNone, &key);
  if (json != nullptr) {
    Json document = SettingJson(key, ProviderNone);
    document.erase("level");
    Json list = Json::array();
    for (int level = ProviderUserMachine; level <= ProviderAdmin; ++level) {
      list.push_back(LevelJson(levels[level], level));
    }
    document["levels"] = std::move(list);
    document["found"] = anyFound;
    document["get_finds"] = effective.found ? Json(LevelName(effective.level).ASCII())
                                            : Json();
    Json warnings = StoreWarnings(registry, ProviderNone);
    if (!warnings.is_null()) document["warnings"] = std::move(warnings);
    json->Print(std::move(document));
    return anyFound ? JsonDone : JsonNotFound;
  }
  for (int level = ProviderUserMachine; level <= ProviderAdmin; ++level) {
    const Reading& reading = levels[level];
    if (reading.found) {
      core::PrintWide(msg::kGetFound, key.c_str(), reading.value.c_str(),
                      ValueTypeName(reading.type).c_str(), LevelName(level).c_str());
    } else {
      core::PrintWide(msg::kNotFoundAtLevel, key.c_str(), LevelName(level).c_str());
    }
  }
  if (effective.found) {
    core::PrintWide(msg::kGetFindsLevel, LevelName(effective.level).c_str());
  } else {
    core::PrintWide(msg::kGetFindsNothing);
  }
  return anyFound ? JsonDone : JsonNotFound;
}
