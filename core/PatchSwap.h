#pragma once

#include "core/CommandContext.h"

namespace velmoran {

// The patch swap: Backup once, Replace as often as wanted, Undo once. The program keeps no
// record of its own; the state is the layout of the game folder F:
//   Installed   F\patch_d2.mpq, no F\Backup
//   Backed up   hidden F\Backup\patch_d2.mpq (the game's own archive), no F\patch_d2.mpq;
//               with Check1 ticked, F\save_Backup\save holds a copy of F\save
//   Replaced    as Backed up, and F\patch_d2.mpq is the archive chosen in List1
//
// Each handler looks the game folder up afresh; a failed lookup ends it with the
// "game folder not found" error before anything is touched. A failing step raises an
// OperationError and ends the command there: what was done stays done, no later step runs
// and none of the command's own messages is shown. The game's archive is never deleted
// before a copy of it has been verified to hold the same bytes, nor its backup before the
// restored archive has. A run cut short (killed, power cut) never blocks the next Backup:
// the empty Backup and save backup folders it left are removed by it. Undo with nothing
// backed up changes nothing: a copy of the saves that an Undo cut short left behind is
// never merged over the save folder, whose files may be newer; the error names it.

inline constexpr const char* BackupCreatedMessage = " Backup created !!";
inline constexpr const char* ChangesUndoneMessage = " All changes are undone !!";
inline constexpr const char* NothingSelectedMessage = "You didn't select a patch_d2";
inline constexpr const char* PatchReplacedMessage = " The patch_D2 has been replaced ";

// The click of cmdBackup: moves F\patch_d2.mpq into F\Backup, with Check1 ticked (value 1
// exactly) copies F\save into F\save_Backup\save, shows " Backup created !!" and then
// hides the backed-up archive.
void backupPatch(CommandContext& context);

// The click of cmdUndo: puts the backed-up archive back, removes F\Backup, merges the
// saved files back into F\save when their copy holds an ordinary file, removes
// F\save_Backup, and shows " All changes are undone !!".
// Without F\Backup\patch_d2.mpq it raises an OperationError naming it (and the save copy,
// where there is one) and touches nothing.
void undoChanges(CommandContext& context);

// The click of cmdReplace: copies the file of List1's selected entry over F\patch_d2.mpq
// and shows " The patch_D2 has been replaced " once the archive is in place.
void replacePatch(CommandContext& context);

} // namespace velmoran
