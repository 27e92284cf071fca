// Shared by the test doubles: their string table ids and the log that the tests read.
#pragma once

#define IDS_FAKE_SETUP_TITLE  1  // title of the inner installer's window
#define IDS_FAKE_WAIT_CAPTION 2  // caption of the bootstrapper's wait dialog

#ifndef RC_INVOKED
#include <windows.h>

// Appends one line (format and arguments as for wvsprintfA, no line end) to the file named by
// PIVORA_FAKE_LOG; nothing when it is not set.
void FakeLog(const char* format, ...);
// The environment variable name as a number; fallback when it is not set.
int FakeEnvInt(const char* name, int fallback);
// With PIVORA_FAKE_ENV_NAMES set (names parted by ";"): "<who> env <NAME>=<value>" for each
// (or "<who> env <NAME> unset"), then "<who> cwd=<current folder>".
void FakeLogEnvironment(const char* who);
#endif
