#include "tool/tool_registry_access.h"

#include "vxcore/core_process.h"

AString SetwiseTalvenApplication::GetInstallDirectory() const {
  const ITalvenApplication& application = *this;
  return application.GetExeDirectory();
}

AString SetwiseTalvenApplication::GetExeDirectory() const { return core::GetExeDirPath(); }
