#pragma once

// A stand-in game on a sample prefix, driven through the real file layer, read back in a line.

#include "core/CommandContext.h"
#include "core/ExcelFolders.h"
#include "core/FindCommand.h"
#include "core/LaunchCommand.h"
#include "core/PatchSwap.h"
#include "support/Recorders.h"
#include "support/SamplePrefix.h"
#include "support/TestPlatform.h"

#include <cctype>
#include <map>
#include <set>

namespace velmoran::testing {

class SampleGame
{
public:
    explicit SampleGame(const fs::path& root) : prefix(root)
    {
        versions["original"] = readFile(game() / "patch_d2.mpq");
        for (const auto& [label, drive, relative] : Mods)
            versions[label] = readFile(prefix.modFile(label));
        versions["Storm"] = readFile(game() / "Storm.dll");
        for (const auto& [name, bytes] : saves())
            saveVersions[name].push_back(bytes);
    }
    Platform& platform() { return services.with(&registry, &starter); }
    FileSystem& files() { return platform().files; }

    fs::path game() const { return prefix.gameFolder(); }
    std::string win(const std::string& p) const { return prefix.gameFolderWindows() + "\\" + p; }
    // The path of a known mod archive ("Median", "Eastern Sun", "Zy-El") as the walk lists it.
    std::string mod(const std::string& label) const
    {
        std::string path = label == "game" || label == "GAME" ? win("patch_d2.mpq") : label;
        for (const auto& [name, drive, relative] : Mods)
            if (label == name) {
#ifdef _WIN32
                path = prefix.modFile(label).string();
#else
                path = drive + (":/" + std::string(relative));
#endif
                std::replace(path.begin(), path.end(), '/', '\\');
            }
        if (label == "GAME") // the game's own archive in capitals
            std::transform(path.begin(), path.end(), path.begin(), ::toupper);
        return path;
    }
    // Runs steps separated by "; ", raising a command's failure: Backup, Backup+saves, Replace
    // <label>|nothing, Undo, Create, Delete, Launch, Find; or by hand: Check<n>=<v>, drive <name>,
    // no game, play, mkdir/rm/write/hide <path>, cp/mv <from> <to>, rmmod/overwrite <label>.
    void run(const std::string& steps)
    {
        static const std::map<std::string, void (*)(CommandContext&)> Commands = {
            {"Backup", backupPatch},        {"Undo", undoChanges},  {"Create", createExcelFolders},
            {"Delete", deleteExcelFolders}, {"Launch", launchGame}, {"Find", findPatches}};
        std::istringstream list(steps);
        for (std::string step; std::getline(list, step, ';');) {
            step.erase(0, step.find_first_not_of(' '));
            const std::size_t blank = step.find(' ');
            const std::string verb = step.substr(0, blank);
            const std::string rest = blank == std::string::npos ? "" : step.substr(blank + 1);
            const fs::path path = game() / rest;
            CommandContext c{platform(), form, messages};
            if (Commands.contains(verb)) {
                Commands.at(verb)(c);
            } else if (verb == "Backup+saves") {
                form.checks[0] = CheckValue::Ticked;
                backupPatch(c);
            } else if (verb == "Replace") { // List1 holds the archive, selected, for the click only
                struct Restore
                {
                    FakeForm& form;
                    FakeForm shown;
                    ~Restore() { form = shown; }
                } restore{form, form};
                form.list = {mod(rest)};
                form.selected = rest == "nothing" ? -1 : 0;
                replacePatch(c);
            } else if (step.starts_with("Check")) {
                form.checks.at(static_cast<std::size_t>(step[5] - '1')) = step[7] - '0';
            } else if (verb == "drive") {
                form.drive = rest;
            } else if (step == "no game") {
                registry.value.reset();
            } else if (step == "play") { // one save changed, one new character
                for (const auto& [name, tag] :
                     {std::pair{"Sorceress.d2s", "Sorceress played"}, {"Amazon.d2s", "Amazon"}}) {
                    saveVersions[name].push_back(standInBytes(tag, 1700));
                    writeFile(game() / "save" / name, saveVersions[name].back());
                }
            } else if (verb == "mkdir") {
                fs::create_directories(path);
            } else if (verb == "rm") {
                fs::remove_all(path);
            } else if (verb == "write") {
                writeFile(path, "mine");
            } else if (verb == "hide") {
                files().setAttributes(win(rest), Attribute::Hidden);
            } else if (verb == "cp" || verb == "mv") {
                const std::size_t split = rest.find(' ');
                const fs::path from = game() / rest.substr(0, split),
                               to = game() / rest.substr(split + 1);
                verb == "cp" ? fs::copy(from, to, fs::copy_options::recursive)
                             : fs::rename(from, to);
            } else if (verb == "overwrite") { // the archive, in place, as an unsafe copy would
                std::ofstream out(game() / "patch_d2.mpq", std::ios::binary | std::ios::trunc);
                const std::string& bytes = versions.at(rest);
                for (std::size_t at = 0; at < bytes.size(); at += 4096)
                    out.write(bytes.data() + at,
                              std::streamsize(std::min<std::size_t>(4096, bytes.size() - at)))
                        .flush();
            } else if (verb == "rmmod") {
                fs::remove(prefix.modFile(rest));
            } else if (!step.empty()) {
                throw std::logic_error("unknown step " + step);
            }
        }
    }
    // Which known archive a file holds: "-" when missing, else its label, else "?<size>".
    std::string label(const fs::path& file) const
    {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec))
            return "-";
        const std::string bytes = readFile(file);
        for (const auto& [name, content] : versions)
            if (content == bytes)
                return name;
        return "?" + std::to_string(bytes.size());
    }
    // "<archive> | <backup> | <save copy>", then whatever else is not as installed.
    std::string layout()
    {
        const auto words = [](const auto& list) {
            std::string out;
            for (const std::string& word : list)
                out += " " + word;
            return out;
        };
        const fs::path backup = game() / "Backup" / "patch_d2.mpq";
        std::string text = label(game() / "patch_d2.mpq") + " | " +
                           (!fs::exists(backup.parent_path()) ? "no Backup"
                            : !fs::exists(backup)             ? "Backup:-"
                                                              : "Backup:" + label(backup));
        if (fs::exists(backup) &&
            files().fileAttributes(win("Backup\\patch_d2.mpq")) & Attribute::Hidden)
            text += " hidden";
        text += fs::exists(game() / "save_Backup") ? " | save_Backup" : " | no save_Backup";
        // The saves, where they are not the installed ones: each with its version's number.
        auto describeSaves = [&](const std::string& folder, const std::string& title) {
            std::string out;
            for (const auto& [name, bytes] : saves(folder)) {
                const auto& known = saveVersions[name];
                const std::size_t n = std::size_t(std::ranges::find(known, bytes) - known.begin());
                out += " " + name + (n == known.size() ? "?" : n ? "@" + std::to_string(n) : "");
            }
            return out.empty() ? std::string() : " | " + title + ":" + out;
        };
        if (const std::string now = describeSaves("save", "save");
            now != " | save: Barbarian.d2s Sorceress.d2s Sorceress.key")
            text += now.empty() ? " | save: none" : now;
        if (fs::exists(game() / "save_Backup" / "save"))
            text += describeSaves("save_Backup/save", "copy");
        if (fs::exists(game() / "data")) {
            std::set<std::string> tree;
            for (const auto& e : fs::recursive_directory_iterator(game() / "data")) {
                const std::string known = e.is_directory() ? "/" : label(e.path());
                tree.insert(e.path().lexically_relative(game() / "data").generic_string() +
                            (known.starts_with("?") ? ""
                             : known == "/"         ? "/"
                                                    : "=" + known));
            }
            text += " | data:" + words(tree);
        }
        if (!form.list.empty())
            text += " | List1:" + words(form.list);
        if (form.captionText != "Velmoran")
            text += " | caption \"" + form.captionText + "\"";
        for (const auto& s : starter.started) // program, working folder, arguments
            text += " | started " +
                    (s[0].starts_with(win("")) ? s[0].substr(win("").size()) : s[0]) +
                    (s[1] == prefix.gameFolderWindows() ? "" : " in " + s[1]) +
                    words(std::vector(s.begin() + 2, s.end()));
        return text + (form.minimized ? " | minimized" : "");
    }
    // Every file and folder under the game folder with its bytes and attributes.
    std::map<std::string, std::string> snapshot()
    {
        std::map<std::string, std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(game())) {
            std::string relative = entry.path().lexically_relative(game()).string();
            std::replace(relative.begin(), relative.end(), '/', '\\');
            entries[relative] = std::to_string(files().fileAttributes(win(relative))) +
                                (entry.is_regular_file() ? " " + readFile(entry.path()) : "");
        }
        return entries;
    }
    // The saves as name -> bytes, in a folder under the game folder.
    std::map<std::string, std::string> saves(const std::string& folder = "save") const
    {
        std::map<std::string, std::string> result;
        std::error_code ec;
        for (auto it = fs::directory_iterator(game() / folder, ec);
             !ec && it != fs::directory_iterator(); it.increment(ec))
            if (it->is_regular_file())
                result[it->path().filename().string()] = readFile(it->path());
        return result;
    }
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
