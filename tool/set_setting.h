// Checking one value against the syntax and the value in place, and writing it.
#pragma once

#include "registry/morix_registry_impl.h"
#include "vxcore/astring.h"

enum SetOutcome {
  SetCreated = 0,    // the value did not exist at that level
  SetChanged = 1,    // it existed with another text or type
  SetUnchanged = 2,  // it existed with the same text and a compatible type
};

// Why a value was not written.
enum SetRefusal {
  SetAccepted = 0,
  SetNotDefined,    // the syntax defines the section but not the entry
  SetTypeChange,    // the value in place has another type
  SetNotAnInteger,  // an integer setting given text
  SetWriteFailed,   // the store refused it (a damaged file's key, say)
};

struct SetResult {
  SetRefusal refusal = SetAccepted;
  SetOutcome outcome = SetCreated;
  int type = 0;              // what is written: 2 or 4
  bool holdsValue = false;   // the level holds this value already (-1 and 4294967295 alike)
};

// The text message of a refusal, line break included; empty for
// SetWriteFailed, which has none.
const char* RefusalText(SetRefusal refusal);

// Decides what a Set of `value` at `level` would do, without writing.
// `requestedType` is 0, 2 or 4. Section and entry may be rewritten to their
// declared spelling. With `entryAbsent` the level's value is not looked at:
// the answer is a Set's once the entry is gone (an Import that deletes its key).
SetResult CheckSettingValue(MorixRegistryImpl& registry, AString& section, AString& entry,
                            const AString& value, int requestedType, int level,
                            bool entryAbsent = false);

// Writes a value CheckSettingValue accepted, as `type`, into the loaded store.
bool WriteSettingValue(MorixRegistryImpl& registry, const AString& section, const AString& entry,
                       const AString& value, int type, int level);

// Checks and writes `value` at `level` into the loaded store (the caller saves it).
SetResult SetSettingValue(MorixRegistryImpl& registry, AString& section, AString& entry,
                          const AString& value, int requestedType, int level);

// Whether `level` writes into the installation's admin folder.
bool LevelUsesAdminFolder(int level);
