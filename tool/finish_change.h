// How a change made in the loaded store ends. A dry run plans and makes the
// change in memory with the very code of the real run; only this step differs.
#pragma once

#include "registry/morix_registry_impl.h"

// A real run saves the change. A dry run writes nothing and only asks whether
// the save would get through: a folder not listed, a file or folder this user
// may not replace. What only the write meets (a full disk, an I/O error, a
// lock held past its wait) it cannot tell.
bool FinishChange(MorixRegistryImpl& registry, bool dryRun);

struct ChangeCounts {
  int created = 0, changed = 0, unchanged = 0, deleted = 0, absent = 0;
};

// The last line of a dry run that went through.
void PrintDryRunSummary(int level, const ChangeCounts& counts);
