// CSystemTray: one icon in the notification area, its pop-up menu and its default command.
#pragma once
#include <windows.h>
#include <vector>

// The shell checks cbSize against the full record of the 32-bit API, which the icon data must match.
static_assert(sizeof(void*) != 4 || sizeof(NOTIFYICONDATAA) == 508, "NOTIFYICONDATAA is not the full record");

class CSystemTray
{
public:
    CSystemTray();
    virtual ~CSystemTray();

    // Handles one callback message of the shell: wParam is the icon's identifier,
    // the low word of lParam the mouse message. Returns 1 when the message was for this icon.
    virtual LRESULT HandleTrayMessage(WPARAM wParam, LPARAM lParam);
    // Called with the pop-up menu just before it is shown; derived classes may check or gray items.
    virtual void PrepareMenu(HMENU popup);

    // Adds the icon. The menu resource shown on a click has the icon's identifier (low word).
    BOOL AddToTray(HINSTANCE instance, HWND ownerWindow, UINT callbackMessage, LPCSTR tooltip, HICON icon,
                   UINT identifier, BOOL startHidden, LPCSTR balloonText, LPCSTR balloonTitle,
                   DWORD balloonFlags, UINT balloonTimeoutSeconds);
    HWND GetOwnerWindow() const;
    // TRUE while a round of tries is under way to put a refused icon in place. After a refused first
    // add it is FALSE where no icon can come: no notification area, no notification window to hear the
    // shell, or a desktop no shell runs on.
    BOOL WaitsForShell() const { return m_retrying; }

    // A shell that refuses the icon is asked again this long after the end of each try, for at most
    // this long after the refusal that began the round (systemtray.cpp says why).
    static constexpr UINT kRetryPaceMs = 2000;
    static constexpr DWORD kRetryBoundMs = 60000;

    static ATOM RegisterNotifyClass(HINSTANCE instance);
    static LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    void ReAddIcon();
    LRESULT HandleTaskbarCreated(WPARAM wParam, LPARAM lParam);
    LRESULT HandleSettingChange(WPARAM wParam, LPARAM lParam);
    LRESULT HandleRetryTimer();
    // Adds the icon with the flags of the first add; TRUE once the shell has it.
    BOOL AddAgain();
    // A shell that refused the icon is asked again at a bounded pace, for a bounded time from the
    // refusal that began the round; a refusal during a round changes neither.
    void StartRetrying();
    void StopRetrying();
    LRESULT ShowPopupMenu(HWND target);
    LRESULT PostDefaultCommand(HWND target);
    // Loads the menu named by the icon's identifier and its first sub-menu; the caller destroys the menu.
    HMENU LoadTrayMenu(HMENU* popup) const;

    NOTIFYICONDATAA m_iconData;
    HINSTANCE m_instance;
    HWND m_notifyWindow;
    HWND m_ownerWindow;
    BOOL m_trayAvailable;
    // Kept on purpose though nothing reads them any more (a failed add no longer stops the re-adds):
    // the icon left out when it starts hidden without the state flag, or refused by the last add;
    // and the icon's absence as the first add left it.
    BOOL m_iconHidden;
    BOOL m_iconAbsent;
    // The icon belongs in the notification area: every "TaskbarCreated" or work-area change adds it
    // again, whatever became of earlier adds.
    BOOL m_addPending;
    BOOL m_win2000Shell;
    // Kept on purpose though nothing fills or reads them: they are part of the object's layout as
    // the component has always had it. Only the list's storage is freed.
    std::vector<UINT> m_reservedItems;
    int m_reserved1;
    int m_reserved2;
    UINT m_defaultItem;
    BOOL m_defaultIsPosition;
    UINT m_addFlags;
    // A round of retries is under way, begun at GetTickCount() m_retryStart; it ends with the icon
    // in or after kRetryBoundMs.
    BOOL m_retrying;
    DWORD m_retryStart;

    static CSystemTray* s_activeTray;
    static const UINT s_taskbarCreatedMsg;
    static int s_maxTipLength;
};
