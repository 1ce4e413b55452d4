#include "vxcore/file_utilities.h"

#include <algorithm>
#include <utility>

void CFileUtilities::SetProperDirectoryName(AString& folder) {
  if (folder.empty()) return;
  AString canonical;
  canonical.reserve(folder.size() + 1);
  for (wchar_t c : folder) {
    if (c == L'\\') c = L'/';
    if (c == L'/' && !canonical.empty() && canonical.back() == L'/') continue;
    canonical.push_back(c);
  }
  if (canonical.back() != L'/') canonical.push_back(L'/');
  folder = std::move(canonical);
}

void CFileUtilities::SetToBackSlashes(AString& path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
}
