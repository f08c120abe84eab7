// VornTray's notification-area icon as the shell sees it, and what a shell does to the icons it has.
#pragma once
#include <windows.h>
#include "vorntray/resource.h"
#include "vorntraywindow.h"

// The icon's identifier, which its menu resource shares. Its window and callback message are the
// program's own (kVornTrayClass, kTrayCallback).
constexpr UINT kTrayIconId = IDR_TRAYMENU;

// The tests' own two requests below carry no flags: the shell stand-in tells them from the
// programs' requests by that.

// A modify that changes nothing succeeds exactly when the shell has the icon.
bool IconInNotificationArea(HWND owner, UINT identifier = kTrayIconId);
// What a restarting shell does to the icons it had: it forgets them. False when it had none.
bool ShellForgetsIcon(HWND owner, UINT identifier = kTrayIconId);
// What a shell broadcasts when it has started again, and when the work area changes.
void BroadcastTaskbarCreated(DWORD timeoutMs);
void BroadcastWorkAreaChange(DWORD timeoutMs);
