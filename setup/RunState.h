// The run flags shared by the setup sequence and the install stage. A flag only ever goes from
// false to true.
#pragma once

struct SetupRunState
{
    bool stopped = false;          // the user or the installer stopped the run
    bool showInterrupted = false;  // message 120 at the end
    bool offerDirectX = false;     // the DirectX setup is to be offered
    bool failed = false;           // the inner installer or the redistributable could not run
    bool completed = false;        // the install stage ended normally without failure
};
