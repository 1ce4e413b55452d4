#include "registry/section_value_reader.h"

#include "registry/store_value.h"
#include "vxcore/tal_debug.h"

namespace {

// Byte by byte, reusing the string's storage.
void Widen(AString& wide, std::string_view bytes) {
  wide.resize(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) wide[i] = static_cast<unsigned char>(bytes[i]);
}

// The key names of `section` joined by "/", as the syntax search respells a
// section it finds; the section itself when it names none.
std::string SyntaxSpelling(std::string_view section) {
  std::string spelled;
  size_t start = 0;
  while (start < section.size()) {
    size_t end = section.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = section.size();
    if (end > start) {
      if (!spelled.empty()) spelled.push_back('/');
      spelled.append(section.substr(start, end - start));
    }
    start = end + 1;
  }
  return spelled.empty() ? std::string(section) : spelled;
}

}  // namespace

SectionValueReader::SectionValueReader(MorixRegistryImpl& registry) : registry_(registry) {}

void SectionValueReader::OpenTypedSection(std::string_view section) {
  if (!started_) {
    started_ = true;
    registry_.EnsureMorixRegistryIsLoaded();
    // The syntax search asks the files in turn; the first one there is
    // answers for every entry it defines.
    for (int i = 0; i < registry_.GetNumSyntaxFiles(); ++i) {
      if (syntaxRoot_.Open(registry_.GetSyntaxRootKeyName(i).ASCII().c_str())) break;
    }
    for (size_t i = 0; i < kProviders; ++i) {
      providerPrefixes_[i] =
          registry_.GetProviderKeyPath(HKCU, AString(), kProviderPrecedence[i]).ASCII();
    }
  }
  typedOpen_ = true;
  typedSection_.assign(section);
  StoreKey key;
  typedSyntaxKeyFound_ =
      syntaxRoot_.get() != nullptr && key.Open(typedSection_.c_str(), syntaxRoot_.get());
  typedSyntaxValues_.Assign(key.get());
  typedSpelling_ = SyntaxSpelling(section);
  providersOnTypedSpelling_ = false;
}

void SectionValueReader::Spell(std::string_view section, std::string_view entry) {
  if (!typedOpen_ || section != typedSection_) OpenTypedSection(section);
  entryHash_ = KeyValueIndex::Hash(entry);
  if (typedSyntaxKeyFound_ &&
      (entry.empty() || typedSyntaxValues_.Find(entry, entryHash_) != nullptr)) {
    section_ = typedSpelling_;
    entry_ = entry;
    return;
  }
  AString wideSection = AString::FromBytes(section);
  AString wideEntry = AString::FromBytes(entry);
  registry_.LookupRegistrySyntax(wideSection, wideEntry, nullptr);
  respelledSection_ = wideSection.ASCII();
  respelledEntry_ = wideEntry.ASCII();
  section_ = respelledSection_;
  entry_ = respelledEntry_;
  entryHash_ = KeyValueIndex::Hash(entry_);
}

void SectionValueReader::OpenProviderSection() {
  providersOpen_ = true;
  providerSection_ = section_;
  providersOnTypedSpelling_ = section_.data() == typedSpelling_.data();
  const bool log = my_tal_debug_data.Debug(5);
  std::string path;
  for (size_t i = 0; i < kProviders; ++i) {
    path.assign(providerPrefixes_[i]).append(section_);
    StoreKey key;
    const bool opened = key.Open(path.c_str());
    providerValues_[i].Assign(key.get());
    openTraces_[i].clear();
    if (log) MorixRegistryImpl::AppendKeyOpenTrace(openTraces_[i], path, false, opened);
  }
  if (log) Widen(wideSection_, section_);
}

SectionValueReader::Setting SectionValueReader::Read(std::string_view section,
                                                     std::string_view entry) {
  Spell(section, entry);
  // Most entries are spelled as typed, in the section the keys are open on.
  const bool onOpenSpelling = providersOnTypedSpelling_ && section_.data() == typedSpelling_.data();
  if (!onOpenSpelling && (!providersOpen_ || section_ != providerSection_)) OpenProviderSection();
  const bool log = my_tal_debug_data.Debug(5);
  Setting setting{ProviderNone, false, {}, 0};
  // A string read that finds an integer fails, and tells the integer reads
  // where one is.
  const TalRegValueView* numbers[kProviders] = {};
  for (size_t i = 0; i < kProviders; ++i) {
    if (log) TalDebugLines(5, openTraces_[i]);
    const TalRegValueView* value = providerValues_[i].Find(entry_, entryHash_);
    if (value == nullptr) continue;
    if (value->type == kTalRegTypeInt32) {
      numbers[i] = value;
    } else if (value->text.size() <= kLongestStoreText) {
      setting.provider = kProviderPrecedence[i];
      setting.text = value->text.substr(0, value->text.find('\0'));
      break;
    }
  }
  if (log) LogRead(false, setting);
  if (setting.provider != ProviderNone) return setting;
  for (size_t i = 0; i < kProviders; ++i) {
    if (log) TalDebugLines(5, openTraces_[i]);
    if (numbers[i] != nullptr) {
      setting.provider = kProviderPrecedence[i];
      setting.isNumber = true;
      setting.number = numbers[i]->number;
      break;
    }
  }
  if (log) LogRead(true, setting);
  return setting;
}

void SectionValueReader::LogRead(bool number, const Setting& setting) {
  Widen(wideEntry_, entry_);
  const AString top = MorixRegistryImpl::GetTopName(HKCU);
  const AString provider = MorixRegistryImpl::GetProviderName(setting.provider);
  if (number) {
    TalDebug(5, RegistryValueTraits<uint32_t>::kReadLog, top.c_str(), wideSection_.c_str(),
             wideEntry_.c_str(), static_cast<uint32_t>(setting.number), provider.c_str());
  } else {
    Widen(wideValue_, setting.text);
    TalDebug(5, RegistryValueTraits<AString>::kReadLog, top.c_str(), wideSection_.c_str(),
             wideEntry_.c_str(), wideValue_.c_str(), provider.c_str());
  }
}
