#include "registry/store_value.h"

int WriteStoreValue(TalRegKey key, const std::string& entry, const AString& value) {
  return TalRegSetStringValueA(key, entry.c_str(), value.ASCII().c_str());
}

int WriteStoreValue(TalRegKey key, const std::string& entry, int32_t value) {
  return TalRegSetInt32ValueA(key, entry.c_str(), value);
}
