#pragma once

// Where each launcher keeps Wine prefixes and how it starts them; one unit each:
// PlainWinePrefixes.cpp, LutrisPrefixes.cpp, BottlesPrefixes.cpp, SteamPrefixes.cpp,
// HeroicPrefixes.cpp. Each adds the prefixes it finds, in its own order, and says where it
// looked and what it passed over.
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/PrefixFiles.h"
#include "platform/linux/SteamLibraries.h"

namespace velmoran {

// ~/.wine, started through $WINE or wine on PATH.
void searchDefaultWine(const LinuxEnvironment& environment, PrefixCollector& collector);
// The folders directly in ~/Games that are prefixes, started as ~/.wine is.
void searchGamesFolder(const LinuxEnvironment& environment, PrefixCollector& collector);

// The prefixes Lutris game files name (game: prefix:) in <data>/lutris/games/*.yml, then
// <config>/lutris/games/*.yml, then Flatpak Lutris's ~/.var/app/net.lutris.Lutris/data/
// lutris/games and .../config/lutris/games. The Wine version is the game file's
// wine: version:, else runners/wine.yml's, else Lutris's default ge-proton: "system" is wine
// on PATH; a Proton version starts through umu-run; any other, Lutris's runners/wine/<v>/.
void searchLutris(const LinuxEnvironment& environment, SteamInstall& steam,
                  PrefixCollector& collector);

// The bottles in <data>/bottles/bottles/ and Flatpak Bottles'
// ~/.var/app/com.usebottles.bottles/data/bottles/bottles/, each followed by the
// custom_bottles_path of its data.yml; a placeholder.yml leads to the bottle, and a bottle
// with Custom_Path lies at its Path. Started with the bottle's Runner (bin/wine64 for a win64
// bottle where the runner has it); a Flatpak bottle through bottles-cli in Flatpak.
void searchBottles(const LinuxEnvironment& environment, PrefixCollector& collector);

// <library>/steamapps/compatdata/<id>/pfx of every Steam library, <id> not 0, started
// through its Proton (SteamInstall::protonStart).
void searchSteam(const LinuxEnvironment& environment, SteamInstall& steam,
                 PrefixCollector& collector);

// The prefixes of Heroic's GamesConfig/*.json (winePrefix, wineVersion) in <config>/heroic
// and Flatpak Heroic's ~/.var/app/com.heroicgameslauncher.hgl/config/heroic, then the
// folders of ~/Games/Heroic/Prefixes/ and ~/Games/Heroic/Prefixes/default/. A Proton one is
// winePrefix/pfx, started through its Proton; a Wine one through wineVersion.bin.
void searchHeroic(const LinuxEnvironment& environment, SteamInstall& steam,
                  PrefixCollector& collector);

// The compat data folder of a prefix that Proton or umu made: the parent of a prefix named
// pfx, or the prefix itself when its pfx leads back to it; only where config_info or version
// lies in it.
std::optional<std::filesystem::path> compatDataOf(const std::filesystem::path& prefix);

} // namespace velmoran
