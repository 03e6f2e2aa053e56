#pragma once

#include "core/CommandContext.h"
#include "core/PatchSearch.h"

#include <string>

namespace velmoran {

inline constexpr const char* NothingFoundMessage = "File(s) Not Found! Maybe try another Disk ?";
// Before what went wrong, when the walk failed on its way.
inline constexpr const char* SearchFailedMessage = "The search ended early.\n\n";
// The caption after a search that left no entry or one entry in List1.
inline constexpr const char* SearchEndCaption = " Velmoran ";
inline constexpr const char* NoDiskInAMessage = "No Disk in drive A:";
inline constexpr const char* NoDiskInATitle = " Velmoran ";
inline constexpr const char* NoDiskMessage = "No Disk was found on drive ";
inline constexpr const char* NoDiskTitle = "Velmoran ";
// The drive selected when the chosen one cannot be read.
inline constexpr const char* FallbackDrive = "c:";

// The root folder searched for a drive name as Drive1 reports it ("d: [label]" -> "d:\").
std::string searchRoot(const std::string& driveName);

// The Find command is split in two so that the walk between the halves can run away from
// the window's thread:
// beginFind reads Drive1, empties List1 and gives the search root;
std::string beginFind(CommandContext& context);
// endFind applies the end rules once the walk has ended (not for a stopped walk): with no
// entry the "not found" message and then the caption " Velmoran ", with exactly one entry
// the caption " Velmoran ", with more the caption stays at the walk's last count; after
// that, when folders could not be read, one message that says how many and why. A walk that
// failed (`failure`, what went wrong) says so instead of "not found": it did not look
// everywhere.
void endFind(CommandContext& context, const SearchSummary& summary,
             const std::string& failure = {});

// The text of the message about folders that could not be read; empty when all were read.
std::string passedOverMessage(const SearchSummary& summary);

// The whole Find command on the calling thread: List1 and the caption change as the walk
// reports.
void findPatches(CommandContext& context);

// The change of Drive1: tests that the selected drive can be read. When it cannot, says so
// ("No Disk in drive A:" for exactly "a:", otherwise "No Disk was found on drive " and the
// name) and selects "c:" (whose change runs this handling again). When c: itself cannot be
// read the message is shown once and nothing more is selected.
void changeDrive(CommandContext& context);

} // namespace velmoran
