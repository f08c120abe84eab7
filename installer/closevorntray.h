// Ending the running VornTrays before their file is replaced or removed, the one rule of the setup
// and the package.
#pragma once
#include "notes.h"

struct CloseOutcome
{
    // The VornTrays that ended.
    int closed = 0;
    // No window "VORNTRAY" is left on this desktop.
    bool allEnded = false;
};

// Ends every VornTray whose window this desktop shows the way its own "Exit" would: WM_CLOSE to its
// window "VORNTRAY", then a wait until the window is gone and its process, which holds VornTray.exe,
// has ended. All of them together get ZELPC_CLOSE_WAIT_MS: a window that stays (a hung VornTray,
// another program's window of that class, one that makes itself anew), a process that does not end,
// or a window that cannot be posted to ends the closing with allEnded false.
CloseOutcome CloseVornTrays(const Notes& note);
