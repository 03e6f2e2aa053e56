#pragma once

#include "core/CommandContext.h"

namespace velmoran {

// The folders that the game's -txt mode writes its bin files into, below the game folder.
inline constexpr const char* DataFolder = "\\data";
inline constexpr const char* GlobalFolder = "\\data\\global";
inline constexpr const char* ExcelFolder = "\\data\\global\\excel";
inline constexpr const char* StormLibrary = "\\Storm.dll";
inline constexpr const char* ExcelStormCopy = "\\data\\global\\excel\\Storm.dll";
inline constexpr const char* ExcelFiles = "\\data\\global\\excel\\*.*";

inline constexpr const char* ExcelCreatedMessage = " Folders \\data\\global\\excel created ! ";
inline constexpr const char* ExcelDeletedMessage = " Folders \\data\\global\\excel deleted !";

// The click of cmdCreate: makes data, data\global and data\global\excel in the game folder,
// one level at a time, copies the game's Storm.dll into the excel folder, and reports the
// folders as created when the excel folder then holds an ordinary file.
void createExcelFolders(CommandContext& context);

// The click of cmdDelete: deletes every file of the excel folder, then removes the excel,
// global and data folders, innermost first, and reports the folders as deleted.
void deleteExcelFolders(CommandContext& context);

} // namespace velmoran
