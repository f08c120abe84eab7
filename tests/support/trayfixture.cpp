#include "trayfixture.h"
#include <cstdio>
#include "savedmode.h"

DisplayMode CurrentDisplayMode()
{
    DWORD exitCode = 0;
    std::string output = RunAndCapture(ToWindowsPath(DISPLAYMODE_EXE), &exitCode);
    DisplayMode mode;
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_EQ(sscanf(output.c_str(), "%ux%u %u", &mode.width, &mode.height, &mode.bitsPerPixel), 3) << output;
    return mode;
}

void SetDisplayMode(unsigned width, unsigned height, unsigned frequency)
{
    // Now and then Wine refuses a change made right after another process has ended, for a few seconds
    // once (seen in a full run: five tries over 3.6 s all refused); trying again until a bound tells
    // that from a mode that is really missing.
    const std::string command = ToWindowsPath(DISPLAYMODE_EXE) + " set " + std::to_string(width) + " "
                                + std::to_string(height) + " " + std::to_string(frequency);
    DWORD exitCode = 1;
    std::string output;
    const bool changed = PumpUntil([&] {
        output = RunAndCapture(command, &exitCode);
        return exitCode == 0;
    }, MachineMs(15000));
    ASSERT_TRUE(changed) << output;
}

size_t PlatformBroadcastsPerChange()
{
    static size_t count = [] {
        DisplayChangeListener listener;
        SetDisplayMode(800, 600);
        SetDisplayMode(1024, 600);
        PumpMessagesFor(300);
        return listener.Seen().size() / 2;
    }();
    return count;
}

LPARAM PanelLParam(unsigned height)
{
    return 800 + height * 65536;
}

void VornTray::SetUp()
{
    RemoveSettings();
    SetDisplayMode(1024, 600);
    PlatformBroadcastsPerChange();
}

void VornTray::TearDown()
{
    if (m_tray.Running()) {
        PostMessageA(m_main, WM_COMMAND, IDM_EXIT, 0);
        EXPECT_EQ(m_tray.Wait(kTimeoutMs), 0u) << "VornTray did not end on Exit";
    }
}

void VornTray::Start(const std::string& arguments)
{
    m_listener.reset(new DisplayChangeListener);
    ASSERT_TRUE(m_tray.Start(ToWindowsPath(VORNTRAY_EXE) + (arguments.empty() ? "" : " " + arguments)));
    m_main = WaitForProcessWindow(kVornTrayClass, m_tray.Id(), kTimeoutMs);
    ASSERT_NE(m_main, nullptr) << "no main window";
    // The saved mode is applied before the loop, with a broadcast this thread must answer meanwhile.
    ASSERT_TRUE(PumpUntil([this] { return WaitForInputIdle(m_tray.Handle(), 0) == 0; }, kTimeoutMs));
    PumpMessagesFor(300);
}

void VornTray::Command(WPARAM wParam)
{
    ASSERT_TRUE(SendMessageTimeoutA(m_main, WM_COMMAND, wParam, 0, SMTO_NORMAL, kTimeoutMs, nullptr));
    PumpMessagesFor(300);
}

void VornTray::TrayCallback(WPARAM iconId, UINT mouseMessage)
{
    ASSERT_TRUE(PostMessageA(m_main, kTrayCallback, iconId, mouseMessage));
}

void VornTray::ChooseFromMenu(UINT mouseMessage, int downPresses)
{
    TrayCallback(kTrayIconId, mouseMessage);
    HWND menu = WaitForVisibleMenu(m_tray.Id(), kTimeoutMs);
    ASSERT_NE(menu, nullptr) << "the menu did not open";
    ASSERT_TRUE(ChooseMenuItem(menu, downPresses, kTimeoutMs)) << "the menu did not close";
}

void VornTray::ExpectBroadcastsFor(const DisplayMode* switchedTo)
{
    const auto& seen = m_listener->Seen();
    if (!switchedTo) {
        EXPECT_TRUE(seen.empty()) << seen.size() << " broadcasts, none expected";
        return;
    }
    EXPECT_EQ(seen.size(), PlatformBroadcastsPerChange() + 1);
    for (const auto& broadcast : seen) {
        EXPECT_EQ(broadcast.wParam, switchedTo->bitsPerPixel);
        EXPECT_EQ(broadcast.lParam, PanelLParam(switchedTo->height));
    }
}

bool VornTray::WaitForPanelChoice(unsigned height)
{
    return PumpUntil([height] {
        DisplayMode mode = CurrentDisplayMode();
        return mode.width == 800 && mode.height == height && ReadStored("DispHeight").data == DwordBytes(height);
    }, kTimeoutMs);
}

bool VornTray::WaitForPostedMessages()
{
    HWND iconWindow = FindProcessWindow("TrayIconClass", m_tray.Id());
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    for (int round = 0; round < 2; ++round) {
        if (!iconWindow || !ShellForgetsIcon(m_main) || !PostMessageA(iconWindow, taskbarCreated, 0, 0))
            return false;
        if (!PumpUntil([this] { return IconInNotificationArea(m_main); }, kTimeoutMs))
            return false;
    }
    return true;
}

bool VornTray::Responsive(HWND window, DWORD timeoutMs)
{
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, nullptr) != 0;
}

void VornTray::ExpectSecondCopyLeavesAtOnce()
{
    ChildProcess second;
    ASSERT_TRUE(second.Start(ToWindowsPath(VORNTRAY_EXE)));
    EXPECT_EQ(second.Wait(kTimeoutMs), 0u);
    EXPECT_TRUE(m_tray.Running());
    EXPECT_TRUE(Responsive(m_main));
}
