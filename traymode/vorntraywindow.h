// VornTray's main window as other programs meet it: the class (also its title) that finds it, and
// the message the shell sends it for mouse actions on the tray icon.
#pragma once
#include <windows.h>

constexpr char kVornTrayClass[] = "VORNTRAY";
constexpr UINT kTrayCallback = WM_APP + 10;
