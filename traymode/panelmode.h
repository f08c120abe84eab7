// The panel modes of the first display and the choice saved in the registry.
#pragma once
#include <windows.h>

struct PanelMode
{
    DWORD width;
    DWORD height;
};

// The panel height a selector names: 600 when its low word is 1, else 480.
inline DWORD PanelHeight(UINT selector)
{
    return LOWORD(selector) == 1 ? 600 : 480;
}

// Switches the first display to 800 x 600 when the selector's low word is 1, else to 800 x 480,
// keeping colour depth and refresh rate, and tells every top-level window. Does nothing when the
// display is already in that mode.
void SetPanelMode(UINT selector);
// Reads the saved mode, creating the key and writing the default of any value that cannot be read.
PanelMode ReadSavedPanelMode();
void WriteSavedPanelMode(DWORD width, DWORD height);
