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

    static ATOM RegisterNotifyClass(HINSTANCE instance);
    static LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    void ReAddIcon();
    LRESULT HandleTaskbarCreated(WPARAM wParam, LPARAM lParam);
    LRESULT HandleSettingChange(WPARAM wParam, LPARAM lParam);
    LRESULT ShowPopupMenu(HWND target);
    LRESULT PostDefaultCommand(HWND target);
    // Loads the menu named by the icon's identifier and its first sub-menu; the caller destroys the menu.
    HMENU LoadTrayMenu(HMENU* popup) const;

    NOTIFYICONDATAA m_iconData;
    HINSTANCE m_instance;
    HWND m_notifyWindow;
    HWND m_ownerWindow;
    BOOL m_trayAvailable;
    BOOL m_iconHidden;
    BOOL m_iconAbsent;
    BOOL m_addPending;
    BOOL m_win2000Shell;
    // Part of the object's layout that no operation fills or reads; only the list's storage is freed.
    std::vector<UINT> m_reservedItems;
    int m_reserved1;
    int m_reserved2;
    UINT m_defaultItem;
    BOOL m_defaultIsPosition;
    UINT m_addFlags;

    static CSystemTray* s_activeTray;
    static const UINT s_taskbarCreatedMsg;
    static int s_maxTipLength;
};
