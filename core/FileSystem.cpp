#include "core/FileSystem.h"

namespace velmoran {

std::string findFirst(FileSystem& files, const std::string& pattern, FindFilter filter)
{
    return files.findFile(pattern, filter)->next();
}

} // namespace velmoran
