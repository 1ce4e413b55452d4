#pragma once

// The text form of one vxcore registry file. 8-bit, one item per line:
//   # comment        ignored, as are empty lines
//   [section]        starts a section; the empty section is "[]"
//   entry=value      an entry of the current section (entries before any section header
//                    belong to the empty section)
// Names and values are escaped so that every byte fits on one line: "\\" is a backslash,
// "\n" a line feed, "\r" a carriage return and "\xHH" any byte; the writer uses "\xHH" for the
// other control bytes and for '#', '=', '[' and ']'. A raw carriage return before a line's end
// is dropped, for files edited on Windows.
// Section and entry names compare with ASCII case folded; a name keeps its first spelling.

#include <map>
#include <string>
#include <string_view>

namespace core {

struct NoCaseLess {
  bool operator()(const std::string& left, const std::string& right) const;
};

using RegistrySection = std::map<std::string, std::string, NoCaseLess>;
using RegistryContents = std::map<std::string, RegistrySection, NoCaseLess>;

// Parses `text` into `contents` (replacing it). False when a line is malformed or repeats an
// entry of its section in any letter case: the file is damaged, and `contents` then holds
// what could be read (a repeated entry's last value).
bool ParseRegistryText(std::string_view text, RegistryContents& contents);

std::string FormatRegistryText(const RegistryContents& contents);

}  // namespace core
