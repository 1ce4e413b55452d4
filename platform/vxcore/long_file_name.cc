#include "vxcore/long_file_name.h"

#include <sys/stat.h>

#include <algorithm>

namespace {

AString WithSlashes(AString path) {
  std::replace(path.begin(), path.end(), L'\\', L'/');
  return path;
}

}  // namespace

LongFileName::LongFileName(const AString& path) : path_(WithSlashes(path)) {}

LongFileName::LongFileName(const AString& folder, const AString& name)
    : path_(WithSlashes(folder)) {
  AString leaf = WithSlashes(name);
  if (!path_.empty()) {
    if (path_.back() != L'/') path_.push_back(L'/');
    leaf.erase(0, leaf.find_first_not_of(L'/'));
  }
  path_ += leaf;
}

void LongFileName::ChangeExt(const AString& extension) {
  if (path_.empty() || IsDirectory()) return;
  const size_t slash = path_.rfind(L'/');
  const size_t leafStart = slash == AString::npos ? 0 : slash + 1;
  const size_t dot = path_.rfind(L'.');
  if (dot != AString::npos && dot > leafStart) path_.erase(dot);
  if (extension.empty()) return;
  path_.push_back(L'.');
  path_ += extension;
}

void LongFileName::MakeItDirectory() {
  if (path_.empty()) path_ = L".";
  if (!IsDirectory()) path_.push_back(L'/');
}

bool LFN_Exists(const LongFileName& name) {
  struct stat info;
  return ::stat(name.FilePath().ASCII().c_str(), &info) == 0;
}
