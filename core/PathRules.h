#pragma once

#include <string>
#include <string_view>

namespace velmoran {

// Windows name rules, shared by every platform layer that has to imitate them.

// Appends one code point to UTF-8 text.
void appendUtf8(std::string& out, char32_t codePoint);

// The capital that Windows compares a code point as when case does not matter (its
// upper-case table: a letter's simple upper-case mapping where that capital lower-cases back
// to the letter); code points outside the Basic Multilingual Plane stay as they are.
char32_t foldCodePoint(char32_t codePoint);

// Folds one name for comparison without regard to case, as Windows compares names: every
// 1-, 2- and 3-byte UTF-8 sequence becomes its capital (which may be longer or shorter in
// UTF-8: U+0250 becomes U+2C6F); invalid bytes and 4-byte sequences are kept as they are.
// Two names are equal without regard to case exactly when their folded forms are equal.
std::string foldCase(std::string_view name);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// Windows wildcard matching of one name: '*' any run, '?' one character other than a dot
// (at a dot or the end of the name a run of '?' matches nothing, as in DOS), without
// regard to case. A pattern that ends in ".*" also matches names without a dot, so "*.*"
// matches every name.
bool wildcardMatch(std::string_view pattern, std::string_view name);
bool hasWildcards(std::string_view text);

// path with exactly one trailing backslash.
std::string withTrailingSeparator(std::string path);

} // namespace velmoran
