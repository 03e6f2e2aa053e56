#pragma once

// A stand-in game on a sample prefix, driven through the real file layer, read back in a line.

#include "core/CommandContext.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velmoran::testing {

class SampleGame
{
public:
    explicit SampleGame(const std::filesystem::path& root);

    Platform& platform() { return services.with(&registry, &starter); }
    FileSystem& files() { return platform().files; }

    std::filesystem::path game() const { return prefix.gameFolder(); }
    std::string win(const std::string& p) const { return prefix.gameFolderWindows() + "\\" + p; }
    // The path of a known mod archive ("Median", "Eastern Sun", "Zy-El") as the walk lists it.
    std::string mod(const std::string& label) const;
    // Runs steps separated by "; ", raising a command's failure: Backup, Backup+saves, Replace
    // <label>|nothing, Undo, Create, Delete, Launch, Find; or by hand: Check<n>=<v>, drive <name>,
    // no game, play, mkdir/rm/write/hide <path>, cp/mv <from> <to>, rmmod/overwrite <label>.
    void run(const std::string& steps);
    // Which known archive a file holds: "-" when missing, else its label, else "?<size>".
    std::string label(const std::filesystem::path& file) const;
    // "<archive> | <backup> | <save copy>", then whatever else is not as installed.
    std::string layout();
    // Every file and folder under the game folder with its bytes and attributes.
    std::map<std::string, std::string> snapshot();
    // The saves as name -> bytes, in a folder under the game folder.
    std::map<std::string, std::string> saves(const std::string& folder = "save") const;

    SamplePrefix prefix;
    TestPlatform services{prefix.prefix()};
    FixedRegistry registry{prefix.gameFolderWindows()};
    RecordingStarter starter;
    FakeForm form;
    RecordingMessages messages;
    std::map<std::string, std::string> versions;                  // archive label -> bytes
    std::map<std::string, std::vector<std::string>> saveVersions; // save name -> its versions
};

} // namespace velmoran::testing
