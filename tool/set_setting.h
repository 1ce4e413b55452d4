// Checking one value against the syntax and the value in place, and writing it.
#pragma once

#include "registry/morix_registry_impl.h"
#include "vxcore/astring.h"

enum SetOutcome {
  SetCreated = 0,    // the value did not exist at that level
  SetChanged = 1,    // it existed with another text or type
  SetUnchanged = 2,  // it existed with the same text and a compatible type
};

// Writes `value` at `level` into the loaded store (the caller saves it).
// `requestedType` is 0, 2 or 4. Section and entry may be rewritten to their
// declared spelling. False, with a message for the refusals, when nothing
// was written.
bool SetSettingValue(MorixRegistryImpl& registry, AString& section, AString& entry,
                     const AString& value, int requestedType, int level, int& outcome);

// Whether `level` writes into the installation's admin folder.
bool LevelUsesAdminFolder(int level);
