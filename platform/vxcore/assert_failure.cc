#include "vxcore/assert_failure.h"

#include "vxcore/astring.h"
#include "vxcore/tal_debug.h"

bool IgnoreAllAsserts_G = false;

void ProcessAssertFailure_G(const char* file, int line, const char* expression,
                            bool* ignoreThisSite) {
  if (IgnoreAllAsserts_G || (ignoreThisSite != nullptr && *ignoreThisSite)) return;
  TalDebug(1, L"Assertion failed: %s, file %s, line %d\n", AString(expression).c_str(),
           AString(file).c_str(), line);
}
