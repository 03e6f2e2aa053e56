#pragma once

#include <string>
#include <string_view>

namespace velmoran {

// Character rules for texts whose syntax is ASCII whatever the locale: drive letters, URL
// schemes, registry key names, the keys of launchers' files. Bytes above 0x7F are never
// letters or digits here.

bool isAsciiLetter(char c);
bool isAsciiDigit(char c);
char asciiLower(char c);
std::string asciiLowered(std::string_view text);
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);

// The drive a Windows path names, 0 for "A:" to 25 for "Z:" in either case; -1 where the
// path does not begin with a letter and a colon.
int driveIndex(std::string_view windowsPath);

} // namespace velmoran
