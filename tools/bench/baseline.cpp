// The bench's yardstick: the least a program of VornTray's kind can be. One hidden window, one tray
// icon and a message loop, built like the shipped programs; everything VornTray costs beyond this
// is its own.
#include <windows.h>
#include "shellicon.h"

namespace {

const char kClassName[] = "VORNBASELINE";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT,
                                  0, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 0;

    NOTIFYICONDATAA icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    // VornTray's identifier and callback message, so that the bench checks both icons alike.
    icon.uID = kTrayIconId;
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = kTrayCallback;
    icon.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    lstrcpynA(icon.szTip, "Baseline", sizeof(icon.szTip));
    if (!Shell_NotifyIconA(NIM_ADD, &icon))
        return 0;

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
