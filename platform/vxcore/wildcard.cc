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
  size_t next;  // where the pattern's next token starts
};

// The token that starts at pattern[at]: matching reads the pattern in place,
// so a match allocates nothing.
Token TokenAt(std::wstring_view pattern, size_t at) {
  const wchar_t c = pattern[at];
  if (c == L'*') return {TokenKind::kAnyRun, 0, at + 1};
  if (c == L'?') return {TokenKind::kAnyOne, 0, at + 1};
  if (c == L'\\' && at + 1 < pattern.size()) return {TokenKind::kLiteral, pattern[at + 1], at + 2};
  return {TokenKind::kLiteral, c, at + 1};
}

std::vector<Token> ParsePattern(std::wstring_view pattern) {
  std::vector<Token> tokens;
  tokens.reserve(pattern.size());
  for (size_t at = 0; at < pattern.size(); at = tokens.back().next) {
    tokens.push_back(TokenAt(pattern, at));
  }
  return tokens;
}

bool MatchesOne(const Token& token, wchar_t c, bool ignoreCase) {
  if (token.kind == TokenKind::kAnyOne) return true;
  return ignoreCase ? FoldAsciiCase(token.literal) == FoldAsciiCase(c) : token.literal == c;
}

}  // namespace

bool WildcardMatch(std::wstring_view pattern, std::wstring_view text, bool ignoreCase) {
  // On a mismatch only the most recent star takes one more character: an earlier star can
  // never do better, because the later star already absorbs any run the earlier one could.
  constexpr size_t kNoStar = static_cast<size_t>(-1);
  size_t at = 0;  // in the pattern, always at a token's start
  size_t x = 0;
  size_t afterStar = kNoStar;
  size_t starText = 0;
  while (x < text.size()) {
    if (at < pattern.size()) {
      const Token token = TokenAt(pattern, at);
      if (token.kind == TokenKind::kAnyRun) {
        afterStar = at = token.next;
        starText = x;
        continue;
      }
      if (MatchesOne(token, text[x], ignoreCase)) {
        at = token.next;
        ++x;
        continue;
      }
    }
    if (afterStar == kNoStar) return false;
    at = afterStar;
    x = ++starText;
  }
  while (at < pattern.size() && pattern[at] == L'*') ++at;
  return at == pattern.size();
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
