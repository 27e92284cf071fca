// The middle of the run: DirectX check, destination, wait dialog, inner installer,
// redistributable and DirectX offer.
#pragma once
#include "setup/Options.h"
#include "setup/RunState.h"

// workDir ends with a backslash; caption is the caption of messages 111 and 113 shown after a
// failed payload step, as the run loaded it.
// False only when DirectX is too old and no DirectX setup is at hand (message 116 has been
// shown); true in every other case. state.end tells how the stage ended.
bool RunInstallStage(const char* workDir, const CSetupOptions& options, const wchar_t* caption,
                     SetupRunState& state);
