#include "platform/linux/DosAttributes.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace velmoran::DosAttributes {

namespace {
constexpr const char* XattrName = "user.DOSATTRIB";
} // namespace

namespace {

// getxattrat(2), Linux 6.13 on: the attribute of a name within an open folder, without
// walking the folder's whole path again for every entry.
constexpr long GetXattrAtCall = 464;
std::atomic<bool> g_noGetXattrAt{false};

struct XattrArgs
{
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};

ssize_t readAt(int folderFd, const char* name, const char* unixPath, char* buffer, std::size_t size)
{
    if (!g_noGetXattrAt.load(std::memory_order_relaxed)) {
        XattrArgs args{reinterpret_cast<std::uintptr_t>(buffer), static_cast<std::uint32_t>(size),
                       0};
        const long length =
            ::syscall(GetXattrAtCall, folderFd, name, 0u, XattrName, &args, sizeof args);
        if (length >= 0 || (errno != ENOSYS && errno != EPERM && errno != EINVAL))
            return static_cast<ssize_t>(length);
        // An older kernel, or a sandbox that does not know the call: by path from now on.
        if (errno == ENOSYS)
            g_noGetXattrAt.store(true, std::memory_order_relaxed);
    }
    return ::getxattr(unixPath, XattrName, buffer, size);
}

std::optional<unsigned> parse(const char* buffer, ssize_t length)
{
    if (length < 0)
        return std::nullopt;
    // Wine and Samba write "0x<hex>"; Samba may add a NUL and binary data after it.
    unsigned value = 0;
    if (length > 2 && buffer[0] == '0' && (buffer[1] == 'x' || buffer[1] == 'X'))
        value = static_cast<unsigned>(std::strtoul(buffer + 2, nullptr, 16));
    return value & StoredMask;
}

} // namespace

std::optional<unsigned> read(const char* unixPath)
{
    char buffer[64];
    const ssize_t length = ::getxattr(unixPath, XattrName, buffer, sizeof buffer - 1);
    if (length < 0)
        return std::nullopt;
    buffer[length] = '\0';
    return parse(buffer, length);
}

unsigned effectiveAt(int folderFd, const char* name, const char* unixPath)
{
    char buffer[64];
    const ssize_t length = readAt(folderFd, name, unixPath, buffer, sizeof buffer - 1);
    if (length >= 0)
        buffer[length] = '\0';
    if (const std::optional<unsigned> stored = parse(buffer, length))
        return *stored;
    return isDotName(name) ? 2u : 0u;
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
