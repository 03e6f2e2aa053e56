#pragma once

// Each platform's tests give a factory for its own layer on a scratch folder, for the contract.
#include "core/FileSystem.h"
#include "core/ProgramStarter.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmoran::testing {

struct Started // how a stand-in program was started
{
    std::string program;
    std::vector<std::string> arguments;
    std::filesystem::path folder; // its current folder
};

class LayerUnderTest
{
public:
    virtual ~LayerUnderTest() = default;
    virtual FileSystem& files() = 0;
    virtual ProgramStarter& starter() = 0;

    // A path of the scratch folder ("Mods/A/x.mpq"), for the system and for the layer.
    virtual std::filesystem::path real(const std::string& relative) const = 0;
    virtual std::string at(const std::string& relative) const = 0;
    // Sets read-only (1), hidden (2) and system (4) the way the system stores them.
    virtual void store(const std::string& relative, unsigned attributes) = 0;
    // A folder link; false where the system makes none.
    virtual bool folderLink(const std::string& link, const std::string& target) = 0;
    // UTF-8 text as the system's ANSI code page writes it.
    virtual std::string ansi(const std::string& text) const = 0;
    // A stand-in program that records how it is started; how it was (waiting when asked).
    virtual void installProgram(const std::string& relative) = 0;
    virtual std::optional<Started> started(const std::string& relative, bool wait) = 0;
};

using LayerFactory = std::function<std::unique_ptr<LayerUnderTest>(const std::filesystem::path&)>;

std::vector<std::pair<std::string, LayerFactory>> layersUnderTest(); // with their names

} // namespace velmoran::testing
