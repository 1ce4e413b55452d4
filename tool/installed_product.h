// Whether the product named on the command line is installed, by the list in
// the executable's folder: config/ProductList.txt, one name per line.
#pragma once

#include "tool/tool_options.h"

// True when the ProductName of `record` matches a line of the list, ignoring
// letter case and blanks around the line; the ProductName then takes the
// list's spelling. True for every name when there is no list to read (none,
// one that cannot be read, or one that is no regular file). False for every
// name when the executable's folder cannot be found.
bool CheckInstalledProduct(ToolOptions& record);
