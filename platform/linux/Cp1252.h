#pragma once

#include <string>
#include <string_view>

namespace velmoran {

// UTF-8 text as 8-bit Windows-1252 text (the ANSI code page of Western Windows systems).
// Characters that Windows-1252 lacks become "?", as Windows' own conversion writes them.
// Bytes that are not valid UTF-8 are kept as they are: they are 8-bit text already.
std::string utf8ToCp1252(std::string_view text);

} // namespace velmoran
