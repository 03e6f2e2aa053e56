#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace velmoran {

// The one error that every failing operation raises: a file operation, a registry read or
// a program start. It names the operation, the path or paths it worked on and the
// system's reason, and its what() is the text that the user is shown.
class OperationError : public std::runtime_error
{
public:
    OperationError(std::string operation, std::vector<std::string> paths, std::string reason);

    const std::string& operation() const { return m_operation; }
    const std::vector<std::string>& paths() const { return m_paths; }
    const std::string& reason() const { return m_reason; }

protected:
    // For errors whose text is written out whole.
    OperationError(std::string operation, std::vector<std::string> paths, std::string reason,
                   const std::string& message);

private:
    std::string m_operation;
    std::vector<std::string> m_paths;
    std::string m_reason;
};

// A folder that is not there to be read: missing, or removed since its parent was listed.
class FolderGone : public OperationError
{
public:
    FolderGone(const std::string& operation, const std::string& folder, const std::string& reason)
        : OperationError(operation, {folder}, reason)
    {
    }
};

// The game's install folder could not be read from the registry.
class GameFolderNotFound : public OperationError
{
public:
    // where: the place that was looked in, as the registry reader describes it.
    explicit GameFolderNotFound(const std::string& where);
};

} // namespace velmoran
