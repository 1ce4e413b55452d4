#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"
#include "vxcore/core_process.h"
#include "vxcore/file_utilities.h"
#include "vxcore/long_file_name.h"
#include "vxcore/registry_access_vx.h"

namespace {

AString Wide(const std::string& bytes) { return AString::FromBytes(bytes); }

TEST(FileUtilitiesTest, SetProperDirectoryNameGivesCanonicalFolders) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"", L""},
      {L"a", L"a/"},
      {L"/", L"/"},
      {L"/opt/inst//config/", L"/opt/inst/config/"},
      {L"C:\\Temp\\\\talven\\", L"C:/Temp/talven/"},
      {L"//a/\\b//", L"/a/b/"}};
  for (const auto& [input, expected] : rows) {
    AString folder(input);
    CFileUtilities::SetProperDirectoryName(folder);
    EXPECT_EQ(folder, expected) << input;
  }
  AString path(L"/a/b/");
  CFileUtilities::SetToBackSlashes(path);
  EXPECT_EQ(path, L"\\a\\b\\");
}

TEST(LongFileNameTest, ChangeExtWorksOnTheLastComponent) {
  // {folder, name, extension, resulting path}
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*> rows[] = {
      {L"/cfg/", L"admin", L"XML", L"/cfg/admin.XML"},
      {L"", L"a.txt", L"XML", L"a.XML"},
      {L"/d.ir", L"file", L"XML", L"/d.ir/file.XML"},
      {L"/d", L".profile", L"XML", L"/d/.profile.XML"},
      {L"C:\\cfg", L"x.old.bak", L"XML", L"C:/cfg/x.old.XML"},
      {L"/d/", L"/f.txt", L"", L"/d/f"}};
  for (const auto& [folder, name, extension, expected] : rows) {
    LongFileName file(folder, name);
    file.ChangeExt(extension);
    EXPECT_EQ(file.FilePath(), expected) << folder << " + " << name;
  }
}

TEST(LongFileNameTest, MakeItDirectoryAndExistence) {
  vxtest::TempDir dir;
  vxtest::WriteFile(dir.Path() + "/file", "x");
  LongFileName folder(Wide(dir.Path())), file(Wide(dir.Path()), L"file");
  EXPECT_FALSE(folder.IsDirectory());
  folder.MakeItDirectory();
  EXPECT_TRUE(folder.IsDirectory() && LFN_Exists(folder));
  EXPECT_EQ(folder.FilePath(), Wide(dir.Path() + "/"));
  EXPECT_TRUE(LFN_Exists(file));
  file.MakeItDirectory();
  EXPECT_FALSE(LFN_Exists(file));  // a file is no folder
  EXPECT_FALSE(LFN_Exists(LongFileName(Wide(dir.Path()), L"missing")));
}

TEST(RegistryAccessVxTest, CreateDirRecursiveMakesAllParents) {
  vxtest::TempDir dir;
  const AString deep = Wide(dir.Path() + "/a/b\\c/");
  EXPECT_TRUE(RegistryAccessVx::CreateDirRecursive(deep));
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() + "/a/b/c"));
  EXPECT_TRUE(RegistryAccessVx::CreateDirRecursive(deep));
  vxtest::WriteFile(dir.Path() + "/file", "x");
  EXPECT_FALSE(RegistryAccessVx::CreateDirRecursive(Wide(dir.Path() + "/file/sub")));
}

TEST(CoreProcessTest, ExeDirPathIsTheTestBinarysFolder) {
  const std::string folder = core::GetExeDirPath().ASCII();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(folder + "vxcore_tests"));
}

}  // namespace
