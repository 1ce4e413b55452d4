// Reading the names of a store key's subkeys or values, shared by the
// enumerations and the section listing so that both see the same names.
#pragma once

#include <cstdint>
#include <memory>

#include "cfgkit/cfgkit.h"

// Calls `add(const char*)` with the name of each of `key`'s subkeys (or
// values) in store order. A name is taken up to its first NUL; one longer
// than 999 bytes (a subkey) or 15,999 bytes (a value) cannot be read and is
// left out.
template <class Add>
void ForEachStoreName(TalRegKey key, bool subkeys, Add add) {
  int32_t count = 0;
  int status = subkeys ? TalRegGetNumKeys(key, &count) : TalRegGetNumValues(key, &count);
  if (status != kTalRegOk) return;
  if (count <= 0) return;
  const int32_t bufferSize = subkeys ? 1000 : 16000;
  // Not zeroed: only what the store writes into it is read.
  auto buffer = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(bufferSize));
  for (int32_t i = 0; i < count; ++i) {
    int32_t size = bufferSize;
    status = subkeys ? TalRegGetSubKeyNameA(key, i, buffer.get(), &size)
                     : TalRegGetValueNameA(key, i, buffer.get(), &size);
    if (status == kTalRegOk) add(static_cast<const char*>(buffer.get()));
  }
}
