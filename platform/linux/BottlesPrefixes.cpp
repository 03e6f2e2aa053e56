// Bottles' prefixes: the bottles of Bottles and Flatpak Bottles, in their bottles folder or
// its custom replacement, placeholders followed, each started with its own runner.
#include "platform/linux/LauncherPrefixes.h"

#include <system_error>

namespace fs = std::filesystem;

namespace velmoran {

namespace {

const char* const FlatpakBottles = ".var/app/com.usebottles.bottles/data/bottles";

// The folder a bottle really lies in: where its placeholder.yml leads, or its bottle.yml's
// Path when Custom_Path is set; nothing (and a note) when a placeholder leads nowhere usable.
std::optional<fs::path> realBottle(const fs::path& entry, const fs::path& home,
                                   std::vector<std::string>& passedOver)
{
    fs::path bottle = entry;
    if (const std::optional<YAML::Node> placeholder =
            loadYaml(entry / "placeholder.yml", passedOver, false)) {
        const std::optional<std::string> path = scalarAt(*placeholder, {"Path"});
        const fs::path target = path ? expandHome(*path, home) : fs::path();
        if (!target.is_absolute()) {
            passedOver.push_back((entry / "placeholder.yml").string() +
                                 ": names no absolute Path for the bottle");
            return std::nullopt;
        }
        bottle = target;
    }
    if (isWinePrefix(bottle))
        return bottle;
    if (const std::optional<YAML::Node> config = loadYaml(bottle / "bottle.yml", passedOver, false))
        if (scalarAt(*config, {"Custom_Path"}) == "true")
            if (const std::optional<std::string> path = scalarAt(*config, {"Path"}))
                if (fs::path custom = expandHome(*path, home);
                    custom.is_absolute() && isWinePrefix(custom))
                    return custom;
    if (bottle != entry)
        passedOver.push_back((entry / "placeholder.yml").string() + ": leads to " +
                             bottle.string() + ", which is not a Wine prefix");
    return std::nullopt;
}

void searchBottlesFolder(const fs::path& bottles, const fs::path& base, bool flatpak,
                         const fs::path& home, PrefixCollector& collector)
{
    collector.searched().push_back("the Bottles bottles " + (bottles / "*").string());
    for (const fs::path& entry : folderEntries(bottles, collector.passedOver())) {
        const std::optional<fs::path> bottle = realBottle(entry, home, collector.passedOver());
        if (!bottle)
            continue;
        std::string name = entry.filename().string();
        PrefixStart start;
        if (const std::optional<YAML::Node> config =
                loadYaml(*bottle / "bottle.yml", collector.passedOver(), false)) {
            if (std::optional<std::string> named = scalarAt(*config, {"Name"}))
                name = *named;
            const std::optional<std::string> runner = scalarAt(*config, {"Runner"});
            if (runner && plainName(*runner) && !runner->starts_with("sys-")) {
                const fs::path bin = base / "runners" / *runner / "bin";
                std::error_code ec;
                if (scalarAt(*config, {"Arch"}) == "win64" && fs::exists(bin / "wine64", ec))
                    start.wines.push_back(bin / "wine64");
                start.wines.push_back(bin / "wine");
            }
        }
        if (flatpak) {
            start = PrefixStart{};
            start.through = StartThrough::BottlesCli;
            start.bottle = name;
        }
        collector.add(*bottle, "Bottles bottle " + name, std::move(start));
    }
}

void searchBottlesInstall(const fs::path& base, bool flatpak, const fs::path& home,
                          PrefixCollector& collector)
{
    searchBottlesFolder(base / "bottles", base, flatpak, home, collector);
    if (const std::optional<YAML::Node> data =
            loadYaml(base / "data.yml", collector.passedOver(), false))
        if (const std::optional<std::string> custom = scalarAt(*data, {"custom_bottles_path"})) {
            const fs::path folder = expandHome(*custom, home);
            if (folder.is_absolute())
                searchBottlesFolder(folder, base, flatpak, home, collector);
            else
                collector.passedOver().push_back((base / "data.yml").string() +
                                                 ": custom_bottles_path " + *custom +
                                                 " is not an absolute path");
        }
}

} // namespace

void searchBottles(const LinuxEnvironment& environment, PrefixCollector& collector)
{
    searchBottlesInstall(environment.userData() / "bottles", false, environment.home, collector);
    searchBottlesInstall(environment.home / FlatpakBottles, true, environment.home, collector);
}

} // namespace velmoran
