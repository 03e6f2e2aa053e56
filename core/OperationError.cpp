#include "core/OperationError.h"

#include <utility>

namespace velmoran {

namespace {

std::string describe(const std::string& operation, const std::vector<std::string>& paths,
                     const std::string& reason)
{
    std::string text = "Could not " + operation + ".";
    for (const std::string& path : paths)
        text += "\n" + path;
    if (!reason.empty())
        text += "\n\nReason: " + reason;
    return text;
}

} // namespace

OperationError::OperationError(std::string operation, std::vector<std::string> paths,
                               std::string reason)
    : std::runtime_error(describe(operation, paths, reason))
    , m_operation(std::move(operation))
    , m_paths(std::move(paths))
    , m_reason(std::move(reason))
{
}

OperationError::OperationError(std::string operation, std::vector<std::string> paths,
                               std::string reason, const std::string& message)
    : std::runtime_error(message)
    , m_operation(std::move(operation))
    , m_paths(std::move(paths))
    , m_reason(std::move(reason))
{
}

GameFolderNotFound::GameFolderNotFound(const std::string& where)
    : OperationError("look up the game folder", {where}, "not found",
                     "The game's install folder was not found, so nothing was done.\n\n"
                     "Velmoran looked for it in " +
                         where + ".")
{
}

} // namespace velmoran
