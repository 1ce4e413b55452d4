// The configuration registry over the configuration store.
//
// Providers, from the most specific: user_machine (this user on this machine,
// store key "<host>_user"), user ("user"), install_machine (installMachineKey),
// install (installKey); admin (adminKey) stands alone and is the whole of top
// HKLM. A read by precedence takes the first of user_machine, user,
// install_machine, install that holds the value; a missing value is told apart
// from an empty one by the out provider (ProviderNone) or the bool result.
//
// The store is loaded once per process, on the first operation that needs it;
// every operation opens the keys it uses and closes them before it returns.
// Changes stay in the loaded store until CommitRegistryChanges() saves them.
// Everything is logged through TalDebug: level 1 for errors and traces of
// loading, level 5 for reads, writes and enumerations. Single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cfgkit/cfgkit.h"
#include "registry/morix_registry_client.h"
#include "registry/level_keys.h"
#include "registry/registry_impl.h"
#include "registry/store_key.h"
#include "vxcore/astring.h"

// A store file the registry reads, as the load found it.
struct RegistryFileReport {
  uint32_t provider;  // the level it holds, or ProviderRegistrySyntax
  TalRegFileReport report;
};

// A value that one level holds for the product.
struct ProviderValue {
  std::string section;  // its key's path below the product's key; "" for the key itself
  std::string name;
  int32_t type;     // kTalRegTypeString or kTalRegTypeInt32
  size_t textSize;  // of a string
};

class MorixRegistryImpl : public IRegistryImpl {
 public:
  // `client` is not owned and must outlive the object. Touches neither the store nor the disk.
  explicit MorixRegistryImpl(IMorixRegistryClient* client);
  ~MorixRegistryImpl() override;

  // Names and host.
  static AString GetHostName();
  static AString GetTopName(uint32_t top);
  static AString GetProviderName(uint32_t provider);
  bool SetRegistryFlag(bool flag) override;
  bool OpenRegistryKey(uint32_t top, const AString& section, bool readOnly) override;

  // Locations.
  AString GetAdminDir();
  AString GetUserConfigDir();
  bool GetRegistryFiles(std::vector<AString>& files);

  // Loading and key paths.
  void EnsureMorixRegistryIsLoaded();
  AString GetProviderKeyPath(uint32_t top, const AString& section, uint32_t provider);
  bool GetMorixRegistryKey(TalRegKey& key, const AString& path, bool bCreateIfNecessary);
  bool GetMorixRegistryKey(TalRegKey& key, const std::string& path, bool bCreateIfNecessary);
  // Appends the lines GetMorixRegistryKey logs (level 5) up to and including
  // the open of `path`, for a caller that reuses an open key but logs as if it
  // had opened it again.
  static void AppendKeyOpenTrace(std::string& lines, std::string_view path, bool bCreateIfNecessary,
                                 bool opened);
  bool IsMultiProductStore();
  AString GetBestMatchingProductNameFromRegistry();
  void GetMorixSubkeyNames(std::vector<AString>& names, const AString& regpath);
  bool CommitRegistryChanges() override;
  // Whether CommitRegistryChanges() would get past everything it meets before
  // it writes (see TalRegForeseeSave); writes nothing. A dry run ends here.
  bool CanCommitRegistryChanges();

  // Reads and existence.
  bool ReadRegistryStringFromProvider(AString& value, uint32_t top, const AString& section,
                                      const AString& entry, uint32_t provider);
  bool ReadRegistryIntFromProvider(uint32_t& value, uint32_t top, const AString& section,
                                   const AString& entry, uint32_t provider);
  AString GetRegistryString(ConfigurationProvider& provider, uint32_t top, const AString& section,
                            const AString& entry, const AString& defaultValue);
  AString GetRegistryString(uint32_t top, const AString& section, const AString& entry,
                            const AString& defaultValue) override;
  uint32_t GetRegistryInt(ConfigurationProvider& provider, uint32_t top, const AString& section,
                          const AString& entry, uint32_t defaultValue);
  uint32_t GetRegistryInt(uint32_t top, const AString& section, const AString& entry,
                          uint32_t defaultValue) override;
  // A setting as a Get reads it, at `keys` opened on its section: with no
  // level, the string by precedence and, failing that, the integer, logged
  // as GetRegistryString and GetRegistryInt; at `level`, that level alone,
  // logged as its key's opens. `found`, when given, is what FindAll found
  // for the entry at the levels read.
  LevelValue ReadSetting(const LevelKeys& keys, std::string_view entry,
                         const TalRegValueView* found = nullptr);
  LevelValue ReadSettingAt(const LevelKeys& keys, ConfigurationProvider level,
                           std::string_view entry, const TalRegValueView* found = nullptr);
  bool DoesRegistryValueExistInProvider(uint32_t top, const AString& section,
                                        const AString& entry, uint32_t provider);
  bool DoesRegistryValueExist(uint32_t top, const AString& section,
                              const AString& entry) override;
  uint32_t GetRegistryValueType(uint32_t top, const AString& section, const AString& entry,
                                uint32_t provider);
  bool DoesRegistryKeyExistInProvider(uint32_t top, const AString& section, uint32_t provider);
  bool DoesRegistryKeyExist(uint32_t top, const AString& section) override;

  // Writes.
  bool WriteRegistryStringToProvider(uint32_t top, const AString& section, const AString& entry,
                                     const AString& value, uint32_t provider);
  bool WriteRegistryIntToProvider(uint32_t top, const AString& section, const AString& entry,
                                  int32_t value, uint32_t provider);
  bool WriteRegistryString(uint32_t top, const AString& section, const AString& entry,
                           const AString& value) override;
  bool WriteRegistryInt(uint32_t top, const AString& section, const AString& entry,
                        int32_t value) override;
  static bool IsForceRegistryWritesSet();

  // Keys and entries.
  bool CreateRegistryKey(uint32_t top, const AString& section) override;
  bool DeleteRegistryKey(uint32_t top, const AString& section, uint32_t provider);
  bool DeleteRegistryKey(uint32_t top, const AString& section) override;
  bool DeleteRegistryEntry(uint32_t top, const AString& section, const AString& entry,
                           uint32_t provider);
  bool DeleteRegistryEntry(uint32_t top, const AString& section, const AString& entry) override;
  bool ClearRegistryEntry(uint32_t top, const AString& section, const AString& entry) override;

  // Enumeration.
  bool GetSubkeyNames(std::vector<AString>& names, uint32_t top, const AString& section,
                      uint32_t provider);
  bool GetSubkeyNames(std::vector<AString>& names, uint32_t top,
                      const AString& section) override;
  // The syntax files' names are 8-bit texts, as the store holds them.
  void GetSubkeyNamesFromSingleSyntaxFile(std::vector<std::string>& names, std::string_view section,
                                          const AString& rootKeyName);
  void GetValueNamesFromSingleSyntaxFile(std::vector<std::string>& names, std::string_view section,
                                         const AString& rootKeyName);
  // Appends the names over all syntax files, ascending by byte, each once.
  void GetSubkeyNamesFromSyntaxFiles(std::vector<std::string>& names, std::string_view section);
  void GetValueNamesFromSyntaxFiles(std::vector<std::string>& names, std::string_view section);

  // Inspection, for a check of the store: nothing is changed, and with
  // readOnlyLoad set nothing on disk either.
  // The files the product's registry reads, each once: the levels' from
  // user_machine to admin, then the syntax files'. A missing file has no path.
  void GetRegistryFileReports(std::vector<RegistryFileReport>& files);
  // The top-level store key whose file holds the level's keys; empty when
  // the level has none (an unknown product in a store of several).
  std::string GetProviderFileKey(uint32_t provider);
  // How the file of one level loaded; false when the level has no file (an
  // unknown product in a multi-product store).
  bool GetProviderFileReport(uint32_t provider, TalRegFileReport& report);
  // The store folders the load could not list.
  void GetUnlistedFolders(std::vector<TalRegFileReport>& folders);
  // Every value `provider` holds for the product, depth first, each key's
  // values before its subkeys. The registry's own record of the products of
  // a store (kMultipleApplicationsValue, kProductsKeyPath) is no setting and
  // is left out.
  void GetProviderValues(uint32_t provider, std::vector<ProviderValue>& values);

  // Syntax. Lookup results: 0 not defined, -1 the key is defined (no entry
  // asked for), else the entry's store type code (2 string, 4 integer).
  bool IsRegistryEntryDefined(const AString& path) override;
  void GetRegistrySyntaxEntries(std::vector<RegistrySyntaxEntry>& entries) override;
  int32_t LookupRegistrySyntax(AString& section, AString& entryName, bool* syntaxFound);
  int32_t LookupSingleSyntaxFile(bool& syntaxFound, AString& section, AString& entryName,
                                 const AString& rootKeyName);
  int32_t FindSyntaxEntry(StoreKey key, std::vector<AString>::iterator firstComponent,
                          std::vector<AString>::iterator endComponent, AString& entryName);
  void CollectSyntaxEntries(const AString& keyName, const AString& prefix,
                            std::vector<RegistrySyntaxEntry>& entries);
  int GetNumSyntaxFiles();
  AString GetSyntaxRootKeyName(int index);

  AString adminKey;
  AString installKey;
  AString installMachineKey;
  AString syntaxKey;
  IMorixRegistryClient* client;
  // Set before the first load to use the admin folder as the user folder too.
  bool userDirIsAdminDir;
  // Set before the first load to load without writing to disk: the user
  // folder is not created, and no snapshot image is read or written.
  bool readOnlyLoad;
  // Cleared before the first load by a run that must create nothing on disk
  // (the image cache aside): a missing user folder is then left missing.
  bool createsUserFolder = true;

 private:
  void PrepareUserFolder(AString& userDir, class FunctionTrace& trace);
  void SetKeyFields(bool multiProduct, const AString& product);

  template <class T>
  bool ReadFromProvider(T& value, uint32_t top, const AString& section, const AString& entry,
                        uint32_t provider);
  template <class T>
  T GetByPrecedence(ConfigurationProvider& provider, uint32_t top, const AString& section,
                    const AString& entry, const T& defaultValue);
  template <class T>
  static void LogRead(uint32_t top, std::string_view section, std::string_view entry,
                      const T& value, ConfigurationProvider provider);
  template <class T>
  bool WriteToProvider(uint32_t top, const AString& section, const AString& entry,
                       const T& value, uint32_t provider);
  template <class T>
  bool WriteWithChangeCheck(uint32_t top, const AString& section, const AString& entry,
                            const T& value);
  template <class Test>
  bool ExistsByPrecedence(uint32_t top, const AString& section, const Test& existsIn,
                          ConfigurationProvider& found);
  void GetNamesFromSingleSyntaxFile(std::vector<std::string>& names, std::string_view section,
                                    const AString& rootKeyName, bool subkeys);
  void MergeNamesFromSyntaxFiles(std::vector<std::string>& names, std::string_view section,
                                 bool subkeys);
};
