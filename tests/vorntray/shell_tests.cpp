// VornTray and shells that are not ready for its icon: one that is not there yet at logon, one that
// is busy, one that times out, one that never answers, one that restarts or repeats itself, and
// places where no shell can come. A shell stand-in (tools/shellstandin) owns the "Shell_TrayWnd"
// that Shell_NotifyIcon finds and records every request; once it leaves, Wine's own tray is found
// again.
#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include <vector>
#include "observe.h"
#include "savedmode.h"
#include "shellstandin.h"
#include "systemtray.h"
#include "trayfixture.h"
#include "versioncopy.h"
#include "windowstation.h"

namespace {

const DWORD kPaceMs = CSystemTray::kRetryPaceMs;
const DWORD kBoundMs = CSystemTray::kRetryBoundMs;
const char kRefuseAll[] = "--refuse-for 4294967295";

std::string CodeName(DWORD code)
{
    return code == NIM_ADD ? "add" : code == NIM_MODIFY ? "modify" : code == NIM_DELETE ? "delete"
                                                                                        : std::to_string(code);
}

class ShellNotReady : public VornTray
{
protected:
    // VornTray's requests as the stand-in received them, each checked to be about its own icon.
    std::vector<ShellRequest> TrayRequests()
    {
        std::vector<ShellRequest> requests = m_shell.Requests();
        for (const ShellRequest& request : requests) {
            EXPECT_EQ(request.owner, m_main) << "a request for another window, code " << request.code;
            EXPECT_EQ(request.identifier, kTrayIconId) << "a request for another icon";
            EXPECT_TRUE(request.code == NIM_ADD || request.code == NIM_MODIFY)
                << "VornTray asked the shell for " << CodeName(request.code);
        }
        return requests;
    }

    static int Count(const std::vector<ShellRequest>& requests, DWORD code, const std::string& answer)
    {
        int count = 0;
        for (const ShellRequest& request : requests)
            count += request.code == code && request.answer == answer;
        return count;
    }

    // The tick at which the stand-in accepted VornTray's add, waited for up to timeoutMs; 0 if never.
    DWORD WaitForAcceptedAdd(DWORD timeoutMs)
    {
        DWORD tick = 0;
        PumpUntil([&] {
            for (const ShellRequest& request : m_shell.Requests())
                if (request.code == NIM_ADD && request.answer == kAnswerAccepted)
                    tick = request.tick;
            return tick != 0;
        }, timeoutMs);
        return tick;
    }

    // Waits for the end of the round's next try (its probe, once the stand-in refused the add) and
    // returns the tick at which the stand-in answered it; 0 if none came.
    DWORD WaitForNextTry()
    {
        size_t before = m_shell.Requests().size();
        DWORD tick = 0;
        PumpUntil([&] {
            std::vector<ShellRequest> requests = m_shell.Requests();
            if (requests.size() > before && requests.back().code == NIM_MODIFY)
                tick = requests.back().tick;
            return tick != 0;
        }, kPaceMs + kTimeoutMs);
        return tick;
    }

    // VornTray's first request was its add, and the stand-in refused it.
    void ExpectFirstAddRefused()
    {
        std::vector<ShellRequest> requests = TrayRequests();
        ASSERT_FALSE(requests.empty()) << "VornTray made no request";
        EXPECT_EQ(requests[0].code, static_cast<DWORD>(NIM_ADD));
        EXPECT_EQ(requests[0].answer, kAnswerRefused);
    }

    // Nothing more reaches the shell for longer than two paces: no tries are left.
    void ExpectNoMoreTries(const char* when)
    {
        size_t before = m_shell.Requests().size();
        PumpMessagesFor(2 * kPaceMs + 500);
        EXPECT_EQ(m_shell.Requests().size(), before) << "VornTray still asks the shell " << when;
    }

    ShellStandIn m_shell{SHELLSTANDIN_EXE};
};

// --- the first add ---------------------------------------------------------------------------------------

TEST_F(ShellNotReady, LogonBeforeTheShellKeepsVornTrayAndItsSavedMode)
{
    StoreMode(800, 600);
    ASSERT_TRUE(m_shell.Start(kRefuseAll));
    Start();
    ASSERT_TRUE(m_tray.Running()) << "a refused first add ended VornTray";
    ExpectFirstAddRefused();
    // The saved mode is applied as at any start, with VornTray's broadcast.
    DisplayMode mode = CurrentDisplayMode();
    EXPECT_EQ(mode.Text(), "800x600");
    ExpectBroadcastsFor(&mode);

    // The shell comes: the stand-in leaves, and Wine's tray, found from now on, says "TaskbarCreated".
    // It comes right after one of the round's tries and the icon is looked for as soon as the
    // broadcast is over, before the next try is due: an icon there came from "TaskbarCreated".
    int refused = Count(TrayRequests(), NIM_ADD, kAnswerRefused);
    DWORD lastTry = WaitForNextTry();
    ASSERT_NE(lastTry, 0u) << "no try of the round came";
    m_shell.Leave(true);
    bool iconAtOnce = IconInNotificationArea(m_main);
    DWORD sinceTry = GetTickCount() - lastTry;
    ASSERT_LT(sinceTry, kPaceMs) << "the shell came too late after a try to tell its broadcast from the next try";
    EXPECT_TRUE(iconAtOnce) << "\"TaskbarCreated\" did not bring the icon";

    ChooseFromMenu(WM_RBUTTONUP, 1);
    ASSERT_TRUE(WaitForPanelChoice(480)) << "the menu did not switch the mode";
    printf("logon before the shell: %d adds refused, icon looked for %lu ms after the round's last try\n", refused,
           sinceTry);
}

struct BusyCase
{
    const char* label;
    const char* script;
    int minRefused;  // adds the stand-in refuses at least
};

void PrintTo(const BusyCase& row, std::ostream* out)
{
    *out << row.label;
}

class BusyShellAtStart : public ShellNotReady, public ::testing::WithParamInterface<BusyCase>
{
};

// The shell was there before VornTray, so its "TaskbarCreated" is over: only VornTray's own tries
// bring the icon, within the bound.
TEST_P(BusyShellAtStart, IconArrivesWithinTheBound)
{
    const BusyCase& row = GetParam();
    StoreMode(1024, 768);
    ASSERT_TRUE(m_shell.Start(row.script));
    Start();
    ASSERT_TRUE(m_tray.Running());
    ExpectFirstAddRefused();

    DWORD accepted = WaitForAcceptedAdd(kBoundMs + kPaceMs + kTimeoutMs);
    ASSERT_NE(accepted, 0u) << "the icon never arrived";
    DWORD toIcon = accepted - m_tray.StartTick();
    EXPECT_LE(toIcon, kBoundMs) << "the icon came after the bound";
    ExpectNoMoreTries("once the icon is in");
    std::vector<ShellRequest> requests = TrayRequests();
    int refused = Count(requests, NIM_ADD, kAnswerRefused);
    EXPECT_GE(refused, row.minRefused);
    EXPECT_EQ(Count(requests, NIM_ADD, kAnswerAccepted), 1);
    EXPECT_EQ(requests.back().answer, kAnswerAccepted) << "asked on after the icon was in";
    printf("%s: %d adds refused, %zu requests, icon in %lu ms after the start\n", row.label, refused,
           requests.size(), toIcon);
}

INSTANTIATE_TEST_SUITE_P(Table, BusyShellAtStart, ::testing::Values(
    // Counted from the stand-in's start, which comes a Wine process start before VornTray's.
    BusyCase{"refuses_for_8s", "--refuse-for 8000", 1},
    BusyCase{"refuses_the_first_3_calls", "--refuse-first 3", 2},
    BusyCase{"answers_late_and_refuses_the_first_2_calls", "--late 1500 --refuse-first 2", 2}),
    [](const auto& info) { return std::string(info.param.label); });

// A shell that ends in the middle of the add, as one that crashes at logon: the next try finds
// the shell after it (Wine's), which says nothing.
TEST_F(ShellNotReady, ShellGoingAwayDuringTheFirstAddIsFollowedByTheNext)
{
    StoreMode(1024, 768);
    ASSERT_TRUE(m_shell.Start("--vanish-at 1"));
    Start();
    ASSERT_TRUE(m_tray.Running());
    std::vector<ShellRequest> requests = TrayRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(requests[0].answer, kAnswerVanished);

    ASSERT_TRUE(PumpUntil([&] { return IconInNotificationArea(m_main); }, kPaceMs + kTimeoutMs))
        << "no icon in Wine's tray";
    printf("shell gone during the first add: icon in Wine's tray %lu ms after the add\n",
           GetTickCount() - requests[0].tick);
}

TEST_F(ShellNotReady, ShellThatNeverComesLeavesVornTrayIdleUntilTaskbarCreated)
{
    StoreMode(1024, 768);
    ASSERT_TRUE(m_shell.Start(kRefuseAll));
    std::string token = "shell-never-" + std::to_string(GetCurrentProcessId());
    Start(token);
    ExpectFirstAddRefused();

    // The tries end at the first one past the bound.
    PumpMessagesFor(kBoundMs + 2 * kPaceMs);
    std::vector<ShellRequest> requests = TrayRequests();
    int tries = Count(requests, NIM_ADD, kAnswerRefused);
    DWORD lastTry = requests.back().tick - requests.front().tick;
    EXPECT_LE(lastTry, kBoundMs + kPaceMs) << "tried after the bound";
    // Every pace, less what the calls and the timer's lateness take.
    EXPECT_GE(tries, static_cast<int>(kBoundMs / kPaceMs / 2)) << "hardly tried";
    EXPECT_LE(tries, static_cast<int>(kBoundMs / kPaceMs + 1)) << "tried faster than the pace";

    DWORD unixPid = FindUnixProcess(token);
    ASSERT_NE(unixPid, 0u) << "no Unix process carries " << token;
    RestCost rest = MeasureRest(m_tray.Id(), unixPid, 8000);
    EXPECT_EQ(rest.cpuMs, 0) << "CPU time used once the tries are over";
    EXPECT_EQ(rest.wakeups, 0) << "wake-ups once the tries are over: a timer left running";
    EXPECT_EQ(m_shell.Requests().size(), requests.size()) << "tried again while at rest";

    DWORD comes = GetTickCount();
    m_shell.Leave(true);
    ASSERT_TRUE(PumpUntil([&] { return IconInNotificationArea(m_main); }, kTimeoutMs)) << "no icon in Wine's tray";
    printf("shell that never comes: %d adds refused, the last %lu ms after the first; at rest %.0f ms CPU, "
           "%lld wake-ups; icon in %lu ms after a later \"TaskbarCreated\"\n", tries, lastTry, rest.cpuMs,
           rest.wakeups, GetTickCount() - comes);
}

// --- re-adds ---------------------------------------------------------------------------------------------

TEST_F(ShellNotReady, BusyShellAtAReAddDoesNotStopTheNextOne)
{
    StoreMode(1024, 768);
    Start();
    ASSERT_TRUE(IconInNotificationArea(m_main));

    // A busy shell says "TaskbarCreated" and then refuses both the add and the probe.
    ASSERT_TRUE(m_shell.Start(kRefuseAll));
    ASSERT_TRUE(m_shell.Broadcast());
    std::vector<ShellRequest> requests = TrayRequests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(requests[1].code, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(Count(requests, NIM_ADD, kAnswerRefused) + Count(requests, NIM_MODIFY, kAnswerRefused),
              static_cast<int>(requests.size()));

    // A real restart: Wine's tray is the shell again, forgets the icon and says "TaskbarCreated".
    m_shell.Leave(false);
    ASSERT_TRUE(ShellForgetsIcon(m_main));
    BroadcastTaskbarCreated(kTimeoutMs);
    EXPECT_TRUE(IconInNotificationArea(m_main)) << "the icon did not come back after the restart";
    printf("busy shell at a re-add: %d adds refused\n", Count(requests, NIM_ADD, kAnswerRefused));
}

// A shell that restarts and is busy, as Windows shows it: VornTray's add fails only once its wait
// times out, and the shell carries the add out later. A probe right after would block the only
// thread as long again; the round's next try finds the icon instead.
TEST_F(ShellNotReady, AddThatTimedOutIsNotProbedAtOnce)
{
    const DWORD timeOutMs = 1500;
    StoreMode(1024, 768);
    ASSERT_TRUE(m_shell.Start("--time-out " + std::to_string(timeOutMs)));
    Start();
    ASSERT_NE(WaitForAcceptedAdd(kTimeoutMs), 0u);
    ASSERT_TRUE(m_shell.Restart(1));
    ASSERT_TRUE(PumpUntil([&] {
        std::vector<ShellRequest> requests = m_shell.Requests();
        return requests.size() > 2 && requests.back().code == NIM_MODIFY;
    }, timeOutMs + kPaceMs + kTimeoutMs)) << "no probe came";
    ExpectNoMoreTries("once the probe found the icon");
    // The test's own look at the icon reaches the stand-in too, and must not count among
    // VornTray's requests below.
    ASSERT_TRUE(IconInNotificationArea(m_main)) << "the shell does not have the icon";

    std::vector<ShellRequest> requests = TrayRequests();
    std::vector<std::string> seen;
    for (const ShellRequest& request : requests)
        seen.push_back(CodeName(request.code) + " " + request.answer);
    const std::vector<std::string> expected = {"add accepted", "add timed-out", "add duplicate", "modify accepted"};
    ASSERT_EQ(seen, expected);
    // The next try waited its pace after the slow add had ended.
    DWORD pause = requests[2].tick - requests[1].tick;
    EXPECT_GE(pause, timeOutMs + kPaceMs) << "the next try came before its pace";
    printf("add that timed out: the next try %lu ms after it\n", pause);
}

TEST_F(ShellNotReady, TaskbarCreatedStormThenRestartDuplicatesNothing)
{
    const int storm = 20;
    StoreMode(1024, 768);
    ASSERT_TRUE(m_shell.Start());
    Start();
    ASSERT_NE(WaitForAcceptedAdd(kTimeoutMs), 0u);
    for (int i = 0; i < storm; ++i)
        ASSERT_TRUE(m_shell.Broadcast());
    ExpectNoMoreTries("after the storm");
    ASSERT_TRUE(m_shell.Restart());

    std::vector<ShellRequest> requests = TrayRequests();
    // Each "TaskbarCreated" with the icon present: a duplicate add, then the probe that finds it.
    EXPECT_EQ(Count(requests, NIM_ADD, kAnswerDuplicate), storm);
    EXPECT_EQ(Count(requests, NIM_MODIFY, kAnswerAccepted), storm);
    // The first add and the one after the restart; the shell holds one icon.
    EXPECT_EQ(Count(requests, NIM_ADD, kAnswerAccepted), 2);
    EXPECT_EQ(requests.size(), static_cast<size_t>(2 * storm + 2));
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().code, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(requests.back().answer, kAnswerAccepted) << "the icon did not come back after the restart";
    std::vector<ShellNote> notes = m_shell.Notes();
    EXPECT_EQ(notes.back()["icons"], "1");
}

// --- what stays as it was --------------------------------------------------------------------------------

TEST_F(ShellNotReady, SecondCopyLeavesAtOnceWhileTheFirstHasNoIcon)
{
    StoreMode(1024, 768);
    ASSERT_TRUE(m_shell.Start(kRefuseAll));
    Start();
    ASSERT_NO_FATAL_FAILURE(ExpectSecondCopyLeavesAtOnce());
    // Only the first copy asked the shell for anything, and it has no icon.
    EXPECT_EQ(Count(TrayRequests(), NIM_ADD, kAnswerAccepted), 0);
}

TEST_F(ShellNotReady, SystemWithoutNotificationAreaStillEndsVornTray)
{
    // Wine runs this copy as Windows 3.1, major version 3.
    VersionCopy copy(VORNTRAY_EXE, "win31");
    ASSERT_TRUE(copy.Made());
    StoreMode(800, 600);
    ASSERT_TRUE(m_shell.Start());
    ChildProcess old;
    ASSERT_TRUE(old.Start(copy.Command()));
    EXPECT_EQ(old.Wait(kTimeoutMs), 0u);
    EXPECT_TRUE(m_shell.Requests().empty()) << "VornTray asked a shell that a version 3 system lacks";
    // The start ended before the saved mode was applied.
    EXPECT_EQ(CurrentDisplayMode().Text(), "1024x600");
}

// A service's window station, as a deployment tool running as SYSTEM gives VornTray: no shell can
// come there, so the refused icon ends the start, before the saved mode is read. (Wine changes no
// display mode from there, so the settings key tells how far the start went.)
TEST_F(ShellNotReady, WindowStationWithoutShellEndsVornTray)
{
    PrivateWindowStation station;
    ASSERT_TRUE(station.Made()) << "no window station of its own: error " << GetLastError();
    ASSERT_TRUE(m_shell.Start());
    StartOptions options;
    options.desktop = station.DesktopName();
    ChildProcess service;
    ASSERT_TRUE(service.Start(ToWindowsPath(VORNTRAY_EXE), options));
    EXPECT_EQ(service.Wait(kTimeoutMs), 0u) << "VornTray did not end";
    EXPECT_TRUE(m_shell.Requests().empty()) << "VornTray found a shell of another window station";
    unique_hkey key;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()), ERROR_SUCCESS)
        << "VornTray read the saved mode";
}

} // namespace
