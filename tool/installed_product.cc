#include "tool/installed_product.h"

#include <sstream>
#include <string>

#include "fsio/file_ops.h"
#include "vxcore/core_process.h"

bool CheckInstalledProduct(ToolOptions& record) {
  const wchar_t* productName = record.values[SlotProductName];
  if (productName == nullptr) return false;
  // Read as the store files are: a FIFO or device in its place must not
  // hang every command, so it counts as no list.
  std::string bytes;
  const std::string path = (core::GetExeDirPath() + L"/config/ProductList.txt").ASCII();
  if (!fsio::PosixFileOps().ReadFile(path, &bytes, nullptr).ok()) return true;
  std::istringstream list(bytes);
  std::string line;
  while (std::getline(list, line)) {
    AString name = AString::FromBytes(line);
    name.Trim();
    if (name.empty()) continue;
    record.productListLines.push_back(std::move(name));
    AString& listed = record.productListLines.back();
    if (listed.CompareNoCase(productName) != 0) continue;
    if (listed.Compare(productName) != 0) record.values[SlotProductName] = listed.data();
    return true;
  }
  return false;
}
