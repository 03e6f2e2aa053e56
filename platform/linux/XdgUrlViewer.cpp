#include "platform/linux/XdgUrlViewer.h"

#include "core/AsciiText.h"
#include "core/OperationError.h"
#include "platform/linux/DetachedProcess.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace velmoran {

namespace {

constexpr const char* Opener = "xdg-open";

bool isSchemeCharacter(char c)
{
    return isAsciiLetter(c) || isAsciiDigit(c) || c == '+' || c == '-' || c == '.';
}

} // namespace

XdgUrlViewer::XdgUrlViewer(WinePrefix prefix) : m_prefix(std::move(prefix)) {}

std::string XdgUrlViewer::openerAddress(const std::string& address)
{
    // A scheme is letters, digits, "+", "-" and "." after a first letter, then ":". A host
    // name ("example.org:8080") has a dot before the colon, and "localhost:8080" a digit
    // after it: neither names a scheme.
    const std::size_t colon = address.find(':');
    bool hasScheme = colon != std::string::npos && colon > 0 && isAsciiLetter(address[0]);
    for (std::size_t i = 0; hasScheme && i < colon; ++i)
        hasScheme = isSchemeCharacter(address[i]) && address[i] != '.';
    if (hasScheme && colon + 1 < address.size() && address[colon + 1] >= '0' &&
        address[colon + 1] <= '9')
        hasScheme = false;
    return hasScheme ? address : "http://" + address;
}

void XdgUrlViewer::openShortcut(const std::string& shortcutFile, const std::string& address)
{
    const std::string operation = "open the web address " + address;
    const std::string file = m_prefix.toUnix(shortcutFile, operation).string();
    const std::string opener = findOnPath(Opener);
    const int error =
        opener.empty() ? 0 : startDetached({opener, {openerAddress(address)}, {}, {}});

    // The opener works from the address alone and never reads the file: whether it started
    // or not, the file goes now.
    const int removed = ::unlink(file.c_str()) == 0 ? 0 : errno;

    if (opener.empty())
        throw OperationError(operation, {},
                             "xdg-open was not found on PATH. Velmoran opens web addresses "
                             "with the desktop's own opener; install it (on Debian: apt "
                             "install xdg-utils) and try again.");
    if (error != 0)
        throw OperationError(operation, {opener}, std::strerror(error));
    if (removed != 0 && removed != ENOENT)
        throw OperationError("delete the shortcut file", {shortcutFile, file},
                             std::strerror(removed));
}

} // namespace velmoran
