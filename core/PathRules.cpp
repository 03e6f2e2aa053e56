#include "core/PathRules.h"
#include "core/UpperCaseTable.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace velmoran {

namespace {

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// One step through a name: a code point of a 1-, 2- or 3-byte UTF-8 sequence, or else one
// byte taken as it is (an invalid byte, or a byte of a 4-byte sequence), told apart from
// every code point by RawByte.
constexpr char32_t RawByte = 0x110000;

char32_t nextUnit(std::string_view s, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    const auto at = [&](std::size_t k) {
        return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0;
    };
    if (b0 >= 0xC2 && b0 <= 0xDF && isContinuation(at(1))) {
        const char32_t c = ((b0 & 0x1F) << 6) | (at(1) & 0x3F);
        i += 2;
        return c;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF && isContinuation(at(1)) && isContinuation(at(2))) {
        const char32_t c = ((b0 & 0x0F) << 12) | ((at(1) & 0x3F) << 6) | (at(2) & 0x3F);
        // Not an overlong form, nor a surrogate half.
        if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) {
            i += 3;
            return c;
        }
    }
    ++i;
    return RawByte + b0;
}

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

char32_t foldCodePoint(char32_t c)
{
    if (c < 0x80)
        return c >= U'a' && c <= U'z' ? c - 32 : c;
    if (c > 0xFFFF)
        return c;
    const auto* const end = std::end(upper_case::Ranges);
    const auto* range = std::upper_bound(
        std::begin(upper_case::Ranges), end, c,
        [](char32_t value, const upper_case::Range& r) { return value < r.first; });
    if (range == std::begin(upper_case::Ranges))
        return c;
    --range;
    if (c > range->last || (c - range->first) % range->step != 0)
        return c;
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + range->delta);
}

std::string foldCase(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    std::size_t i = 0;
    while (i < name.size()) {
        const auto b0 = static_cast<unsigned char>(name[i]);
        if (b0 < 0x80) {
            out += static_cast<char>(b0 >= 'a' && b0 <= 'z' ? b0 - 32 : b0);
            ++i;
            continue;
        }
        const char32_t unit = nextUnit(name, i);
        if (unit >= RawByte)
            out += static_cast<char>(unit - RawByte);
        else
            appendUtf8(out, foldCodePoint(unit));
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    // Step by step, without building the folded names: most names differ at once.
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = nextUnit(a, i);
        const char32_t y = nextUnit(b, j);
        if (x != y && foldCodePoint(x) != foldCodePoint(y))
            return false;
    }
    return i == a.size() && j == b.size();
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
