#include "platform/linux/WineRegistry.h"

#include "core/OperationError.h"
#include "core/PathRules.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
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
        case 'a': out.unit(7); break;
        case 'b': out.unit(8); break;
        case 'e': out.unit(27); break;
        case 'f': out.unit(12); break;
        case 'n': out.unit(10); break;
        case 'r': out.unit(13); break;
        case 't': out.unit(9); break;
        case 'v': out.unit(11); break;
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
                for (int i = 1; i < 3 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7'; ++i)
                    value = value * 8 + static_cast<char32_t>(text[pos++] - '0');
                out.unit(value);
            } else {
                out.byte(e);
            }
        }
    }
    return std::nullopt;
}

// Splits the file into logical lines: CR LF or LF endings, and a line ending in a
// backslash continued by the next (long hex values).
std::vector<std::string_view> logicalLines(std::string_view text, std::deque<std::string>& joined)
{
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    std::string pending;
    bool continuing = false;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const bool continues = !line.empty() && line.back() == '\\';
        if (continues || continuing) {
            pending += continues ? line.substr(0, line.size() - 1) : line;
            continuing = continues;
            if (!continues) {
                joined.push_back(std::move(pending));
                pending.clear();
                lines.push_back(joined.back());
            }
            continue;
        }
        lines.push_back(line);
    }
    if (continuing) {
        joined.push_back(std::move(pending));
        lines.push_back(joined.back());
    }
    return lines;
}

// The 32-bit view of a key under Software, or nothing for other keys.
std::optional<std::string> wow64Key(std::string_view keyPath)
{
    const std::size_t slash = keyPath.find('\\');
    const std::string_view first = keyPath.substr(0, slash);
    if (!equalsIgnoreCase(first, "Software") || slash == std::string_view::npos)
        return std::nullopt;
    return std::string(first) + "\\Wow6432Node" + std::string(keyPath.substr(slash));
}

} // namespace

std::optional<std::string> unescapeWineString(std::string_view text, std::size_t& end)
{
    std::size_t pos = end;
    std::optional<std::string> result = unescapeUntil(text, pos, '"');
    if (result)
        end = pos;
    return result;
}

std::optional<std::string> findWineRegistryString(std::string_view fileText,
                                                  std::string_view keyPath,
                                                  std::string_view valueName)
{
    // Joined continuation lines, which the views point into; a deque keeps them in place.
    std::deque<std::string> joined;
    const std::vector<std::string_view> lines = logicalLines(fileText, joined);
    if (lines.empty() || lines[0] != "WINE REGISTRY Version 2")
        return std::nullopt;

    enum class Arch { Unknown, Win32, Win64 } arch = Arch::Unknown;
    const std::optional<std::string> wowKey = wow64Key(keyPath);
    std::optional<std::string> plainValue, wowValue;
    std::optional<std::string>* current = nullptr;

    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty())
            continue;
        if (line[0] == '#') {
            if (line == "#arch=win32")
                arch = Arch::Win32;
            else if (line == "#arch=win64")
                arch = Arch::Win64;
            continue;
        }
        if (line[0] == '[') {
            current = nullptr;
            std::size_t pos = 1;
            const std::optional<std::string> key = unescapeUntil(line, pos, ']');
            if (!key)
                continue;
            if (equalsIgnoreCase(*key, keyPath))
                current = &plainValue;
            else if (wowKey && equalsIgnoreCase(*key, *wowKey))
                current = &wowValue;
            continue;
        }
        if (!current || line[0] != '"')
            continue;
        std::size_t pos = 1;
        const std::optional<std::string> name = unescapeUntil(line, pos, '"');
        if (!name || !equalsIgnoreCase(*name, valueName))
            continue;
        if (pos >= line.size() || line[pos] != '=')
            continue;
        std::string_view data = line.substr(pos + 1);
        for (std::string_view type : {"str:", "str(2):"}) {
            if (data.starts_with(type)) {
                data.remove_prefix(type.size());
                break;
            }
        }
        if (data.empty() || data[0] != '"') {
            // A value of another type (dword, hex, multi-string) is no string value.
            *current = std::nullopt;
            continue;
        }
        std::size_t end = 1;
        *current = unescapeWineString(data, end);
    }

    if (arch != Arch::Win32 && wowValue)
        return wowValue;
    return plainValue;
}

WineRegistryReader::WineRegistryReader(WinePrefix prefix)
    : m_prefix(std::move(prefix))
{
}

std::optional<std::string> WineRegistryReader::readString(RootKey root, const std::string& keyPath,
                                                          const std::string& valueName)
{
    if (root != RootKey::LocalMachine || !m_prefix.error().empty())
        return std::nullopt;
    const std::filesystem::path file = m_prefix.systemRegistry();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        throw OperationError("read the Wine registry", {file.string()}, std::strerror(errno));
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw OperationError("read the Wine registry", {file.string()}, std::strerror(errno));
    return findWineRegistryString(text, keyPath, valueName);
}

std::string WineRegistryReader::describeLocation(RootKey, const std::string& keyPath,
                                                 const std::string& valueName) const
{
    std::string where = "the value \"" + valueName + "\" of the key HKEY_LOCAL_MACHINE\\" +
                        keyPath + " (in a 64-bit prefix, its 32-bit view under Wow6432Node)";
    if (!m_prefix.error().empty())
        return where + ", but " + m_prefix.error();
    where += " in the Wine prefix's registry file " + m_prefix.systemRegistry().string();
    std::error_code ec;
    if (!std::filesystem::exists(m_prefix.systemRegistry(), ec))
        where += ", which does not exist (is the Wine prefix set up? Velmoran uses "
                 "$WINEPREFIX, else ~/.wine)";
    return where;
}

} // namespace velmoran
