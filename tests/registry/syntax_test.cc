// The registry syntax: lookups with case correction over the three syntax
// files, IsRegistryEntryDefined and the flat list of entries.
#include <vector>

#include "registry_fixture.h"

namespace regtest {
namespace {

using SyntaxTest = RegistryTest;

TEST_F(SyntaxTest, LookupCorrectsSpellingAcrossFiles) {
  // Three spellings of one subkey, each defining another entry.
  Put(admin, "RegistrySyntax",
      Key("Net", Key("proxy", Str("Port", "")) + Key("PROXY", Str("Host", "")) +
                     Key("Proxy", Int("Timeout", 0))) +
          Key("Desktop", Key("Options", Int("Size", 0))));
  Put(admin, "CoreRegistrySyntax",
      Key("Desktop", Key("Options", Str("Size", "") + Str("Color", ""))));
  Put(admin, "EMCoreRegistrySyntax", Int("TopLevel", 0) + Key("Legacy", Int("Flag", 0)));
  struct {
    const wchar_t *section, *entry;
    int32_t result;
    std::string sectionOut, entryOut;
  } const cases[] = {
      {L"Net/Proxy", L"host", 2, "Net/PROXY", "Host"},
      {L"net\\proxy", L"timeout", 4, "Net/Proxy", "Timeout"},
      {L"NET/PROXY", L"port", 2, "Net/proxy", "Port"},
      {L"Net/Proxy", L"", -1, "Net/Proxy", ""},
      {L"nEt", L"", -1, "Net", ""},
      {L"", L"", -1, "", ""},
      {L"Desktop/Options", L"Size", 4, "Desktop/Options", "Size"},  // the first file decides
      {L"desktop\\OPTIONS", L"COLOR", 2, "Desktop/Options", "Color"},
      {L"legacy", L"flag", 4, "Legacy", "Flag"},
      {L"", L"toplevel", 4, "", "TopLevel"},
      {L"net\\proxy", L"nothing", 0, "net\\proxy", "nothing"},  // left as given
      {L"Net/Nope", L"Port", 0, "Net/Nope", "Port"},
  };
  for (const auto& c : cases) {
    AString section = c.section, entry = c.entry;
    bool found = false;
    EXPECT_EQ(reg.LookupRegistrySyntax(section, entry, &found), c.result) << A(c.section);
    EXPECT_TRUE(found);
    EXPECT_EQ(A(section) + "|" + A(entry), c.sectionOut + "|" + c.entryOut);
  }
  struct {
    const wchar_t* path;
    bool defined;
  } const paths[] = {
      {L"Net/Proxy/Host", true}, {L"net\\proxy\\HOST", true},      {L"Net/Proxy/", true},
      {L"Net/Nope/", false},     {L"Net/Proxy/Nope", false},       {L"toplevel", true},
      {L"Nope", false},          {L"Desktop/Options/Color", true},
  };
  for (const auto& p : paths) EXPECT_EQ(reg.IsRegistryEntryDefined(p.path), p.defined) << A(p.path);
}

TEST_F(SyntaxTest, NoSyntaxFilesDefineEverything) {
  PutAdmin(Key("K"));
  AString section = L"A/B", entry = L"C";
  bool found = true;
  EXPECT_EQ(reg.LookupRegistrySyntax(section, entry, &found), 0);
  EXPECT_FALSE(found);
  EXPECT_TRUE(reg.IsRegistryEntryDefined(L"A/B/C"));
  EXPECT_TRUE(reg.IsRegistryEntryDefined(L"C"));
  std::vector<RegistrySyntaxEntry> entries;
  reg.GetRegistrySyntaxEntries(entries);
  EXPECT_TRUE(entries.empty());
}

TEST_F(SyntaxTest, EntriesDepthFirstValuesBeforeSubkeys) {
  Put(admin, "RegistrySyntax", Key("A", Key("B", Str("Y", "text")) + Int("X", 3)));
  Put(admin, "CoreRegistrySyntax", Key("C", Str("Z", "") + Int("W", -4)));
  reg.EnsureMorixRegistryIsLoaded();

  std::vector<RegistrySyntaxEntry> entries(1);
  entries[0].path = L"kept";
  reg.GetRegistrySyntaxEntries(entries);
  std::string records;
  for (const RegistrySyntaxEntry& e : entries) {
    records += std::to_string(e.valueType) + " " + A(e.path) + " '" + A(e.stringValue) + "' " +
               std::to_string(e.intValue) + "\n";
  }
  EXPECT_EQ(records, "0 kept '' 0\n0 A/X '' 3\n1 A/B/Y 'text' 0\n1 C/Z '' 0\n0 C/W '' -4\n");
}

}  // namespace
}  // namespace regtest
