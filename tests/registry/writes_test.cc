// Writes through the interface: the change check against the value in force,
// the admin refusal, the user_machine target and forced writes.
#include "registry_fixture.h"

namespace regtest {
namespace {

const std::string kUnchanged =
    "Info: MorixRegistry WriteRegistryString: Value not written because it is not changed;\n";
const std::string kWritten = "Info: MorixRegistry WriteRegistryString: Value written to ";
const std::string kWrittenInt = "Info: MorixRegistry WriteRegistryInt: Value written to ";

struct WriteCase {
  char kind;  // 's' WriteRegistryString, 'i' WriteRegistryInt, 'c' ClearRegistryEntry
  uint32_t top;
  const wchar_t *section, *entry, *text;
  int32_t number;
  bool result;
  std::string line;
};

class WriteTest : public RegistryTest {
 protected:
  void Run(std::initializer_list<WriteCase> cases) {
    for (const WriteCase& c : cases) {
      const bool result = c.kind == 's' ? reg.WriteRegistryString(c.top, c.section, c.entry, c.text)
                          : c.kind == 'i'
                              ? reg.WriteRegistryInt(c.top, c.section, c.entry, c.number)
                              : reg.ClearRegistryEntry(c.top, c.section, c.entry);
      EXPECT_EQ(result, c.result) << A(c.entry);
      EXPECT_TRUE(Logged(c.line));
    }
  }
};

TEST_F(WriteTest, ValueInForceIsNotWrittenAndAdminIsRefused) {
  ::setenv("TALVEN_FORCE_REGISTRY_WRITES", "", 1);  // empty: not forced
  PutAdmin(Key("K", Str("A", "old")));
  PutInstall(Key("K", Str("E", "v") + Int("N", -5) + Str("Empty", "")));
  const std::string adminBytes = ReadFile(admin + "/admin.XML");
  Run({
      {'s', HKCU, L"K", L"E", L"v", 0, true,
       kUnchanged + "top=HKCU, section='K', entry='E', value='v', provider=install.\n"},
      {'i', HKCU, L"K", L"N", nullptr, -5, true,
       "Info: MorixRegistry WriteRegistryInt: Value not written because it is not changed;\n"
       "top=HKCU, section='K', entry='N', value=-5, provider=install.\n"},
      {'c', HKCU, L"K", L"Empty", nullptr, 0, true,
       kUnchanged + "top=HKCU, section='K', entry='Empty', value='', provider=install.\n"},
      {'s', HKLM, L"K", L"A", L"old", 0, true,
       kUnchanged + "top=HKLM, section='K', entry='A', value='old', provider=admin.\n"},
      {'s', HKLM, L"K", L"A", L"new", 0, false,
       "Error: MorixRegistry WriteRegistryString: Value not written to admin file;\n"
       "top=HKLM, section='K', entry='A', value='new'.\n"},
      {'i', HKLM, L"K", L"I", nullptr, 3, false,
       "Error: MorixRegistry WriteRegistryInt: Value not written to admin file;\n"
       "top=HKLM, section='K', entry='I', value=3.\n"},
  });
  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_FALSE(Exists(UserMachineFile()));
  EXPECT_FALSE(Exists(admin + "/RegistrySyntax.XML"));
  EXPECT_EQ(ReadFile(admin + "/admin.XML"), adminBytes);
}

TEST_F(WriteTest, ChangedValuesLandInUserMachine) {
  PutAdmin(Key("K"));
  PutInstall(Key("K", Str("E", "v") + Int("N", -5)));
  PutUser(Key("K", Str("U", "u")));
  const std::string installBytes = ReadFile(admin + "/default.XML");
  const std::string userBytes = ReadFile(UserDir() + "/user.XML");
  Run({
      {'s', HKCU, L"K", L"E", L"V", 0, true,  // the comparison is case-sensitive
       kWritten + "user_machine;\ntop=HKCU, section='K', entry='E', value='V'\n"
                  "previous value='v', provider=install.\n"},
      {'i', HKCU, L"K", L"N", nullptr, 8, true,
       kWrittenInt + "user_machine;\ntop=HKCU, section='K', entry='N', value=8\n"
                     "previous value=-5, provider=install.\n"},
      {'s', HKCU, L"K", L"U", L"x", 0, true,
       kWritten + "user_machine;\ntop=HKCU, section='K', entry='U', value='x'\n"
                  "previous value='u', provider=user.\n"},
      {'i', HKCU, L"New/Sub", L"Zero", nullptr, 0, true,
       kWrittenInt + "user_machine;\ntop=HKCU, section='New/Sub', entry='Zero', value=0\n"
                     "previous value=0, provider=Not Found or Default.\n"},
      {'c', HKCU, L"New", L"Cleared", nullptr, 0, true,
       kWritten + "user_machine;\ntop=HKCU, section='New', entry='Cleared', value=''\n"
                  "previous value='', provider=Not Found or Default.\n"},
  });
  EXPECT_TRUE(reg.WriteRegistryStringToProvider(HKCU, L"K", L"A", L"direct", ProviderAdmin));

  EXPECT_TRUE(reg.CommitRegistryChanges());
  const std::string saved = ReadFile(UserMachineFile());
  for (const std::string& value : {Str("E", "V"), Int("N", 8), Str("U", "x"), Int("Zero", 0),
                                   std::string("<value name=\"Cleared\" type=\"string\"/>")}) {
    EXPECT_NE(saved.find(value), std::string::npos) << value << "\n" << saved;
  }
  EXPECT_EQ(saved.find("direct"), std::string::npos);
  EXPECT_EQ(ReadFile(admin + "/default.XML"), installBytes);
  EXPECT_EQ(ReadFile(UserDir() + "/user.XML"), userBytes);
  EXPECT_NE(ReadFile(admin + "/admin.XML").find(Str("A", "direct")), std::string::npos);
}

TEST_F(WriteTest, AnyNonEmptyForceSettingWritesIntoTheSyntaxKey) {
  ::setenv("TALVEN_FORCE_REGISTRY_WRITES", "0", 1);
  PutAdmin(Key("K"));
  PutInstall(Key("K", Str("E", "v")));
  EXPECT_TRUE(reg.WriteRegistryString(HKCU, L"K", L"E", L"v"));
  EXPECT_TRUE(Logged(kWritten + "RegistrySyntax;\ntop=HKCU, section='K', entry='E', value='v'\n"
                                "previous value='v', provider=install.\n"));
  // Read once per process: a later change of the environment is not seen.
  ::unsetenv("TALVEN_FORCE_REGISTRY_WRITES");
  EXPECT_TRUE(MorixRegistryImpl::IsForceRegistryWritesSet());
  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_FALSE(Exists(UserMachineFile()));
  EXPECT_NE(ReadFile(admin + "/RegistrySyntax.XML").find(Str("E", "v")), std::string::npos);
}

}  // namespace
}  // namespace regtest
