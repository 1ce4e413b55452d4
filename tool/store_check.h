// What a Check finds wrong in the store files of a product's registry: files
// that do not load, and values that a Get or Set would not treat as stored.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "registry/morix_registry_impl.h"

enum class FindingKind { kDamaged, kUnreadable, kUndefined, kType, kSpelling, kTooLong };

struct Finding {
  FindingKind kind = FindingKind::kDamaged;
  std::string path;       // of the file, or of a folder that could not be listed
  bool isFolder = false;  // kUnreadable of a folder
  std::string reason;     // kDamaged, kUnreadable
  // Of a setting: its level, and its key and entry joined by "/" as stored.
  int level = 0;
  std::string key;
  int type = 0;             // kType: the stored type
  int declaredType = 0;     // kType
  std::string declaredKey;  // kSpelling
  size_t bytes = 0;         // kTooLong: the size of the string
};

struct CheckResult {
  int filesChecked = 0;  // the files of the registry there are, loaded or not
  std::vector<Finding> findings;
};

// Files and folders first, then the values of each level from user_machine
// to admin in store order. Changes nothing in the store.
CheckResult CheckStore(MorixRegistryImpl& registry);
