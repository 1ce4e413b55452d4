// The command line: the parsed record, the option grammar and its checks,
// the usage text, and the names of levels and value types.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "registry/registry_impl.h"
#include "vxcore/astring.h"

enum ToolCommand : int32_t {
  CommandNone = -1,
  CommandSet = 0,
  CommandDelete = 1,
  CommandHelp = 2,
  CommandGet = 3,
  CommandGetKeys = 4,
  CommandExport = 5,
  CommandImport = 6,
  CommandCheck = 7,
};

enum ValueSlot : int32_t {
  SlotProductName = 0,
  SlotRegistryKey = 1,
  SlotRegistryValue = 2,
  SlotValueType = 3,
  SlotRegistryLevel = 4,
  SlotGetKeysPattern = 5,  // of GetKeys and Export
  SlotImportFile = 6,
  kValueSlotCount = 7,
};

// Value type codes, shared with the registry.
constexpr int kTypeNone = 0;
constexpr int kTypeString = 2;
constexpr int kTypeInt32 = 4;

struct ToolOptions {
  int32_t command = CommandNone;
  // One per ValueSlot; null when the option was absent. They point into the
  // argument strings (or a product-list line) and own nothing.
  std::array<wchar_t*, kValueSlotCount> values{};
  // Option values taken; 0 marks the record unusable after a failed check.
  int32_t valueCount = 0;
  // Lines of the product list, kept so that a corrected product name can point into them.
  std::vector<AString> productListLines;
  bool caseSensitive = false;
  // Options beyond the four classic commands; a command line without any of
  // them behaves exactly as the classic tool.
  bool json = false;
  bool allLevels = false;
  bool dryRun = false;
  bool allUsage = false;  // -Help -All
  // A new option was given where it does not apply (its note was printed).
  bool misplacedOption = false;
};

// Fills `record` from the `count` strings of `args` (without the program
// name), printing a message for each problem. Never ends the process.
ToolOptions& ParseOptions(ToolOptions& record, int count, AString* args);

// Whether the command line names a command or option beyond the four classic
// commands: a run without them behaves exactly as the classic tool.
bool UsesNewOptions(const ToolOptions& options);

// Whether the run may create the user folder as it loads the store: the
// classic commands do, and a change that saves; a dry run and a run that
// only reads under the new options create nothing.
bool CreatesUserFolder(const ToolOptions& options);

void PrintUsage();
// The usage of the options beyond the four classic commands.
void PrintExtendedUsage();

// The level number (1 to 5) of a level name in any letter case, or 0.
int LevelFromName(const wchar_t* name);
AString LevelName(int level);
AString ValueTypeName(int type);
