#include "vxcore/wildcard.h"

#include <cstddef>
#include <utility>

#include "vxcore/ascii_case.h"

namespace core {
namespace {

enum class TokenKind { kLiteral, kAnyRun, kAnyOne };

struct Token {
  TokenKind kind;
  wchar_t literal;
};

std::vector<Token> ParsePattern(std::wstring_view pattern) {
  std::vector<Token> tokens;
  tokens.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size(); ++i) {
    const wchar_t c = pattern[i];
    if (c == L'*') {
      tokens.push_back({TokenKind::kAnyRun, 0});
    } else if (c == L'?') {
      tokens.push_back({TokenKind::kAnyOne, 0});
    } else if (c == L'\\' && i + 1 < pattern.size()) {
      tokens.push_back({TokenKind::kLiteral, pattern[++i]});
    } else {
      tokens.push_back({TokenKind::kLiteral, c});
    }
  }
  return tokens;
}

bool MatchesOne(const Token& token, wchar_t c, bool ignoreCase) {
  if (token.kind == TokenKind::kAnyOne) return true;
  return ignoreCase ? FoldAsciiCase(token.literal) == FoldAsciiCase(c) : token.literal == c;
}

}  // namespace

bool WildcardMatch(std::wstring_view pattern, std::wstring_view text, bool ignoreCase) {
  const std::vector<Token> tokens = ParsePattern(pattern);
  // On a mismatch only the most recent star takes one more character: an earlier star can
  // never do better, because the later star already absorbs any run the earlier one could.
  constexpr size_t kNoStar = static_cast<size_t>(-1);
  size_t t = 0;
  size_t x = 0;
  size_t starToken = kNoStar;
  size_t starText = 0;
  while (x < text.size()) {
    if (t < tokens.size() && tokens[t].kind == TokenKind::kAnyRun) {
      starToken = t++;
      starText = x;
    } else if (t < tokens.size() && MatchesOne(tokens[t], text[x], ignoreCase)) {
      ++t;
      ++x;
    } else if (starToken != kNoStar) {
      t = starToken + 1;
      x = ++starText;
    } else {
      return false;
    }
  }
  while (t < tokens.size() && tokens[t].kind == TokenKind::kAnyRun) ++t;
  return t == tokens.size();
}

bool WildcardCapture(std::wstring_view pattern, std::wstring_view text, bool ignoreCase,
                     std::vector<std::wstring_view>& captures) {
  // Most texts do not match at all; finding that out needs no table.
  if (!WildcardMatch(pattern, text, ignoreCase)) return false;
  const std::vector<Token> tokens = ParsePattern(pattern);
  const size_t columns = text.size() + 1;
  // fits[i * columns + j]: tokens[i..] match text[j..].
  std::vector<bool> fits((tokens.size() + 1) * columns, false);
  fits[tokens.size() * columns + text.size()] = true;
  for (size_t i = tokens.size(); i-- > 0;) {
    const size_t row = i * columns;
    const size_t next = row + columns;
    for (size_t j = columns; j-- > 0;) {
      if (tokens[i].kind == TokenKind::kAnyRun) {
        fits[row + j] = fits[next + j] || (j < text.size() && fits[row + j + 1]);
      } else {
        fits[row + j] =
            j < text.size() && MatchesOne(tokens[i], text[j], ignoreCase) && fits[next + j + 1];
      }
    }
  }
  if (!fits[0]) return false;

  std::vector<std::wstring_view> found;
  size_t j = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind == TokenKind::kAnyRun) {
      size_t end = j;
      while (!fits[(i + 1) * columns + end]) ++end;
      found.push_back(text.substr(j, end - j));
      j = end;
    } else {
      if (tokens[i].kind == TokenKind::kAnyOne) found.push_back(text.substr(j, 1));
      ++j;
    }
  }
  captures = std::move(found);
  return true;
}

}  // namespace core
