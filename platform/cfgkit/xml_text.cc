#include "cfgkit/xml_text.h"

#include <array>

namespace cfgkit {
namespace {

// Length of the UTF-8 sequence at `text[i]` holding a character XML allows, or 0.
size_t SafeSequenceLength(std::string_view text, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return (lead >= 0x20 || lead == '\t' || lead == '\n') ? 1 : 0;
  uint32_t code = 0;
  const size_t length = Utf8CharacterLength(text, i, &code);
  return code == 0xFFFE || code == 0xFFFF ? 0 : length;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsXmlChar(uint32_t code) {
  return code == '\t' || code == '\n' || code == '\r' || (code >= 0x20 && code <= 0xD7FF) ||
         (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// The character of a reference `&#...;` given without `&#` and `;`, or nullopt.
std::optional<uint32_t> CharacterReference(std::string_view digits) {
  int base = 10;
  if (!digits.empty() && digits.front() == 'x') {
    base = 16;
    digits.remove_prefix(1);
  }
  if (digits.empty()) return std::nullopt;
  uint32_t code = 0;
  for (char c : digits) {
    int digit = HexDigitValue(c);
    if (digit < 0 || digit >= base) return std::nullopt;
    code = code * base + digit;
    if (code > 0x10FFFF) return std::nullopt;
  }
  if (!IsXmlChar(code)) return std::nullopt;
  return code;
}

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
    return;
  }
  int tail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
  static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out->push_back(static_cast<char>(kLead[tail] | (code >> (6 * tail))));
  for (int k = tail - 1; k >= 0; --k)
    out->push_back(static_cast<char>(0x80 | ((code >> (6 * k)) & 0x3F)));
}

constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x7F; ++c) plain[c] = c != '&' && c != '<' && c != '>' && c != '"';
  return plain;
}();

bool MayNeedEscape(char c) {
  return c == '&' || c == '<' || c == '>' || c == '"' || c == '\t' || c == '\n';
}

void AppendEscaped(std::string_view text, bool inAttribute, std::string* out) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!MayNeedEscape(text[i])) continue;
    const char* replacement = nullptr;
    switch (text[i]) {
      case '&':
        replacement = "&amp;";
        break;
      case '<':
        replacement = "&lt;";
        break;
      case '>':
        replacement = "&gt;";
        break;
      case '"':
        replacement = inAttribute ? "&quot;" : nullptr;
        break;
      case '\t':
        replacement = inAttribute ? "&#9;" : nullptr;
        break;
      case '\n':
        replacement = inAttribute ? "&#10;" : nullptr;
        break;
      default:
        break;
    }
    if (replacement == nullptr) continue;
    out->append(text.substr(start, i - start));
    out->append(replacement);
    start = i + 1;
  }
  out->append(text.substr(start));
}

}  // namespace

size_t Utf8CharacterLength(std::string_view text, size_t i, uint32_t* code) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    *code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    *code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    *code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    *code = (*code << 6) | (byte(i + k) & 0x3F);
  }
  const bool overlong = (length == 3 && *code < 0x800) || (length == 4 && *code < 0x10000);
  const bool surrogate = *code >= 0xD800 && *code <= 0xDFFF;
  if (overlong || surrogate || *code > 0x10FFFF) return 0;
  return length;
}

bool IsValidUtf8(std::string_view text) {
  uint32_t code = 0;
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {  // the common case, without decoding
      ++i;
      continue;
    }
    const size_t length = Utf8CharacterLength(text, i, &code);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool IsXmlSafe(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x80) {  // the common case, without decoding
      ++i;
      continue;
    }
    size_t length = SafeSequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool IsPlainXml(std::string_view text) {
  for (char c : text) {
    if (!kPlain[static_cast<unsigned char>(c)]) return false;
  }
  return true;
}

std::string HexEncode(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 0x0F]);
  }
  return hex;
}

std::optional<std::string> HexDecode(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigitValue(hex[i]);
    int low = HexDigitValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>((high << 4) | low));
  }
  return bytes;
}

bool AppendUnescaped(std::string_view raw, std::string* out) {
  for (;;) {
    size_t amp = raw.find('&');
    out->append(raw.substr(0, amp));
    if (amp == std::string_view::npos) return true;
    size_t end = raw.find(';', amp);
    if (end == std::string_view::npos) return false;
    std::string_view name = raw.substr(amp + 1, end - amp - 1);
    raw.remove_prefix(end + 1);
    if (name == "lt") {
      out->push_back('<');
    } else if (name == "gt") {
      out->push_back('>');
    } else if (name == "amp") {
      out->push_back('&');
    } else if (name == "apos") {
      out->push_back('\'');
    } else if (name == "quot") {
      out->push_back('"');
    } else if (!name.empty() && name.front() == '#') {
      std::optional<uint32_t> code = CharacterReference(name.substr(1));
      if (!code) return false;
      AppendUtf8(*code, out);
    } else {
      return false;
    }
  }
}

void AppendEscapedText(std::string_view text, std::string* out) { AppendEscaped(text, false, out); }

void AppendEscapedAttribute(std::string_view text, std::string* out) {
  AppendEscaped(text, true, out);
}

}  // namespace cfgkit
