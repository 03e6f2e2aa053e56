#pragma once

#include <optional>
#include <string>

namespace velmoran {

// The hidden and system attributes as Wine keeps them on Unix files: in the extended
// attribute user.DOSATTRIB, written as ASCII "0x%x" without a trailing NUL. A name that
// begins with "." (but is not "." or "..") is hidden while it carries no such attribute.
namespace DosAttributes {

// The bits that live in the extended attribute.
constexpr unsigned StoredMask = 2u | 4u; // hidden | system

// What user.DOSATTRIB holds (only the hidden and system bits), or nothing when the file
// has no such attribute, the file system keeps none, or the file cannot be reached.
std::optional<unsigned> read(const char* unixPath);

// The hidden and system bits as Wine reports them for a file of that name.
unsigned effective(const char* unixPath, const char* name);
// The same for the entry `name` of the open folder folderFd whose full path is unixPath:
// the name alone is looked up where the system allows, else the full path.
unsigned effectiveAt(int folderFd, const char* name, const char* unixPath);

// True for a name that Wine hides when it carries no attribute: ".x", not "." or "..".
bool isDotName(const char* name);

// Stores the hidden and system bits of value. Returns 0 or the errno of the failure
// (ENOTSUP/EOPNOTSUPP when the file system keeps no user extended attributes).
// Clearing removes the attribute, except on a dot-name, which is given "0x0" so that it
// stays visible as asked.
int write(const char* unixPath, const char* name, unsigned value);

} // namespace DosAttributes

} // namespace velmoran
