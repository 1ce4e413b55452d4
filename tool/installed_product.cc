#include "tool/installed_product.h"

#include <fstream>
#include <string>

#include "vxcore/core_process.h"

bool CheckInstalledProduct(ToolOptions& record) {
  const wchar_t* productName = record.values[SlotProductName];
  if (productName == nullptr) return false;
  std::ifstream list((core::GetExeDirPath() + L"/config/ProductList.txt").ASCII(),
                     std::ios::binary);
  if (!list.good()) return true;
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
