#include "registry/store_value.h"

#include <memory>

bool ReadStoreValue(TalRegKey key, const std::string& entry, AString& value) {
  static constexpr int32_t kBufferSizes[] = {1000, 10000, 100000, 1000000};
  for (int32_t bufferSize : kBufferSizes) {
    auto buffer = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(bufferSize));
    int32_t size = bufferSize;
    int status = TalRegGetStringValueA(key, entry.c_str(), buffer.get(), &size);
    if (status == kTalRegOk) {
      value = buffer.get();
      return true;
    }
    if (status != kTalRegBufferTooSmall) return false;
  }
  return false;
}

bool ReadStoreValue(TalRegKey key, const std::string& entry, uint32_t& value) {
  int32_t number = 0;
  if (TalRegGetInt32ValueA(key, entry.c_str(), &number) != kTalRegOk) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

int WriteStoreValue(TalRegKey key, const std::string& entry, const AString& value) {
  return TalRegSetStringValueA(key, entry.c_str(), value.ASCII().c_str());
}

int WriteStoreValue(TalRegKey key, const std::string& entry, int32_t value) {
  return TalRegSetInt32ValueA(key, entry.c_str(), value);
}
