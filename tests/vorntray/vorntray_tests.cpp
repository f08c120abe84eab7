// VornTray as a real process under Wine: its start, its commands, its menu and its icon, observed
// through the display mode, the registry, a window that listens to broadcasts and the shell.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>
#include "messages.h"
#include "process.h"
#include "vorntray/resource.h"
#include "rowlabel.h"
#include "savedmode.h"
#include "trayfixture.h"

namespace {

using rowlabel::operator<<;

// --- start-up ------------------------------------------------------------------------------------------

TEST_F(VornTray, FirstStartCreatesTheKeyWithDefaultsAndAppliesThem)
{
    Start();
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", 480);
    DisplayMode mode = CurrentDisplayMode();
    EXPECT_EQ(mode.Text(), "800x480");
    ExpectBroadcastsFor(&mode);
}

struct SavedModeCase
{
    const char* label;
    DWORD width, height;
    const char* displayAfterStart;
};

class SavedModeAtStart : public VornTray, public ::testing::WithParamInterface<SavedModeCase>
{
};

TEST_P(SavedModeAtStart, IsAppliedOnlyWhenItIsAPanelMode)
{
    const SavedModeCase& row = GetParam();
    StoreMode(row.width, row.height);
    Start();
    DisplayMode mode = CurrentDisplayMode();
    EXPECT_EQ(mode.Text(), row.displayAfterStart);
    ExpectBroadcastsFor(mode.Text() == "1024x600" ? nullptr : &mode);
    // Whatever was stored stays as it was.
    ExpectStoredDword("DispWidth", row.width);
    ExpectStoredDword("DispHeight", row.height);
}

INSTANTIATE_TEST_SUITE_P(Table, SavedModeAtStart, ::testing::Values(
    SavedModeCase{"panel480", 800, 480, "800x480"},
    SavedModeCase{"panel600", 800, 600, "800x600"},
    SavedModeCase{"xga", 1024, 768, "1024x600"},
    SavedModeCase{"width800_height768", 800, 768, "1024x600"},
    SavedModeCase{"width640_height480", 640, 480, "1024x600"},
    SavedModeCase{"zeros", 0, 0, "1024x600"}),
    rowlabel::Name());

TEST_F(VornTray, SavedModeThatIsAlreadyCurrentChangesNothing)
{
    SetDisplayMode(800, 480);
    StoreMode(800, 480);
    Start();
    EXPECT_EQ(CurrentDisplayMode().Text(), "800x480");
    ExpectBroadcastsFor(nullptr);
}

// Stored values of other types and sizes: four bytes of any type are a number, more count as missing
// and are replaced by the default, fewer fill the low bytes. The reader's table of every type and
// size is in panelmode_tests; these rows show that the start applies what that reader returns.
struct OddValueCase
{
    const char* label;
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
    const char* displayAfterStart;
    bool rewrittenAsDefault;
};

class OddStoredValue : public VornTray, public ::testing::WithParamInterface<OddValueCase>
{
};

TEST_P(OddStoredValue, IsReadAsStoredOrReplacedByTheDefault)
{
    const OddValueCase& row = GetParam();
    StoreMode(800, 600);
    Store(row.name, row.type, row.data);
    Start();
    EXPECT_EQ(CurrentDisplayMode().Text(), row.displayAfterStart);
    StoredValue stored = ReadStored(row.name);
    if (row.rewrittenAsDefault) {
        ExpectStoredDword(row.name, strcmp(row.name, "DispWidth") == 0 ? 800 : 480);
    } else {
        EXPECT_EQ(stored.type, row.type);
        EXPECT_EQ(stored.data, row.data);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, OddStoredValue, ::testing::Values(
    OddValueCase{"eight_byte_binary_height", "DispHeight", REG_BINARY, {0x58, 0x02, 0, 0, 0, 0, 0, 0}, "800x480", true},
    OddValueCase{"two_byte_height", "DispHeight", REG_BINARY, {0x58, 0x02}, "800x600", false},
    OddValueCase{"four_byte_binary_width", "DispWidth", REG_BINARY, {0x20, 0x03, 0, 0}, "800x600", false}),
    rowlabel::Name());

TEST_F(VornTray, OnlyTheMissingValueIsWritten)
{
    Store("DispWidth", REG_DWORD, DwordBytes(1024));
    Start();
    ExpectStoredDword("DispWidth", 1024);
    ExpectStoredDword("DispHeight", 480);
    EXPECT_EQ(CurrentDisplayMode().Text(), "1024x600");
}

TEST_F(VornTray, SecondCopyExitsAtOnceAndLeavesTheFirstRunning)
{
    StoreMode(1024, 768);
    Start();
    ASSERT_NO_FATAL_FAILURE(ExpectSecondCopyLeavesAtOnce());
    EXPECT_TRUE(IconInNotificationArea(m_main));
}

// --- commands ------------------------------------------------------------------------------------------

struct CommandCase
{
    const char* label;
    WPARAM wParam;
    unsigned height;
};

class ModeCommand : public VornTray, public ::testing::WithParamInterface<CommandCase>
{
};

TEST_P(ModeCommand, SwitchesBroadcastsAndRecords)
{
    const CommandCase& row = GetParam();
    StoreMode(1024, 768);
    Start();
    Command(row.wParam);
    DisplayMode mode = CurrentDisplayMode();
    EXPECT_EQ(mode.Text(), "800x" + std::to_string(row.height));
    EXPECT_EQ(mode.bitsPerPixel, 32u);
    ExpectBroadcastsFor(&mode);
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", row.height);
}

INSTANTIATE_TEST_SUITE_P(Table, ModeCommand, ::testing::Values(
    CommandCase{"lcd480", IDM_LCD_800X480, 480},
    CommandCase{"lcd600", IDM_LCD_800X600, 600},
    CommandCase{"lcd480_with_notification_code", MAKEWPARAM(IDM_LCD_800X480, 1), 480},
    CommandCase{"lcd600_with_notification_code", MAKEWPARAM(IDM_LCD_800X600, 0x1234), 600}),
    rowlabel::Name());

TEST_F(VornTray, CommandForTheCurrentModeOnlyRecordsTheChoice)
{
    SetDisplayMode(800, 600);
    StoreMode(1024, 768);
    Start();
    Command(IDM_LCD_800X600);
    EXPECT_EQ(CurrentDisplayMode().Text(), "800x600");
    ExpectBroadcastsFor(nullptr);
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", 600);
}

TEST_F(VornTray, UnknownCommandChangesNothing)
{
    StoreMode(1024, 768);
    Start();
    Command(999);
    Command(MAKEWPARAM(0, IDM_LCD_800X600));
    EXPECT_EQ(CurrentDisplayMode().Text(), "1024x600");
    ExpectBroadcastsFor(nullptr);
    ExpectStoredDword("DispWidth", 1024);
    ExpectStoredDword("DispHeight", 768);
    EXPECT_TRUE(m_tray.Running());
}

// --- the tray icon: menu and double-click ---------------------------------------------------------------

struct MenuCase
{
    const char* label;
    UINT mouseMessage;
    int downPresses;  // the menu opens with no item selected: one press selects the first item
};

class PopupMenu : public VornTray, public ::testing::WithParamInterface<MenuCase>
{
};

TEST_P(PopupMenu, ChoosesEveryItem)
{
    const MenuCase& row = GetParam();
    StoreMode(1024, 768);
    Start();
    ChooseFromMenu(row.mouseMessage, row.downPresses);
    if (row.downPresses == 3) {
        EXPECT_EQ(m_tray.Wait(kTimeoutMs), 0u) << "Exit did not end the program";
        return;
    }
    unsigned height = row.downPresses == 1 ? 480 : 600;
    ASSERT_TRUE(WaitForPanelChoice(height));
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", height);
}

INSTANTIATE_TEST_SUITE_P(Table, PopupMenu, ::testing::Values(
    MenuCase{"right_button_lcd600", WM_RBUTTONUP, 2},
    MenuCase{"left_button_lcd480", WM_LBUTTONUP, 1},
    MenuCase{"right_button_exit", WM_RBUTTONUP, 3}),
    rowlabel::Name());

TEST_F(VornTray, DoubleClickActsAsTheFirstMenuItem)
{
    StoreMode(1024, 768);
    Start();
    TrayCallback(kTrayIconId, WM_LBUTTONDBLCLK);
    ASSERT_TRUE(WaitForPanelChoice(480));
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", 480);
}

TEST_F(VornTray, CallbacksForAnotherIconOrMouseMessageDoNothing)
{
    StoreMode(1024, 768);
    Start();
    TrayCallback(kTrayIconId + 1, WM_LBUTTONDBLCLK);
    TrayCallback(kTrayIconId + 1, WM_RBUTTONUP);
    TrayCallback(kTrayIconId, WM_MOUSEMOVE);
    TrayCallback(kTrayIconId, WM_RBUTTONDOWN);
    ASSERT_TRUE(WaitForPostedMessages());
    EXPECT_EQ(FindVisibleMenu(m_tray.Id()), nullptr) << "a menu opened";
    EXPECT_EQ(CurrentDisplayMode().Text(), "1024x600");
    ExpectStoredDword("DispWidth", 1024);
}

// --- the icon after the shell restarts ---------------------------------------------------------------------

enum class ShellEvent { Restart, WorkAreaChange, TaskbarCreatedWhilePresent };

struct ShellCase
{
    const char* label;
    std::vector<ShellEvent> events;
};

class ShellRestart : public VornTray, public ::testing::WithParamInterface<ShellCase>
{
};

TEST_P(ShellRestart, IconComesBackEveryTime)
{
    StoreMode(1024, 768);
    Start();
    ASSERT_TRUE(IconInNotificationArea(m_main));
    int step = 0;
    for (ShellEvent event : GetParam().events) {
        ++step;
        switch (event) {
        case ShellEvent::Restart:
            ASSERT_TRUE(ShellForgetsIcon(m_main));
            ASSERT_FALSE(IconInNotificationArea(m_main));
            BroadcastTaskbarCreated(kTimeoutMs);
            break;
        case ShellEvent::WorkAreaChange:
            BroadcastWorkAreaChange(kTimeoutMs);
            break;
        case ShellEvent::TaskbarCreatedWhilePresent:
            BroadcastTaskbarCreated(kTimeoutMs);
            break;
        }
        EXPECT_TRUE(IconInNotificationArea(m_main)) << "icon missing after step " << step;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ShellRestart, ::testing::Values(
    ShellCase{"restart", {ShellEvent::Restart}},
    ShellCase{"restart_three_times", {ShellEvent::Restart, ShellEvent::Restart, ShellEvent::Restart}},
    ShellCase{"work_area_change_then_restart", {ShellEvent::WorkAreaChange, ShellEvent::Restart}},
    ShellCase{"taskbar_created_while_present_then_restart",
              {ShellEvent::TaskbarCreatedWhilePresent, ShellEvent::Restart, ShellEvent::WorkAreaChange,
               ShellEvent::WorkAreaChange, ShellEvent::Restart}}),
    rowlabel::Name());

} // namespace
