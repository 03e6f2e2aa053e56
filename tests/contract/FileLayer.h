#pragma once

// The file layer's contract, one for every platform: each platform's tests give a factory
// for its own layer on a scratch folder, and the contract's suites run on it.

#include "core/Drives.h"
#include "core/FileSystem.h"
#include "core/ProgramStarter.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmoran::testing {

// How a stand-in program was started.
struct Started
{
    std::string program; // as the starter was given it
    std::vector<std::string> arguments;
    std::filesystem::path folder; // its current folder
};

class LayerUnderTest
{
public:
    virtual ~LayerUnderTest() = default;
    virtual FileSystem& files() = 0;
    virtual Drives& drives() = 0;
    virtual ProgramStarter& starter() = 0;
    virtual UrlViewer& viewer() = 0;

    // A file of the scratch folder ("Mods/A/x.mpq"), as the system names it and as the
    // layer takes it ("...\Mods\A\x.mpq").
    virtual std::filesystem::path real(const std::string& relative) const = 0;
    virtual std::string at(const std::string& relative) const = 0;
    // Sets read-only (1), hidden (2) and system (4) the way the system stores them.
    virtual void store(const std::string& relative, unsigned attributes) = 0;
    // A folder link; false where the system makes none.
    virtual bool folderLink(const std::string& link, const std::string& target) = 0;
    // UTF-8 text as the system's ANSI code page writes it.
    virtual std::string ansi(const std::string& text) const = 0;

    // A stand-in program at `relative` that records how it is started; what it recorded,
    // waiting for the record when `wait`.
    virtual void installProgram(const std::string& relative) = 0;
    virtual std::optional<Started> started(const std::string& relative, bool wait) = 0;
    // The name to give a shortcut file so that the stand-in viewer opens it ("" when none
    // can be set up here), and what that viewer was handed, waiting for it.
    virtual std::string viewableShortcut() = 0;
    virtual std::optional<std::string> viewed() = 0;
    // Makes the hand-over to the viewer fail from now on; the shortcut name to use then.
    virtual std::string breakViewer() = 0;
};

using LayerFactory = std::function<std::unique_ptr<LayerUnderTest>(const std::filesystem::path&)>;

// This platform's layers under test, each with a name for the test's title.
std::vector<std::pair<std::string, LayerFactory>> layersUnderTest();

} // namespace velmoran::testing
