// The trace of one registry operation: lines on the debug log at the level
// chosen when the trace is made, each prefixed with the operation's full name.
// Making or destroying a trace writes nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vxcore/astring.h"

class FunctionTrace {
 public:
  FunctionTrace(int level, const wchar_t* functionName) : level_(level), name_(functionName) {}
  // A trace whose lines are appended to `lines`, whatever the log's level, so
  // that they can be written later, as often as needed.
  FunctionTrace(const wchar_t* functionName, std::string& lines)
      : level_(0), name_(functionName), lines_(&lines) {}

  // "<operation> : <message>\n"
  void Message(const wchar_t* format, ...);

  // "<operation>: <name> = <value>\n", or "<operation>: returning <name> = <value>\n".
  void Parameter(const wchar_t* name, const AString& value, bool returning = false);
  void Parameter(const wchar_t* name, std::string_view value);
  void Parameter(const wchar_t* name, int value, bool returning = false);

  // One text parameter per element, named "<name>[<index>]"; nothing is built
  // unless the level is enabled.
  void ListParameter(const wchar_t* name, const std::vector<AString>& values,
                     bool returning = false);

 private:
  bool Enabled() const;
  void Write(const std::string& line);

  int level_;
  const wchar_t* name_;
  std::string* lines_ = nullptr;
};
