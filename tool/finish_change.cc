#include "tool/finish_change.h"

#include "tool/messages.h"
#include "tool/tool_options.h"
#include "vxcore/console_output.h"

bool FinishChange(MorixRegistryImpl& registry, bool dryRun) {
  IRegistryImpl& changes = registry;
  return dryRun ? registry.CanCommitRegistryChanges() : changes.CommitRegistryChanges();
}

void PrintDryRunSummary(int level, const ChangeCounts& counts) {
  core::PrintWide(msg::kDryRunSummary, LevelName(level).c_str(), counts.created, counts.changed,
                  counts.unchanged, counts.deleted, counts.absent);
}
