#include <gtest/gtest.h>

#include "vxcore/file_utilities.h"
#include "vxcore/long_file_name.h"

namespace {

TEST(PathsTest, FoldersAreCanonicalAndOnlyTheLeafTakesTheExtension) {
  for (const auto& [input, expected] :
       {std::pair{L"", L""}, {L"/", L"/"}, {L"C:\\T\\\\t", L"C:/T/t/"}}) {
    AString folder(input);
    CFileUtilities::SetProperDirectoryName(folder);
    EXPECT_EQ(folder, expected) << input;
  }
  // {folder, name, resulting path}
  for (const auto& [folder, name, expected] :
       {std::tuple{L"/opt/app.v2", L"default", L"/opt/app.v2/default.XML"},
        {L"C:\\cfg", L"x.old.bak", L"C:/cfg/x.old.XML"}}) {
    LongFileName file(folder, name);
    file.ChangeExt(L"XML");
    EXPECT_EQ(file.FilePath(), expected) << folder << " + " << name;
  }
}

}  // namespace
