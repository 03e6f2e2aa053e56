#include "platform/linux/DosAttributes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/xattr.h>

namespace velmoran::DosAttributes {

namespace {
constexpr const char* XattrName = "user.DOSATTRIB";
} // namespace

std::optional<unsigned> read(const char* unixPath)
{
    char buffer[64];
    const ssize_t length = ::getxattr(unixPath, XattrName, buffer, sizeof buffer - 1);
    if (length < 0)
        return std::nullopt;
    buffer[length] = '\0';
    // Wine and Samba write "0x<hex>"; Samba may add a NUL and binary data after it.
    unsigned value = 0;
    if (length > 2 && buffer[0] == '0' && (buffer[1] == 'x' || buffer[1] == 'X'))
        value = static_cast<unsigned>(std::strtoul(buffer + 2, nullptr, 16));
    return value & StoredMask;
}

bool isDotName(const char* name)
{
    return name[0] == '.' && name[1] != '\0' && !(name[1] == '.' && name[2] == '\0');
}

unsigned effective(const char* unixPath, const char* name)
{
    if (const std::optional<unsigned> stored = read(unixPath))
        return *stored;
    return isDotName(name) ? 2u : 0u;
}

int write(const char* unixPath, const char* name, unsigned value)
{
    value &= StoredMask;
    if (value == 0 && !isDotName(name)) {
        if (::removexattr(unixPath, XattrName) == 0 || errno == ENODATA)
            return 0;
        // A file system without user attributes holds no hidden flag either.
        if (errno == ENOTSUP || errno == EOPNOTSUPP)
            return 0;
        return errno;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "0x%x", value);
    if (::setxattr(unixPath, XattrName, text, static_cast<std::size_t>(length), 0) == 0)
        return 0;
    return errno;
}

} // namespace velmoran::DosAttributes
