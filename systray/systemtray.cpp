#include "systemtray.h"
#include "textfield.h"

namespace {
const char kNotifyClassName[] = "TrayIconClass";

// A shell that does not take the icon is either not there yet, and then broadcasts "TaskbarCreated"
// when it comes, or there but not answering: busy starting at logon on a slow machine, or with a
// restart, a DPI change or a remote session. Such a shell is asked again every 2 s (kRetryPaceMs),
// counted from the end of the try before, since one call may itself block on Windows (a busy shell
// fails it only after several seconds: about 4 s on XP, about 7 s from Vista on), for 60 s
// (kRetryBoundMs) after the refusal that began the round. A minute outlasts a busy logon, the pace
// puts the icon in place soon after the shell answers, and a shell that never answers costs at most
// 30 tries (fewer where the calls block). Refusals during a round do not lengthen it: a shell that
// keeps refusing, and anything that keeps saying "TaskbarCreated", cannot keep the timer running.
// After a round only the next "TaskbarCreated" or work-area change tries again, and the program is
// idle meanwhile.
const UINT_PTR kRetryTimerId = 1;

// A call that took this long, or that timed out, was answered by a busy shell. Such a shell usually
// carries the request out later, so it is not asked again at once: the thread would stop handling
// messages for a second time-out, long enough for Windows to call the program "not responding".
const DWORD kSlowCallMs = 1000;

// No shell ever runs on a window station that cannot be shown (a service's), nor, from Windows Vista
// on, in session 0, where services and SYSTEM processes run apart from every user's desktop. (On
// earlier Windows session 0 is the console user's own.)
bool ShellCanComeHere()
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags), &needed)
        && !(flags.dwFlags & WSF_VISIBLE))
        return false;
    DWORD session = 0;
    return !(LOBYTE(LOWORD(GetVersion())) >= 6 && ProcessIdToSessionId(GetCurrentProcessId(), &session)
             && session == 0);
}

// Windows 7 and later keep broadcasts from a lower integrity level away from an elevated copy,
// unless the window lets them through. Looked up by name: the older systems lack the call. (Wine
// has no such filter; its call does nothing.)
void LetThroughFilter(HWND window, UINT message)
{
    using ChangeFilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    const DWORD kAllow = 1;  // MSGFLT_ALLOW
    FARPROC found = GetProcAddress(GetModuleHandleA("user32.dll"), "ChangeWindowMessageFilterEx");
    if (found && window)
        reinterpret_cast<ChangeFilterEx>(reinterpret_cast<void (*)()>(found))(window, message, kAllow, nullptr);
}
} // namespace

CSystemTray* CSystemTray::s_activeTray = nullptr;
// The shell broadcasts this message to every top-level window when the taskbar is (re)created.
const UINT CSystemTray::s_taskbarCreatedMsg = RegisterWindowMessageA("TaskbarCreated");
int CSystemTray::s_maxTipLength = 128;

CSystemTray::CSystemTray()
{
    s_activeTray = this;
    ZeroMemory(&m_iconData, sizeof(m_iconData));
    m_instance = nullptr;
    m_notifyWindow = nullptr;
    m_trayAvailable = FALSE;
    m_iconHidden = TRUE;
    m_iconAbsent = TRUE;
    m_defaultItem = 0;
    m_defaultIsPosition = TRUE;
    m_addPending = FALSE;
    m_reserved1 = 0;
    m_reserved2 = 0;
    m_ownerWindow = nullptr;
    m_addFlags = 0;
    m_retrying = FALSE;
    m_retryStart = 0;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    // Balloons and the hidden state exist from the Windows 2000 shell on.
    m_win2000Shell = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT
                     && version.dwMajorVersion >= 5;
}

CSystemTray::~CSystemTray()
{
    // The icon stays in the notification area: nothing here tells the shell to delete it.
    if (m_notifyWindow)
        DestroyWindow(m_notifyWindow);
    // Departs from the plain rule that the pointer is never cleared: at process exit the runtime
    // destroys this object while windows of the thread may still get messages, and these must
    // not reach a destroyed object through the pointer.
    if (s_activeTray == this)
        s_activeTray = nullptr;
}

BOOL CSystemTray::AddToTray(HINSTANCE instance, HWND ownerWindow, UINT callbackMessage, LPCSTR tooltip,
                            HICON icon, UINT identifier, BOOL startHidden, LPCSTR balloonText,
                            LPCSTR balloonTitle, DWORD balloonFlags, UINT balloonTimeoutSeconds)
{
    // The notification area came with the version 4 shell.
    m_trayAvailable = LOBYTE(LOWORD(GetVersion())) >= 4;
    if (!m_trayAvailable)
        return FALSE;

    s_maxTipLength = sizeof(m_iconData.szTip);
    m_instance = instance;
    RegisterNotifyClass(instance);
    m_notifyWindow = CreateWindowExA(0, kNotifyClassName, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    // An elevated copy gets its icon back after the shell restarts too.
    LetThroughFilter(m_notifyWindow, s_taskbarCreatedMsg);

    m_iconData.cbSize = sizeof(m_iconData);
    m_iconData.hWnd = ownerWindow ? ownerWindow : m_notifyWindow;
    m_iconData.hIcon = icon;
    m_iconData.uCallbackMessage = callbackMessage;
    m_iconData.uID = identifier;
    m_iconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    CopyTextField(m_iconData.szTip, s_maxTipLength, tooltip);

    const bool withBalloon = m_win2000Shell && balloonText;
    if (withBalloon) {
        m_iconData.uFlags |= NIF_INFO;
        CopyTextField(m_iconData.szInfo, sizeof(m_iconData.szInfo), balloonText);
        CopyTextField(m_iconData.szInfoTitle, sizeof(m_iconData.szInfoTitle), balloonTitle);
        m_iconData.uTimeout = balloonTimeoutSeconds * 1000;
        m_iconData.dwInfoFlags = balloonFlags;
    }

    m_ownerWindow = m_iconData.hWnd;
    m_iconHidden = startHidden;
    if (m_win2000Shell && startHidden) {
        m_iconData.uFlags = NIF_STATE;
        m_iconData.dwState = NIS_HIDDEN;
        m_iconData.dwStateMask = NIS_HIDDEN;
    }
    m_addFlags = m_iconData.uFlags;

    // Without the state flag a hidden icon can only be left out until it is shown.
    BOOL result = TRUE;
    if (!startHidden || m_win2000Shell) {
        result = Shell_NotifyIconA(NIM_ADD, &m_iconData);
        m_iconAbsent = !result;
        m_iconHidden = !result;
        // The icon is added again whenever the taskbar is re-created, also after a first add that a
        // shell still starting refused; such a shell is asked again until it takes the icon.
        m_addPending = TRUE;
        if (!result)
            StartRetrying();
    }

    // The balloon is shown once: later adds carry an empty text.
    if (withBalloon)
        m_iconData.szInfo[0] = '\0';
    return result;
}

HWND CSystemTray::GetOwnerWindow() const
{
    return m_ownerWindow ? m_ownerWindow : m_iconData.hWnd;
}

ATOM CSystemTray::RegisterNotifyClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = NotifyWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kNotifyClassName;
    return RegisterClassExA(&windowClass);
}

LRESULT CALLBACK CSystemTray::NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CSystemTray* tray = s_activeTray;
    // Messages that arrive while CreateWindowExA runs, before the handle is stored, land here too.
    if (!tray || window != tray->m_notifyWindow)
        return DefWindowProcA(window, message, wParam, lParam);

    // A registered message has no fixed number, so it cannot be a case label.
    if (message == s_taskbarCreatedMsg && s_taskbarCreatedMsg != 0)
        return tray->HandleTaskbarCreated(wParam, lParam);
    if (message == WM_SETTINGCHANGE && wParam == SPI_SETWORKAREA)
        return tray->HandleSettingChange(wParam, lParam);
    if (message == WM_TIMER && wParam == kRetryTimerId)
        return tray->HandleRetryTimer();
    if (message == tray->m_iconData.uCallbackMessage)
        return tray->HandleTrayMessage(wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CSystemTray::HandleTaskbarCreated(WPARAM, LPARAM)
{
    ReAddIcon();
    return 0;
}

LRESULT CSystemTray::HandleSettingChange(WPARAM wParam, LPARAM)
{
    if (wParam == SPI_SETWORKAREA)
        ReAddIcon();
    return 0;
}

void CSystemTray::ReAddIcon()
{
    // Only an icon that was never to be shown stays out. A failed add does not: the shell that
    // failed it may be busy now and restart later.
    if (!m_addPending)
        return;
    if (AddAgain())
        StopRetrying();
    else
        StartRetrying();
}

LRESULT CSystemTray::HandleRetryTimer()
{
    // A timer message that anybody may post outside a round starts nothing.
    if (!m_retrying)
        return 0;
    if (AddAgain() || GetTickCount() - m_retryStart >= kRetryBoundMs) {
        StopRetrying();
        return 0;
    }
    // Set again, so that the pause counts from the end of a try that may have blocked.
    SetTimer(m_notifyWindow, kRetryTimerId, kRetryPaceMs, nullptr);
    return 0;
}

BOOL CSystemTray::AddAgain()
{
    m_iconData.uFlags = m_addFlags;
    SetLastError(ERROR_SUCCESS);
    const DWORD started = GetTickCount();
    BOOL present = Shell_NotifyIconA(NIM_ADD, &m_iconData);
    const bool slow = GetLastError() == ERROR_TIMEOUT || GetTickCount() - started >= kSlowCallMs;
    // Departs from a plain add: a work-area change, a taskbar message from a shell that kept its
    // icons, or a shell that took an add after its caller gave up, all find the icon still there,
    // and the add fails. A modify tells whether the shell has the icon before it is called absent;
    // after a slow add the next try of the round asks instead.
    if (!present && !slow)
        present = Shell_NotifyIconA(NIM_MODIFY, &m_iconData);
    m_iconHidden = !present;
    return present;
}

void CSystemTray::StartRetrying()
{
    // Without a notification window neither a timer nor "TaskbarCreated" reaches the component; where
    // no shell can come there is nothing to wait for.
    if (m_retrying || !m_notifyWindow || !ShellCanComeHere())
        return;
    m_retryStart = GetTickCount();
    m_retrying = SetTimer(m_notifyWindow, kRetryTimerId, kRetryPaceMs, nullptr) != 0;
}

void CSystemTray::StopRetrying()
{
    if (m_notifyWindow)
        KillTimer(m_notifyWindow, kRetryTimerId);
    m_retrying = FALSE;
}

LRESULT CSystemTray::HandleTrayMessage(WPARAM wParam, LPARAM lParam)
{
    if (wParam != m_iconData.uID)
        return 0;
    HWND target = GetOwnerWindow();
    if (!target)
        return 0;

    switch (LOWORD(lParam)) {
    case WM_RBUTTONUP:
    case WM_LBUTTONUP:
        return ShowPopupMenu(target);
    case WM_LBUTTONDBLCLK:
        return PostDefaultCommand(target);
    default:
        return 1;
    }
}

void CSystemTray::PrepareMenu(HMENU)
{
}

HMENU CSystemTray::LoadTrayMenu(HMENU* popup) const
{
    HMENU menu = LoadMenuA(m_instance, MAKEINTRESOURCEA(LOWORD(m_iconData.uID)));
    if (!menu)
        return nullptr;
    *popup = GetSubMenu(menu, 0);
    if (!*popup) {
        DestroyMenu(menu);
        return nullptr;
    }
    return menu;
}

LRESULT CSystemTray::ShowPopupMenu(HWND target)
{
    HMENU popup = nullptr;
    HMENU menu = LoadTrayMenu(&popup);
    if (!menu)
        return 0;
    PrepareMenu(popup);

    POINT cursor = {};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(m_iconData.hWnd);
    TrackPopupMenu(popup, 0, cursor.x, cursor.y, 0, target, nullptr);
    // Switches the task over so that a second click on the icon opens the menu again at once.
    PostMessageA(m_iconData.hWnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
    return 1;
}

LRESULT CSystemTray::PostDefaultCommand(HWND target)
{
    SetForegroundWindow(m_iconData.hWnd);
    UINT command = m_defaultItem;
    if (m_defaultIsPosition) {
        HMENU popup = nullptr;
        HMENU menu = LoadTrayMenu(&popup);
        if (!menu)
            return 0;
        command = GetMenuItemID(popup, m_defaultItem);
        DestroyMenu(menu);
    }
    PostMessageA(target, WM_COMMAND, command, 0);
    return 1;
}
