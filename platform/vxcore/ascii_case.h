#pragma once

// Case folding for the library's "no case" comparisons. Text is often UTF-8 widened byte by
// byte, so only the ASCII letters fold: folding any code point above 127 would merge unrelated
// bytes of multi-byte sequences.

namespace core {

constexpr wchar_t FoldAsciiCase(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

constexpr char FoldAsciiCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace core
