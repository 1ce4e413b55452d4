// Writes through the interface: the change check against the value in force,
// the admin refusal, the user_machine target and forced writes.
#include "registry_fixture.h"

namespace regtest {
namespace {

using WriteTest = RegistryTest;

const std::string kInfo = "Info: MorixRegistry WriteRegistryString: ";
const std::string kInfoInt = "Info: MorixRegistry WriteRegistryInt: ";
const std::string kUnchanged = "Value not written because it is not changed;\ntop=";

TEST_F(WriteTest, ValueInForceIsNotWrittenAndAdminIsRefused) {
  ::setenv("TALVEN_FORCE_REGISTRY_WRITES", "", 1);  // empty: not forced
  PutAdmin(Key("K", Str("A", "old")));
  PutInstall(Key("K", Str("E", "v") + Int("N", -5)));
  const std::string adminBytes = ReadFile(admin + "/admin.XML");

  EXPECT_TRUE(reg.WriteRegistryString(HKCU, L"K", L"E", L"v"));
  EXPECT_TRUE(
      Logged(kInfo + kUnchanged + "HKCU, section='K', entry='E', value='v', provider=install.\n"));
  EXPECT_TRUE(reg.WriteRegistryInt(HKCU, L"K", L"N", -5));
  EXPECT_TRUE(Logged(kInfoInt + kUnchanged +
                     "HKCU, section='K', entry='N', value=-5, provider=install.\n"));
  // The change check comes first: an unchanged admin value is no refusal.
  EXPECT_TRUE(reg.WriteRegistryString(HKLM, L"K", L"A", L"old"));
  EXPECT_FALSE(reg.WriteRegistryString(HKLM, L"K", L"A", L"new"));
  EXPECT_TRUE(
      Logged("Error: MorixRegistry WriteRegistryString: Value not written to admin file;\n"
             "top=HKLM, section='K', entry='A', value='new'.\n"));
  EXPECT_FALSE(reg.WriteRegistryInt(HKLM, L"K", L"I", 3));

  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_FALSE(Exists(UserMachineFile()));
  EXPECT_EQ(ReadFile(admin + "/admin.XML"), adminBytes);
}

TEST_F(WriteTest, ChangedValuesLandInUserMachine) {
  PutAdmin(Key("K"));
  PutInstall(Key("K", Str("E", "v") + Int("N", -5)));
  const std::string installBytes = ReadFile(admin + "/default.XML");
  const std::string toUserMachine = "Value written to user_machine;\ntop=HKCU, section=";

  EXPECT_TRUE(reg.WriteRegistryString(HKCU, L"K", L"E", L"V"));  // compared case-sensitively
  EXPECT_TRUE(Logged(kInfo + toUserMachine +
                     "'K', entry='E', value='V'\nprevious value='v', provider=install.\n"));
  EXPECT_TRUE(reg.WriteRegistryInt(HKCU, L"K", L"N", 8));
  EXPECT_TRUE(Logged(kInfoInt + toUserMachine +
                     "'K', entry='N', value=8\nprevious value=-5, provider=install.\n"));
  // Nothing in force: even the default values are written (checked in the file below).
  EXPECT_TRUE(reg.WriteRegistryInt(HKCU, L"New/Sub", L"Zero", 0));
  EXPECT_TRUE(reg.ClearRegistryEntry(HKCU, L"New", L"Cleared"));
  EXPECT_TRUE(reg.WriteRegistryStringToProvider(HKCU, L"K", L"A", L"direct", ProviderAdmin));

  EXPECT_TRUE(reg.CommitRegistryChanges());
  const std::string saved = ReadFile(UserMachineFile());
  for (const std::string& value : {Str("E", "V"), Int("N", 8), Int("Zero", 0),
                                   std::string("<value name=\"Cleared\" type=\"string\"/>")}) {
    EXPECT_NE(saved.find(value), std::string::npos) << value << "\n" << saved;
  }
  EXPECT_EQ(saved.find("direct"), std::string::npos);
  EXPECT_EQ(ReadFile(admin + "/default.XML"), installBytes);
  EXPECT_NE(ReadFile(admin + "/admin.XML").find(Str("A", "direct")), std::string::npos);
}

TEST_F(WriteTest, AnyNonEmptyForceSettingWritesIntoTheSyntaxKey) {
  ::setenv("TALVEN_FORCE_REGISTRY_WRITES", "0", 1);
  PutAdmin(Key("K"));
  PutInstall(Key("K", Str("E", "v")));
  EXPECT_TRUE(reg.WriteRegistryString(HKCU, L"K", L"E", L"v"));
  EXPECT_TRUE(Logged(kInfo + "Value written to RegistrySyntax;\ntop=HKCU, section='K', "
                             "entry='E', value='v'\nprevious value='v', provider=install.\n"));
  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_FALSE(Exists(UserMachineFile()));
  EXPECT_NE(ReadFile(admin + "/RegistrySyntax.XML").find(Str("E", "v")), std::string::npos);
}

}  // namespace
}  // namespace regtest
