// Drives a running VornTray for the demo, one step per run, the way the shell and a user would.
//   traydemo listen          prints every WM_DISPLAYCHANGE broadcast until VornTray has come and gone
//   traydemo ready           waits until VornTray's message loop runs
//   traydemo menu N FLAG     opens the real tray menu, says so, waits for the file FLAG, then picks item N (1-based)
//   traydemo double-click    double-clicks the icon
//   traydemo exit            chooses "Exit" and waits until VornTray has ended
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "messages.h"
#include "shellicon.h"

namespace {

HWND FindTray(DWORD timeoutMs)
{
    HWND window = nullptr;
    PumpUntil([&] { return (window = FindWindowA("VORNTRAY", "VORNTRAY")) != nullptr; }, timeoutMs);
    return window;
}

HWND FindMenuOf(HWND owner, DWORD timeoutMs)
{
    DWORD ownerProcess = 0;
    GetWindowThreadProcessId(owner, &ownerProcess);
    HWND menu = nullptr;
    PumpUntil([&] {
        menu = FindProcessWindow("#32768", ownerProcess);
        return menu && IsWindowVisible(menu);
    }, timeoutMs);
    return menu && IsWindowVisible(menu) ? menu : nullptr;
}

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DISPLAYCHANGE) {
        printf("broadcast WM_DISPLAYCHANGE wParam=%u (bits per pixel) lParam=0x%08lx (%u x %u)\n",
               static_cast<unsigned>(wParam), static_cast<unsigned long>(lParam), LOWORD(lParam), HIWORD(lParam));
        fflush(stdout);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int Listen()
{
    CreateHiddenWindow("TrayDemoListener", ListenerProc, nullptr);
    bool seen = false;
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        bool present = FindWindowA("VORNTRAY", "VORNTRAY") != nullptr;
        if (seen && !present)
            return 0;
        seen = seen || present;
        if (!seen && GetTickCount() - start > 60000)
            return 1;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

int Ready(HWND tray)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(tray, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    return process && WaitForInputIdle(process, 30000) == 0 ? 0 : 1;
}

int ChooseFromMenu(HWND tray, int item, const char* flagFile)
{
    // Open it in the middle of the panel, where the screenshot shows it whole.
    SetCursorPos(300, 200);
    PostMessageA(tray, kTrayCallback, kTrayIconId, WM_RBUTTONUP);
    HWND menu = FindMenuOf(tray, 10000);
    if (!menu) {
        fprintf(stderr, "traydemo: the menu did not open\n");
        return 1;
    }
    printf("menu open\n");
    fflush(stdout);
    while (GetFileAttributesA(flagFile) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);
    for (int i = 0; i < item; ++i)
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    while (IsWindowVisible(menu))
        Sleep(50);
    // Let the command finish before the next step reads the mode.
    SendMessageTimeoutA(tray, WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr);
    return 0;
}

int DoubleClick(HWND tray)
{
    PostMessageA(tray, kTrayCallback, kTrayIconId, WM_LBUTTONDBLCLK);
    // The double-click posts the command; a sent message after it returns once it has run.
    Sleep(200);
    SendMessageTimeoutA(tray, WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr);
    return 0;
}

int Exit(HWND tray)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(tray, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageA(tray, WM_COMMAND, IDM_EXIT, 0);
    return process && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "listen") == 0)
        return Listen();
    HWND tray = FindTray(30000);
    if (!tray) {
        fprintf(stderr, "traydemo: VornTray is not running\n");
        return 1;
    }
    if (argc == 2 && strcmp(argv[1], "ready") == 0)
        return Ready(tray);
    if (argc == 4 && strcmp(argv[1], "menu") == 0)
        return ChooseFromMenu(tray, atoi(argv[2]), argv[3]);
    if (argc == 2 && strcmp(argv[1], "double-click") == 0)
        return DoubleClick(tray);
    if (argc == 2 && strcmp(argv[1], "exit") == 0)
        return Exit(tray);
    fprintf(stderr, "usage: traydemo listen | ready | menu N FLAGFILE | double-click | exit\n");
    return 2;
}
