#include "core/PathRules.h"

#include <cstdint>

namespace velmoran {

namespace {

// Lower-case partner of a code point, for the letters the game's players meet in folder
// names: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic capitals.
char32_t foldCodePoint(char32_t c)
{
    if (c >= U'A' && c <= U'Z')
        return c + 32;
    if (c < 0x80)
        return c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 32;
    if (c >= 0x100 && c <= 0x137 && c != 0x130)
        return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177)
        return c | 1;
    if (c == 0x178)
        return 0xFF;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)
        return c + 32;
    if (c >= 0x410 && c <= 0x42F)
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    return c;
}

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Matches pattern against name from the given positions; '*' and '?' are wildcards.
// Both strings are already case-folded. Iterative with one backtrack point, so a pattern
// of many stars costs no more than O(pattern * name).
bool matchFolded(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    auto charLength = [&](std::size_t i) {
        std::size_t len = 1;
        if (static_cast<unsigned char>(name[i]) >= 0xC0)
            while (i + len < name.size() && isContinuation(static_cast<unsigned char>(name[i + len])))
                ++len;
        return len;
    };
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            // One character other than a dot; at a dot a run of '?' matches nothing (DOS).
            if (name[n] == '.') {
                while (p < pattern.size() && pattern[p] == '?')
                    ++p;
            } else {
                ++p;
                n += charLength(n);
            }
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            starN += charLength(starN);
            n = starN;
        } else {
            return false;
        }
    }
    // Trailing stars match nothing, and so does a run of '?' at the end of the name.
    while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '?'))
        ++p;
    return p == pattern.size();
}

} // namespace

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string foldCase(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    std::size_t i = 0;
    while (i < name.size()) {
        const auto b0 = static_cast<unsigned char>(name[i]);
        if (b0 < 0x80) {
            out += static_cast<char>(b0 >= 'A' && b0 <= 'Z' ? b0 + 32 : b0);
            ++i;
            continue;
        }
        // Two- and three-byte sequences are folded; anything else is copied byte for byte.
        if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < name.size() &&
            isContinuation(static_cast<unsigned char>(name[i + 1]))) {
            char32_t c = ((b0 & 0x1F) << 6) | (static_cast<unsigned char>(name[i + 1]) & 0x3F);
            appendUtf8(out, foldCodePoint(c));
            i += 2;
            continue;
        }
        out += static_cast<char>(b0);
        ++i;
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() == b.size() && a == b)
        return true;
    return foldCase(a) == foldCase(b);
}

bool hasWildcards(std::string_view text)
{
    return text.find_first_of("*?") != std::string_view::npos;
}

bool wildcardMatch(std::string_view pattern, std::string_view name)
{
    const std::string p = foldCase(pattern);
    const std::string n = foldCase(name);
    if (matchFolded(p, n))
        return true;
    // "x.*" also matches "x" with no extension at all, so "*.*" matches every name.
    if (p.size() >= 2 && p.ends_with(".*"))
        return matchFolded(std::string_view(p).substr(0, p.size() - 2), n);
    // "x." matches "x", a name without an extension.
    if (!p.empty() && p.back() == '.' && n.find('.') == std::string::npos)
        return matchFolded(std::string_view(p).substr(0, p.size() - 1), n);
    return false;
}

std::string withTrailingSeparator(std::string path)
{
    if (path.empty() || path.back() != '\\')
        path += '\\';
    return path;
}

} // namespace velmoran
