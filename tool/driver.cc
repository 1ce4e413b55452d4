#include "tool/driver.h"

#include <csignal>
#include <string>
#include <vector>

#include "tool/commands/commands.h"
#include "tool/messages.h"
#include "vxcore/astring.h"
#include "vxcore/console_output.h"
#include "vxcore/large_pages.h"

namespace {

struct CommandRequirements {
  int32_t command;
  int32_t minimumValueCount;
  std::vector<ValueSlot> requiredSlots;
};

const CommandRequirements kRequirements[] = {
    {CommandGetKeys, 1, {SlotProductName}},
    {CommandGet, 2, {SlotProductName, SlotRegistryKey}},
    {CommandSet, 3, {SlotRegistryValue, SlotProductName, SlotRegistryKey}},
    {CommandDelete, 2, {SlotProductName, SlotRegistryKey}},
};

bool MeetsRequirements(const ToolOptions& options) {
  for (const CommandRequirements& row : kRequirements) {
    if (row.command != options.command) continue;
    if (options.valueCount < row.minimumValueCount) return false;
    for (ValueSlot slot : row.requiredSlots) {
      if (options.values[slot] == nullptr) return false;
    }
    return true;
  }
  return false;
}

// The level for Get, Set and Delete: the named one, else 0 for Get and
// user_machine for the others. An unknown name makes the record unusable.
int ResolveLevel(ToolOptions& options) {
  int level = options.command == CommandGet ? LevelNone : LevelUserMachine;
  const wchar_t* name = options.values[SlotRegistryLevel];
  if (name == nullptr) return level;
  level = LevelFromName(name);
  if (level == 0) {
    core::PrintWide(msg::kUnknownLevel, name);
    options.valueCount = 0;
  }
  return level;
}

bool IsTempDirectoryKey(const ToolOptions& options) {
  return AString(L"TempDirectory").CompareNoCase(options.values[SlotRegistryKey]) == 0;
}

int RunCommand(ToolOptions& options) {
  int32_t command = options.command;
  bool takesLevel = command == CommandGet || command == CommandSet || command == CommandDelete;
  int level = takesLevel ? ResolveLevel(options) : 0;
  if (command == CommandHelp) {
    PrintUsage();
    return 0;
  }
  if (!MeetsRequirements(options)) {
    PrintUsage();
    return -1;
  }
  if (command == CommandGetKeys) return RunGetKeys(options);
  if (IsTempDirectoryKey(options)) return RunTempDirectory(command, options, level);
  if (command == CommandGet) return RunGet(options, level);
  if (command == CommandSet) return RunSet(options, level);
  return RunDelete(options, level);
}

}  // namespace

int SetwiseMain(int argc, char** argv) {
  core::BackHeapWithLargePages();
  // A file-size limit makes a write fail like a full disk, not kill the run.
  std::signal(SIGXFSZ, SIG_IGN);
  if (argc < 3) {
    PrintUsage();
    return -1;
  }
  // The parsed options point into these strings for the whole run.
  std::vector<AString> args(argv + 1, argv + argc);
  ToolOptions options;
  ParseOptions(options, static_cast<int>(args.size()), args.data());
  return RunCommand(options);
}
