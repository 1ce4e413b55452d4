// What a run tells a script about the store files behind it: why a level
// cannot take a change, and which files and folders a read skipped.
#pragma once

#include <functional>
#include <string>

#include "registry/morix_registry_impl.h"
#include "tool/json_output.h"

// Why no change can be made at `level`: its store file is another level's or
// a syntax root's (a host so named), is damaged or cannot be read, or its
// folder cannot be listed; empty when it can. A missing file is no reason: it
// is created.
std::string LevelStoreRefusal(MorixRegistryImpl& registry, int level);

// One file or folder of the store that a read skipped.
struct SkippedPart {
  bool isFolder;  // a folder that could not be listed, else a file
  bool damaged;   // a damaged file, else one that could not be read
  std::string path;
  std::string reason;
};

// Calls `visit` for each part of the store a read at `level` skipped, folders
// first: of the syntax, the admin file (every load reads it) and that level,
// or with ProviderNone every level, as a read by precedence does.
void ForEachSkipped(MorixRegistryImpl& registry, int level,
                    const std::function<void(const SkippedPart&)>& visit);

// The line Import refuses with for `part`, without its line break.
std::string SkippedText(const SkippedPart& part);

// What a read at `level` skipped of the store, as ForEachSkipped finds it:
// each damaged or unreadable file (with the reason or the system's error),
// each folder that could not be listed. Null when nothing was skipped, so
// that a healthy store's documents keep their shape.
Json StoreWarnings(MorixRegistryImpl& registry, int level);
