#include "platform/linux/GamePrefixRegistry.h"

#include "core/OperationError.h"
#include "platform/linux/WinePrefixSearch.h"
#include "platform/linux/WineRegistry.h"

namespace velmoran {

namespace {

const char* const Operation = "look up the game folder";

// An error whose whole text is written here.
class PrefixChoiceError : public OperationError
{
public:
    PrefixChoiceError(std::vector<std::string> paths, const std::string& message)
        : OperationError(Operation, std::move(paths), "", message)
    {
    }
};

std::string howToChoose(const std::string& example)
{
    return "To choose one, start Velmoran with WINEPREFIX set to it, from a terminal:\n\n"
           "    WINEPREFIX=" +
           example +
           " velmoran\n\nor from a desktop entry, with the line\n\n    Exec=env WINEPREFIX=" +
           example + " velmoran\n\nThe README shows how.";
}

void addList(std::string& text, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        text += "\n    " + line;
}

} // namespace

WinePrefix chooseWorkingPrefix(const LinuxEnvironment& environment, const std::string& keyPath,
                               const std::string& valueName)
{
    if (environment.winePrefix)
        return WinePrefix::fromEnvironment(environment);
    const ValueSearch found = findPrefixesHolding(environment, keyPath, valueName);
    if (found.holding.size() == 1)
        return WinePrefix(found.holding.front().prefix.root);
    return WinePrefix::fromEnvironment(environment);
}

GamePrefixRegistry::GamePrefixRegistry(LinuxEnvironment environment, WinePrefix working)
    : m_environment(std::move(environment)), m_working(std::move(working))
{
}

std::optional<std::string> GamePrefixRegistry::readString(RootKey root, const std::string& keyPath,
                                                          const std::string& valueName)
{
    if (m_environment.winePrefix || root != RootKey::LocalMachine)
        return WineRegistryReader(m_working).readString(root, keyPath, valueName);

    const ValueSearch found = findPrefixesHolding(m_environment, keyPath, valueName);
    if (found.holding.empty())
        return std::nullopt;
    if (found.holding.size() > 1) {
        std::string text = "The game was found in more than one Wine prefix, so Velmoran did "
                           "not choose one and did nothing.";
        std::vector<std::string> paths;
        for (const PrefixHolding& holding : found.holding) {
            paths.push_back(holding.prefix.root.string());
            text += "\n\n" + holding.prefix.root.string() + " (" + holding.prefix.origin +
                    "): game folder " + holding.value + "\n    WINEPREFIX=" +
                    holding.prefix.root.string() + " velmoran";
        }
        throw PrefixChoiceError(paths, text + "\n\n" + howToChoose(paths.front()));
    }
    const PrefixHolding& only = found.holding.front();
    if (!sameFolder(only.prefix.root, m_working.root()))
        throw PrefixChoiceError(
            {only.prefix.root.string(), m_working.root().string()},
            "The game is now found in the Wine prefix " + only.prefix.root.string() + " (" +
                only.prefix.origin + "), game folder " + only.value +
                ", but Velmoran has worked in the Wine prefix " + m_working.root().string() +
                " since it started: its drive list and the archives it found belong to that "
                "prefix. So nothing was done.\n\nClose Velmoran and start it again to work "
                "in " +
                only.prefix.root.string() + ".");
    return only.value;
}

std::string GamePrefixRegistry::describeLocation(RootKey root, const std::string& keyPath,
                                                 const std::string& valueName) const
{
    if (m_environment.winePrefix)
        return WineRegistryReader(m_working).describeLocation(root, keyPath, valueName);

    const PrefixSearch search = findPrefixesHolding(m_environment, keyPath, valueName).search;
    std::string text = "the value \"" + valueName + "\" of the key HKEY_LOCAL_MACHINE\\" + keyPath +
                       " (in a 64-bit prefix, its 32-bit view under Wow6432Node) ";
    if (search.prefixes.empty()) {
        text += "in the registry of every Wine prefix, but found no Wine prefix.";
    } else {
        text += "in the registry of each Wine prefix found:";
        for (const FoundPrefix& prefix : search.prefixes)
            text += "\n    " + prefix.root.string() + " (" + prefix.origin + ")";
    }
    text += "\n\nPlaces looked in for Wine prefixes:";
    addList(text, search.searched);
    if (!search.passedOver.empty()) {
        text += "\n\nPassed over:";
        addList(text, search.passedOver);
    }
    return text + "\n\nIf the game is in another Wine prefix, start Velmoran with WINEPREFIX "
                  "set to that prefix (the README shows how)";
}

} // namespace velmoran
