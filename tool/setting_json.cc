#include "tool/setting_json.h"

#include "tool/json_output.h"
#include "tool/tool_options.h"

Json SettingJson(const AString& key, int level) {
  Json object = Json::object();
  PutBytes(object, "key", key.ASCII());
  object["level"] = level == ProviderNone ? Json() : Json(LevelName(level).ASCII());
  return object;
}

void PutValue(Json& object, std::string_view text, int type) {
  object["type"] = ValueTypeName(type).ASCII();
  if (type != kTypeInt32) {
    PutBytes(object, "value", text);
    return;
  }
  int32_t number = 0;
  AString(AString::FromBytes(text)).IsNumber(number, 10);
  object["value"] = number;
}

int PrintRefusal(JsonOutput& json, const AString& key, int level, const std::string& refusal) {
  Json document = SettingJson(key, level);
  document["refused"] = refusal;
  json.Print(std::move(document));
  return JsonRefused;
}

std::string MessageText(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return std::string(text);
}

std::string MessageText(const wchar_t* format, const AString& argument) {
  AString text;
  text.Format(format, argument.c_str());
  return MessageText(text.ASCII());
}
