// A top-level window of another program that stops answering: its own thread either never handles
// a message after creating it, or blocks inside the window procedure on one given message. Once a
// thread has not asked for a message in five seconds the system calls it hung.
#pragma once
#include <windows.h>
#include <thread>
#include "handles.h"

class HungWindow
{
public:
    // hangOn: the message on which the window procedure blocks until Release(), or 0 for a thread
    // that handles no message at all after creating the window.
    HungWindow(const wchar_t* className, const wchar_t* title, UINT hangOn = 0);
    // Releases the thread and waits for its end.
    ~HungWindow();
    HungWindow(const HungWindow&) = delete;
    HungWindow& operator=(const HungWindow&) = delete;

    HWND Window() const { return m_window; }
    // A window that blocks on hangOn blocks again on the next one after Hold().
    void Release() { SetEvent(m_release.get()); }
    void Hold() { ResetEvent(m_release.get()); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void ThreadMain(const wchar_t* className, const wchar_t* title);

    UINT m_hangOn;
    unique_handle m_release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    unique_handle m_created{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HWND m_window = nullptr;
    DWORD m_threadId = 0;
    std::thread m_thread;
};
