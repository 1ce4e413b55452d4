#include "tool/tool_options.h"

#include "tool/installed_product.h"
#include "tool/messages.h"
#include "vxcore/console_output.h"

namespace {

enum OptionKind { KindCommand, KindValue, KindFlag };

enum OptionFlag { FlagCase, FlagJson, FlagAllLevels, FlagDryRun, FlagAll };

struct OptionSpec {
  AString name;
  OptionKind kind;
  int32_t code;  // the command, value slot or flag
};

const OptionSpec OptionTable[] = {
    {L"Set", KindCommand, CommandSet},
    {L"Delete", KindCommand, CommandDelete},
    {L"Help", KindCommand, CommandHelp},
    {L"Get", KindCommand, CommandGet},
    {L"GetKeys", KindCommand, CommandGetKeys},
    {L"Case", KindFlag, FlagCase},
    {L"ProductName", KindValue, SlotProductName},
    {L"RegistryKey", KindValue, SlotRegistryKey},
    {L"RegistryValue", KindValue, SlotRegistryValue},
    {L"ValueType", KindValue, SlotValueType},
    {L"RegistryLevel", KindValue, SlotRegistryLevel},
    {L"Export", KindCommand, CommandExport},
    {L"Import", KindValue, SlotImportFile},
    {L"Check", KindCommand, CommandCheck},
    {L"Json", KindFlag, FlagJson},
    {L"AllLevels", KindFlag, FlagAllLevels},
    {L"DryRun", KindFlag, FlagDryRun},
    {L"All", KindFlag, FlagAll},
};

bool HasPrefix(const AString& argument) {
  return !argument.empty() && (argument[0] == L'-' || argument[0] == L'/');
}

int FindOption(const wchar_t* name) {
  for (int row = 0; row < static_cast<int>(std::size(OptionTable)); ++row) {
    if (OptionTable[row].name.CompareNoCase(name) == 0) return row;
  }
  return -1;
}

// The checks after the walk; false when the record is unusable.
void SetFlag(ToolOptions& record, int32_t flag) {
  switch (flag) {
    case FlagCase:
      record.caseSensitive = true;
      break;
    case FlagJson:
      record.json = true;
      break;
    case FlagAllLevels:
      record.allLevels = true;
      break;
    case FlagDryRun:
      record.dryRun = true;
      break;
    default:
      record.allUsage = true;
      break;
  }
}

// Whether `option` is one of those beyond the four classic commands.
bool IsNewer(const OptionSpec& option) {
  switch (option.kind) {
    case KindCommand:
      return option.code == CommandExport || option.code == CommandCheck;
    case KindValue:
      return option.code == SlotImportFile;
    case KindFlag:
      return option.code != FlagCase;
  }
  return false;
}

const wchar_t* NameOf(OptionKind kind, int32_t code) {
  for (const OptionSpec& option : OptionTable) {
    if (option.kind == kind && option.code == code) return option.name.c_str();
  }
  return L"";
}

const wchar_t* NameOfCommand(int32_t command) {
  return command == CommandImport ? L"Import" : NameOf(KindCommand, command);
}

// The value options `command` reads, one bit per ValueSlot.
uint32_t SlotsTakenBy(int32_t command) {
  constexpr uint32_t key = 1u << SlotRegistryKey, value = 1u << SlotRegistryValue,
                     type = 1u << SlotValueType, level = 1u << SlotRegistryLevel;
  switch (command) {
    case CommandSet:
      return key | value | type | level;
    case CommandGet:
    case CommandDelete:
      return key | level;
    case CommandGetKeys:
    case CommandExport:
    case CommandImport:
      return level;
    default:
      return 0;
  }
}

// The new options that do not belong to the command; each gets a note.
void CheckNewOptions(ToolOptions& record) {
  auto misplaced = [&record](const wchar_t* option, const wchar_t* command) {
    core::PrintWide(msg::kOptionOnlyWith, option, command);
    record.misplacedOption = true;
  };
  if (record.allLevels && record.command != CommandGet) misplaced(L"AllLevels", L"Get");
  if (record.allLevels && record.values[SlotRegistryLevel] != nullptr) {
    core::PrintWide(msg::kAllLevelsWithLevel);
    record.misplacedOption = true;
  }
  const int32_t command = record.command;
  if (record.dryRun && command != CommandSet && command != CommandDelete &&
      command != CommandImport) {
    core::PrintWide(msg::kDryRunOnlyWithChanges);
    record.misplacedOption = true;
  }
  if (record.allUsage && command != CommandHelp) misplaced(L"All", L"Help");
  // A line with a newer option is read strictly: a value the command would
  // ignore is a mistake to report, not to pass over.
  if (UsesNewOptions(record) && command != CommandNone) {
    const uint32_t taken = SlotsTakenBy(command);
    for (const ValueSlot slot :
         {SlotRegistryKey, SlotRegistryValue, SlotValueType, SlotRegistryLevel}) {
      if (record.values[slot] == nullptr || (taken & 1u << slot) != 0) continue;
      core::PrintWide(msg::kOptionNotWith, NameOf(KindValue, slot), NameOfCommand(command));
      record.misplacedOption = true;
    }
  }
  if (record.json && record.command == CommandExport) {
    core::PrintWide(msg::kExportIsJsonFree);
    record.misplacedOption = true;
  }
}

bool FinalChecks(ToolOptions& record) {
  const auto& values = record.values;
  CheckNewOptions(record);
  if (record.command == CommandHelp) return false;
  if (values[SlotProductName] == nullptr) {
    core::PrintWide(msg::kMissingProductName);
    return false;
  }
  const wchar_t* typedProduct = values[SlotProductName];
  if (!CheckInstalledProduct(record)) {
    core::PrintWide(msg::kNotInstalled, typedProduct);
    return false;
  }
  if (record.command == CommandSet) {
    if (values[SlotRegistryValue] != nullptr) return true;
    core::PrintWide(msg::kSetNeedsValue);
    return false;
  }
  if (record.command == CommandNone) {
    core::PrintWide(msg::kMissingCommand);
    return false;
  }
  bool takesKey = record.command == CommandGet || record.command == CommandSet ||
                  record.command == CommandDelete;
  if (values[SlotRegistryKey] == nullptr && takesKey) {
    core::PrintWide(msg::kMissingRegistryKey);
    return false;
  }
  if (values[SlotGetKeysPattern] == nullptr && record.caseSensitive) {
    core::PrintWide(msg::kCaseIgnored);
    record.caseSensitive = false;  // so that no answer claims it
  }
  return true;
}

}  // namespace

ToolOptions& ParseOptions(ToolOptions& record, int count, AString* args) {
  record.command = CommandNone;
  record.values.fill(nullptr);
  record.valueCount = 0;
  record.caseSensitive = false;
  record.json = false;
  record.allLevels = false;
  record.dryRun = false;
  record.misplacedOption = false;
  bool valueMissing = false;
  bool twoCommands = false;
  bool newerOption = false;  // anywhere on the line, whatever command comes last
  bool stray = false;        // a word that is no option ended the parse
  const wchar_t* repeated = nullptr;  // the first value option given twice

  for (int i = 0; i < count; ++i) {
    AString& argument = args[i];
    if (!HasPrefix(argument)) {
      core::PrintWide(msg::kMustStartWithPrefix, argument.c_str());
      record.valueCount = 0;
      // The parse ends here, but a script that asked for JSON still gets it,
      // and a line with any newer option the newer answer.
      for (int later = i + 1; later < count; ++later) {
        const int row = HasPrefix(args[later]) ? FindOption(args[later].c_str() + 1) : -1;
        if (row < 0) continue;
        const OptionSpec& option = OptionTable[row];
        if (option.kind == KindFlag && option.code == FlagJson) record.json = true;
        newerOption |= IsNewer(option);
      }
      stray = true;
      break;
    }
    const wchar_t* name = argument.c_str() + 1;
    bool hasNext = i + 1 < count;
    int row = FindOption(name);
    if (row >= 0) newerOption |= IsNewer(OptionTable[row]);
    if (row < 0) {
      if (hasNext && !HasPrefix(args[i + 1])) {
        core::PrintWide(msg::kUnknownOptionWithValue, name, args[i + 1].c_str());
        ++i;
      } else {
        core::PrintWide(msg::kUnknownOption, name);
      }
    } else if (OptionTable[row].kind == KindValue) {
      // The file of -Import is taken whatever it begins with: "-" is standard input.
      bool anyValue = OptionTable[row].code == SlotImportFile;
      if (anyValue) {
        if (record.command != CommandNone &&
            (record.command != CommandImport || record.values[SlotImportFile] != nullptr)) {
          twoCommands = true;
        }
        record.command = CommandImport;
      }
      if (!hasNext || (!anyValue && !args[i + 1].empty() && args[i + 1][0] == argument[0])) {
        core::PrintWide(msg::kValueMissing, name);
        valueMissing = true;
      } else {
        if (!anyValue && record.values[OptionTable[row].code] != nullptr && repeated == nullptr) {
          repeated = OptionTable[row].name.c_str();
        }
        record.values[OptionTable[row].code] = args[i + 1].data();
        ++record.valueCount;
        ++i;
      }
    } else if (OptionTable[row].kind == KindFlag) {
      SetFlag(record, OptionTable[row].code);
    } else {
      const int32_t command = OptionTable[row].code;
      // Even the same one again: a second GetKeys or Export would replace the pattern.
      if (record.command != CommandNone) twoCommands = true;
      record.command = command;
      bool takesPattern = record.command == CommandGetKeys || record.command == CommandExport;
      if (takesPattern && hasNext && !HasPrefix(args[i + 1])) {
        record.values[SlotGetKeysPattern] = args[i + 1].data();
        ++record.valueCount;
        ++i;
      }
    }
  }
  // The classic commands go on without the value, or stop at a stray word,
  // as they always have; a line with a newer option is bad usage rather than
  // a change at the default level, which is what an unquoted empty shell
  // variable would otherwise make.
  const bool strict = UsesNewOptions(record) || newerOption;
  if ((valueMissing || stray) && strict) record.misplacedOption = true;
  // So is a second command, where the classic ones take the last.
  if (twoCommands && strict) {
    core::PrintWide(msg::kTwoCommands);
    record.misplacedOption = true;
  }
  // And a value given twice, of which the classic commands take the last.
  if (repeated != nullptr && strict) {
    core::PrintWide(msg::kOptionTwice, repeated);
    record.misplacedOption = true;
  }
  if (!FinalChecks(record)) record.valueCount = 0;
  return record;
}

void PrintUsage() {
  for (const wchar_t* line : msg::kUsage) core::PrintWide(line);
}

void PrintExtendedUsage() {
  for (const wchar_t* line : msg::kExtendedUsage) core::PrintWide(line);
}

int LevelFromName(const wchar_t* name) {
  for (int i = 0; i < static_cast<int>(std::size(kLevelNames)); ++i) {
    if (AString(kLevelNames[i]).CompareNoCase(name) == 0) return i + 1;
  }
  return 0;
}

AString LevelName(int level) {
  if (level == 0) return L"not found";
  if (level >= 1 && level <= 5) return kLevelNames[level - 1];
  return L"unknown";
}

AString ValueTypeName(int type) {
  if (type == kTypeString) return L"string";
  if (type == kTypeInt32) return L"integer";
  return L"unknown";
}

bool UsesNewOptions(const ToolOptions& options) {
  const int32_t command = options.command;
  const bool newCommand =
      command == CommandExport || command == CommandImport || command == CommandCheck;
  return newCommand || options.json || options.allLevels || options.dryRun || options.allUsage ||
         options.misplacedOption;
}

bool CreatesUserFolder(const ToolOptions& options) {
  const int32_t command = options.command;
  const bool changes =
      command == CommandSet || command == CommandDelete || command == CommandImport;
  return !UsesNewOptions(options) || (changes && !options.dryRun);
}
