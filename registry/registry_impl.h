// The abstract configuration registry: keys (sections) holding named string
// and 32-bit integer entries, in layers called providers.
#pragma once

#include <cstdint>
#include <vector>

#include "vxcore/astring.h"

// Registry roots ("top"): the user and install side, and the admin side.
constexpr uint32_t HKCU = 0;
constexpr uint32_t HKLM = 1;

// The layers of the registry. The tool's level numbers 1 to 5 are the same values.
enum ConfigurationProvider {
  ProviderNone = 0,  // a read found nothing and returned its default
  ProviderUserMachine = 1,
  ProviderUser = 2,
  ProviderInstallMachine = 3,
  ProviderInstall = 4,
  ProviderAdmin = 5,
  ProviderRegistrySyntax = 6,
};

// The names of the five levels, as options, messages and documents spell
// them: kLevelNames[provider - 1].
inline constexpr const wchar_t* kLevelNames[] = {L"user_machine", L"user", L"install_machine",
                                                 L"install", L"admin"};

// The kind of a syntax entry; not the store's type codes.
enum SyntaxEntryType : uint32_t { SyntaxEntryInt = 0, SyntaxEntryString = 1 };

// One typed entry of a syntax file.
struct RegistrySyntaxEntry {
  uint32_t valueType = SyntaxEntryInt;
  AString path;  // section and entry name joined by "/", relative to the syntax root
  AString stringValue;
  int32_t intValue = 0;
};

class IRegistryImpl {
 public:
  virtual ~IRegistryImpl() = default;

  virtual bool CommitRegistryChanges() = 0;
  virtual bool SetRegistryFlag(bool flag) = 0;
  virtual bool DoesRegistryKeyExist(uint32_t top, const AString& section) = 0;
  virtual bool DeleteRegistryKey(uint32_t top, const AString& section) = 0;
  virtual bool GetSubkeyNames(std::vector<AString>& names, uint32_t top,
                              const AString& section) = 0;
  virtual bool CreateRegistryKey(uint32_t top, const AString& section) = 0;
  virtual bool DoesRegistryValueExist(uint32_t top, const AString& section,
                                      const AString& entry) = 0;
  virtual bool OpenRegistryKey(uint32_t top, const AString& section, bool readOnly) = 0;
  virtual AString GetRegistryString(uint32_t top, const AString& section, const AString& entry,
                                    const AString& defaultValue) = 0;
  virtual uint32_t GetRegistryInt(uint32_t top, const AString& section, const AString& entry,
                                  uint32_t defaultValue) = 0;
  virtual bool WriteRegistryString(uint32_t top, const AString& section, const AString& entry,
                                   const AString& value) = 0;
  virtual bool WriteRegistryInt(uint32_t top, const AString& section, const AString& entry,
                                int32_t value) = 0;
  virtual bool ClearRegistryEntry(uint32_t top, const AString& section, const AString& entry) = 0;
  virtual bool DeleteRegistryEntry(uint32_t top, const AString& section,
                                   const AString& entry) = 0;
  virtual bool IsRegistryEntryDefined(const AString& path) = 0;
  virtual void GetRegistrySyntaxEntries(std::vector<RegistrySyntaxEntry>& entries) = 0;
};
