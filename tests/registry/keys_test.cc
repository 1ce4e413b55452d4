// Creating and deleting keys and entries, and listing subkey names. The CLI
// tests list the syntax files' names through -GetKeys.
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

}  // namespace
}  // namespace regtest
