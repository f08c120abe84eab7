// VornTray at rest costs nothing: with nobody sending it anything, its one thread waits in
// GetMessage and is never switched in, so it uses no CPU time. The short form of what scripts/bench
// measures over 30 s.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "messages.h"
#include "observe.h"
#include "process.h"
#include "savedmode.h"
#include "shellicon.h"

namespace {

// VornTray's start does nothing that takes time of its own here; the bound is Wine's start.
const DWORD kTimeoutMs = MachineMs(15000);
// Messages left over from the start are handled before the rest begins.
const DWORD kSettleMs = 1000;
const DWORD kRestMs = 8000;
const UINT kTickMs = 500;

// A token for the command line, by which the child's Unix process is found.
std::string NewToken()
{
    static int serial;
    return "idle-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
}

// What the process used while the test left it alone for kRestMs.
RestCost MeasureRest(const ChildProcess& child, const std::string& token)
{
    Sleep(kSettleMs);
    DWORD unixPid = FindUnixProcess(token);
    EXPECT_NE(unixPid, 0u) << "no Unix process carries " << token;
    RestCost rest = ::MeasureRest(child.Id(), unixPid, kRestMs);
    EXPECT_GE(rest.wakeups, 0) << "cannot read the context switches";
    EXPECT_GE(rest.cpuMs, 0) << "cannot read the CPU time";
    return rest;
}

// The child role of the control test: a thread that a timer wakes twice a second.
int Tick()
{
    SetTimer(nullptr, 0, kTickMs, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}

} // namespace

class Idle : public ::testing::Test
{
protected:
    // A saved mode that is no panel mode: the start leaves the display alone, so no mode change
    // sends late messages into the rest.
    void SetUp() override { StoreMode(1024, 768); }
    void TearDown() override { RemoveSettings(); }
};

TEST_F(Idle, VornTrayUsesNoCpuAndNeverWakesUp)
{
    ChildProcess tray;
    std::string token = NewToken();
    ASSERT_TRUE(tray.Start(ToWindowsPath(VORNTRAY_EXE) + " " + token));
    HWND main = WaitForProcessWindow(kVornTrayClass, tray.Id(), kTimeoutMs);
    ASSERT_NE(main, nullptr) << "no main window";
    ASSERT_TRUE(PumpUntil([&] { return WaitForInputIdle(tray.Handle(), 0) == 0; }, kTimeoutMs));

    RestCost rest = MeasureRest(tray, token);
    EXPECT_EQ(rest.cpuMs, 0) << "CPU time used at rest";
    EXPECT_EQ(rest.wakeups, 0) << "wake-ups at rest: a timer or polling";

    PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(tray.Wait(kTimeoutMs), 0u);
}

// The measurement itself sees a program that a timer keeps waking.
TEST(IdleMeasurement, SeesTheWakeUpsOfATimer)
{
    ChildProcess ticker;
    std::string token = NewToken();
    ASSERT_TRUE(ticker.Start("\"" + SelfPath() + "\" --tick " + token));
    RestCost rest = MeasureRest(ticker, token);
    EXPECT_GE(rest.wakeups, static_cast<long long>(kRestMs / kTickMs)) << "the timer's wake-ups were missed";
}

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "--tick") == 0)
        return Tick();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
