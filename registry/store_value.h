// Typed reads and writes of one store value, so that the string and integer
// operations of the registry share one code path each.
#pragma once

#include <cstdint>
#include <string>

#include "cfgkit/cfgkit.h"
#include "vxcore/astring.h"

// The longest text the string reads take; a longer one is not read.
constexpr size_t kLongestStoreText = 999999;

// The store's status.
int WriteStoreValue(TalRegKey key, const std::string& entry, const AString& value);
int WriteStoreValue(TalRegKey key, const std::string& entry, int32_t value);

// The texts of the log lines of each value kind, and how a value is passed to them.
template <class T>
struct RegistryValueTraits;

template <>
struct RegistryValueTraits<AString> {
  using Stored = AString;
  static const wchar_t* Arg(const AString& value) { return value.c_str(); }
  static bool Equal(const AString& value, const AString& previous) {
    return value.Compare(previous) == 0;
  }
  static constexpr const wchar_t* kReadLog =
      L"Info: MorixRegistry GetRegistryString: top=%s, section='%s', entry='%s', value='%s', "
      L"provider=%s.\n";
  static constexpr const wchar_t* kProviderWriteError =
      L"Error: MorixRegistry WriteRegistryStringToProvider: Error writing value to registry: "
      L"%d;\ntop=%s, section='%s', entry='%s', value='%s', provider=%s.\n";
  static constexpr const wchar_t* kUnchanged =
      L"Info: MorixRegistry WriteRegistryString: Value not written because it is not "
      L"changed;\ntop=%s, section='%s', entry='%s', value='%s', provider=%s.\n";
  static constexpr const wchar_t* kAdminRefused =
      L"Error: MorixRegistry WriteRegistryString: Value not written to admin file;\ntop=%s, "
      L"section='%s', entry='%s', value='%s'.\n";
  static constexpr const wchar_t* kWritten =
      L"Info: MorixRegistry WriteRegistryString: Value written to %s;\ntop=%s, section='%s', "
      L"entry='%s', value='%s'\nprevious value='%s', provider=%s.\n";
  static constexpr const wchar_t* kWriteError =
      L"Error: MorixRegistry WriteRegistryString: Error writing value to registry;\ntop=%s, "
      L"section='%s', entry='%s', value='%s'\nprevious value='%s', provider=%s.\n";
};

template <>
struct RegistryValueTraits<int32_t> {
  using Stored = uint32_t;
  static int32_t Arg(int32_t value) { return value; }
  static bool Equal(int32_t value, uint32_t previous) {
    return value == static_cast<int32_t>(previous);
  }
  static constexpr const wchar_t* kProviderWriteError =
      L"Error: MorixRegistry WriteRegistryIntToProvider: Error writing value to registry: "
      L"%d;\ntop=%s, section='%s', entry='%s', value='%d', provider=%s.\n";
  static constexpr const wchar_t* kUnchanged =
      L"Info: MorixRegistry WriteRegistryInt: Value not written because it is not "
      L"changed;\ntop=%s, section='%s', entry='%s', value=%d, provider=%s.\n";
  static constexpr const wchar_t* kAdminRefused =
      L"Error: MorixRegistry WriteRegistryInt: Value not written to admin file;\ntop=%s, "
      L"section='%s', entry='%s', value=%d.\n";
  static constexpr const wchar_t* kWritten =
      L"Info: MorixRegistry WriteRegistryInt: Value written to %s;\ntop=%s, section='%s', "
      L"entry='%s', value=%d\nprevious value=%d, provider=%s.\n";
  static constexpr const wchar_t* kWriteError =
      L"Error: MorixRegistry WriteRegistryInt: Error writing value to registry;\ntop=%s, "
      L"section='%s', entry='%s', value=%d\nprevious value=%d, provider=%s.\n";
};

template <>
struct RegistryValueTraits<uint32_t> {
  static uint32_t Arg(uint32_t value) { return value; }
  static constexpr const wchar_t* kReadLog =
      L"Info: MorixRegistry GetRegistryInt: top=%s, section='%s', entry='%s', value=%u, "
      L"provider=%s.\n";
};
