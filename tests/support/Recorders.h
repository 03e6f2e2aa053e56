#pragma once

#include "core/MainWindowControls.h"
#include "core/ProgramStarter.h"
#include "core/Registry.h"
#include "core/UserMessages.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmoran::testing {

// Stand-ins for the things outside the file system that commands talk to: the main
// window's controls, the message box, the program starter and a registry with one value.

struct ShownMessage
{
    std::string text;
    std::string title;
    friend bool operator==(const ShownMessage&, const ShownMessage&) = default;
};

class RecordingMessages : public UserMessages
{
public:
    void showMessage(const std::string& text, const std::string& title) override
    {
        shown.push_back({text, title});
    }
    std::vector<ShownMessage> shown;
};

struct StartedProgram
{
    std::string program;
    std::vector<std::string> arguments;
    std::string workingFolder;
};

class RecordingStarter : public ProgramStarter
{
public:
    void startProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& workingFolder) override
    {
        started.push_back({program, arguments, workingFolder});
    }
    std::vector<StartedProgram> started;
};

class FixedRegistry : public RegistryReader
{
public:
    explicit FixedRegistry(std::optional<std::string> value = std::nullopt)
        : value(std::move(value))
    {
    }
    std::optional<std::string> readString(RootKey, const std::string&, const std::string&) override
    {
        ++lookups;
        return value;
    }
    std::string describeLocation(RootKey, const std::string& key,
                                 const std::string& name) const override
    {
        return "HKEY_LOCAL_MACHINE\\" + key + " " + name;
    }
    std::optional<std::string> value;
    int lookups = 0;
};

class FakeForm : public MainWindowControls
{
public:
    int checkValue(int n) const override { return checks.at(static_cast<std::size_t>(n - 1)); }
    std::string caption() const override { return captionText; }
    void setCaption(const std::string& c) override
    {
        captionText = c;
        captions.push_back(c);
    }
    void minimize() override { ++minimized; }
    void clearList() override { list.clear(); }
    void appendToList(const std::vector<std::string>& entries) override
    {
        list.insert(list.end(), entries.begin(), entries.end());
    }
    int listCount() const override { return static_cast<int>(list.size()); }
    int selectedIndex() const override { return selected; }
    std::string listText(int index) const override { return list.at(static_cast<std::size_t>(index)); }
    std::string selectedDrive() const override { return drive; }
    void selectDrive(const std::string& d) override
    {
        drive = d;
        driveSelections.push_back(d);
    }
    std::string urlCaption() const override { return url; }

    std::vector<int> checks{0, 0, 0, 0};
    std::string captionText = "Velmoran";
    std::vector<std::string> captions;
    int minimized = 0;
    std::vector<std::string> list;
    int selected = -1;
    std::string drive = "c:";
    std::vector<std::string> driveSelections;
    std::string url = "velmoran.example.org";
};

} // namespace velmoran::testing
