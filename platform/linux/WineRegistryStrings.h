// The quoted strings and key names of Wine's registry files, their C-style escapes undone
// (\x and octal ones are UTF-16 units, joined into UTF-8).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velmoran {

// Unescapes up to the unescaped `terminator`; `pos` starts after the opening character.
std::optional<std::string> unescapeUntil(std::string_view text, std::size_t& pos, char terminator);

} // namespace velmoran
