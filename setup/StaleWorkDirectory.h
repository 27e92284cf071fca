// The work directory of a run that never reached its clean-up (killed, the power gone, Windows
// restarted under it). An elevated run makes its directory admin-only, so the user who owns the
// temporary folder cannot remove what it leaves; the next elevated run does, by a record that
// only administrators can write.
#pragma once
#include <windows.h>

// The record: HKLM "Software\Halvoro\PIVORA" (the 32-bit view, as the hand-off values), value
// "SetupWorkDirectory", REG_SZ: the volume serial number (8 hex digits), the file ID (16 hex
// digits) and the final path of the directory, parted by one blank.
extern const wchar_t kWorkDirectoryRecord[];

// Records the held directory (its final path, without "\\?\") while the run is elevated; not
// elevated, HKEY_LOCAL_MACHINE cannot take it and the user can remove the directory anyway.
void RecordWorkDirectory(HANDLE directory, const wchar_t* finalPath);
// Deletes the record once the directory is gone, when it still names that directory.
void ForgetWorkDirectory(const wchar_t* finalPath);
// At the start, with the mutex held: removes the directory a record names, when it is still that
// very directory (same volume, same file ID, reached by a path without links); anything else of
// that name is left alone. The record is deleted in every case.
void RemoveRecordedWorkDirectory();
