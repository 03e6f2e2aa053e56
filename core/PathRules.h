#pragma once

#include <string>
#include <string_view>

namespace velmoran {

// Windows name rules, shared by every platform layer that has to imitate them.

// Appends one code point to UTF-8 text.
void appendUtf8(std::string& out, char32_t codePoint);

// Folds one name for comparison without regard to case (ASCII letters and the Latin-1
// and Latin Extended-A letters encoded in UTF-8; other bytes are kept as they are).
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
