// The record of a run's work directory, for when the run never reaches its clean-up (killed, the
// power gone, Windows restarted under it). An elevated run makes its directory admin-only, so the
// user who owns the temporary folder cannot remove what it leaves; the next elevated run does, by
// a record that only administrators can write.
#pragma once
#include <windows.h>

// The record: HKLM "Software\Halvoro\PIVORA" (the 32-bit view, as the hand-off values), value
// "SetupWorkDirectory", REG_SZ: the volume serial number (8 hex digits), the file ID (16 hex
// digits) and the final path of the directory, parted by one blank.
extern const wchar_t kWorkDirectoryRecord[];

// Records the held directory (its final path, without "\\?\") while the run is elevated; not
// elevated, HKEY_LOCAL_MACHINE cannot take it and the user can remove the directory anyway.
// True when it was recorded.
bool RecordWorkDirectory(HANDLE directory, const wchar_t* finalPath);
// Deletes the record once the directory is gone, when it still names that directory.
void ForgetWorkDirectory(const wchar_t* finalPath);
// At the start, with the mutex held: removes the directory a record names, when it is still that
// very directory (same volume, same file ID, reached by a path without links) and one that a run
// made (the name and, elevated, the owner and access list of a work directory); anything else is
// left alone. The record is deleted, but for one that names a directory a run of another session
// still holds: its own end removes that one.
void RemoveRecordedWorkDirectory();
