#include "hungwindow.h"

HungWindow::HungWindow(const wchar_t* className, const wchar_t* title, UINT hangOn) : m_hangOn(hangOn)
{
    m_thread = std::thread([this, className, title] { ThreadMain(className, title); });
    WaitForSingleObject(m_created.get(), INFINITE);
}

HungWindow::~HungWindow()
{
    Release();
    PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    m_thread.join();
}

LRESULT CALLBACK HungWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<HungWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->m_hangOn && message == self->m_hangOn)
        WaitForSingleObject(self->m_release.get(), INFINITE);
    return DefWindowProcW(window, message, wParam, lParam);
}

void HungWindow::ThreadMain(const wchar_t* className, const wchar_t* title)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    m_window = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                               windowClass.hInstance, nullptr);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_threadId = GetCurrentThreadId();
    SetEvent(m_created.get());
    if (m_hangOn) {
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
    } else {
        WaitForSingleObject(m_release.get(), INFINITE);
    }
    DestroyWindow(m_window);
    UnregisterClassW(className, windowClass.hInstance);
}
