#include "registry/store_value.h"

int ReadStoreText(TalRegKey key, const char* entry, std::string& buffer) {
  constexpr size_t kFirstSize = 1000;
  constexpr size_t kLargestSize = kLongestStoreText + 1;
  if (buffer.size() < kFirstSize) buffer.resize(kFirstSize);
  int32_t size = static_cast<int32_t>(buffer.size());
  int status = TalRegGetStringValueA(key, entry, buffer.data(), &size);
  if (status != kTalRegBufferTooSmall || static_cast<size_t>(size) > kLargestSize) return status;
  buffer.resize(static_cast<size_t>(size));
  return TalRegGetStringValueA(key, entry, buffer.data(), &size);
}

bool ReadStoreValue(TalRegKey key, const std::string& entry, AString& value) {
  std::string buffer;
  if (ReadStoreText(key, entry.c_str(), buffer) != kTalRegOk) return false;
  value = buffer.c_str();
  return true;
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
