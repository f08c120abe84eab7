// VornTray's notification-area icon as the shell sees it, and what a shell does to the icons it has.
#pragma once
#include <windows.h>
#include "vorntray/resource.h"

// The icon's identifier, which its menu resource shares, and the message the shell sends its
// window for mouse actions on the icon.
constexpr UINT kTrayIconId = IDR_TRAYMENU;
constexpr UINT kTrayCallback = WM_APP + 10;
// The class and the title of VornTray's main window, which owns the icon.
constexpr char kVornTrayClass[] = "VORNTRAY";

// A modify that changes nothing succeeds exactly when the shell has the icon.
bool IconInNotificationArea(HWND owner, UINT identifier = kTrayIconId);
// What a restarting shell does to the icons it had: it forgets them. False when it had none.
bool ShellForgetsIcon(HWND owner, UINT identifier = kTrayIconId);
// What a shell broadcasts when it has started again, and when the work area changes.
void BroadcastTaskbarCreated(DWORD timeoutMs);
void BroadcastWorkAreaChange(DWORD timeoutMs);
