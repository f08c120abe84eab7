// The mode of the first display device, read or changed by this process. A Wine process keeps
// seeing the mode it started with, so a test reads the mode through a fresh process
// (tools/displaymode); a change takes effect for everybody at once.
#pragma once
#include <windows.h>

// False when the first display has no current mode.
bool ReadFirstDisplayMode(DEVMODEA* mode);
// Changes the resolution of the first display, keeping colour depth and, unless frequency is
// given, the refresh rate; returns what ChangeDisplaySettingsEx returns. asked, when given,
// receives the mode asked for.
LONG ChangeFirstDisplayMode(DWORD width, DWORD height, DWORD frequency = 0, DEVMODEA* asked = nullptr);
