#include "setup/InstallStage.h"

// The install stage is not there yet: this stand-in raises no flag and lets the run finish.
bool RunInstallStage(const char* /*workDir*/, const CSetupOptions& /*options*/,
                     const char* /*caption*/, SetupRunState& /*state*/)
{
    return true;
}
