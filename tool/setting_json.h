// The JSON pieces every command's document shares: a setting's key, level,
// value and type, and the commands' own message texts.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

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
