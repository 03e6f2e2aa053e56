// The quoted strings of Wine's registry files, unescaped as Wine itself reads them.
#include "platform/linux/WineRegistryStrings.h"

#include "core/PathRules.h"
#include "platform/linux/WineRegistry.h"

#include <cstdint>
#include <vector>

namespace velmoran {

namespace {

// Collects text that mixes raw UTF-8 bytes with UTF-16 units from \x escapes.
class Utf8Builder
{
public:
    void byte(char b)
    {
        flushSurrogate();
        m_text += b;
    }
    void unit(char32_t u)
    {
        if (u >= 0xD800 && u <= 0xDBFF) {
            flushSurrogate();
            m_high = u;
            return;
        }
        if (u >= 0xDC00 && u <= 0xDFFF) {
            if (m_high) {
                appendUtf8(m_text, 0x10000 + ((m_high - 0xD800) << 10) + (u - 0xDC00));
                m_high = 0;
            } else {
                appendUtf8(m_text, 0xFFFD);
            }
            return;
        }
        flushSurrogate();
        appendUtf8(m_text, u);
    }
    std::string take()
    {
        flushSurrogate();
        return std::move(m_text);
    }

private:
    void flushSurrogate()
    {
        if (m_high)
            appendUtf8(m_text, 0xFFFD);
        m_high = 0;
    }
    std::string m_text;
    char32_t m_high = 0;
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

// Unescapes up to the unescaped `terminator`; `pos` starts after the opening character.
std::optional<std::string> unescapeUntil(std::string_view text, std::size_t& pos, char terminator)
{
    Utf8Builder out;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == terminator)
            return out.take();
        if (c != '\\') {
            out.byte(c);
            continue;
        }
        if (pos >= text.size())
            return std::nullopt;
        const char e = text[pos++];
        switch (e) {
        case 'a':
            out.unit(7);
            break;
        case 'b':
            out.unit(8);
            break;
        case 'e':
            out.unit(27);
            break;
        case 'f':
            out.unit(12);
            break;
        case 'n':
            out.unit(10);
            break;
        case 'r':
            out.unit(13);
            break;
        case 't':
            out.unit(9);
            break;
        case 'v':
            out.unit(11);
            break;
        case 'x': {
            char32_t value = 0;
            int digits = 0;
            while (digits < 4 && pos < text.size() && hexDigit(text[pos]) >= 0) {
                value = value * 16 + static_cast<char32_t>(hexDigit(text[pos++]));
                ++digits;
            }
            if (digits == 0)
                out.byte('x');
            else
                out.unit(value);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                char32_t value = static_cast<char32_t>(e - '0');
                for (int i = 1; i < 3 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7';
                     ++i)
                    value = value * 8 + static_cast<char32_t>(text[pos++] - '0');
                out.unit(value);
            } else {
                out.byte(e);
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> unescapeWineString(std::string_view text, std::size_t& end)
{
    std::size_t pos = end;
    std::optional<std::string> result = unescapeUntil(text, pos, '"');
    if (result)
        end = pos;
    return result;
}

} // namespace velmoran
