// InstallZel: run once during installation, it registers with the Vorn ACPI server and turns on
// the device switches the server offers. It has no visible window and always exits with 0.
#include <windows.h>
#include "resource.h"
#include "serverexchange.h"

namespace {

const int kMaxLoadString = 100;
const WCHAR kServerTitle[] = L"VornAcpiServer";
const WCHAR kMissingServerCaption[] = L"Vorn ZelPC Installation";
const WCHAR kMissingServerText[] = L"Please install VornAcpiSvr.exe (Vorn ACPI Server) first";
// The server may still be starting with the rest of the installation: 50 look-ups, 200 ms apart.
const DWORD kServerWaitMs = 10000;
const DWORD kServerPollMs = 200;
const DWORD kSettlingMs = 1000;

WCHAR g_windowTitle[kMaxLoadString];
WCHAR g_windowClassName[kMaxLoadString];

// Where the run stands. Any program can send or post any message to the client window, also while
// it waits for the server: only the window's own creation starts the exchange with the server,
// and only the WM_DESTROY that follows it ends the run, each once.
enum class RunStage { NotCreated, Creating, Ending, Ended };
RunStage g_stage = RunStage::NotCreated;

void OnCreate(HWND window)
{
    g_stage = RunStage::Creating;
    g_serverWindow = RegisterWithServer(window);
    if (g_serverWindow)
        EnableDeviceSwitches();
    else
        MessageBoxW(window, kMissingServerText, kMissingServerCaption, MB_OK);
    // Ends the run from the message loop, once creation has returned and the window is hidden.
    g_stage = RunStage::Ending;
    PostMessageW(window, WM_DESTROY, 0, 0);
}

void OnDestroy()
{
    g_stage = RunStage::Ended;
    PostQuitMessage(0);
    UnregisterFromServer();
}

void OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

LRESULT CALLBACK ClientWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        if (g_stage == RunStage::NotCreated)
            OnCreate(window);
        return 0;
    case WM_DESTROY:
        if (g_stage == RunStage::Ending)
            OnDestroy();
        return 0;
    case WM_CLOSE:
        // The run ends by itself; DefWindowProcW would destroy the window, in the middle of an
        // exchange if the message comes while the client waits for the server.
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
        // Never stands in the way of a logoff.
        return DefWindowProcW(window, message, wParam, lParam);
    default:
        // The window is hidden and serves the run alone, so what other programs send it is left
        // unanswered: the default handling of some messages (the system menu, moving, sizing) runs
        // a modal loop that waits for a user, and would hold an exchange with the server for good.
        if (InSendMessageEx(nullptr) != ISMEX_NOSEND)
            return 0;
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void RegisterClientClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ClientWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_CLASS_ICON));
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_CLASS_SMALL));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_CLASS_MENU);
    windowClass.lpszClassName = g_windowClassName;
    // A failed registration shows as a failed window creation.
    RegisterClassExW(&windowClass);
}

// The server is often started by the same installation a moment before this program, and its
// window can exist before the server is ready to answer. So a found window is given time too: the
// poll's 200 ms after the look-up that found it, and the settling pause after the wait, before
// the first request goes out. Neither sleep is a slip of the loop.
void WaitForServer()
{
    for (DWORD waited = 0; waited < kServerWaitMs; waited += kServerPollMs) {
        HWND server = FindWindowW(kServerClassName, kServerTitle);
        Sleep(kServerPollMs);
        if (server)
            return;
    }
}

// The whole exchange with the server, or the message box, happens inside CreateWindowExW.
bool StartClientWindow(HINSTANCE instance)
{
    WaitForServer();
    Sleep(kSettlingMs);
    HWND window = CreateWindowExW(0, g_windowClassName, g_windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (!window)
        return false;
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    LoadStringW(instance, IDS_APP_TITLE, g_windowTitle, kMaxLoadString);
    LoadStringW(instance, IDS_WINDOW_CLASS, g_windowClassName, kMaxLoadString);
    RegisterClientClass(instance);
    if (!StartClientWindow(instance))
        return 0;

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) != -1) {
        // Only the quit the client posts itself ends the loop; another program may post WM_QUIT too.
        if (message.message == WM_QUIT) {
            if (g_stage == RunStage::Ended)
                break;
            continue;
        }
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    // 0 in every case, whatever a WM_QUIT from elsewhere carried.
    return 0;
}
