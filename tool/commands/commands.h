// The command bodies. Each returns the process exit status: the classic
// commands 0 or -1, and under -Json (`json` not null) a JsonStatus.
#pragma once

#include "tool/json_output.h"
#include "tool/tool_options.h"

int RunGet(ToolOptions& options, int level, JsonOutput* json);
int RunSet(ToolOptions& options, int level, JsonOutput* json);
int RunDelete(ToolOptions& options, int level, JsonOutput* json);
// `level` is read under -Json only (0: the level a Get without one finds).
int RunGetKeys(ToolOptions& options, int level, JsonOutput* json);

// Every level of one setting, and which one a Get without a level finds.
int RunGetAllLevels(ToolOptions& options, JsonOutput* json);

// The entries GetKeys lists, with their values, as a store document.
int RunExport(ToolOptions& options, int level);

// Applies a store document at `level`: all of it or, if anything is refused, nothing.
int RunImport(ToolOptions& options, int level, JsonOutput* json);

// Reports every store file of the product's registry that does not load and
// every value the syntax does not allow, changing nothing on disk: 0 when it
// finds nothing, else 1, with or without -Json.
int RunCheck(ToolOptions& options, JsonOutput* json);

// Get, Set or Delete of the TempDirectory setting, which lives in the
// foundation library's own registry.
int RunTempDirectory(int32_t command, ToolOptions& options, int level, JsonOutput* json);
