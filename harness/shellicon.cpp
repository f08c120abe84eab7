#include "shellicon.h"

namespace {
NOTIFYICONDATAA IconKey(HWND owner, UINT identifier)
{
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uID = identifier;
    return data;
}
} // namespace

bool IconInNotificationArea(HWND owner, UINT identifier)
{
    NOTIFYICONDATAA data = IconKey(owner, identifier);
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

bool ShellForgetsIcon(HWND owner, UINT identifier)
{
    NOTIFYICONDATAA data = IconKey(owner, identifier);
    return Shell_NotifyIconA(NIM_DELETE, &data) != FALSE;
}

void BroadcastTaskbarCreated(DWORD timeoutMs)
{
    SendMessageTimeoutA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, timeoutMs,
                        nullptr);
}

void BroadcastWorkAreaChange(DWORD timeoutMs)
{
    SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, SMTO_ABORTIFHUNG, timeoutMs, nullptr);
}
