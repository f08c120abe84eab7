// Running VornTray as a real process and watching what it does: the display mode (read and set by
// fresh processes), the broadcasts, the registry and the icon as the shell knows it.
#pragma once
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include "messages.h"
#include "process.h"
#include "shellicon.h"

inline const DWORD kTimeoutMs = MachineMs(15000);

struct DisplayMode
{
    unsigned width = 0, height = 0, bitsPerPixel = 0;
    std::string Text() const { return std::to_string(width) + "x" + std::to_string(height); }
};

DisplayMode CurrentDisplayMode();
// At 60 Hz by default, where every panel mode exists, whatever rate an earlier test left.
void SetDisplayMode(unsigned width, unsigned height, unsigned frequency = 60);
// How many WM_DISPLAYCHANGE broadcasts the platform itself sends for one mode change made by somebody
// else. Wine already broadcasts once inside the change; VornTray's own broadcast comes on top of that.
size_t PlatformBroadcastsPerChange();
LPARAM PanelLParam(unsigned height);

// A clean registry, the display at 1024 x 600, and one VornTray, ended by "Exit" after the test.
class VornTray : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts VornTray and returns once its message loop waits for input. VornTray ignores its
    // arguments; a token among them finds its Unix process.
    void Start(const std::string& arguments = "");
    void Command(WPARAM wParam);
    void TrayCallback(WPARAM iconId, UINT mouseMessage);
    // Opens the real menu with a button-up callback and chooses an item with the keyboard; the
    // menu opens with no item selected, so one press selects the first item.
    void ChooseFromMenu(UINT mouseMessage, int downPresses);
    // The broadcasts seen since start: none, or the platform's own plus exactly one from VornTray,
    // each carrying the colour depth and the new mode.
    void ExpectBroadcastsFor(const DisplayMode* switchedTo);
    // Waits until the display is at 800 x height and that choice is saved, handling this thread's
    // messages meanwhile: VornTray saves the choice only after its broadcast, which reaches the
    // listener here too.
    bool WaitForPanelChoice(unsigned height);
    // Waits until VornTray has handled every message posted to it so far, and what those posted in
    // turn. A sent message would be handled before them, so the wait is for the effect of a message
    // posted behind them, twice: the shell forgets the icon, and a "TaskbarCreated" posted to the
    // icon's window brings it back.
    bool WaitForPostedMessages();
    // Answers within the time-out: the program is alive and its loop runs.
    bool Responsive(HWND window, DWORD timeoutMs = kTimeoutMs);
    // Starts a second copy and expects it to end at once with code 0, the first still running and
    // answering.
    void ExpectSecondCopyLeavesAtOnce();

    ChildProcess m_tray;
    HWND m_main = nullptr;
    std::unique_ptr<DisplayChangeListener> m_listener;
};
