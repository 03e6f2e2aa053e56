// Reads a Wine prefix's registry file (system.reg) as Wine itself does: its logical lines,
// its keys and their 32-bit view, a quick scan first for the key sought.
#include "platform/linux/WineRegistry.h"

#include "core/AsciiText.h"
#include "core/OperationError.h"
#include "core/PathRules.h"
#include "platform/linux/WineRegistryStrings.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmoran {

namespace {

// Gives the file's logical lines one by one: CR LF or LF endings, and a line ending in a
// backslash continued by the next (long hex values). A joined line lives until the next.
class LogicalLines
{
public:
    explicit LogicalLines(std::string_view text) : m_text(text) {}

    bool next(std::string_view& line)
    {
        bool continuing = false;
        m_joined.clear();
        while (m_pos < m_text.size()) {
            std::size_t end = m_text.find('\n', m_pos);
            if (end == std::string_view::npos)
                end = m_text.size();
            std::string_view part = m_text.substr(m_pos, end - m_pos);
            m_pos = end + 1;
            if (!part.empty() && part.back() == '\r')
                part.remove_suffix(1);
            const bool continues = !part.empty() && part.back() == '\\';
            if (!continues && !continuing) {
                line = part;
                return true;
            }
            m_joined += continues ? part.substr(0, part.size() - 1) : part;
            continuing = continues;
            if (!continues) {
                line = m_joined;
                return true;
            }
        }
        if (continuing)
            line = m_joined;
        return continuing;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
    std::string m_joined;
};

// A whole file's bytes, read into a buffer that is not cleared first.
struct FileBytes
{
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::string_view text() const { return {data.get(), size}; }
};

// Reads a whole file in as few reads as its size allows; 0, or the errno of the failure.
int readWholeFile(const std::filesystem::path& file, FileBytes& bytes)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat st
    {
    };
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    std::size_t capacity = error ? 0 : static_cast<std::size_t>(st.st_size) + 1;
    bytes.data.reset(new char[capacity]);
    bytes.size = 0;
    while (!error) {
        if (bytes.size == capacity) { // grew since fstat, or a special file
            capacity = capacity * 2 + 4096;
            std::unique_ptr<char[]> larger(new char[capacity]);
            std::memcpy(larger.get(), bytes.data.get(), bytes.size);
            bytes.data = std::move(larger);
        }
        const ssize_t n = ::read(fd, bytes.data.get() + bytes.size, capacity - bytes.size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        bytes.size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return error;
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

// Finds a text without regard to ASCII case. Sixteen places at a time are tested for the
// needle's first and last character (compared with the 0x20 bit set, which makes capitals
// and small letters alike and lets only a few other characters through); only where both
// agree is the whole needle compared.
class AsciiCaseSearcher
{
public:
    explicit AsciiCaseSearcher(std::string_view needle) : m_needle(needle)
    {
        for (char& c : m_needle)
            c = asciiLower(c);
    }

    bool foundIn(std::string_view text) const
    {
        const std::size_t m = m_needle.size();
        if (m == 0)
            return true;
        std::size_t pos = 0;
#if defined(__GNUC__) || defined(__clang__)
        using Block = unsigned char __attribute__((vector_size(16)));
        const Block bit = Block{} + 0x20;
        const Block first = Block{} + static_cast<unsigned char>(m_needle.front() | 0x20);
        const Block last = Block{} + static_cast<unsigned char>(m_needle.back() | 0x20);
        for (; pos + m + 15 <= text.size(); pos += 16) {
            Block head;
            Block tail;
            std::memcpy(&head, text.data() + pos, 16);
            std::memcpy(&tail, text.data() + pos + m - 1, 16);
            const auto hits = ((head | bit) == first) & ((tail | bit) == last);
            std::uint64_t halves[2];
            std::memcpy(halves, &hits, 16);
            if ((halves[0] | halves[1]) == 0)
                continue;
            for (std::size_t k = 0; k < 16; ++k)
                if (matchesAt(text, pos + k))
                    return true;
        }
#endif
        for (; pos + m <= text.size(); ++pos)
            if (matchesAt(text, pos))
                return true;
        return false;
    }

private:
    bool matchesAt(std::string_view text, std::size_t pos) const
    {
        for (std::size_t i = 0; i < m_needle.size(); ++i)
            if (asciiLower(text[pos + i]) != m_needle[i])
                return false;
        return true;
    }

    std::string m_needle;
};

// The end of a key path as it stands in the text of every registry file that holds the key:
// its last names made of letters, digits, blanks, dots, dashes and underscores (which Wine
// writes as they are), joined by "\\" as Wine writes a backslash; the first name is left
// out, for the 32-bit view puts Wow6432Node after it. Empty when the last name is not plain.
std::string literalKeyTail(std::string_view keyPath)
{
    std::vector<std::string_view> names;
    for (std::size_t pos = 0;;) {
        const std::size_t slash = keyPath.find('\\', pos);
        names.push_back(keyPath.substr(pos, slash - pos));
        if (slash == std::string_view::npos)
            break;
        pos = slash + 1;
    }
    std::string tail;
    for (std::size_t i = names.size(); i-- > (names.size() > 1 ? 1 : 0);) {
        const std::string_view name = names[i];
        const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return isAsciiLetter(c) || isAsciiDigit(c) || c == ' ' || c == '.' || c == '-' ||
                   c == '_';
        });
        if (!plain)
            break;
        tail = tail.empty() ? std::string(name) : std::string(name) + "\\\\" + tail;
    }
    return tail;
}

// The first line, as LogicalLines gives it, is the file's header.
bool hasWineHeader(std::string_view text)
{
    std::string_view first = text.substr(0, text.find('\n'));
    if (!first.empty() && first.back() == '\r')
        first.remove_suffix(1);
    return first == "WINE REGISTRY Version 2";
}

} // namespace

std::optional<std::string> findWineRegistryString(std::string_view fileText,
                                                  std::string_view keyPath,
                                                  std::string_view valueName)
{
    // Most prefixes do not hold the key: one quick scan of the text tells so, and in one
    // that does, the same test passes over the other keys' names without unescaping them.
    if (!hasWineHeader(fileText))
        return std::nullopt;
    const std::string tail = literalKeyTail(keyPath);
    const AsciiCaseSearcher keyTail(tail);
    if (!tail.empty() && !keyTail.foundIn(fileText))
        return std::nullopt;
    LogicalLines lines(fileText);
    std::string_view line;
    lines.next(line); // the header

    enum class Arch
    {
        Unknown,
        Win32,
        Win64
    } arch = Arch::Unknown;
    const std::optional<std::string> wowKey = wow64Key(keyPath);
    std::optional<std::string> plainValue, wowValue;
    std::optional<std::string>* current = nullptr;

    while (lines.next(line)) {
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
            if (!tail.empty() && !keyTail.foundIn(line))
                continue;
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

WineRegistryReader::WineRegistryReader(WinePrefix prefix) : m_prefix(std::move(prefix)) {}

std::optional<std::string> WineRegistryReader::readString(RootKey root, const std::string& keyPath,
                                                          const std::string& valueName)
{
    if (root != RootKey::LocalMachine || !m_prefix.error().empty())
        return std::nullopt;
    const std::filesystem::path file = m_prefix.systemRegistry();
    FileBytes bytes;
    if (const int error = readWholeFile(file, bytes)) {
        if (error == ENOENT || error == ENOTDIR)
            return std::nullopt;
        throw OperationError("read the Wine registry", {file.string()}, std::strerror(error));
    }
    return findWineRegistryString(bytes.text(), keyPath, valueName);
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
