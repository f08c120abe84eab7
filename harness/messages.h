// Finding other processes' windows and waiting for what they do, while this thread keeps
// handling the messages sent to its own windows.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// Handles this thread's messages for ms milliseconds.
void PumpMessagesFor(DWORD ms);
// Handles messages until done() is true or timeoutMs has passed; returns done(). A wake handle,
// such as a process, is looked at again the moment it is signalled, not up to 10 ms later.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, HANDLE wake = nullptr);

// The top-level window of class className that belongs to processId, or null.
HWND FindProcessWindow(const char* className, DWORD processId);
HWND WaitForProcessWindow(const char* className, DWORD processId, DWORD timeoutMs);
// Every top-level window of class className, of any process.
std::vector<HWND> WindowsOfClass(const char* className);
// The process a window belongs to.
DWORD ProcessOf(HWND window);

// The pop-up menu processId shows (class "#32768"), when it is visible; or null.
HWND FindVisibleMenu(DWORD processId);
HWND WaitForVisibleMenu(DWORD processId, DWORD timeoutMs);
// Chooses an item of an open menu with the keyboard (it opens with no item selected: one Down
// selects the first) and waits until the menu has closed.
bool ChooseMenuItem(HWND menu, int downPresses, DWORD timeoutMs);
// Closes an open menu with Escape and waits until it has closed.
bool CloseMenu(HWND menu, DWORD timeoutMs);

// A visible message box of processId (of any process when 0), waited for up to timeoutMs, or null.
HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs);
std::wstring WindowText(HWND window);
// The text of a message box, beside its caption.
std::wstring MessageBoxText(HWND box);
// The visible buttons of a dialog, by their text.
std::vector<std::wstring> ButtonTexts(HWND dialog);
// What a click on OK sends to a message box; the box's own thread then ends it.
void PressOk(HWND box);

// A hidden top-level window of class className (registered on first use), whose procedure finds
// owner through GWLP_USERDATA. Top-level, not message-only: only top-level windows receive broadcasts.
HWND CreateHiddenWindow(const char* className, WNDPROC procedure, void* owner);

// A hidden top-level window of this process that records every WM_DISPLAYCHANGE broadcast it gets.
class DisplayChangeListener
{
public:
    struct Broadcast
    {
        WPARAM wParam;
        LPARAM lParam;
        DWORD sendFlags;
    };

    DisplayChangeListener();
    ~DisplayChangeListener();
    const std::vector<Broadcast>& Seen() const { return m_seen; }
    void Clear() { m_seen.clear(); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_window = nullptr;
    std::vector<Broadcast> m_seen;
};
