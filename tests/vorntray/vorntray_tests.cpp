// VornTray as a real process under Wine: its start, its commands, its menu and its icon, observed
// through the display mode, the registry, a window that listens to broadcasts and the shell.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>
#include "messages.h"
#include "process.h"
#include "resource.h"

namespace {

const char kSettingsKey[] = "SOFTWARE\\Vorn\\ZelPC";
constexpr UINT kTrayCallback = WM_APP + 10;
constexpr UINT kIconId = IDR_TRAYMENU;
const DWORD kTimeoutMs = 15000;

// --- the saved panel mode -------------------------------------------------------------------------

struct StoredValue
{
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::vector<BYTE> DwordBytes(DWORD value)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(bytes, bytes + sizeof(value));
}

StoredValue ReadStored(const char* name)
{
    StoredValue stored;
    BYTE buffer[64];
    DWORD size = sizeof(buffer);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return stored;
    if (RegQueryValueExA(key, name, nullptr, &stored.type, buffer, &size) == ERROR_SUCCESS) {
        stored.exists = true;
        stored.data.assign(buffer, buffer + size);
    }
    RegCloseKey(key);
    return stored;
}

void Store(const char* name, DWORD type, const std::vector<BYTE>& data)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    RegCloseKey(key);
}

void StoreMode(DWORD width, DWORD height)
{
    Store("DispWidth", REG_DWORD, DwordBytes(width));
    Store("DispHeight", REG_DWORD, DwordBytes(height));
}

void ExpectStoredDword(const char* name, DWORD expected)
{
    StoredValue stored = ReadStored(name);
    ASSERT_TRUE(stored.exists) << name;
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD)) << name;
    EXPECT_EQ(stored.data, DwordBytes(expected)) << name;
}

// --- the display, read and set by fresh processes ---------------------------------------------------

struct DisplayMode
{
    unsigned width = 0, height = 0, bitsPerPixel = 0;
    std::string Text() const { return std::to_string(width) + "x" + std::to_string(height); }
};

DisplayMode CurrentDisplayMode()
{
    DWORD exitCode = 0;
    std::string output = RunAndCapture(ToWindowsPath(DISPLAYMODE_EXE), &exitCode);
    DisplayMode mode;
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_EQ(sscanf(output.c_str(), "%ux%u %u", &mode.width, &mode.height, &mode.bitsPerPixel), 3) << output;
    return mode;
}

void SetDisplayMode(unsigned width, unsigned height)
{
    DWORD exitCode = 0;
    std::string output = RunAndCapture(ToWindowsPath(DISPLAYMODE_EXE) + " set " + std::to_string(width) + " "
                                       + std::to_string(height), &exitCode);
    ASSERT_EQ(exitCode, 0u) << output;
}

// How many WM_DISPLAYCHANGE broadcasts the platform itself sends for one mode change made by somebody
// else. Wine already broadcasts once inside the change; VornTray's own broadcast comes on top of that.
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

// --- the icon as the shell knows it -------------------------------------------------------------------

NOTIFYICONDATAA IconKey(HWND owner)
{
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uID = kIconId;
    return data;
}

// A modify that changes nothing succeeds exactly when the shell has the icon.
bool IconInNotificationArea(HWND owner)
{
    NOTIFYICONDATAA data = IconKey(owner);
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

// What a restarting shell does to the icons it had: it forgets them.
void ShellForgetsIcon(HWND owner)
{
    NOTIFYICONDATAA data = IconKey(owner);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
}

void BroadcastTaskbarCreated()
{
    SendMessageTimeoutA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG,
                        kTimeoutMs, nullptr);
}

void BroadcastWorkAreaChange()
{
    SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, SMTO_ABORTIFHUNG, kTimeoutMs,
                        nullptr);
}

// --- the fixture: a clean registry, the display at 1024 x 600, one VornTray ---------------------------

class VornTray : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorn");
        SetDisplayMode(1024, 600);
        PlatformBroadcastsPerChange();
    }

    void TearDown() override
    {
        if (m_tray.Running()) {
            PostMessageA(m_main, WM_COMMAND, IDM_EXIT, 0);
            EXPECT_EQ(m_tray.Wait(kTimeoutMs), 0u) << "VornTray did not end on Exit";
        }
    }

    // Starts VornTray and returns once its message loop waits for input.
    void Start()
    {
        m_listener.reset(new DisplayChangeListener);
        ASSERT_TRUE(m_tray.Start(ToWindowsPath(VORNTRAY_EXE)));
        m_main = WaitForProcessWindow("VORNTRAY", m_tray.Id(), kTimeoutMs);
        ASSERT_NE(m_main, nullptr) << "no main window";
        // The saved mode is applied before the loop, with a broadcast this thread must answer meanwhile.
        ASSERT_TRUE(PumpUntil([this] { return WaitForInputIdle(m_tray.Handle(), 0) == 0; }, kTimeoutMs));
        PumpMessagesFor(300);
    }

    void Command(WPARAM wParam)
    {
        ASSERT_TRUE(SendMessageTimeoutA(m_main, WM_COMMAND, wParam, 0, SMTO_NORMAL, kTimeoutMs, nullptr));
        PumpMessagesFor(300);
    }

    void TrayCallback(WPARAM iconId, UINT mouseMessage)
    {
        ASSERT_TRUE(PostMessageA(m_main, kTrayCallback, iconId, mouseMessage));
    }

    // The broadcasts seen since start: none, or the platform's own plus exactly one from VornTray,
    // each carrying the colour depth and the new mode.
    void ExpectBroadcastsFor(const DisplayMode* switchedTo)
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

    ChildProcess m_tray;
    HWND m_main = nullptr;
    std::unique_ptr<DisplayChangeListener> m_listener;
};

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

// Names the row in test output.
void PrintTo(const SavedModeCase& row, std::ostream* out)
{
    *out << row.label;
}

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
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(VornTray, SavedModeThatIsAlreadyCurrentChangesNothing)
{
    SetDisplayMode(800, 480);
    StoreMode(800, 480);
    Start();
    EXPECT_EQ(CurrentDisplayMode().Text(), "800x480");
    ExpectBroadcastsFor(nullptr);
}

// Stored values of other types and sizes: four bytes of any type are a number, more count as missing
// and are replaced by the default, fewer fill the low bytes.
struct OddValueCase
{
    const char* label;
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
    const char* displayAfterStart;
    bool rewrittenAsDefault;
};

// Names the row in test output.
void PrintTo(const OddValueCase& row, std::ostream* out)
{
    *out << row.label;
}

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
    OddValueCase{"qword_width", "DispWidth", REG_QWORD, {0x20, 0x03, 0, 0, 0, 0, 0, 0}, "800x600", true},
    OddValueCase{"eight_byte_binary_height", "DispHeight", REG_BINARY, {0x58, 0x02, 0, 0, 0, 0, 0, 0}, "800x480", true},
    OddValueCase{"two_byte_width", "DispWidth", REG_BINARY, {0x20, 0x03}, "800x600", false},
    OddValueCase{"two_byte_height", "DispHeight", REG_BINARY, {0x58, 0x02}, "800x600", false},
    OddValueCase{"one_byte_width", "DispWidth", REG_BINARY, {0x20}, "1024x600", false},
    OddValueCase{"four_byte_binary_width", "DispWidth", REG_BINARY, {0x20, 0x03, 0, 0}, "800x600", false},
    OddValueCase{"big_endian_width", "DispWidth", REG_DWORD_BIG_ENDIAN, {0, 0, 0x03, 0x20}, "1024x600", false},
    OddValueCase{"string_width", "DispWidth", REG_SZ, {'8', '0', '0', 0}, "1024x600", false}),
    [](const auto& info) { return std::string(info.param.label); });

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
    ChildProcess second;
    ASSERT_TRUE(second.Start(ToWindowsPath(VORNTRAY_EXE)));
    EXPECT_EQ(second.Wait(kTimeoutMs), 0u);
    EXPECT_TRUE(m_tray.Running());
    EXPECT_TRUE(SendMessageTimeoutA(m_main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, nullptr));
    EXPECT_TRUE(IconInNotificationArea(m_main));
}

// --- commands ------------------------------------------------------------------------------------------

struct CommandCase
{
    const char* label;
    WPARAM wParam;
    unsigned height;
};

// Names the row in test output.
void PrintTo(const CommandCase& row, std::ostream* out)
{
    *out << row.label;
}

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
    [](const auto& info) { return std::string(info.param.label); });

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

TEST_F(VornTray, ExitEndsWithCodeZero)
{
    StoreMode(1024, 768);
    Start();
    PostMessageA(m_main, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(m_tray.Wait(kTimeoutMs), 0u);
}

// --- the tray icon: menu and double-click ---------------------------------------------------------------

struct MenuCase
{
    const char* label;
    UINT mouseMessage;
    int downPresses;  // the menu opens with no item selected: one press selects the first item
};

// Names the row in test output.
void PrintTo(const MenuCase& row, std::ostream* out)
{
    *out << row.label;
}

class PopupMenu : public VornTray, public ::testing::WithParamInterface<MenuCase>
{
protected:
    // Opens the real menu with a button-up callback and chooses an item with the keyboard.
    void ChooseFromMenu(UINT mouseMessage, int downPresses)
    {
        TrayCallback(kIconId, mouseMessage);
        HWND menu = WaitForProcessWindow("#32768", m_tray.Id(), kTimeoutMs);
        ASSERT_NE(menu, nullptr) << "the menu did not open";
        for (int i = 0; i < downPresses; ++i)
            PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
        ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(menu); }, kTimeoutMs)) << "the menu did not close";
    }
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
    ASSERT_TRUE(PumpUntil([&] { return CurrentDisplayMode().height == height; }, kTimeoutMs));
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", height);
}

INSTANTIATE_TEST_SUITE_P(Table, PopupMenu, ::testing::Values(
    MenuCase{"right_button_lcd600", WM_RBUTTONUP, 2},
    MenuCase{"left_button_lcd480", WM_LBUTTONUP, 1},
    MenuCase{"right_button_exit", WM_RBUTTONUP, 3}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(VornTray, DoubleClickActsAsTheFirstMenuItem)
{
    StoreMode(1024, 768);
    Start();
    TrayCallback(kIconId, WM_LBUTTONDBLCLK);
    ASSERT_TRUE(PumpUntil([] { return CurrentDisplayMode().Text() == "800x480"; }, kTimeoutMs));
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", 480);
}

TEST_F(VornTray, CallbacksForAnotherIconOrMouseMessageDoNothing)
{
    StoreMode(1024, 768);
    Start();
    TrayCallback(kIconId + 1, WM_LBUTTONDBLCLK);
    TrayCallback(kIconId + 1, WM_RBUTTONUP);
    TrayCallback(kIconId, WM_MOUSEMOVE);
    TrayCallback(kIconId, WM_RBUTTONDOWN);
    ASSERT_TRUE(SendMessageTimeoutA(m_main, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, nullptr));
    PumpMessagesFor(500);
    HWND menu = FindProcessWindow("#32768", m_tray.Id());
    EXPECT_TRUE(!menu || !IsWindowVisible(menu)) << "a menu opened";
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

// Names the row in test output.
void PrintTo(const ShellCase& row, std::ostream* out)
{
    *out << row.label;
}

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
            ShellForgetsIcon(m_main);
            ASSERT_FALSE(IconInNotificationArea(m_main));
            BroadcastTaskbarCreated();
            break;
        case ShellEvent::WorkAreaChange:
            BroadcastWorkAreaChange();
            break;
        case ShellEvent::TaskbarCreatedWhilePresent:
            BroadcastTaskbarCreated();
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
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
