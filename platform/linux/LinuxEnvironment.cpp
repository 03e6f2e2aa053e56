#include "platform/linux/LinuxEnvironment.h"

#include <cstdlib>

namespace velmoran {

namespace {

std::optional<std::string> variable(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? std::optional<std::string>(value) : std::nullopt;
}

// The XDG base folders count only when absolute; a relative one is ignored, as the XDG
// base directory rules say.
std::optional<std::filesystem::path> absoluteVariable(const char* name)
{
    const std::optional<std::string> value = variable(name);
    return value && value->front() == '/' ? std::optional<std::filesystem::path>(*value)
                                          : std::nullopt;
}

} // namespace

LinuxEnvironment LinuxEnvironment::fromProcess()
{
    LinuxEnvironment environment;
    environment.home = variable("HOME").value_or("/");
    environment.winePrefix = variable("WINEPREFIX");
    environment.wine = variable("WINE");
    environment.dataHome = absoluteVariable("XDG_DATA_HOME");
    environment.configHome = absoluteVariable("XDG_CONFIG_HOME");
    return environment;
}

std::filesystem::path LinuxEnvironment::userData() const
{
    return dataHome ? *dataHome : home / ".local" / "share";
}

std::filesystem::path LinuxEnvironment::userConfig() const
{
    return configHome ? *configHome : home / ".config";
}

} // namespace velmoran
