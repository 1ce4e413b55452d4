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

}  // namespace msg
