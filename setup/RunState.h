// The run flags shared by the setup sequence and the install stage. A flag only ever goes from
// false to true.
#pragma once

// How a run that reached the install stage ended, for the log.
enum RunEnd
{
    RunEndCompleted,             // the installers ran (the restart question follows)
    RunEndFailed,                // the inner installer or the redistributable could not run
    RunEndDestinationCancelled,  // the destination dialog ended without a folder
    RunEndInstallerCancelled,    // the inner installer left CANCELED set
    RunEndDirectXDeclined,       // No to the DirectX setup
    RunEndNoSpace,               // the work directory's drive filled up while a payload was written
    RunEndNoDirectX,             // DirectX too old and no DirectX setup at hand
};

struct SetupRunState
{
    bool stopped = false;          // the user or the installer stopped the run
    bool showInterrupted = false;  // message 120 at the end
    bool offerDirectX = false;     // the DirectX setup is to be offered
    bool failed = false;           // the inner installer or the redistributable could not run
    bool noSpace = false;          // ... because the work directory's drive filled up
    bool completed = false;        // the install stage ended normally without failure
    RunEnd end = RunEndCompleted;  // set by the stage as it returns
};
