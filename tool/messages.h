// Every text the tool prints, in one place: scripts parse them, so they are
// kept exactly as they have always been, odd spellings and blanks included.
#pragma once

#include <string_view>

namespace msg {

// Options.
inline constexpr const wchar_t* kMustStartWithPrefix =
    L"Parameter option <%s> must started with - or /\n";
inline constexpr const wchar_t* kUnknownOptionWithValue =
    L"Unkown option <%s> and its value <%s> are ignored\n";
inline constexpr const wchar_t* kUnknownOption = L"Unkown option <%s> is ignored\n";
inline constexpr const wchar_t* kValueMissing = L"Value for option <%s> is missing\n";
inline constexpr const wchar_t* kMissingProductName = L"Missing ProductName parameter\n";
inline constexpr const wchar_t* kNotInstalled = L"<%s> is not an installed product\n";
inline constexpr const wchar_t* kSetNeedsValue =
    L"RegistryValue parameter is required for Setting Registry value\n";
inline constexpr const wchar_t* kMissingCommand = L"Missing -Get, -GetKeys, -Set and -Delete option\n";
inline constexpr const wchar_t* kMissingRegistryKey = L"Missing RegistryKey parameter\n";
inline constexpr const wchar_t* kCaseIgnored =
    L"Option -Case ignored; it is valid only if a pattern is specified with the -GetKeys "
    L"command\n";
inline constexpr const wchar_t* kUnknownLevel = L"unknown RegistryLevel <%s>\n";

// The options beyond the four classic commands.
inline constexpr const wchar_t* kOptionOnlyWith = L"Option -%s is valid only with the -%s command\n";
inline constexpr const wchar_t* kOptionNotWith = L"Option -%s is not valid with the -%s command\n";
inline constexpr const wchar_t* kOptionTwice = L"Option -%s is given more than once\n";
inline constexpr const wchar_t* kDryRunOnlyWithChanges =
    L"Option -DryRun is valid only with the -Set, -Delete and -Import commands\n";
inline constexpr const wchar_t* kTwoCommands =
    L"A command line with a newer option gives one command, not two or more\n";
inline constexpr const wchar_t* kAllLevelsWithLevel =
    L"Option -AllLevels shows every level; it cannot be combined with -RegistryLevel\n";
inline constexpr const wchar_t* kExportIsJsonFree =
    L"Option -Json is not valid with -Export, whose output is a store document\n";
inline constexpr const wchar_t* kTempDirectoryOneLevel =
    L"The TempDirectory setting is read one level at a time, without -AllLevels\n";
// What came after the classic commands, one usage line and one sentence
// each: printed by -Help -All and after bad usage of a newer option.
inline constexpr const wchar_t* kExtendedUsage[] = {
    L"usage: Setwise -Set ... -ValueType 2|4\n",
    (L"      gives the value's type, 2 a string and 4 an integer, instead of the syntax's or "
     L"the value's own.\n"),
    L"usage: Setwise -Get | -Set | -Delete ... -RegistryLevel admin\n",
    L"      the admin level, which a Get without a level never reads.\n",
    L"usage: Setwise -Get -ProductName name -RegistryKey keyPath -AllLevels [-Json]\n",
    L"      shows the setting at every level and which one a Get without a level finds.\n",
    L"usage: Setwise -Export [pattern] [-Case] -ProductName name [-RegistryLevel level]\n",
    L"      writes the values GetKeys lists as a settings document.\n",
    L"usage: Setwise -Import file -ProductName name [-RegistryLevel level] [-DryRun] [-Json]\n",
    L"      applies a settings document (\"-\": standard input) at a level, all or nothing.\n",
    L"usage: Setwise -Set | -Delete | -Import ... -DryRun\n",
    L"      does everything but the save and says what the real run would do.\n",
    L"usage: Setwise -Check -ProductName name [-Json]\n",
    L"      reports damaged or unreadable store files and values the syntax does not allow.\n",
    L"usage: Setwise -Get | -GetKeys | -Set | -Delete | -Import | -Check ... -Json\n",
    L"      prints one JSON document and nothing else; GetKeys -Json takes a -RegistryLevel.\n",
};

inline constexpr const wchar_t* kUsage[] = {
    L"usage: Setwise -Get -ProductName name -RegistryKey keyPath [-RegistryLevel level]\n",
    L"usage: Setwise -GetKeys [pattern] [-Case] -ProductName name\n",
    L"usage: Setwise -Set -ProductName name -RegistryKey keyPath  -RegistryValue value "
    L"[-RegistryLevel level]\n",
    L"usage: Setwise -Delete -ProductName name -RegistryKey keyPath  [-RegistryLevel level]\n",
    L"note: RegistryLevel  -- >  install | install_machine | user | user_machine; default to "
    L"user_machine\n",
    L"      For the -Get command, if RegistryLevel is not specified, then the levels are "
    L"searched in order.\n",
    L"      For the -GetKeys command, if pattern is present, then only keys matching the pattern "
    L"are shown.\n",
    L"      The -Case option specifies a case sensitive pattern match; otherwise the match is "
    L"case insensitive.\n",
};

// Get, and the TempDirectory setting.
inline constexpr const wchar_t* kGetFound =
    L"Registry setting <%s> has value <%s> of type <%s> at level <%s>.\n";
inline constexpr const wchar_t* kNotFound = L"No registry setting found for <%s>.\n";
inline constexpr const wchar_t* kNotFoundAtLevel = L"No registry setting found for <%s> at level <%s>.\n";
inline constexpr const wchar_t* kGetFindsLevel = L"A Get without a level finds level <%s>.\n";
inline constexpr const wchar_t* kGetFindsNothing = L"A Get without a level finds no value.\n";

// Set.
inline constexpr const wchar_t* kUnsupportedValueType = L"Unsupported value type %s\n";
inline constexpr const wchar_t* kSetFailed = L"error on to set registry value at <%s>\n";
inline constexpr const wchar_t* kCreated = L"Register value <%s> is created with value <%s> \n";
inline constexpr const wchar_t* kSetTo = L"Register value <%s> is set to <%s>\n ";
inline constexpr const wchar_t* kUnchangedWarning =
    L"warning: New register value is same as the existing value\n";
inline constexpr const wchar_t* kSaveFailed =
    L"error on save registry changes make sure user has the write access to the registry\n";
// The three refusals of a Set are 8-bit prints.
inline constexpr const char* kNotDefined = "registry key is not defined in this product\n";
inline constexpr const char* kTypeChange =
    "Cannot set the registry value to different data type\nThe work around is delete it, then "
    "create it again\n";
inline constexpr const char* kNotAnInteger =
    "Value type is Int32, but registry value is not an integer\n";

// Delete.
inline constexpr const wchar_t* kKeyDeleted = L"Register key <%s> is deleted \n";
inline constexpr const wchar_t* kValueDeletedInSection = L"Register value  <%s/%s> is deleted \n";
inline constexpr const wchar_t* kValueDeleted = L"Register value  <%s> is deleted \n";
inline constexpr const wchar_t* kDeleteFailed = L"No able to delete Value or Key <%s/%s> \n";

// GetKeys.
inline constexpr const wchar_t* kNoKeys = L"No registry keys found.\n";
inline constexpr const wchar_t* kKeysHeader = L"Registry keys:\n";
inline constexpr const wchar_t* kMatchingCaseSensitive =
    L"Registry keys matching pattern <%s> case sensitively:\n";
inline constexpr const wchar_t* kNoMatchCaseSensitive =
    L"No registry keys found matching pattern <%s> case sensitively.\n";
inline constexpr const wchar_t* kMatchingCaseInsensitive =
    L"Registry keys matching pattern <%s> case insensitively:\n";
inline constexpr const wchar_t* kNoMatchCaseInsensitive =
    L"No registry keys found matching pattern <%s> case insensitively.\n";
// A listing line is "<path>: <status>\n", built from these 8-bit pieces; a
// value's status is kValueIs, the value, kAtLevel, the level and kLevelEnd.
inline constexpr std::string_view kCatalogueSeparator = ": ";
inline constexpr std::string_view kKeyOnly = "no value (key only)";
inline constexpr std::string_view kValueIs = "value is <";
inline constexpr std::string_view kAtLevel = "> at level <";
inline constexpr std::string_view kLevelEnd = ">";
inline constexpr std::string_view kNoValueFound = "no value found in registry";

// Import.
inline constexpr const wchar_t* kImportCreated =
    L"Registry setting <%s> is created with value <%s> of type <%s>.\n";
inline constexpr const wchar_t* kImportChanged =
    L"Registry setting <%s> is changed to value <%s> of type <%s>.\n";
inline constexpr const wchar_t* kImportUnchanged =
    L"Registry setting <%s> already has value <%s>.\n";
inline constexpr const wchar_t* kImportDeleted = L"Registry setting <%s> is deleted.\n";
inline constexpr const wchar_t* kImportKeyDeleted = L"Registry key <%s> is deleted.\n";
inline constexpr const wchar_t* kImportAbsent =
    L"Registry setting <%s> is absent; nothing to delete.\n";
inline constexpr const wchar_t* kImportKeyAbsent =
    L"Registry key <%s> is absent; nothing to delete.\n";
inline constexpr const wchar_t* kImportRefused = L"Registry setting <%s> is refused:\n";
inline constexpr const char* kImportTempDirectory =
    "TempDirectory is not a product setting; set it with -Set\n";
inline constexpr const char* kImportNul =
    "A name or value holding NUL cannot be stored: the store keeps a text up to its first NUL\n";
inline constexpr const char* kImportSeparator =
    "A value name holding / or \\ cannot be read back: a path splits at its last separator\n";
inline constexpr const wchar_t* kImportCollision =
    L"more than one entry of the document names <%s>\n";
inline constexpr const wchar_t* kImportNothingRefused =
    L"Nothing was imported: %d entries refused.\n";
inline constexpr const wchar_t* kImportNothingSaved = L"Nothing was imported.\n";
inline constexpr const wchar_t* kImportSummary =
    L"Imported at level <%s>: %d created, %d changed, %d unchanged, %d deleted, %d absent.\n";
// Also the last line of a Set or Delete dry run that went through.
inline constexpr const wchar_t* kDryRunSummary =
    L"Dry run at level <%s>, nothing written: %d created, %d changed, %d unchanged, %d deleted, "
    L"%d absent.\n";
// Every entry's refusal when the level's store file or folder cannot be used;
// 8-bit: paths and reasons are the store's bytes.
inline constexpr const char* kImportStoreDamaged = "Store file <%s> is damaged: %s\n";
inline constexpr const char* kSharedStoreKey =
    "Level <%s> would write store key <%s>, which is also that of %s\n";
inline constexpr const char* kImportStoreUnreadable = "Store file <%s> cannot be read: %s\n";
inline constexpr const char* kImportStoreUnlisted = "Store folder <%s> cannot be listed: %s\n";
inline constexpr const char* kImportTooLong =
    "String value is too long to be read (%zu bytes); the limit is %zu bytes\n";
inline constexpr const wchar_t* kImportDamaged = L"Import document <%s> is damaged: %s\n";
inline constexpr const wchar_t* kImportUnreadable = L"Import document <%s> cannot be read: %s\n";

// Check. 8-bit prints: paths, keys and reasons are the store's bytes.
inline constexpr const char* kCheckDamaged = "Damaged file <%s>: %s\n";
inline constexpr const char* kCheckUnreadableFile = "Unreadable file <%s>: %s\n";
inline constexpr const char* kCheckUnreadableFolder = "Unreadable folder <%s>: %s\n";
inline constexpr const char* kCheckUndefined = "Undefined setting <%s> at level <%s> in <%s>\n";
inline constexpr const char* kCheckType =
    "Type of <%s> at level <%s> in <%s> is <%s>, declared <%s>\n";
inline constexpr const char* kCheckSpelling =
    "Spelling of <%s> at level <%s> in <%s> differs from the declared <%s> in letter case only\n";
inline constexpr const char* kCheckTooLong =
    "String <%s> at level <%s> in <%s> is too long to be read (%zu bytes)\n";
inline constexpr const char* kCheckSummary = "Checked %d files: %zu findings.\n";

// TempDirectory.
inline constexpr const wchar_t* kLevelNotValidFor =
    L"Registry level <%s> in not valid for registry entry <%s>.\n";
inline constexpr const wchar_t* kTempFound =
    L"Registry setting <%s> has value <%s> at level <%s>.\n";
inline constexpr const wchar_t* kTempSet =
    L"Success setting registry <%s> value to <%s> at level <%s>.\n";
inline constexpr const wchar_t* kTempSetFailed =
    L"Error setting registry <%s> value to <%s> at level <%s>.\n";
inline constexpr const wchar_t* kTempDeleted =
    L"Success deleting registry entry <%s> from level <%s>.\n";
inline constexpr const wchar_t* kTempDeleteFailed =
    L"Error deleting registry entry <%s> from level <%s>.\n";

// Standard error's line when standard output failed under the newer
// options: nothing else can say why their status is 4.
inline constexpr const char* kOutputLost = "Setwise: standard output could not be written: %s\n";

}  // namespace msg
