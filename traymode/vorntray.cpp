// VornTray: switches the built-in panel between 800 x 480 and 800 x 600 from its tray icon.
#include <windows.h>
#include "panelmode.h"
#include "resource.h"
#include "systemtray.h"
#include "vorntraywindow.h"

namespace {

const char kInstanceMutexName[] = "E66DAB12-3AD4-4885-A5C6-C1F32EA6F7D2";
const char kTooltip[] = "Vorn ZelPC Utility";
const UINT kBalloonTimeoutSeconds = 10;

PanelMode g_savedMode;

} // namespace

// Constructed before WinMain and destroyed after it returns; it owns the notification window.
CSystemTray g_tray;

namespace {

bool IsOnlyInstance()
{
    // The handle stays open for the whole run: the mutex lives exactly as long as this copy.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kInstanceMutexName);
    return !(mutex && GetLastError() == ERROR_ALREADY_EXISTS);
}

void ChoosePanelMode(UINT selector)
{
    SetPanelMode(selector);
    // The choice is recorded even when the display was already there or refused the mode.
    WriteSavedPanelMode(800, PanelHeight(selector));
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    // Only the low word names the command: a notification code in the high word changes nothing.
    switch (LOWORD(wParam)) {
    case IDM_LCD_800X480:
        ChoosePanelMode(0);
        return 0;
    case IDM_LCD_800X600:
        ChoosePanelMode(1);
        return 0;
    case IDM_EXIT:
        DestroyWindow(window);
        return 0;
    default:
        return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
    }
}

void OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case kTrayCallback:
        return g_tray.HandleTrayMessage(wParam, lParam);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VORNTRAY));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kVornTrayClass;
    RegisterClassExA(&windowClass);
}

void ApplySavedPanelMode()
{
    g_savedMode = ReadSavedPanelMode();
    if (g_savedMode.width != 800)
        return;
    if (g_savedMode.height == PanelHeight(0))
        SetPanelMode(0);
    else if (g_savedMode.height == PanelHeight(1))
        SetPanelMode(1);
}

BOOL InitInstance(HINSTANCE instance)
{
    HWND window = CreateWindowExA(0, kVornTrayClass, kVornTrayClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (!window)
        return FALSE;

    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VORNTRAY));
    // At logon the shell is often not ready for the icon yet. The tray component puts it in place
    // once the shell takes it, and the saved mode is applied meanwhile. Where no icon can come (no
    // notification area, no notification window, session 0 or a service's window station) a
    // refused icon ends the start: a copy without one would stay, unseen, until the system stops.
    if (!g_tray.AddToTray(instance, window, kTrayCallback, kTooltip, icon, IDR_TRAYMENU, FALSE, nullptr,
                          nullptr, 0, kBalloonTimeoutSeconds)
        && !g_tray.WaitsForShell())
        return FALSE;

    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    ApplySavedPanelMode();
    return TRUE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (!IsOnlyInstance())
        return 0;
    RegisterMainClass(instance);
    if (!InitInstance(instance))
        return 0;

    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
