// Finding other processes' windows and waiting for what they do, while this thread keeps
// handling the messages sent to its own windows.
#pragma once
#include <windows.h>
#include <functional>
#include <vector>

// Handles this thread's messages for ms milliseconds.
void PumpMessagesFor(DWORD ms);
// Handles messages until done() is true or timeoutMs has passed; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// The top-level window of class className that belongs to processId, or null.
HWND FindProcessWindow(const char* className, DWORD processId);
HWND WaitForProcessWindow(const char* className, DWORD processId, DWORD timeoutMs);

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

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_window = nullptr;
    std::vector<Broadcast> m_seen;
};
