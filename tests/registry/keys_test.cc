// Creating and deleting keys and entries, and listing names.
#include <vector>

#include "registry_fixture.h"

namespace regtest {
namespace {

using KeysTest = RegistryTest;
using Names = std::vector<std::string>;

Names Narrow(const std::vector<AString>& names) {
  Names out;
  for (const AString& name : names) out.push_back(A(name));
  return out;
}

TEST_F(KeysTest, AdminSideIsRefusedBeforeLoading) {
  PutAdmin(Key("K", Str("A", "a")));
  const std::string adminBytes = ReadFile(admin + "/admin.XML");
  EXPECT_FALSE(reg.CreateRegistryKey(HKLM, L"K"));
  EXPECT_FALSE(reg.DeleteRegistryKey(HKLM, L"K"));
  EXPECT_FALSE(reg.DeleteRegistryKey(7, L"K", ProviderInstall));
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
  PutInstall(Key("K2", Str("E", "i")));
  PutUserMachine(Key("K", Str("V", "1") + Key("Sub", Key("Deep", Str("X", "x")))) + Key("Keep") +
                 Key("K3", Str("E", "e") + Str("F", "f")));
  const std::string info = "Info: MorixRegistry ";

  EXPECT_TRUE(reg.DeleteRegistryKey(HKCU, L"K"));
  EXPECT_TRUE(Logged(info + "DeleteRegistryKey: Key deleted from user_machine; top=HKCU, "
                            "section='K'.\n"));
  EXPECT_FALSE(reg.DoesRegistryKeyExistInProvider(HKCU, L"K/Sub/Deep", ProviderUserMachine));
  EXPECT_FALSE(reg.DeleteRegistryKey(HKCU, L"Missing", ProviderInstall));
  EXPECT_TRUE(Logged(info + "DeleteRegistryKey: Key not found in install; top=HKCU, "
                            "section='Missing'.\n"));
  EXPECT_FALSE(reg.DoesRegistryKeyExistInProvider(HKCU, L"Missing", ProviderInstall));
  EXPECT_TRUE(reg.DeleteRegistryKey(HKCU, L"K2", ProviderInstall));

  EXPECT_TRUE(reg.CreateRegistryKey(HKCU, L"Keep"));
  EXPECT_TRUE(Logged(info + "CreateRegistryKey: Key created in user_machine; top=HKCU, "
                            "section='Keep'.\n"));
  // A missing section is created first, and stays though there is no value to delete.
  EXPECT_FALSE(reg.DeleteRegistryEntry(HKCU, L"New", L"E"));
  EXPECT_TRUE(
      Logged("Error: MorixRegistry DeleteRegistryKey: Error deleting key from "
             "user_machine;\ntop=HKCU, section='New', entry='E'.\n"));
  EXPECT_TRUE(reg.DeleteRegistryEntry(HKCU, L"K3", L"E"));
  EXPECT_TRUE(Logged(info + "DeleteRegistryEntry: Entry deleted from user_machine;\ntop=HKCU, "
                            "section='K3', entry='E'.\n"));

  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_EQ(ReadFile(UserMachineFile()),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<key name=\"" + host +
                "_user\">\n"
                "  <key name=\"Keep\"/>\n"
                "  <key name=\"K3\">\n"
                "    <value name=\"F\" type=\"string\">f</value>\n"
                "  </key>\n"
                "  <key name=\"New\"/>\n"
                "</key>\n");
  EXPECT_EQ(ReadFile(admin + "/default.XML").find("K2"), std::string::npos);
}

TEST_F(KeysTest, SubkeyNamesMergeSortedOnceAdminInStoreOrder) {
  PutUserMachine(Key("K", Key("b") + Key("A")));
  PutUser(Key("K", Key("a") + Key("B") + Key("b")) + Key("Empty"));
  PutInstall(Key("K", Key("C")));
  PutAdmin(Key("K", Key("z") + Key("y")));
  const std::string info = "Info: MorixRegistry GetSubkeyNames(): ";

  std::vector<AString> names = {L"stale"};
  EXPECT_TRUE(reg.GetSubkeyNames(names, HKCU, L"K"));
  EXPECT_EQ(Narrow(names), (Names{"A", "B", "C", "a", "b"}));
  EXPECT_TRUE(Logged(info + "top=HKCU, section='K';\nNames:\nA\nB\nC\na\nb\n\n"));
  EXPECT_TRUE(reg.GetSubkeyNames(names, HKLM, L"K"));
  EXPECT_EQ(Narrow(names), (Names{"z", "y"}));

  EXPECT_TRUE(reg.GetSubkeyNames(names, HKCU, L"Empty", ProviderUser));
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(Logged(info + "top=HKCU, section='Empty', provider=user;\nNames:\n\n"));
  EXPECT_FALSE(reg.GetSubkeyNames(names, HKCU, L"Empty", ProviderInstall));
  EXPECT_TRUE(
      Logged(info + "No subkey names found; top=HKCU, section='Empty', provider=install.\n"));
  names = {L"stale"};
  EXPECT_FALSE(reg.GetSubkeyNames(names, HKCU, L"Nowhere"));
  EXPECT_TRUE(names.empty());
}

TEST_F(KeysTest, SyntaxNamesMergeBehindWhatTheListHeld) {
  Put(admin, "RegistrySyntax", Key("S", Int("v1", 0) + Key("Z") + Key("m")));
  Put(admin, "CoreRegistrySyntax", Key("S", Str("v1", "") + Str("V0", "") + Key("m") + Key("A")));

  std::vector<AString> names = {L"keep"};
  reg.GetSubkeyNamesFromSyntaxFiles(names, L"S");
  EXPECT_EQ(Narrow(names), (Names{"keep", "A", "Z", "m"}));
  EXPECT_TRUE(
      Logged("Info: MorixRegistry GetSubkeyNamesFromSingleSyntaxFile(): Key not found; "
             "Root Key Name=EMCoreRegistrySyntax, section='S'.\n"));
  names.clear();
  reg.GetValueNamesFromSyntaxFiles(names, L"S");
  EXPECT_EQ(Narrow(names), (Names{"V0", "v1"}));
}

}  // namespace
}  // namespace regtest
