#include "messages.h"

void PumpMessagesFor(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, HANDLE wake)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(wake ? 1 : 0, &wake, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

namespace {
struct WindowQuery
{
    const char* className;
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param)
{
    auto* query = reinterpret_cast<WindowQuery*>(param);
    char className[256] = {};
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    GetClassNameA(window, className, sizeof(className));
    if (processId == query->processId && lstrcmpA(className, query->className) == 0) {
        query->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND FindProcessWindow(const char* className, DWORD processId)
{
    WindowQuery query = {className, processId, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

std::vector<HWND> WindowsOfClass(const char* className)
{
    std::vector<HWND> windows;
    for (HWND window = FindWindowA(className, nullptr); window;
         window = FindWindowExA(nullptr, window, className, nullptr))
        windows.push_back(window);
    return windows;
}

DWORD ProcessOf(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

HWND WaitForProcessWindow(const char* className, DWORD processId, DWORD timeoutMs)
{
    HWND found = nullptr;
    PumpUntil([&] { return (found = FindProcessWindow(className, processId)) != nullptr; }, timeoutMs);
    return found;
}

HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs)
{
    // The dialog manager's class, which message boxes have.
    const char kDialogClass[] = "#32770";
    HWND box = nullptr;
    PumpUntil([&] {
        box = processId ? FindProcessWindow(kDialogClass, processId) : FindWindowA(kDialogClass, nullptr);
        return box && IsWindowVisible(box);
    }, timeoutMs);
    return box && IsWindowVisible(box) ? box : nullptr;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring MessageBoxText(HWND box)
{
    // The id of a message box's static text.
    const int kTextId = 0xFFFF;
    wchar_t text[512] = {};
    GetDlgItemTextW(box, kTextId, text, 512);
    return text;
}

namespace {
BOOL CALLBACK CollectButton(HWND child, LPARAM param)
{
    char className[32] = {};
    GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child))
        reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(WindowText(child));
    return TRUE;
}
} // namespace

std::vector<std::wstring> ButtonTexts(HWND dialog)
{
    std::vector<std::wstring> texts;
    EnumChildWindows(dialog, CollectButton, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

void PressOk(HWND box)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

HWND CreateHiddenWindow(const char* className, WNDPROC procedure, void* owner)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, className, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, windowClass.hInstance,
                                  nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    return window;
}

DisplayChangeListener::DisplayChangeListener()
    : m_window(CreateHiddenWindow("DisplayChangeListener", WindowProc, this))
{
}

DisplayChangeListener::~DisplayChangeListener()
{
    DestroyWindow(m_window);
}

LRESULT CALLBACK DisplayChangeListener::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<DisplayChangeListener*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_DISPLAYCHANGE && self)
        self->m_seen.push_back({wParam, lParam, InSendMessageEx(nullptr)});
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND FindVisibleMenu(DWORD processId)
{
    HWND menu = FindProcessWindow("#32768", processId);
    return menu && IsWindowVisible(menu) ? menu : nullptr;
}

HWND WaitForVisibleMenu(DWORD processId, DWORD timeoutMs)
{
    HWND menu = nullptr;
    PumpUntil([&] { return (menu = FindVisibleMenu(processId)) != nullptr; }, timeoutMs);
    return menu;
}

bool ChooseMenuItem(HWND menu, int downPresses, DWORD timeoutMs)
{
    for (int i = 0; i < downPresses; ++i)
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    return PumpUntil([&] { return !IsWindowVisible(menu); }, timeoutMs);
}

bool CloseMenu(HWND menu, DWORD timeoutMs)
{
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    return PumpUntil([&] { return !IsWindowVisible(menu); }, timeoutMs);
}
