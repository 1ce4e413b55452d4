// GetKeys for runs without a debug log: the listing is made section by
// section from the store's bytes instead of from a catalogue of wide paths
// with one syntax lookup and four key opens per entry. It prints exactly what
// BuildKeyCatalogue, FilterKeyCatalogue and PrintKeyCatalogue would, with the
// same header and messages, but it writes no debug log lines.
#pragma once

#include "registry/morix_registry_impl.h"

// `pattern` null: the whole catalogue; else the lines whose path matches
// "*<pattern>*", with or without letter case.
void ListKeyCatalogue(MorixRegistryImpl& registry, const wchar_t* pattern, bool caseSensitive);
