// ASCII character rules, the same in every locale.
#include "core/AsciiText.h"

#include <algorithm>

namespace velmoran {

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string asciiLowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), asciiLower);
    return out;
}

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

int driveIndex(std::string_view windowsPath)
{
    if (windowsPath.size() < 2 || windowsPath[1] != ':' || !isAsciiLetter(windowsPath[0]))
        return -1;
    return asciiLower(windowsPath[0]) - 'a';
}

} // namespace velmoran
