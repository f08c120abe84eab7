// CSystemTray in this process against Wine's own shell, windows and menus, and against the shell
// stand-in where a shell must refuse. The version-dependent paths run in copies of this program for
// which Wine reports an older Windows.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include "messages.h"
#include "process.h"
#include "rowlabel.h"
#include "shellicon.h"
#include "shellstandin.h"
#include "systemtray.h"
#include "textfield.h"
#include "trayprobe.h"
#include "versioncopy.h"

namespace {

using rowlabel::operator<<;

// VornTray's menu, which trayprobe.rc copies under the same identifier.
constexpr UINT kTrayMenu = IDR_TRAYMENU;

// Opens up the component's state and records what reaches its virtual operations.
class TrayProbe : public CSystemTray
{
public:
    using CSystemTray::m_addFlags;
    using CSystemTray::m_addPending;
    using CSystemTray::m_defaultIsPosition;
    using CSystemTray::m_defaultItem;
    using CSystemTray::m_iconAbsent;
    using CSystemTray::m_iconData;
    using CSystemTray::m_iconHidden;
    using CSystemTray::m_notifyWindow;
    using CSystemTray::m_retryStart;
    using CSystemTray::m_trayAvailable;
    using CSystemTray::m_win2000Shell;

    LRESULT HandleTrayMessage(WPARAM wParam, LPARAM lParam) override
    {
        ++callbacksRouted;
        return CSystemTray::HandleTrayMessage(wParam, lParam);
    }

    // Records the menu about to be shown and has it closed as soon as it is tracked.
    void PrepareMenu(HMENU popup) override
    {
        preparedItems.clear();
        preparedPopup = popup;
        for (int i = 0; i < GetMenuItemCount(popup); ++i)
            preparedItems.push_back(GetMenuItemID(popup, i));
        SetTimer(nullptr, 0, 200, CloseMenu);
    }

    BOOL Add(HWND owner, UINT identifier, BOOL startHidden = FALSE, LPCSTR tooltip = "Vorn ZelPC Utility",
             LPCSTR balloonText = nullptr, LPCSTR balloonTitle = nullptr)
    {
        return AddToTray(GetModuleHandleA(nullptr), owner, kTrayCallback, tooltip, LoadIconA(nullptr, IDI_APPLICATION),
                         identifier, startHidden, balloonText, balloonTitle, NIIF_INFO, 10);
    }

    int callbacksRouted = 0;
    std::vector<UINT> preparedItems;
    HMENU preparedPopup = nullptr;

private:
    static void CALLBACK CloseMenu(HWND, UINT, UINT_PTR timer, DWORD)
    {
        KillTimer(nullptr, timer);
        EndMenu();
    }
};

// A top-level window that stands for the program's main window and records what is posted to it.
class OwnerWindow
{
public:
    struct Posted
    {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    OwnerWindow() : window(CreateHiddenWindow("TrayTestOwner", WindowProc, this)) {}
    ~OwnerWindow() { DestroyWindow(window); }

    // What was posted to the window by now.
    const std::vector<Posted>& Received()
    {
        PumpMessagesFor(100);
        return received;
    }

    HWND window = nullptr;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<OwnerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && (message == WM_COMMAND || message == WM_NULL))
            self->received.push_back({message, wParam, lParam});
        return DefWindowProcA(window, message, wParam, lParam);
    }

    std::vector<Posted> received;
};

// Every test adds an icon of its own: the shell keeps icons of windows that are gone.
UINT NextIdentifier()
{
    static UINT next = 0x1000;
    return ++next;
}

// --- text fields ---------------------------------------------------------------------------------------

struct FieldCase
{
    const char* label;
    const char* text;
    int fieldSize;
    std::string expected;  // the whole field
};

class TextField : public ::testing::TestWithParam<FieldCase>
{
};

TEST_P(TextField, EndsWithZeroAndNeverSplitsACharacter)
{
    const FieldCase& row = GetParam();
    std::string field(row.fieldSize, '\x55');
    CopyTextField(&field[0], row.fieldSize, row.text, 932);
    EXPECT_EQ(field, row.expected);
}

// Code page 932 (Japanese): 0x82 is a lead byte, 0xA0 its trail.
INSTANTIATE_TEST_SUITE_P(Table, TextField, ::testing::Values(
    FieldCase{"short_text_zero_filled", "ab", 6, std::string("ab\0\0\0\0", 6)},
    FieldCase{"exact_fit", "abcde", 6, std::string("abcde\0", 6)},
    FieldCase{"too_long_is_cut", "abcdefgh", 6, std::string("abcde\0", 6)},
    FieldCase{"double_byte_fits", "abc\x82\xa0", 6, std::string("abc\x82\xa0\0", 6)},
    FieldCase{"double_byte_would_reach_last_byte", "abcd\x82\xa0", 6, std::string("abcd\0\0", 6)},
    FieldCase{"lead_byte_without_trail", "ab\x82", 6, std::string("ab\0\0\0\0", 6)},
    FieldCase{"null_text", nullptr, 4, std::string("\0\0\0\0", 4)}),
    rowlabel::Name());

TEST(AddToTray, LongTooltipIsCutWithATerminator)
{
    OwnerWindow owner;
    TrayProbe tray;
    std::string tooltip(200, 'v');
    ASSERT_TRUE(tray.Add(owner.window, NextIdentifier(), FALSE, tooltip.c_str()));
    EXPECT_EQ(std::string(tray.m_iconData.szTip, sizeof(tray.m_iconData.szTip)), std::string(127, 'v') + '\0');
}

// --- AddToTray on each kind of shell, in a copy of this program that Wine runs as that Windows version ---

struct VersionCase
{
    const char* label;
    const char* version;     // Wine's name for the Windows version
    BOOL startHidden;
    const char* balloonText;
    const char* balloonTitle;
    const char* expected;    // "key=value" pairs that the add must leave
};

const VersionCase kVersionCases[] = {
    {"win31_refused", "win31", FALSE, nullptr, nullptr,
     "result=0 trayAvailable=0 notifyWindow=0 iconHidden=1 iconAbsent=1 addPending=0 addFlags=0 uFlags=0 "
     "inShell=0"},
    {"win98_plain", "win98", FALSE, nullptr, nullptr,
     "result=1 trayAvailable=1 win2000Shell=0 notifyWindow=1 iconHidden=0 iconAbsent=0 addPending=1 addFlags=7 "
     "uFlags=7 inShell=1"},
    {"win98_balloon_ignored", "win98", FALSE, "Panel switched", "VornTray",
     "result=1 win2000Shell=0 uFlags=7 szInfo= szInfoTitle= uTimeout=0 dwInfoFlags=0 inShell=1"},
    {"win98_hidden_not_added", "win98", TRUE, nullptr, nullptr,
     "result=1 trayAvailable=1 iconHidden=1 iconAbsent=1 addPending=0 addFlags=7 inShell=0"},
    {"nt40_balloon_ignored", "nt40", FALSE, "Panel switched", "VornTray",
     "result=1 win2000Shell=0 uFlags=7 szInfo= szInfoTitle= uTimeout=0 inShell=1"},
    {"nt40_hidden_not_added", "nt40", TRUE, nullptr, nullptr,
     "result=1 win2000Shell=0 iconHidden=1 iconAbsent=1 addPending=0 inShell=0"},
    {"win2k_balloon_with_title", "win2k", FALSE, "Panel switched", "VornTray",
     "result=1 win2000Shell=1 uFlags=23 addFlags=23 szInfo= szInfoTitle=VornTray uTimeout=10000 dwInfoFlags=1 "
     "iconHidden=0 addPending=1 inShell=1"},
    {"win2k_balloon_without_title", "win2k", FALSE, "Panel switched", nullptr,
     "result=1 uFlags=23 szInfoTitle= uTimeout=10000 inShell=1"},
    {"win2k_hidden_state_alone", "win2k", TRUE, nullptr, nullptr,
     "result=1 uFlags=8 addFlags=8 dwState=1 dwStateMask=1 iconHidden=0 iconAbsent=0 addPending=1 inShell=1"},
    {"winxp_no_balloon_no_timeout", "winxp", FALSE, nullptr, nullptr,
     "result=1 win2000Shell=1 uFlags=7 szInfo= uTimeout=0 dwInfoFlags=0 inShell=1"},
};

// In the copy: adds the icon for one row and prints what it left, as "key=value" lines.
int PrintAddResult(const VersionCase& row)
{
    OwnerWindow owner;
    TrayProbe tray;
    UINT identifier = NextIdentifier();
    BOOL result = tray.Add(owner.window, identifier, row.startHidden, "Vorn ZelPC Utility", row.balloonText,
                           row.balloonTitle);
    const NOTIFYICONDATAA& data = tray.m_iconData;
    printf("result=%d\ntrayAvailable=%d\nwin2000Shell=%d\nnotifyWindow=%d\niconHidden=%d\niconAbsent=%d\n"
           "addPending=%d\naddFlags=%u\nuFlags=%u\ndwState=%lu\ndwStateMask=%lu\nszInfo=%s\nszInfoTitle=%s\n"
           "uTimeout=%u\ndwInfoFlags=%lu\ninShell=%d\nmajorVersion=%u\n",
           result != FALSE, tray.m_trayAvailable, tray.m_win2000Shell, tray.m_notifyWindow != nullptr,
           tray.m_iconHidden, tray.m_iconAbsent, tray.m_addPending, tray.m_addFlags, data.uFlags, data.dwState,
           data.dwStateMask, data.szInfo, data.szInfoTitle, data.uTimeout, data.dwInfoFlags,
           IconInNotificationArea(owner.window, identifier), LOBYTE(LOWORD(GetVersion())));
    fflush(stdout);
    return 0;
}

std::map<std::string, std::string> ParsePairs(const std::string& text, char separator)
{
    std::map<std::string, std::string> pairs;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, separator)) {
        if (!item.empty() && item.back() == '\r')
            item.pop_back();
        size_t equals = item.find('=');
        if (equals != std::string::npos)
            pairs[item.substr(0, equals)] = item.substr(equals + 1);
    }
    return pairs;
}

// Runs this program again as a copy for which Wine reports the given Windows version.
std::string RunAsVersion(const char* version, const std::string& arguments, DWORD* exitCode)
{
    VersionCopy copy(SelfPath(), version);
    EXPECT_TRUE(copy.Made()) << "no copy running as " << version;
    return RunAndCapture(copy.Command() + " " + arguments, exitCode);
}

class AddToTrayOnShell : public ::testing::TestWithParam<VersionCase>
{
};

TEST_P(AddToTrayOnShell, LeavesTheIconRecordAndFlagsAsTheShellAllows)
{
    const VersionCase& row = GetParam();
    DWORD exitCode = 0;
    std::string output = RunAsVersion(row.version, "--add-to-tray=" + std::string(row.label), &exitCode);
    ASSERT_EQ(exitCode, 0u) << output;
    auto actual = ParsePairs(output, '\n');
    unsigned expectedMajor = strcmp(row.version, "win31") == 0 ? 3 : strcmp(row.version, "win2k") == 0 ? 5
                             : strcmp(row.version, "winxp") == 0 ? 5 : 4;
    ASSERT_EQ(actual["majorVersion"], std::to_string(expectedMajor)) << "Wine did not run the copy as "
                                                                     << row.version;
    for (const auto& [key, value] : ParsePairs(row.expected, ' '))
        EXPECT_EQ(actual[key], value) << key;
}

INSTANTIATE_TEST_SUITE_P(Table, AddToTrayOnShell, ::testing::ValuesIn(kVersionCases),
                         rowlabel::Name());

// --- callback messages --------------------------------------------------------------------------------

TEST(HandleTrayMessage, BeforeAddToTrayDoesNothing)
{
    TrayProbe tray;
    EXPECT_EQ(tray.HandleTrayMessage(0, WM_LBUTTONDBLCLK), 0);
    EXPECT_EQ(tray.HandleTrayMessage(0, WM_RBUTTONUP), 0);
    EXPECT_TRUE(tray.preparedItems.empty());
}

struct CallbackCase
{
    const char* label;
    bool otherIcon;
    LPARAM lParam;
    LRESULT result;
    bool menuShown;
    WPARAM commandPosted;  // 0: none
};

class Callback : public ::testing::TestWithParam<CallbackCase>
{
};

TEST_P(Callback, OpensTheMenuPostsTheDefaultCommandOrIgnores)
{
    const CallbackCase& row = GetParam();
    OwnerWindow owner;
    TrayProbe tray;
    UINT identifier = NextIdentifier();
    ASSERT_TRUE(tray.Add(owner.window, identifier));
    tray.m_iconData.uID = kTrayMenu;  // the menu resource is named by the identifier

    EXPECT_EQ(tray.HandleTrayMessage(row.otherIcon ? kTrayMenu + 1 : kTrayMenu, row.lParam), row.result);

    std::vector<UINT> expectedItems;
    if (row.menuShown)
        expectedItems = {IDM_LCD_800X480, IDM_LCD_800X600, IDM_EXIT};
    EXPECT_EQ(tray.preparedItems, expectedItems);
    if (row.menuShown) {
        EXPECT_FALSE(IsMenu(tray.preparedPopup)) << "the menu was not destroyed after use";
    }
    std::vector<std::string> posted;
    for (const auto& message : owner.Received())
        posted.push_back(message.message == WM_NULL ? "WM_NULL"
                         : "WM_COMMAND " + std::to_string(message.wParam) + "," + std::to_string(message.lParam));
    std::vector<std::string> expectedPosted;
    if (row.menuShown)
        expectedPosted.push_back("WM_NULL");
    if (row.commandPosted)
        expectedPosted.push_back("WM_COMMAND " + std::to_string(row.commandPosted) + ",0");
    EXPECT_EQ(posted, expectedPosted);
}

INSTANTIATE_TEST_SUITE_P(Table, Callback, ::testing::Values(
    CallbackCase{"right_button_up_menu", false, WM_RBUTTONUP, 1, true, 0},
    CallbackCase{"left_button_up_menu", false, WM_LBUTTONUP, 1, true, 0},
    CallbackCase{"double_click_first_item", false, WM_LBUTTONDBLCLK, 1, false, IDM_LCD_800X480},
    CallbackCase{"high_word_ignored", false, MAKELPARAM(WM_LBUTTONDBLCLK, 0x77), 1, false, IDM_LCD_800X480},
    CallbackCase{"mouse_move", false, WM_MOUSEMOVE, 1, false, 0},
    CallbackCase{"right_button_down", false, WM_RBUTTONDOWN, 1, false, 0},
    CallbackCase{"other_icon_double_click", true, WM_LBUTTONDBLCLK, 0, false, 0},
    CallbackCase{"other_icon_button_up", true, WM_RBUTTONUP, 0, false, 0}),
    rowlabel::Name());

struct DefaultItemCase
{
    const char* label;
    UINT menu;
    BOOL isPosition;
    UINT item;
    LRESULT result;
    bool posted;
    WPARAM command;
};

class DefaultCommand : public ::testing::TestWithParam<DefaultItemCase>
{
};

TEST_P(DefaultCommand, FollowsTheDefaultItemAndTheMenuResource)
{
    const DefaultItemCase& row = GetParam();
    OwnerWindow owner;
    TrayProbe tray;
    ASSERT_TRUE(tray.Add(owner.window, NextIdentifier()));
    tray.m_iconData.uID = row.menu;
    tray.m_defaultIsPosition = row.isPosition;
    tray.m_defaultItem = row.item;

    EXPECT_EQ(tray.HandleTrayMessage(row.menu, WM_LBUTTONDBLCLK), row.result);
    const auto& received = owner.Received();
    if (!row.posted) {
        EXPECT_TRUE(received.empty());
        return;
    }
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(received[0].wParam, row.command);
    EXPECT_EQ(received[0].lParam, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, DefaultCommand, ::testing::Values(
    DefaultItemCase{"second_position", kTrayMenu, TRUE, 1, 1, true, IDM_LCD_800X600},
    DefaultItemCase{"command_itself", kTrayMenu, FALSE, IDM_EXIT, 1, true, IDM_EXIT},
    DefaultItemCase{"command_without_menu_resource", IDR_MISSING_MENU, FALSE, IDM_EXIT, 1, true, IDM_EXIT},
    DefaultItemCase{"position_without_item", kTrayMenu, TRUE, 7, 1, true, 0xFFFFFFFF},
    DefaultItemCase{"missing_menu_resource", IDR_MISSING_MENU, TRUE, 0, 0, false, 0},
    DefaultItemCase{"menu_without_popup", IDR_MENU_WITHOUT_POPUP, TRUE, 0, 0, false, 0}),
    rowlabel::Name());

TEST(HandleTrayMessage, MenuThatCannotBeShownReturnsZero)
{
    for (UINT menu : {IDR_MISSING_MENU, IDR_MENU_WITHOUT_POPUP}) {
        OwnerWindow owner;
        TrayProbe tray;
        ASSERT_TRUE(tray.Add(owner.window, NextIdentifier()));
        tray.m_iconData.uID = menu;
        EXPECT_EQ(tray.HandleTrayMessage(menu, WM_RBUTTONUP), 0) << menu;
        EXPECT_TRUE(tray.preparedItems.empty()) << menu;
        EXPECT_TRUE(owner.Received().empty()) << menu;
    }
}

// --- the notification window ----------------------------------------------------------------------------

TEST(NotifyWindow, IsTheIconWindowWithoutOwnerAndRoutesItsCallbacks)
{
    TrayProbe tray;
    UINT identifier = NextIdentifier();
    ASSERT_TRUE(tray.Add(nullptr, identifier));
    ASSERT_NE(tray.m_notifyWindow, nullptr);
    EXPECT_EQ(tray.m_iconData.hWnd, tray.m_notifyWindow);
    EXPECT_EQ(tray.GetOwnerWindow(), tray.m_notifyWindow);
    char className[64] = {};
    GetClassNameA(tray.m_notifyWindow, className, sizeof(className));
    EXPECT_STREQ(className, "TrayIconClass");
    EXPECT_FALSE(IsWindowVisible(tray.m_notifyWindow));

    EXPECT_EQ(SendMessageA(tray.m_notifyWindow, kTrayCallback, identifier, WM_MOUSEMOVE), 1);
    EXPECT_EQ(SendMessageA(tray.m_notifyWindow, kTrayCallback, identifier + 1, WM_MOUSEMOVE), 0);
    EXPECT_EQ(tray.callbacksRouted, 2);
}

TEST(NotifyWindow, SecondObjectTakesOverTheRouting)
{
    TrayProbe first;
    ASSERT_TRUE(first.Add(nullptr, NextIdentifier()));
    {
        TrayProbe second;
        ASSERT_TRUE(second.Add(nullptr, NextIdentifier()));
        ASSERT_NE(second.m_notifyWindow, first.m_notifyWindow);
        EXPECT_EQ(SendMessageA(second.m_notifyWindow, kTrayCallback, second.m_iconData.uID, WM_MOUSEMOVE), 1);
        EXPECT_EQ(second.callbacksRouted, 1) << "the second object's window does not reach it";
        EXPECT_EQ(SendMessageA(first.m_notifyWindow, kTrayCallback, first.m_iconData.uID, WM_MOUSEMOVE), 0);
        EXPECT_EQ(first.callbacksRouted, 0) << "the first object's window is served by the default procedure";
        EXPECT_EQ(second.callbacksRouted, 1) << "a callback to the first object's window reached the second";
    }
    // Destroying the second object destroyed its own window and left the first one's alone.
    EXPECT_TRUE(IsWindow(first.m_notifyWindow));
}

TEST(NotifyWindow, DestroyedWithItsObject)
{
    HWND notifyWindow = nullptr;
    {
        TrayProbe tray;
        ASSERT_TRUE(tray.Add(nullptr, NextIdentifier()));
        notifyWindow = tray.m_notifyWindow;
        ASSERT_TRUE(IsWindow(notifyWindow));
    }
    EXPECT_FALSE(IsWindow(notifyWindow));
}

struct ReAddCase
{
    const char* label;
    UINT message;
    WPARAM wParam;
    bool iconHidden;
    bool addPending;
    bool expectBack;
};

class ReAdd : public ::testing::TestWithParam<ReAddCase>
{
};

TEST_P(ReAdd, OnlyWhilePending)
{
    const ReAddCase& row = GetParam();
    OwnerWindow owner;
    TrayProbe tray;
    UINT identifier = NextIdentifier();
    ASSERT_TRUE(tray.Add(owner.window, identifier));
    ASSERT_TRUE(ShellForgetsIcon(owner.window, identifier));
    tray.m_iconHidden = row.iconHidden;
    tray.m_addPending = row.addPending;
    UINT message = row.message ? row.message : RegisterWindowMessageA("TaskbarCreated");

    EXPECT_EQ(SendMessageA(tray.m_notifyWindow, message, row.wParam, 0), 0);
    EXPECT_EQ(IconInNotificationArea(owner.window, identifier), row.expectBack);
    if (row.expectBack) {
        EXPECT_FALSE(tray.m_iconHidden);
        EXPECT_TRUE(tray.m_addPending);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReAdd, ::testing::Values(
    ReAddCase{"taskbar_created", 0, 0, false, true, true},
    ReAddCase{"work_area_change", WM_SETTINGCHANGE, SPI_SETWORKAREA, false, true, true},
    ReAddCase{"other_setting_change", WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER, false, true, false},
    ReAddCase{"not_pending", 0, 0, false, false, false},
    ReAddCase{"hidden_after_a_failed_add", 0, 0, true, true, true}),
    rowlabel::Name());

TEST(ReAdd, KeepsGoingWhenTheIconWasStillThere)
{
    OwnerWindow owner;
    TrayProbe tray;
    UINT identifier = NextIdentifier();
    ASSERT_TRUE(tray.Add(owner.window, identifier));
    // A work-area change while the icon is present: the shell refuses the add.
    SendMessageA(tray.m_notifyWindow, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    EXPECT_FALSE(tray.m_iconHidden);
    EXPECT_TRUE(tray.m_addPending);
    EXPECT_EQ(tray.m_iconAbsent, FALSE);
    // So the next restart of the shell still brings it back.
    ASSERT_TRUE(ShellForgetsIcon(owner.window, identifier));
    SendMessageA(tray.m_notifyWindow, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(IconInNotificationArea(owner.window, identifier));
}

TEST(ReAdd, CarriesNoBalloonAgain)
{
    OwnerWindow owner;
    TrayProbe tray;
    UINT identifier = NextIdentifier();
    ASSERT_TRUE(tray.Add(owner.window, identifier, FALSE, "tip", "Panel switched", "VornTray"));
    ASSERT_TRUE(ShellForgetsIcon(owner.window, identifier));
    SendMessageA(tray.m_notifyWindow, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(IconInNotificationArea(owner.window, identifier));
    EXPECT_EQ(tray.m_iconData.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO));
    EXPECT_STREQ(tray.m_iconData.szInfo, "");
}

// --- a shell that refuses: the round of tries -----------------------------------------------------------

const char kRefuseAll[] = "--refuse-for 4294967295";

// The requests of this process's tray that the stand-in has seen, waited for until there are at
// least count of them.
size_t WaitForRequests(const ShellStandIn& shell, size_t count)
{
    PumpUntil([&] { return shell.Requests().size() >= count; }, MachineMs(10000));
    return shell.Requests().size();
}

LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return message == WM_NCCREATE ? FALSE : DefWindowProcA(window, message, wParam, lParam);
}

struct FirstAddCase
{
    const char* label;
    bool windowRefused;  // the notification window cannot be created (desktop heap exhausted)
    bool waits;
};

class RefusedFirstAdd : public ::testing::TestWithParam<FirstAddCase>
{
};

// Only a round of tries can bring an icon the shell refused at first, and a round needs the
// notification window: without it the program must not wait for an icon that cannot come.
TEST_P(RefusedFirstAdd, WaitsForTheShellOnlyWithANotificationWindow)
{
    const FirstAddCase& row = GetParam();
    if (row.windowRefused) {
        // Registered first, the class is the one CreateWindowEx finds; the component's own
        // registration then fails, as it may.
        WNDCLASSA refusing = {};
        refusing.lpfnWndProc = RefuseCreation;
        refusing.hInstance = GetModuleHandleA(nullptr);
        refusing.lpszClassName = "TrayIconClass";
        ASSERT_NE(RegisterClassA(&refusing), 0);
    }
    ShellStandIn shell(SHELLSTANDIN_EXE);
    ASSERT_TRUE(shell.Start(kRefuseAll));
    OwnerWindow owner;
    TrayProbe tray;
    EXPECT_FALSE(tray.Add(owner.window, NextIdentifier()));
    EXPECT_EQ(tray.m_notifyWindow != nullptr, !row.windowRefused);
    EXPECT_EQ(tray.WaitsForShell() != FALSE, row.waits);
    std::vector<ShellRequest> requests = shell.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(requests[0].answer, kAnswerRefused);
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedFirstAdd, ::testing::Values(
    FirstAddCase{"notification_window_made", false, true},
    FirstAddCase{"notification_window_refused", true, false}),
    rowlabel::Name());

// A shell that keeps refusing re-adds: a refusal during a round does not lengthen it, the round
// ends at its bound with no timer left, and the icon still belongs in the notification area, so
// the next "TaskbarCreated" brings it back.
TEST(RetryRound, EndsAtItsBoundAndKeepsTheIconPending)
{
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    OwnerWindow owner;
    TrayProbe tray;
    UINT identifier = NextIdentifier();
    ASSERT_TRUE(tray.Add(owner.window, identifier));

    ShellStandIn shell(SHELLSTANDIN_EXE);
    ASSERT_TRUE(shell.Start(kRefuseAll));
    SendMessageA(tray.m_notifyWindow, taskbarCreated, 0, 0);
    ASSERT_TRUE(tray.WaitsForShell()) << "a refused re-add began no round";
    // The round has run its time; a second refused "TaskbarCreated" comes before its next try.
    tray.m_retryStart -= CSystemTray::kRetryBoundMs;
    SendMessageA(tray.m_notifyWindow, taskbarCreated, 0, 0);
    size_t before = WaitForRequests(shell, 4);
    PumpMessagesFor(CSystemTray::kRetryPaceMs + 1000);
    size_t afterTry = shell.Requests().size();
    EXPECT_GT(afterTry, before) << "the round made no try past its bound";
    EXPECT_FALSE(tray.WaitsForShell()) << "the refused re-add began the round again";
    PumpMessagesFor(2 * CSystemTray::kRetryPaceMs + 500);
    EXPECT_EQ(shell.Requests().size(), afterTry) << "tries went on past the bound";
    for (const ShellRequest& request : shell.Requests())
        EXPECT_EQ(request.answer, kAnswerRefused);
    EXPECT_TRUE(tray.m_addPending) << "the round's end dropped the icon from the notification area for good";

    // The shell that comes next (Wine's) starts without the icon and says "TaskbarCreated".
    shell.Leave(false);
    ASSERT_TRUE(ShellForgetsIcon(owner.window, identifier));
    SendMessageA(tray.m_notifyWindow, taskbarCreated, 0, 0);
    EXPECT_TRUE(IconInNotificationArea(owner.window, identifier)) << "the icon did not come back";
}

} // namespace

int main(int argc, char** argv)
{
    // The copy that runs as an older Windows adds one icon and reports.
    const char kRole[] = "--add-to-tray=";
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], kRole, strlen(kRole)) != 0)
            continue;
        for (const VersionCase& row : kVersionCases)
            if (row.label == std::string(argv[i] + strlen(kRole)))
                return PrintAddResult(row);
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
