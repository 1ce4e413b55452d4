#include "registry/function_trace.h"

#include <cstdarg>

#include "vxcore/tal_debug.h"
#include "vxcore/wide_format.h"

bool FunctionTrace::Enabled() const { return lines_ != nullptr || my_tal_debug_data.Debug(level_); }

void FunctionTrace::Write(const std::string& line) {
  if (lines_ != nullptr) {
    lines_->append(line);
  } else {
    TalDebugLines(level_, line);
  }
}

void FunctionTrace::Message(const wchar_t* format, ...) {
  if (!Enabled()) return;
  std::string line;
  core::AppendFormat(line, L"%s : ", name_);
  va_list args;
  va_start(args, format);
  core::AppendFormatV(line, format, args);
  va_end(args);
  line.push_back('\n');
  Write(line);
}

void FunctionTrace::Parameter(const wchar_t* name, const AString& value, bool returning) {
  if (!Enabled()) return;
  std::string line;
  core::AppendFormat(line, returning ? L"%s: returning %s = %s\n" : L"%s: %s = %s\n", name_, name,
                     value.c_str());
  Write(line);
}

void FunctionTrace::Parameter(const wchar_t* name, std::string_view value) {
  if (!Enabled()) return;
  std::string line;
  core::AppendFormat(line, L"%s: %s = %.*hs\n", name_, name, static_cast<int>(value.size()),
                     value.data());
  Write(line);
}

void FunctionTrace::Parameter(const wchar_t* name, int value, bool returning) {
  if (!Enabled()) return;
  AString text;
  text.Format(L"%d", value);
  Parameter(name, text, returning);
}

void FunctionTrace::ListParameter(const wchar_t* name, const std::vector<AString>& values,
                                  bool returning) {
  if (!Enabled()) return;
  AString elementName;
  for (size_t i = 0; i < values.size(); ++i) {
    elementName.Format(L"%s[%d]", name, static_cast<int>(i));
    Parameter(elementName.c_str(), values[i], returning);
  }
}
