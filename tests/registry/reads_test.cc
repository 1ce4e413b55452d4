// Reads by provider and by precedence through the registry's own calls, and
// existence tests.
#include "registry_fixture.h"

namespace regtest {
namespace {

using ReadTest = RegistryTest;

TEST_F(ReadTest, PrecedenceTypesAndKeys) {
  PutAdmin(Key("K", Str("All", "admin") + Int("N", 50)) + Key("AdminKey"));
  PutInstall(Key("K", Str("All", "i") + Str("InstallOnly", "i") + Str("IMAndInstall", "i") +
                          Int("Typed", 5) + Int("Neg", -1)) +
             Key("InstallKey"));
  Put(admin, host, Key("K", Str("All", "im") + Str("IMAndInstall", "im")));
  PutUser(Key("K", Str("All", "user") + Str("Typed", "7")));
  PutUserMachine(Key("K", Str("All", "um")));
  // "value@provider", and whether DoesRegistryValueExist agrees; the CLI tests cover the
  // plain user and install levels.
  auto read = [&](uint32_t top, const wchar_t* entry) {
    ConfigurationProvider provider = ProviderAdmin;
    const AString value = reg.GetRegistryString(provider, top, L"K", entry, L"dflt");
    const bool exists = reg.DoesRegistryValueExist(top, L"K", entry);
    return A(value + L"@" + MorixRegistryImpl::GetProviderName(provider)) +
           (exists == (provider != ProviderNone) ? "" : " (exists disagrees)");
  };
  EXPECT_EQ(read(HKCU, L"IMAndInstall"), "im@install_machine");
  EXPECT_EQ(read(HKLM, L"All"), "admin@admin");
  EXPECT_EQ(read(HKLM, L"InstallOnly"), "dflt@Not Found or Default");
  EXPECT_EQ(read(7, L"All"), "um@user_machine");  // any top but HKLM reads like HKCU
  const std::string info = "Info: MorixRegistry ";
  EXPECT_TRUE(Logged(info + "GetRegistryString: top=HKLM, section='K', entry='InstallOnly', "
                            "value='dflt', provider=Not Found or Default.\n"));
  EXPECT_TRUE(Logged(info + "DoesRegistryValueExist: result=true, top=HKCU, section='K', "
                            "entry='IMAndInstall', provider=install_machine.\n"));

  ConfigurationProvider provider;
  // user holds "Typed" as a string: an integer read passes it by.
  EXPECT_EQ(reg.GetRegistryInt(provider, HKCU, L"K", L"Typed", 99), 5u);
  EXPECT_EQ(provider, ProviderInstall);
  EXPECT_EQ(reg.GetRegistryInt(HKLM, L"K", L"N", 99), 50u);
  EXPECT_EQ(reg.GetRegistryInt(HKCU, L"K", L"Neg", 0), 4294967295u);

  EXPECT_TRUE(reg.DoesRegistryKeyExist(HKCU, L"InstallKey"));
  EXPECT_TRUE(Logged(info + "DoesRegistryKeyExist: result=true, top=HKCU, "
                            "section='InstallKey', provider=install.\n"));
  EXPECT_FALSE(reg.DoesRegistryKeyExist(HKCU, L"AdminKey"));
  EXPECT_TRUE(reg.DoesRegistryKeyExist(HKLM, L"AdminKey"));
  // Reads of a missing key create none.
  EXPECT_EQ(A(reg.GetRegistryString(HKCU, L"Ghost", L"E", L"d")), "d");
  EXPECT_FALSE(reg.DoesRegistryKeyExistInProvider(HKCU, L"Ghost", ProviderUserMachine));
}

}  // namespace
}  // namespace regtest
