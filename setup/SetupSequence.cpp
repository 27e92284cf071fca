#include "setup/SetupSequence.h"

int RunSetup(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
