#include <gtest/gtest.h>
#include "messages.h"
#include "process.h"

TEST(Smoke, Broadcasts)
{
    DisplayChangeListener listener;
    DWORD code = 0;
    RunAndCapture(ToWindowsPath(DISPLAYMODE_EXE) + " set 1024 600", &code);
    ChildProcess tray;
    ASSERT_TRUE(tray.Start(ToWindowsPath(VORNTRAY_EXE)));
    HWND main = WaitForProcessWindow("VORNTRAY", tray.Id(), 10000);
    ASSERT_NE(main, nullptr);
    PumpMessagesFor(2000);
    for (auto& b : listener.Seen()) printf("seen %llx %llx %lx\n", (unsigned long long)b.wParam, (unsigned long long)b.lParam, b.sendFlags);
    DWORD_PTR r;
    SendMessageTimeoutA(main, WM_COMMAND, 32773, 0, SMTO_NORMAL, 10000, &r);
    PumpMessagesFor(2000);
    for (auto& b : listener.Seen()) printf("seen %llx %llx %lx\n", (unsigned long long)b.wParam, (unsigned long long)b.lParam, b.sendFlags);
    printf("%s\n", RunAndCapture(ToWindowsPath(DISPLAYMODE_EXE), &code).c_str());
    PostMessageA(main, WM_COMMAND, 105, 0);
    EXPECT_EQ(tray.Wait(5000), 0u);
}
