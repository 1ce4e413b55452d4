#include "registry/function_trace.h"

#include <cstdarg>

#include "vxcore/tal_debug.h"

void FunctionTrace::Message(const wchar_t* format, ...) {
  if (!my_tal_debug_data.Debug(level_)) return;
  va_list args;
  va_start(args, format);
  AString message;
  message.FormatV(format, args);
  va_end(args);
  TalDebug(level_, L"%s : %s\n", name_, message.c_str());
}

void FunctionTrace::Parameter(const wchar_t* name, const AString& value, bool returning) {
  if (returning) {
    TalDebug(level_, L"%s: returning %s = %s\n", name_, name, value.c_str());
  } else {
    TalDebug(level_, L"%s: %s = %s\n", name_, name, value.c_str());
  }
}

void FunctionTrace::Parameter(const wchar_t* name, int value, bool returning) {
  if (!my_tal_debug_data.Debug(level_)) return;
  AString text;
  text.Format(L"%d", value);
  Parameter(name, text, returning);
}

void FunctionTrace::ListParameter(const wchar_t* name, const std::vector<AString>& values,
                                  bool returning) {
  if (!my_tal_debug_data.Debug(level_)) return;
  AString elementName;
  for (size_t i = 0; i < values.size(); ++i) {
    elementName.Format(L"%s[%d]", name, static_cast<int>(i));
    Parameter(elementName.c_str(), values[i], returning);
  }
}
