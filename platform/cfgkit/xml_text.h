// What XML 1.0 text can carry as it is, and the hex form for everything else.
// Names and values are arbitrary byte strings; a file the store writes must
// reload to the same bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cfgkit {

// The length of the well-formed UTF-8 character at `text[i]` (no overlong
// form, no surrogate, nothing above U+10FFFF), with its code point; 0 when
// there is none.
size_t Utf8CharacterLength(std::string_view text, size_t i, uint32_t* code);

// Whether all of `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// True when `text` is valid UTF-8 made only of characters that XML 1.0 allows
// and that a parser returns unchanged: no control character other than tab and
// line feed (a carriage return would be normalised away), no U+FFFE or U+FFFF.
bool IsXmlSafe(std::string_view text);

// True when `text` is printable ASCII without & < > or ", which text and
// attributes alike carry as it stands: most names and values are.
bool IsPlainXml(std::string_view text);

// Lower-case hex digits, two per byte.
std::string HexEncode(std::string_view bytes);

// The bytes of `hex` (either letter case, even length); nullopt when it is not hex.
std::optional<std::string> HexDecode(std::string_view hex);

// Appends `raw`, text or an attribute value as it stands in a file, with its
// references replaced: the five predefined entities and character references
// to characters XML allows. False on any other `&`, whose meaning would be
// lost; `out` may then hold part of the text.
bool AppendUnescaped(std::string_view raw, std::string* out);

// Appends `text` escaped for element content (&, <, >).
void AppendEscapedText(std::string_view text, std::string* out);

// Appends `text` escaped for a double-quoted attribute; tab and line feed become
// character references so that attribute normalisation keeps them.
void AppendEscapedAttribute(std::string_view text, std::string* out);

}  // namespace cfgkit
