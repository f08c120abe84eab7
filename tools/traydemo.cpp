// Drives a running VornTray for the demo, one step per run, the way the shell and a user would.
//   traydemo listen          prints every WM_DISPLAYCHANGE broadcast until VornTray has come and gone
//   traydemo ready           waits until VornTray's message loop runs
//   traydemo menu N FLAG     opens the real tray menu, says so, waits for the file FLAG, then picks panel mode
//                            item N (1 or 2) and waits until its command has saved the choice
//   traydemo double-click    double-clicks the icon and waits until its command has saved the choice
//   traydemo exit            chooses "Exit" and waits until VornTray has ended
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "handles.h"
#include "messages.h"
#include "shellicon.h"

namespace {

// Where VornTray saves the choice, after the mode change and its broadcast.
const char kSettingsKey[] = "SOFTWARE\\Vorn\\ZelPC";

HWND FindTray(DWORD timeoutMs)
{
    HWND window = nullptr;
    PumpUntil([&] { return (window = FindWindowA(kVornTrayClass, kVornTrayClass)) != nullptr; }, timeoutMs);
    return window;
}

// Watches the saved choice: VornTray writes it at the end of every mode command, also when it
// is the one already saved, so the write tells that the command has run, mode change included.
class ChoiceWatch
{
public:
    ChoiceWatch()
    {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_NOTIFY, m_key.put()) == ERROR_SUCCESS)
            RegNotifyChangeKeyValue(m_key.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET, m_written.get(), TRUE);
    }
    bool WaitWritten(DWORD timeoutMs) { return m_key && WaitForSingleObject(m_written.get(), timeoutMs) == WAIT_OBJECT_0; }

private:
    unique_hkey m_key;
    unique_handle m_written{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

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
        bool present = FindWindowA(kVornTrayClass, kVornTrayClass) != nullptr;
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
    unique_handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, ProcessOf(tray)));
    return process && WaitForInputIdle(process.get(), 30000) == 0 ? 0 : 1;
}

int ChooseFromMenu(HWND tray, int item, const char* flagFile)
{
    // Open it in the middle of the panel, where the screenshot shows it whole.
    SetCursorPos(300, 200);
    PostMessageA(tray, kTrayCallback, kTrayIconId, WM_RBUTTONUP);
    HWND menu = WaitForVisibleMenu(ProcessOf(tray), 10000);
    if (!menu) {
        fprintf(stderr, "traydemo: the menu did not open\n");
        return 1;
    }
    printf("menu open\n");
    fflush(stdout);
    while (GetFileAttributesA(flagFile) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);
    // Let the command finish before the next step reads the mode.
    ChoiceWatch watch;
    if (!ChooseMenuItem(menu, item, 10000) || !watch.WaitWritten(10000)) {
        fprintf(stderr, "traydemo: item %d was not chosen, or its command did not run\n", item);
        return 1;
    }
    return 0;
}

int DoubleClick(HWND tray)
{
    ChoiceWatch watch;
    PostMessageA(tray, kTrayCallback, kTrayIconId, WM_LBUTTONDBLCLK);
    // The double-click posts the first item's command; its end is the choice written.
    if (!watch.WaitWritten(10000)) {
        fprintf(stderr, "traydemo: the double-click's command did not run\n");
        return 1;
    }
    return 0;
}

int Exit(HWND tray)
{
    unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, ProcessOf(tray)));
    PostMessageA(tray, WM_COMMAND, IDM_EXIT, 0);
    return process && WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0 ? 0 : 1;
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
