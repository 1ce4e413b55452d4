// What a MorixRegistryImpl asks of its owner: folders and product names.
#pragma once

#include "vxcore/astring.h"

class IMorixRegistryClient {
 public:
  virtual ~IMorixRegistryClient() = default;

  virtual bool SetClientFlag(bool flag) = 0;
  // The installation folder; empty means the executable's folder.
  virtual AString GetInstallDirOverride() = 0;
  virtual AString GetVersionedProductName() = 0;
  // The product known to the hosting application; empty when there is none.
  virtual AString GetDesktopProductName() = 0;
};
