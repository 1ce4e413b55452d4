#include "vxcore/registry_file_format.h"

#include <algorithm>
#include <utility>

#include "vxcore/ascii_case.h"

namespace core {
namespace {

void AppendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F || c == '#' || c == '=' || c == '[' || c == ']') {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    } else {
      out.push_back(c);
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char folded = FoldAsciiCase(c);
  if (folded >= 'a' && folded <= 'f') return folded - 'a' + 10;
  return -1;
}

bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        out.push_back('\\');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 'x': {
        const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool ParseLine(std::string_view line, std::string& section, RegistryContents& contents) {
  if (line.empty() || line.front() == '#') return true;
  if (line.front() == '[') {
    if (line.back() != ']' || line.size() < 2) return false;
    if (!Unescape(line.substr(1, line.size() - 2), section)) return false;
    contents[section];
    return true;
  }
  const size_t equals = line.find('=');
  std::string entry;
  std::string value;
  if (equals == std::string_view::npos || !Unescape(line.substr(0, equals), entry) ||
      !Unescape(line.substr(equals + 1), value)) {
    return false;
  }
  // One entry twice, in any letter case, is one too many to write back: a
  // rewrite would keep only the last.
  auto [held, added] = contents[section].try_emplace(std::move(entry), value);
  if (added) return true;
  held->second = std::move(value);
  return false;
}

}  // namespace

bool NoCaseLess::operator()(const std::string& left, const std::string& right) const {
  return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                      [](char a, char b) {
                                        return static_cast<unsigned char>(FoldAsciiCase(a)) <
                                               static_cast<unsigned char>(FoldAsciiCase(b));
                                      });
}

bool ParseRegistryText(std::string_view text, RegistryContents& contents) {
  contents.clear();
  std::string section;
  bool intact = true;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!ParseLine(line, section, contents)) intact = false;
  }
  return intact;
}

std::string FormatRegistryText(const RegistryContents& contents) {
  std::string text = "# vxcore registry\n";
  for (const auto& [section, entries] : contents) {
    text += '[';
    AppendEscaped(text, section);
    text += "]\n";
    for (const auto& [entry, value] : entries) {
      AppendEscaped(text, entry);
      text += '=';
      AppendEscaped(text, value);
      text += '\n';
    }
  }
  return text;
}

}  // namespace core
