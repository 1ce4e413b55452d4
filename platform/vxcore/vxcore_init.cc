#include "vxcore/vxcore_init.h"

namespace {

ITalvenApplication* boundApplication = nullptr;

}  // namespace

void InitVxcoreDLL(ITalvenApplication* application) { boundApplication = application; }

namespace core {

ITalvenApplication* GetTalvenApplication() { return boundApplication; }

}  // namespace core
