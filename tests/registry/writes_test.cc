// Changes to keys and entries, subkey names (the syntax files' names are
// listed by the CLI tests), and writes checked against the value in force.
#include <vector>

#include "registry_fixture.h"

namespace regtest {
namespace {

using KeysTest = RegistryTest;
using Names = std::vector<AString>;

TEST_F(KeysTest, AdminSideIsRefusedBeforeLoading) {
  PutAdmin(Key("K", Str("A", "a")));
  const std::string adminBytes = ReadFile(admin + "/admin.XML");
  EXPECT_FALSE(reg.CreateRegistryKey(HKLM, L"K"));
  EXPECT_FALSE(reg.DeleteRegistryKey(HKLM, L"K"));
  EXPECT_FALSE(reg.DeleteRegistryKey(7, L"K", ProviderInstall));  // only HKCU may change
  EXPECT_FALSE(reg.DeleteRegistryEntry(HKLM, L"K", L"A", ProviderAdmin));
  // The refusals and nothing else: the store was not even loaded.
  EXPECT_EQ(Log(),
            "Error: MorixRegistry CreateRegistryKey: Cannot create key in admin file; top=HKLM, "
            "section='K'.\n"
            "Error: MorixRegistry DeleteRegistryKey: Key not deleted from admin file; top=HKLM, "
            "section='K'.\n"
            "Error: MorixRegistry DeleteRegistryKey: Key not deleted from admin file; "
            "top=Unknown, section='K'.\n"
            "Error: MorixRegistry DeleteRegistryEntry: Entry not deleted from admin file;\n"
            "top=HKLM, section='K', entry='A'.\n");
  EXPECT_EQ(A(reg.GetRegistryString(HKLM, L"K", L"A", L"")), "a");
  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_EQ(ReadFile(admin + "/admin.XML"), adminBytes);
}

TEST_F(KeysTest, CreateAndDelete) {
  PutUserMachine(Key("K", Key("Sub", Key("Deep", Str("X", "x")))) +
                 Key("K3", Str("E", "e") + Str("F", "f")));
  // What a deletion logs is in the CLI suite's recorded debug logs.
  EXPECT_TRUE(reg.DeleteRegistryKey(HKCU, L"K"));
  EXPECT_TRUE(reg.CreateRegistryKey(HKCU, L"Created"));
  // A missing section is created first, and stays though there is no value to delete.
  EXPECT_FALSE(reg.DeleteRegistryEntry(HKCU, L"New", L"E"));
  EXPECT_TRUE(
      Logged("Error: MorixRegistry DeleteRegistryKey: Error deleting key from "
             "user_machine;\ntop=HKCU, section='New', entry='E'.\n"));
  EXPECT_TRUE(reg.DeleteRegistryEntry(HKCU, L"K3", L"E"));

  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_EQ(ReadFile(UserMachineFile()),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<key name=\"" + host + "_user\">\n" +
                "  <key name=\"K3\">\n    <value name=\"F\" type=\"string\">f</value>\n  </key>\n"
                "  <key name=\"Created\"/>\n  <key name=\"New\"/>\n</key>\n");
}

TEST_F(KeysTest, SubkeyNamesMergeSortedOnceAdminInStoreOrder) {
  PutUserMachine(Key("K", Key("b") + Key("A")));
  PutUser(Key("K", Key("a") + Key("B") + Key("b")) + Key("Empty"));
  PutInstall(Key("K", Key("C")));
  PutAdmin(Key("K", Key("z") + Key("y")));
  Names names = {L"stale"};
  EXPECT_TRUE(reg.GetSubkeyNames(names, HKCU, L"K"));
  EXPECT_EQ(names, (Names{L"A", L"B", L"C", L"a", L"b"}));
  EXPECT_TRUE(
      Logged("Info: MorixRegistry GetSubkeyNames(): top=HKCU, section='K';\n"
             "Names:\nA\nB\nC\na\nb\n\n"));
  EXPECT_TRUE(reg.GetSubkeyNames(names, HKLM, L"K"));
  EXPECT_EQ(names, (Names{L"z", L"y"}));

  EXPECT_TRUE(reg.GetSubkeyNames(names, HKCU, L"Empty", ProviderUser));
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(reg.GetSubkeyNames(names, HKCU, L"Empty", ProviderInstall));
}

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
