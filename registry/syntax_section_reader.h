// Reads the registry syntax one section at a time, for listing all of it: the
// merged names of a section's subkeys and entries over the syntax files, and
// each entry's value by precedence. Every store key a section needs is opened
// once per section instead of once per entry, and names stay in the store's
// bytes.
//
// The answers are those of GetSubkeyNamesFromSyntaxFiles,
// GetValueNamesFromSyntaxFiles, and LookupRegistrySyntax followed by
// GetRegistryString and then GetRegistryInt (HKCU), except that nothing is
// written to the debug log: meant for runs without one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "registry/morix_registry_impl.h"
#include "registry/store_key.h"

class SyntaxSectionReader {
 public:
  // Loads the store when it is not loaded yet.
  explicit SyntaxSectionReader(MorixRegistryImpl& registry);

  // Moves to the syntax key `section` ("/"-joined names; empty for the roots
  // of the syntax files).
  void OpenSection(const std::string& section);

  // The names below the open section over all syntax files, ascending by
  // byte, each once.
  void SubkeyNames(std::vector<std::string>& names);
  void EntryNames(std::vector<std::string>& names);

  enum class Answer { kFound, kNotFound, kAskRegistry };
  // The value of `entry` of the open section by precedence, as text (integers
  // signed decimal) and where it was found. kAskRegistry when the syntax
  // lookup would respell the entry (its first syntax file does not define
  // it exactly): only the registry's own lookup gives the right answer then.
  Answer ReadValue(const char* entry, std::string& text, ConfigurationProvider& provider);

 private:
  void MergeNames(bool subkeys, std::vector<std::string>& names);

  std::vector<std::string> syntaxRoots_;  // in the order the lookup searches them
  int firstPresentRoot_ = -1;             // the one file the lookup asks first
  std::vector<StoreKey> syntaxKeys_;      // the open section in each syntax file
  std::vector<std::string> providerPrefixes_;  // "<provider key>/" per provider, in precedence
  std::vector<StoreKey> providerKeys_;
  std::unique_ptr<char[]> text_;
};
