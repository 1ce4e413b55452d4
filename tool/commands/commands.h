// The command bodies. Each returns the process exit status: 0 or -1.
#pragma once

#include "tool/tool_options.h"

int RunGet(ToolOptions& options, int level);
int RunSet(ToolOptions& options, int level);
int RunDelete(ToolOptions& options, int level);
int RunGetKeys(ToolOptions& options);

// Get, Set or Delete of the TempDirectory setting, which lives in the
// foundation library's own registry.
int RunTempDirectory(int32_t command, ToolOptions& options, int level);
