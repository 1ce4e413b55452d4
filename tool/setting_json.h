// The JSON pieces every command's document shares: a setting's key, level,
// value and type, and the commands' own message texts.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "registry/morix_registry_impl.h"
#include "tool/json_output.h"

#include "vxcore/astring.h"

// {"key": ..., "level": ...}; the level is null for 0 (none named).
Json SettingJson(const AString& key, int level);

// Adds "value" and "type": a string value as text (or "value_hex"), an
// integer as a signed JSON number, whichever form its text has.
void PutValue(Json& object, std::string_view text, int type);

// {"key": ..., "level": ..., "refused": `refusal`}, printed; the status of a refusal.
int PrintRefusal(JsonOutput& json, const AString& key, int level, const std::string& refusal);

// A message as the text tool prints it, without its final line break.
std::string MessageText(const wchar_t* format, const AString& argument);
std::string MessageText(std::string_view text);

// A printf-style message of 8-bit arguments, without its final line break.
template <class... Args>
std::string Formatted(const char* format, Args... args) {
  std::string text(std::snprintf(nullptr, 0, format, args...), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return MessageText(text);
}

// Why no change can be made at `level`: its store file is another level's or
// a syntax root's (a host so named), is damaged or cannot be read, or its
// folder cannot be listed; empty when it can. A missing file is no reason: it
// is created.
std::string LevelStoreRefusal(MorixRegistryImpl& registry, int level);

// What the run skipped of the store: each damaged or unreadable file of the
// syntax or of `levels` (with the reason or the system's error), each folder
// that could not be listed. Null when nothing was skipped, so that a healthy
// store's documents keep their shape.
Json StoreWarnings(MorixRegistryImpl& registry, std::initializer_list<int> levels);
