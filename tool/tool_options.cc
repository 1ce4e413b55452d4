#include "tool/tool_options.h"

#include "tool/installed_product.h"
#include "tool/messages.h"
#include "vxcore/console_output.h"

namespace {

struct OptionSpec {
  AString name;
  int32_t valueSlot;  // -1 for options that take no value
};

constexpr int RowCase = 5;

const OptionSpec OptionTable[] = {
    {L"Set", -1},          {L"Delete", -1},          {L"Help", -1},
    {L"Get", -1},          {L"GetKeys", -1},         {L"Case", -1},
    {L"ProductName", SlotProductName},   {L"RegistryKey", SlotRegistryKey},
    {L"RegistryValue", SlotRegistryValue}, {L"ValueType", SlotValueType},
    {L"RegistryLevel", SlotRegistryLevel},
};

const AString LevelNameTable[] = {L"user_machine", L"user", L"install_machine", L"install",
                                  L"admin"};

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
bool FinalChecks(ToolOptions& record) {
  const auto& values = record.values;
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
  if (values[SlotRegistryKey] == nullptr && record.command != CommandGetKeys) {
    core::PrintWide(msg::kMissingRegistryKey);
    return false;
  }
  if (values[SlotGetKeysPattern] == nullptr && record.caseSensitive) {
    core::PrintWide(msg::kCaseIgnored);
  }
  return true;
}

}  // namespace

ToolOptions& ParseOptions(ToolOptions& record, int count, AString* args) {
  record.command = CommandNone;
  record.values.fill(nullptr);
  record.valueCount = 0;
  record.caseSensitive = false;

  for (int i = 0; i < count; ++i) {
    AString& argument = args[i];
    if (!HasPrefix(argument)) {
      core::PrintWide(msg::kMustStartWithPrefix, argument.c_str());
      record.valueCount = 0;
      break;
    }
    const wchar_t* name = argument.c_str() + 1;
    bool hasNext = i + 1 < count;
    int row = FindOption(name);
    if (row < 0) {
      if (hasNext && !HasPrefix(args[i + 1])) {
        core::PrintWide(msg::kUnknownOptionWithValue, name, args[i + 1].c_str());
        ++i;
      } else {
        core::PrintWide(msg::kUnknownOption, name);
      }
    } else if (OptionTable[row].valueSlot >= 0) {
      if (!hasNext || (!args[i + 1].empty() && args[i + 1][0] == argument[0])) {
        core::PrintWide(msg::kValueMissing, name);
      } else {
        record.values[OptionTable[row].valueSlot] = args[i + 1].data();
        ++record.valueCount;
        ++i;
      }
    } else if (row == RowCase) {
      record.caseSensitive = true;
    } else {
      record.command = row;
      if (row == CommandGetKeys && hasNext && !HasPrefix(args[i + 1])) {
        record.values[SlotGetKeysPattern] = args[i + 1].data();
        ++record.valueCount;
        ++i;
      }
    }
  }
  if (!FinalChecks(record)) record.valueCount = 0;
  return record;
}

void PrintUsage() {
  for (const wchar_t* line : msg::kUsage) core::PrintWide(line);
}

int LevelFromName(const wchar_t* name) {
  for (int i = 0; i < static_cast<int>(std::size(LevelNameTable)); ++i) {
    if (LevelNameTable[i].CompareNoCase(name) == 0) return i + 1;
  }
  return 0;
}

AString LevelName(int level) {
  if (level == 0) return L"not found";
  if (level >= 1 && level <= 5) return LevelNameTable[level - 1];
  return L"unknown";
}

AString ValueTypeName(int type) {
  if (type == kTypeString) return L"string";
  if (type == kTypeInt32) return L"integer";
  return L"unknown";
}
