// Reads entries by precedence as a Get without a level does: the syntax's
// spelling (LookupRegistrySyntax), then GetRegistryString and, failing that,
// GetRegistryInt at HKCU, with the same answers and the same debug log lines.
// Made for reading many entries of one section in a row: the values of the
// section's syntax key and provider keys are indexed once, at its first entry,
// and kept until an entry of another section is read; each read then logs as
// if it had opened its key again. The store must not change meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "registry/key_value_index.h"
#include "registry/morix_registry_impl.h"
#include "registry/registry_names.h"
#include "registry/store_key.h"
#include "vxcore/astring.h"

class SectionValueReader {
 public:
  // `registry` must outlive the reader.
  explicit SectionValueReader(MorixRegistryImpl& registry);

  struct Setting {
    ConfigurationProvider provider;  // ProviderNone when no level holds the entry
    bool isNumber;
    std::string_view text;  // valid until the store changes
    int32_t number;
  };
  Setting Read(std::string_view section, std::string_view entry);

 private:
  static constexpr size_t kProviders = std::size(kProviderPrecedence);

  // The entry in the syntax's spelling: a look-up in the typed section's key
  // when the first syntax file defines it under exactly that name, else the
  // registry's own search.
  void Spell(std::string_view section, std::string_view entry);
  void OpenTypedSection(std::string_view section);
  void OpenProviderSection();
  void LogRead(bool number, const Setting& setting);

  MorixRegistryImpl& registry_;
  bool started_ = false;
  StoreKey syntaxRoot_;  // of the first syntax file there is

  bool typedOpen_ = false;
  std::string typedSection_;
  bool typedSyntaxKeyFound_ = false;  // the typed section in syntaxRoot_
  KeyValueIndex typedSyntaxValues_;
  std::string typedSpelling_;  // its components joined by "/"

  // The entry as spelled: views of typedSpelling_ and the caller's entry, or
  // of the respelled texts when the registry's search respelled them.
  std::string_view section_, entry_;
  uint64_t entryHash_ = 0;
  std::string respelledSection_, respelledEntry_;

  bool providersOpen_ = false;
  bool providersOnTypedSpelling_ = false;  // open on typedSpelling_ as it is now
  std::string providerSection_;
  std::string providerPrefixes_[kProviders];  // "<provider key>/"
  KeyValueIndex providerValues_[kProviders];
  std::string openTraces_[kProviders];  // what opening each key logs

  AString wideSection_, wideEntry_, wideValue_;
};
