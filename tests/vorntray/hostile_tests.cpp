// VornTray among other people's programs: random messages from another process, many copies started
// at once, a shell that keeps restarting, a display that refuses the mode, thousands of menus and
// switches, and a hung window. Each case prints what it tried and what survived; VORN_STRESS=full
// runs the long form.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>
#include "display.h"
#include "hungwindow.h"
#include "observe.h"
#include "savedmode.h"
#include "stress.h"
#include "trayfixture.h"

namespace {

// A stored value as the summary prints it: the number it holds, or its size when it holds none.
std::string StoredText(const StoredValue& value)
{
    if (value.data.size() != sizeof(DWORD))
        return "(" + std::to_string(value.data.size()) + " bytes)";
    DWORD number = 0;
    memcpy(&number, value.data.data(), sizeof(number));
    return std::to_string(number);
}

class Hostile : public VornTray
{
protected:
    HWND NotifyWindow() { return FindProcessWindow("TrayIconClass", m_tray.Id()); }

    // Closes a menu that a message opened; the program then goes back to its loop.
    void CloseMenus()
    {
        if (HWND menu = FindVisibleMenu(m_tray.Id()))
            PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    }

    // Waits until the program's loop waits for input again, closing menus meanwhile. A known Wine
    // difference: Windows signals input idle only the first time a process waits for input, after
    // which WaitForInputIdle returns at once; Wine signals it again each time the loop goes back
    // to waiting, and this wait relies on that. Under Windows it would wait for nothing.
    bool Drained()
    {
        return PumpUntil([this] {
            CloseMenus();
            return WaitForInputIdle(m_tray.Handle(), 0) == 0;
        }, kTimeoutMs);
    }

    void OpenAndCloseMenu()
    {
        TrayCallback(kTrayIconId, WM_RBUTTONUP);
        HWND menu = WaitForVisibleMenu(m_tray.Id(), kTimeoutMs);
        ASSERT_NE(menu, nullptr) << "the menu did not open";
        ASSERT_TRUE(CloseMenu(menu, kTimeoutMs)) << "the menu did not close";
    }
};

// --- random messages ----------------------------------------------------------------------------------

TEST_F(Hostile, RandomMessagesToBothWindowsChangeOnlyWhatTheyMayChange)
{
    const int messages = StressCount(3000, 40000);
    const unsigned seed = 20261209;
    StoreMode(1024, 768);
    Start();
    HWND windows[] = {m_main, NotifyWindow()};
    ASSERT_NE(windows[1], nullptr);
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");

    std::mt19937 random(seed);
    auto any = [&](unsigned limit) { return static_cast<unsigned>(random() % limit); };
    int sent = 0, posted = 0, probes = 0, answered = 0, modeCommands = 0;
    for (int i = 0; i < messages; ++i) {
        HWND target = windows[any(2)];
        UINT message = 0;
        WPARAM wParam = random();
        LPARAM lParam = static_cast<LPARAM>(random());
        switch (any(6)) {
        case 0: {
            // Every class of command identifier: the two modes (rarely: a switch takes the display
            // a moment), unknown ones, with and without a notification code. "Exit" is tested apart.
            static const UINT ids[] = {IDM_LCD_800X480, IDM_LCD_800X600, 0, 1, 103, 106, 129, 130, 131, 32772,
                                       32774, 0xFFFF};
            UINT id = ids[any(sizeof(ids) / sizeof(ids[0]))];
            if ((id == IDM_LCD_800X480 || id == IDM_LCD_800X600) && any(40) != 0)
                id = 999;
            modeCommands += id == IDM_LCD_800X480 || id == IDM_LCD_800X600;
            message = WM_COMMAND;
            wParam = MAKEWPARAM(id, any(2) ? 0 : any(0x10000));
            break;
        }
        case 1: {
            // The tray callback, mostly for the real icon, with every mouse message; double-clicks post
            // a mode command, so they are as rare as the mode commands above.
            static const UINT mice[] = {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP,
                                        WM_MBUTTONUP, WM_CONTEXTMENU, 0x0400, 0xFFFF};
            message = kTrayCallback;
            wParam = any(4) ? kTrayIconId : random();
            lParam = MAKELPARAM(mice[any(sizeof(mice) / sizeof(mice[0]))], random());
            if (any(80) == 0) {
                lParam = WM_LBUTTONDBLCLK;
                ++modeCommands;
            }
            break;
        }
        case 2:
            message = taskbarCreated;
            break;
        case 3:
            // The string in lParam is copied across processes, so it must be a real one.
            message = WM_SETTINGCHANGE;
            wParam = any(3) == 0 ? SPI_SETWORKAREA : any(0x3000);
            lParam = 0;
            break;
        case 4:
            message = WM_DISPLAYCHANGE;
            break;
        case 5:
            message = WM_USER + any(0xC000 - WM_USER);
            break;
        }
        // Callbacks are posted, as the shell's are: a sent one that opens the menu would hold this
        // thread until the menu closes.
        if (message != kTrayCallback && (message == WM_SETTINGCHANGE || any(2))) {
            SendMessageTimeoutA(target, message, wParam, lParam, SMTO_ABORTIFHUNG, kTimeoutMs, nullptr);
            ++sent;
        } else {
            PostMessageA(target, message, wParam, lParam);
            ++posted;
        }
        if (i % 25 == 24 || i == messages - 1) {
            ASSERT_TRUE(Drained()) << "the loop did not come back after message " << i;
            for (HWND window : windows) {
                ++probes;
                answered += Responsive(window);
            }
            ASSERT_TRUE(m_tray.Running()) << "ended after message " << i;
        }
    }

    const std::string display = CurrentDisplayMode().Text();
    const StoredValue width = ReadStored("DispWidth"), height = ReadStored("DispHeight");
    const std::set<std::string> panelOrUnchanged = {"800x480", "800x600", "1024x600"};
    const std::set<std::vector<BYTE>> widths = {DwordBytes(800), DwordBytes(1024)};
    const std::set<std::vector<BYTE>> heights = {DwordBytes(480), DwordBytes(600), DwordBytes(768)};
    const bool alive = m_tray.Running();
    const bool displayRight = panelOrUnchanged.count(display) == 1;
    const bool storedRight = widths.count(width.data) == 1 && heights.count(height.data) == 1;
    const bool iconPresent = IconInNotificationArea(m_main);
    EXPECT_TRUE(alive);
    EXPECT_TRUE(displayRight) << display;
    EXPECT_TRUE(storedRight);
    EXPECT_TRUE(iconPresent) << "the icon is gone";
    EXPECT_EQ(answered, probes);
    // Every word below comes from a value checked above.
    std::string lost;
    if (!alive)
        lost += " the program,";
    if (answered != probes)
        lost += " " + std::to_string(probes - answered) + " probes unanswered,";
    if (!displayRight)
        lost += " the display mode,";
    if (!storedRight)
        lost += " the saved mode,";
    if (!iconPresent)
        lost += " the icon,";
    printf("fuzz (seed %u): %d messages tried (%d sent, %d posted, %d mode commands), %d of %d probes "
           "answered, program %s, display %s, registry %s/%s, icon %s; lost: %s\n",
           seed, messages, sent, posted, modeCommands, answered, probes, alive ? "alive" : "ended", display.c_str(),
           StoredText(width).c_str(), StoredText(height).c_str(), iconPresent ? "present" : "gone",
           lost.empty() ? "none" : lost.substr(1, lost.size() - 2).c_str());
}

// --- many copies at once ----------------------------------------------------------------------------------

TEST_F(Hostile, CopiesStartedTogetherLeaveExactlyOne)
{
    const int rounds = StressCount(2, 10);
    const int copies = StressCount(8, 20);
    StoreMode(1024, 768);
    int started = 0, exitedZero = 0, survivors = 0;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::unique_ptr<ChildProcess>> children;
        StartOptions suspended;
        suspended.creationFlags = CREATE_SUSPENDED;
        for (int i = 0; i < copies; ++i) {
            children.emplace_back(new ChildProcess);
            ASSERT_TRUE(children.back()->Start(ToWindowsPath(VORNTRAY_EXE), suspended));
        }
        for (auto& child : children)
            ResumeThread(child->MainThread());
        started += copies;

        int running = 0;
        for (auto& child : children) {
            DWORD code = child->Wait(3000);
            if (code == STILL_ACTIVE)
                ++running;
            else
                exitedZero += code == 0;
        }
        ASSERT_EQ(running, 1) << "round " << round;
        for (auto& child : children) {
            if (!child->Running())
                continue;
            HWND main = WaitForProcessWindow(kVornTrayClass, child->Id(), kTimeoutMs);
            ASSERT_NE(main, nullptr);
            EXPECT_EQ(WindowsOfClass(kVornTrayClass).size(), 1u);
            EXPECT_TRUE(IconInNotificationArea(main));
            ++survivors;
            PostMessageA(main, WM_COMMAND, IDM_EXIT, 0);
            EXPECT_EQ(child->Wait(kTimeoutMs), 0u);
        }
    }
    EXPECT_EQ(exitedZero, started - rounds);
    printf("start race: %d rounds of %d copies, %d started, %d refused with exit code 0, %d survivor per "
           "round (%d in all)\n", rounds, copies, started, exitedZero, survivors / rounds, survivors);
}

// --- the shell ------------------------------------------------------------------------------------------------

TEST_F(Hostile, ShellRestartingAgainAndAgainKeepsTheIcon)
{
    // Each restart costs Wine's shell two seconds to forget the icon.
    const int restarts = StressCount(10, 300);
    StoreMode(1024, 768);
    Start();
    int forgotten = 0, back = 0, workAreaChanges = 0;
    for (int i = 0; i < restarts; ++i) {
        if (i % 3 == 0) {
            BroadcastWorkAreaChange(kTimeoutMs);
            ++workAreaChanges;
        }
        forgotten += ShellForgetsIcon(m_main);
        if (i % 5 == 0) {
            BroadcastWorkAreaChange(kTimeoutMs);
            ++workAreaChanges;
        }
        BroadcastTaskbarCreated(kTimeoutMs);
        back += IconInNotificationArea(m_main);
    }
    // Each restart found the icon there to forget: it came back after the one before.
    EXPECT_EQ(forgotten, restarts);
    EXPECT_EQ(back, restarts);
    EXPECT_TRUE(IconInNotificationArea(m_main));
    printf("shell restarts: %d tried, icon forgotten %d times and back after %d, work-area changes in between: "
           "%d\n", restarts, forgotten, back, workAreaChanges);
}

TEST_F(Hostile, RefusedModeChangeBroadcastsNothingButRecordsTheChoice)
{
    // 640 x 480 runs at 75 Hz only, and neither panel mode exists at 75 Hz.
    SetDisplayMode(640, 480, 75);
    StoreMode(1024, 768);
    Start();
    Command(IDM_LCD_800X600);
    EXPECT_EQ(CurrentDisplayMode().Text(), "640x480");
    ExpectBroadcastsFor(nullptr);
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", 600);
    EXPECT_TRUE(Responsive(m_main));
}

// --- resources ------------------------------------------------------------------------------------------------

// Handles that this process gains from panel-mode changes of its own: Wine's mode change keeps a few
// handles open every time, whoever calls it.
long PlatformHandlesPerChanges(int changes)
{
    const long before = CountHandles(GetCurrentProcess());
    for (int i = 0; i < changes; ++i)
        ChangeFirstDisplayMode(800, i % 2 ? 480 : 600, 60);
    return static_cast<long>(CountHandles(GetCurrentProcess())) - before;
}

TEST_F(Hostile, MenusSwitchesAndReAddsLeaveNoHandlesOrMemoryBehind)
{
    const int menus = StressCount(100, 2000);
    const int switches = StressCount(10, 200);
    const int reAdds = StressCount(100, 2000);
    const long platformGrowth = PlatformHandlesPerChanges(switches);
    SetDisplayMode(1024, 600);
    StoreMode(1024, 768);
    Start();
    HANDLE process = m_tray.Handle();
    // One round of everything first, so that what is allocated once is not counted as growth.
    OpenAndCloseMenu();
    Command(IDM_LCD_800X600);
    Command(IDM_LCD_800X480);
    BroadcastTaskbarCreated(kTimeoutMs);
    ASSERT_TRUE(Drained());
    const SIZE_T bytesBefore = PrivateBytes(process);
    long handles[4] = {static_cast<long>(CountHandles(process))};

    for (int i = 0; i < menus; ++i)
        OpenAndCloseMenu();
    ASSERT_TRUE(Drained());
    handles[1] = CountHandles(process);
    // Mostly the work-area and taskbar messages of a shell that kept the icon; every tenth time the
    // shell really lost it (which costs Wine's shell two seconds).
    for (int i = 0; i < reAdds; ++i) {
        if (i % 10 == 0) {
            EXPECT_TRUE(ShellForgetsIcon(m_main)) << "re-add " << i;
        }
        if (i % 2)
            BroadcastWorkAreaChange(kTimeoutMs);
        else
            BroadcastTaskbarCreated(kTimeoutMs);
    }
    ASSERT_TRUE(Drained());
    handles[2] = CountHandles(process);
    for (int i = 0; i < switches; ++i)
        Command(i % 2 ? IDM_LCD_800X480 : IDM_LCD_800X600);
    ASSERT_TRUE(Drained());
    handles[3] = CountHandles(process);
    const SIZE_T bytesAfter = PrivateBytes(process);

    EXPECT_GT(handles[0], 0) << "no handle seen: the count does not work";
    EXPECT_LE(handles[1], handles[0]) << "menus";
    EXPECT_LE(handles[2], handles[1]) << "re-adds";
    EXPECT_LE(handles[3] - handles[2], platformGrowth) << "switches";
    // A leaked menu costs its items and its handle: thousands of them would show as megabytes.
    EXPECT_LT(bytesAfter, bytesBefore + 512 * 1024);
    EXPECT_TRUE(IconInNotificationArea(m_main));
    printf("resources: kernel handles %ld, after %d menus %ld, after %d re-adds %ld, after %d switches %ld "
           "(the platform keeps %ld for as many changes of its own); private bytes %lu KiB -> %lu KiB; "
           "Wine counts no USER or GDI objects per process\n", handles[0], menus, handles[1], reAdds, handles[2],
           switches, handles[3], platformGrowth, static_cast<unsigned long>(bytesBefore / 1024),
           static_cast<unsigned long>(bytesAfter / 1024));
}

// --- a hung window of another program ------------------------------------------------------------------------

TEST_F(Hostile, HungWindowDelaysTheSwitchOnlyUpToTheBound)
{
    StoreMode(1024, 768);
    // A top-level window of another program that stops answering as soon as the display changes.
    HungWindow hung(L"HungOnDisplayChange", L"", WM_DISPLAYCHANGE);
    // How long the platform's own broadcast inside a mode change waits for the window.
    DWORD start = GetTickCount();
    SetDisplayMode(800, 480);
    const DWORD platformWait = GetTickCount() - start;
    hung.Release();
    PumpMessagesFor(300);
    hung.Hold();

    Start();
    start = GetTickCount();
    Command(IDM_LCD_800X600);
    const DWORD took = GetTickCount() - start;
    const DWORD kBroadcastBoundMs = 5000;
    EXPECT_LT(took, platformWait + kBroadcastBoundMs + 1500) << "the switch waited " << took << " ms";
    EXPECT_EQ(CurrentDisplayMode().Text(), "800x600");
    ExpectStoredDword("DispHeight", 600);
    EXPECT_TRUE(Responsive(m_main));
    printf("hung window: the switch took %lu ms; the platform's own change waits %lu ms for it, the "
           "broadcast at most %lu ms more\n", static_cast<unsigned long>(took),
           static_cast<unsigned long>(platformWait), static_cast<unsigned long>(kBroadcastBoundMs));
}

} // namespace
