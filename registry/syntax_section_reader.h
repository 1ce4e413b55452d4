// Reads the registry syntax one section at a time, for listing all of it: the
// merged names of a section's subkeys and entries over the syntax files, and
// each entry's value by precedence. A section's store keys are opened once
// and their values read in one pass each, in place, instead of one lookup
// per entry and provider.
//
// The answers are those of GetSubkeyNamesFromSyntaxFiles,
// GetValueNamesFromSyntaxFiles, and LookupRegistrySyntax followed by
// GetRegistryString and then GetRegistryInt (HKCU), except that nothing is
// written to the debug log: meant for runs without one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/morix_registry_impl.h"
#include "registry/store_key.h"

class SyntaxSectionReader {
 public:
  // Loads the store when it is not loaded yet.
  explicit SyntaxSectionReader(MorixRegistryImpl& registry);

  // The reader starts at the roots of the syntax files. Enter moves to the
  // subkey `name` of the open section, Leave back to where Enter was called.
  void Enter(const std::string& name);
  void Leave();

  // The subkey names below the open section over all syntax files, ascending
  // by byte, each once.
  void SubkeyNames(std::vector<std::string>& names);

  enum class Answer { kFound, kNotFound, kAskRegistry };
  struct Entry {
    std::string_view name;  // as the enumerations give it
    // kAskRegistry when the syntax lookup would respell the entry (its first
    // syntax file does not define it exactly): only the registry's own
    // lookup gives the right answer then.
    Answer answer;
    ConfigurationProvider provider;  // kFound: where
    bool isNumber;                   // kFound: `number`, else `text`
    int32_t number;
    std::string_view text;
  };
  // The entries of the open section in the order of the merged enumeration,
  // with their values. The views stay valid until the store changes.
  void ReadEntries(std::vector<Entry>& entries);

 private:
  // An entry while the providers are read.
  struct Pending {
    std::string_view name;
    bool definedInFirstFile;
    uint8_t seenIn;          // a bit per provider: a name's first value there counts
    int stringAt, numberAt;  // provider indexes, -1 for none
    std::string_view text;
    int32_t number;
  };
  void CollectEntryNames();
  void IndexEntries();
  Pending* FindEntry(std::string_view name);
  void TakeValue(size_t provider, const TalRegValueView& value);

  int firstPresentRoot_ = -1;  // the one file the lookup asks first
  // The open section and the ones above it, each opened below the one
  // before: in each syntax file, then in each provider in precedence order.
  struct Level {
    std::vector<StoreKey> syntaxKeys;
    std::vector<StoreKey> providerKeys;
  };
  std::vector<Level> levels_;
  // Per syntax file and per provider: its root path names no key at all.
  std::vector<bool> syntaxRootless_, providerRootless_;
  static bool NamesNoKey(const std::string& path);
  std::vector<Pending> pending_;
  std::vector<uint32_t> slots_;  // open addressing over pending_: index + 1, 0 free
};
