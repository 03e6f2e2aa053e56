#include "core/GameFolder.h"

#include "core/OperationError.h"

namespace velmoran {

std::optional<std::string> lookupGameFolder(RegistryReader& registry)
{
    return registry.readString(RootKey::LocalMachine, GameKeyPath, GameValueName);
}

std::string requireGameFolder(RegistryReader& registry)
{
    std::optional<std::string> folder = lookupGameFolder(registry);
    if (!folder)
        throw GameFolderNotFound(
            registry.describeLocation(RootKey::LocalMachine, GameKeyPath, GameValueName));
    return *folder;
}

} // namespace velmoran
