#pragma once

// The host application object that a program hands to InitVxcoreDLL. vxcore asks it for the
// installation folder and the name of its registry files. The inline defaults use vxcore, so a
// program that implements this interface links vxcore.

#include "CoreInterfaces/interface_queriable.h"
#include "vxcore/assert_failure.h"
#include "vxcore/astring.h"

class ITalvenApplication : public virtual IInterfaceQueriable {
 public:
  virtual void* GetInterfaceA() = 0;
  virtual void NotifyA() = 0;
  virtual void* GetInterfaceB() = 0;
  virtual bool IsFeatureA() const { return false; }
  virtual bool IsFeatureB() const { return false; }
  virtual AString GetTempDirectory() const { return AString(L"C:/Temp/talven/"); }
  virtual AString GetTextA() const { return AString(); }
  virtual AString GetTextB() const { return AString(); }
  virtual AString GetTextC() const { return AString(); }
  virtual void NotifyB() {}
  virtual void NotifyC() {}
  virtual bool IsFeatureC() const { return false; }

  // Kept for old callers; reaching it is a bug in the caller, so it reports an assertion.
  virtual bool DeprecatedCall() {
    static bool ignoreThisSite = false;
    ProcessAssertFailure_G("ITalvenApplication.h", 175,
                           "!\"Deprecated Function. Should not be called.\"", &ignoreThisSite);
    return false;
  }

  // The installation folder; vxcore keeps its install-level registry files below it.
  virtual AString GetInstallDirectory() const { return AString(); }
  // Base name of vxcore's registry files.
  virtual AString GetRegistryFileName() const { return AString(L"regfile"); }
  virtual AString GetExeDirectory() const { return AString(); }
  virtual void ClearText(AString& text) const { text.clear(); }
};
