// A settings document, as Import reads it: the store's own file format, whose
// keys may also name keys and values to delete.
#pragma once

#include <string>
#include <vector>

#include "cfgkit/file_ops.h"

struct DocumentEntry {
  std::string section;  // "a/b", relative to the product's key; "" at the top
  std::string name;
  bool isRemoval;
  bool removesKey;  // a removal of the key section/name, not of a value
  int type;         // 2 or 4 for a value
  std::string text;  // a string value, or an integer's decimal text
};

// Reads the document at `path` ("-": standard input) into `entries`, removals
// first, then values, key by key. A damaged document gives the
// parser's reason with its line and column.
cfgkit::Status ReadSettingsDocument(const std::string& path, std::vector<DocumentEntry>* entries);
