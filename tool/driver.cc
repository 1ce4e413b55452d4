#include "tool/driver.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "tool/commands/commands.h"
#include "tool/json_output.h"
#include "tool/messages.h"
#include "tool/setting_json.h"
#include "vxcore/astring.h"
#include "vxcore/console_output.h"
#include "vxcore/large_pages.h"
#include "vxcore/posix_io.h"

namespace {

// What a run that runs out of memory returns: -1, or once the options asked
// for JSON, the status of a change that could not be made.
int outOfMemoryStatus = -1;

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
    {CommandExport, 1, {SlotProductName}},
    {CommandImport, 2, {SlotProductName, SlotImportFile}},
    {CommandCheck, 1, {SlotProductName}},
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
  bool searches = options.command == CommandGet || options.command == CommandExport ||
                  options.command == CommandGetKeys;
  int level = searches ? ProviderNone : ProviderUserMachine;
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

Json UsageLines(bool extended) {
  Json lines = Json::array();
  auto add = [&lines](const wchar_t* line) {
    std::string text = AString(line).ASCII();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    lines.push_back(text);
  };
  for (const wchar_t* line : msg::kUsage) add(line);
  if (extended) {
    for (const wchar_t* line : msg::kExtendedUsage) add(line);
  }
  return lines;
}

// The usage text; a command line with none of the new names gets exactly the
// classic text and status.
int BadUsage(const ToolOptions& options, JsonOutput& output) {
  if (options.json) {
    output.Print({{"error", "bad usage"}, {"usage", UsageLines(true)}});
    return JsonRefused;
  }
  PrintUsage();
  if (!UsesNewOptions(options)) return -1;
  PrintExtendedUsage();
  return JsonRefused;
}

int RunCommand(ToolOptions& options, JsonOutput& output) {
  int32_t command = options.command;
  // The classic GetKeys ignores a level; under -Json it lists that level's values.
  bool takesLevel = command == CommandGet || command == CommandSet || command == CommandDelete ||
                    command == CommandExport || command == CommandImport ||
                    (command == CommandGetKeys && options.json);
  int level = takesLevel ? ResolveLevel(options) : 0;
  // Help with a mistake of the newer options (a second command, a value
  // left out) is bad usage like any other.
  if (command == CommandHelp && !options.misplacedOption) {
    if (options.json) {
      output.Print({{"usage", UsageLines(options.allUsage)}});
    } else {
      PrintUsage();
      if (options.allUsage) PrintExtendedUsage();
    }
    return 0;
  }
  if (!MeetsRequirements(options) || options.misplacedOption) return BadUsage(options, output);
  JsonOutput* json = options.json ? &output : nullptr;
  if (command == CommandGetKeys) return RunGetKeys(options, level, json);
  if (command == CommandExport) return RunExport(options, level);
  if (command == CommandImport) return RunImport(options, level, json);
  if (command == CommandCheck) return RunCheck(options, json);
  if (IsTempDirectoryKey(options)) {
    if (options.allLevels) {
      core::PrintWide(msg::kTempDirectoryOneLevel);
      options.misplacedOption = true;
      return BadUsage(options, output);
    }
    return RunTempDirectory(command, options, level, json);
  }
  if (command == CommandGet && options.allLevels) return RunGetAllLevels(options, json);
  if (command == CommandGet) return RunGet(options, level, json);
  if (command == CommandSet) return RunSet(options, level, json);
  return RunDelete(options, level, json);
}

}  // namespace

int SetwiseMain(int argc, char** argv) {
  core::BackHeapWithLargePages();
  // A file-size limit makes a write fail like a full disk, not kill the run.
  std::signal(SIGXFSZ, SIG_IGN);
  // The parsed options point into these strings for the whole run.
  std::vector<AString> args(argv + 1, argv + argc);
  ToolOptions options;
  // The parser's notes belong in the document when the run answers in JSON.
  JsonOutput output;
  ParseOptions(options, static_cast<int>(args.size()), args.data());
  if (options.json) outOfMemoryStatus = JsonNotSaved;
  // Fewer than two arguments get the usage text alone, unless a new option was named.
  if (argc < 3 && !UsesNewOptions(options)) {
    output.TakeNotes();
    output.Release();
    PrintUsage();
    return -1;
  }
  // Export's output is a document to import: a note before it would spoil it.
  const bool spoilsExport = options.command == CommandExport && output.HoldsNotes();
  if (!options.json) output.Release();
  if (argc < 3 || spoilsExport) return BadUsage(options, output);
  const int status = RunCommand(options, output);
  if (!UsesNewOptions(options)) return status;
  // A document or an export cut short by a full disk is no success; standard
  // output is what failed, so the reason goes to standard error.
  core::FlushOutput();
  if (core::OutputError() == 0) return status;
  const std::string reason =
      Formatted(msg::kOutputLost, std::strerror(core::OutputError())) + "\n";
  static_cast<void>(core::WriteAll(STDERR_FILENO, reason));
  return OutputLost;
}

int OutOfMemoryStatus() { return outOfMemoryStatus; }
