#pragma once

// Stand-ins for the main window, the message box, the starter, a one-value registry, and a
// record of what a walk told.
#include "core/FileSystem.h"
#include "core/MainWindowControls.h"
#include "core/OperationError.h"
#include "core/PatchSearch.h"
#include "core/ProgramStarter.h"
#include "core/Registry.h"
#include "core/UserMessages.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velmoran::testing {

// Whether the operation fails with an OperationError that holds each text (and gives a reason).
template <typename F>
::testing::AssertionResult failsWith(F&& operation, const std::vector<std::string>& texts,
                                     bool needsReason = false)
{
    try {
        operation();
    } catch (const OperationError& error) {
        std::string missing = needsReason && error.reason().empty() ? " a reason" : "";
        for (const std::string& text : texts)
            if (std::string(error.what()).find(text) == std::string::npos)
                missing += " \"" + text + "\"";
        return (missing.empty() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
               << error.what() << " lacks" << missing;
    }
    return ::testing::AssertionFailure() << "no failure";
}

struct SearchRecorder : SearchObserver
{
    void subfolderFound(std::uint64_t count) override { captions.push_back(std::to_string(count)); }
    void matchFound(const std::string& entry) override { entries.push_back(entry); }
    void folderPassedOver(const OperationError& e) override { passedOver.push_back(e.what()); }
    void waiting() override { ++waits; }
    std::vector<std::string> entries, captions, passedOver;
    unsigned waits = 0;
};

struct ShownMessage
{
    std::string text, title;
    friend bool operator==(const ShownMessage&, const ShownMessage&) = default;
};

struct RecordingMessages : UserMessages
{
    void showMessage(const std::string& text, const std::string& title) override
    {
        shown.push_back({text, title});
    }
    std::vector<ShownMessage> shown;
};

struct RecordingStarter : ProgramStarter
{
    void startProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& workingFolder) override
    {
        started.push_back({program, workingFolder});
        started.back().insert(started.back().end(), arguments.begin(), arguments.end());
    }
    std::vector<std::vector<std::string>> started; // program, working folder, arguments
};

struct FixedRegistry : RegistryReader
{
    explicit FixedRegistry(std::optional<std::string> value = {}) : value(std::move(value)) {}
    std::optional<std::string> readString(RootKey, const std::string&, const std::string&) override
    {
        return value;
    }
    std::string describeLocation(RootKey, const std::string& key,
                                 const std::string& name) const override
    {
        return "HKEY_LOCAL_MACHINE\\" + key + " " + name;
    }
    std::optional<std::string> value;
};

struct FakeForm : MainWindowControls
{
    int checkValue(int n) const override { return checks.at(static_cast<std::size_t>(n - 1)); }
    std::string caption() const override { return captionText; }
    void setCaption(const std::string& c) override { captionText = c; }
    void minimize() override { ++minimized; }
    void clearList() override { list.clear(); }
    void appendToList(const std::vector<std::string>& e) override
    {
        list.insert(list.end(), e.begin(), e.end());
    }
    int listCount() const override { return static_cast<int>(list.size()); }
    int selectedIndex() const override { return selected; }
    std::string listText(int i) const override { return list.at(static_cast<std::size_t>(i)); }
    std::string selectedDrive() const override { return drive; }
    void selectDrive(const std::string& d) override { driveSelections.push_back(drive = d); }
    std::string urlCaption() const override { return url; }

    std::vector<int> checks{0, 0, 0, 0};
    std::string captionText = "Velmoran";
    int minimized = 0;
    std::vector<std::string> list;
    int selected = -1;
    std::string drive = "c:", url = "velmoran.example.org";
    std::vector<std::string> driveSelections;
};

struct ForwardingFiles : FileSystem
{
    explicit ForwardingFiles(FileSystem& files) : real(files) {}
    using S = const std::string&;
    using Lines = std::vector<std::string>;
    void copyFile(S s, S d) override { real.copyFile(s, d); }
    bool moveFile(S s, S d) override { return real.moveFile(s, d); }
    void deleteFiles(S p) override { real.deleteFiles(p); }
    void makeFolder(S p) override { real.makeFolder(p); }
    void removeFolder(S p) override { real.removeFolder(p); }
    void setAttributes(S p, unsigned v) override { real.setAttributes(p, v); }
    unsigned fileAttributes(S p) override { return real.fileAttributes(p); }
    std::unique_ptr<Listing> findFile(S p, FindFilter f) override { return real.findFile(p, f); }
    void copyFolderTree(S s, S d) override { real.copyFolderTree(s, d); }
    void writeTextFile(S p, const Lines& l) override { real.writeTextFile(p, l); }
    bool sameContents(S a, S b) override { return real.sameContents(a, b); }
    void scanFolder(S f, S n, FolderScan& r) override { real.scanFolder(f, n, r); }
    FileSystem& real;
};

} // namespace velmoran::testing
