// The changes this process made to one top-level key since it was loaded or
// last saved, in order, so that they can be applied again on top of a file
// that another process changed meanwhile.
#pragma once

#include <string>
#include <vector>

#include "cfgkit/key_tree.h"

namespace cfgkit {

struct Change {
  enum class Kind { kCreateKey, kSetValue, kDeleteValue, kDeleteKey };

  Kind kind;
  std::vector<std::string> path;  // from the top-level key down to the changed key
  Value value;                    // kSetValue: the new value; kDeleteValue: its name only
};

using ChangeLog = std::vector<Change>;

}  // namespace cfgkit
