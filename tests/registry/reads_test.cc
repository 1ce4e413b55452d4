// Reads by provider and by precedence, existence tests and long strings.
#include "registry_fixture.h"

namespace regtest {
namespace {

class ReadTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    if (HasFatalFailure()) return;
    PutAdmin(Key("K", Str("All", "admin") + Str("AdminOnly", "a") + Int("N", 50)) +
             Key("AdminKey"));
    PutInstall(Key("K", Str("All", "install") + Str("OnlyInstall", "i") +
                            Str("UserAndInstall", "i") + Str("IMAndInstall", "i") +
                            Int("Typed", 5) + Int("Neg", -1)) +
               Key("InstallKey"));
    PutInstallMachine(Key("K", Str("All", "im") + Str("IMAndInstall", "im")));
    PutUser(Key("K", Str("All", "user") + Str("UserAndInstall", "u") + Str("Typed", "7")));
    PutUserMachine(Key("K", Str("All", "um")));
  }
};

TEST_F(ReadTest, PrecedenceTypesAndKeys) {
  struct {
    uint32_t top;
    const wchar_t* entry;
    std::string value;
    ConfigurationProvider provider;
  } const cases[] = {
      {HKCU, L"All", "um", ProviderUserMachine},
      {HKCU, L"UserAndInstall", "u", ProviderUser},
      {HKCU, L"IMAndInstall", "im", ProviderInstallMachine},
      {HKCU, L"OnlyInstall", "i", ProviderInstall},
      {HKCU, L"AdminOnly", "dflt", ProviderNone},
      {HKLM, L"All", "admin", ProviderAdmin},
      {HKLM, L"OnlyInstall", "dflt", ProviderNone},
      {7, L"All", "um", ProviderUserMachine},
  };
  for (const auto& c : cases) {
    ConfigurationProvider provider = ProviderAdmin;
    EXPECT_EQ(A(reg.GetRegistryString(provider, c.top, L"K", c.entry, L"dflt")), c.value)
        << c.top << A(c.entry);
    EXPECT_EQ(provider, c.provider) << c.top << A(c.entry);
    EXPECT_EQ(reg.DoesRegistryValueExist(c.top, L"K", c.entry), c.provider != ProviderNone)
        << c.top << A(c.entry);
  }
  const std::string info = "Info: MorixRegistry ";
  EXPECT_TRUE(Logged(info + "GetRegistryString: top=HKLM, section='K', entry='OnlyInstall', "
                            "value='dflt', provider=Not Found or Default.\n"));
  EXPECT_TRUE(Logged(info + "DoesRegistryValueExist: result=true, top=HKCU, section='K', "
                            "entry='UserAndInstall', provider=user.\n"));

  ConfigurationProvider provider;
  // user holds "Typed" as a string: an integer read passes it by.
  EXPECT_EQ(reg.GetRegistryInt(provider, HKCU, L"K", L"Typed", 99), 5u);
  EXPECT_EQ(provider, ProviderInstall);
  EXPECT_EQ(reg.GetRegistryInt(provider, HKLM, L"K", L"N", 99), 50u);
  EXPECT_EQ(provider, ProviderAdmin);
  EXPECT_EQ(reg.GetRegistryInt(HKCU, L"K", L"N", 99), 99u);
  EXPECT_EQ(reg.GetRegistryInt(HKCU, L"K", L"Neg", 0), 4294967295u);
  EXPECT_TRUE(Logged(info + "GetRegistryInt: top=HKCU, section='K', entry='Neg', "
                            "value=4294967295, provider=install.\n"));
  EXPECT_EQ(reg.GetRegistryValueType(HKCU, L"K", L"Typed", ProviderInstall), 4u);
  EXPECT_EQ(reg.GetRegistryValueType(HKCU, L"K", L"Typed", ProviderUser), 2u);
  EXPECT_EQ(reg.GetRegistryValueType(HKCU, L"K", L"Missing", ProviderUser), 0u);

  EXPECT_TRUE(reg.DoesRegistryKeyExist(HKCU, L"InstallKey"));
  EXPECT_TRUE(Logged(info + "DoesRegistryKeyExist: result=true, top=HKCU, "
                            "section='InstallKey', provider=install.\n"));
  EXPECT_FALSE(reg.DoesRegistryKeyExist(HKLM, L"InstallKey"));
  EXPECT_FALSE(reg.DoesRegistryKeyExist(HKCU, L"AdminKey"));
  EXPECT_TRUE(reg.DoesRegistryKeyExist(HKLM, L"AdminKey"));

  // Reads of a missing key create none.
  EXPECT_EQ(A(reg.GetRegistryString(HKCU, L"Ghost", L"E", L"d")), "d");
  EXPECT_FALSE(reg.DoesRegistryKeyExistInProvider(HKCU, L"Ghost", ProviderUserMachine));
}

// Buffers of 1000, 10000, 100000 and 1000000 bytes; the text needs one more for its NUL.
TEST_F(RegistryTest, LongStringsGrowTheBuffer) {
  SetLogLevel(1);
  const size_t lengths[] = {999, 1000, 9999, 10000, 99999, 100000, 999999, 1000000};
  std::string um, install;
  for (size_t n : lengths) {
    um += Str("L" + std::to_string(n), std::string(n - 1, 'a') + "z");
    install += Str("L" + std::to_string(n), "fallback");
  }
  PutUserMachine(Key("K", um));
  PutInstall(Key("K", install));
  for (size_t n : lengths) {
    ConfigurationProvider provider;
    const AString entry(("L" + std::to_string(n)).c_str());
    const std::string value = A(reg.GetRegistryString(provider, HKCU, L"K", entry, L""));
    // Too long to read counts as absent, and the next provider answers.
    const bool readable = n < 1000000;
    EXPECT_EQ(provider, readable ? ProviderUserMachine : ProviderInstall) << n;
    EXPECT_EQ(value, readable ? std::string(n - 1, 'a') + "z" : "fallback") << n;
  }
}

}  // namespace
}  // namespace regtest
