#pragma once

// Whole-string wildcard matching.
//
// Pattern grammar:
//   *      any run of characters, the empty run included
//   ?      exactly one character
//   \c     the character c itself (so "\*" is a star and "\\" a backslash); a lone "\" at the
//          very end of the pattern stands for a backslash
//   other  itself; with `ignoreCase` ASCII letters match either case (see ascii_case.h)
//
// When several splits of the text fit, WildcardCapture gives each "*" the shortest run that
// still lets the rest of the pattern match, deciding the earlier wildcards first.
//
// Cost, for a pattern of P characters and a text of T characters: WildcardMatch takes
// O(P*T) time at worst and no memory beyond the parsed pattern; WildcardCapture takes
// O(P*T) time and O(P*T) bits. Neither backtracks exponentially.

#include <string_view>
#include <vector>

namespace core {

bool WildcardMatch(std::wstring_view pattern, std::wstring_view text, bool ignoreCase);

// As WildcardMatch; on a match `captures` is replaced by what each "*" and "?" stood for, in
// pattern order, as views into `text`. On a mismatch `captures` is left alone.
bool WildcardCapture(std::wstring_view pattern, std::wstring_view text, bool ignoreCase,
                     std::vector<std::wstring_view>& captures);

}  // namespace core
