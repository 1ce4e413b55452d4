#include "tool/installed_product.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "fsio/file_ops.h"
#include "vxcore/core_process.h"

bool CheckInstalledProduct(ToolOptions& record) {
  const wchar_t* productName = record.values[SlotProductName];
  if (productName == nullptr) return false;
  // Read as the store files are: a FIFO or device in its place must not
  // hang every command, so it counts as no list.
  // Without its own folder (no /proc, a path too long) the tool knows no
  // installation: every store path would start at the file system's root.
  const AString installation = core::GetExeDirPath();
  if (installation.empty()) return false;
  std::string bytes;
  const std::string path = (installation + L"/config/ProductList.txt").ASCII();
  if (!fsio::PosixFileOps().ReadFile(path, &bytes, nullptr).ok()) return true;
  // Split by hand: a stream would set up the locales, a tenth of a warm Get.
  for (size_t start = 0, end; start < bytes.size(); start = end + 1) {
    end = std::min(bytes.find('\n', start), bytes.size());
    AString name = AString::FromBytes(std::string_view(bytes).substr(start, end - start));
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
