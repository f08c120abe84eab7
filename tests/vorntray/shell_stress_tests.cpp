// VornTray against a shell that refuses at random for a while and restarts again and again
// meanwhile. Prints what the shell refused and accepted; VORN_STRESS=full runs the long form.
#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include "savedmode.h"
#include "shellstandin.h"
#include "stress.h"
#include "systemtray.h"
#include "trayfixture.h"

namespace {

class FlakyShell : public VornTray
{
protected:
    ShellStandIn m_shell{SHELLSTANDIN_EXE};
};

TEST_F(FlakyShell, RefusingAtRandomWhileRestartingEndsWithOneIcon)
{
    const DWORD refuseMs = StressCount(10000, 180000);
    const DWORD restartEveryMs = 300;
    StoreMode(1024, 768);
    ASSERT_TRUE(m_shell.Start("--refuse-for " + std::to_string(refuseMs) + " --refuse-percent 60 --seed 7"));
    Start();

    int restarts = 0;
    while (GetTickCount() - m_tray.StartTick() < refuseMs) {
        ASSERT_TRUE(m_shell.Restart());
        ++restarts;
        PumpMessagesFor(restartEveryMs);
    }
    // The shell answers from now on: a refused add is tried again within one pace.
    PumpMessagesFor(CSystemTray::kRetryPaceMs + 3000);

    int refused = 0, accepted = 0, duplicates = 0, probes = 0, others = 0;
    for (const ShellRequest& request : m_shell.Requests()) {
        ASSERT_EQ(request.owner, m_main);
        ASSERT_EQ(request.identifier, kTrayIconId);
        if (request.answer == kAnswerRefused)
            ++refused;
        else if (request.code == NIM_ADD && request.answer == kAnswerAccepted)
            ++accepted;
        else if (request.code == NIM_ADD && request.answer == kAnswerDuplicate)
            ++duplicates;
        else if (request.code == NIM_MODIFY)
            ++probes;
        else
            ++others;
    }
    EXPECT_GT(refused, 0) << "the shell never refused: the case tested nothing";
    EXPECT_EQ(others, 0) << "VornTray asked the shell for something else";
    // Each restart forgot the icon and each add that got through put it back.
    EXPECT_GE(accepted, 1);
    EXPECT_LE(accepted, restarts + 1);
    ShellNote last = m_shell.Notes().back();
    EXPECT_EQ(last["icons"], "1") << "the shell does not hold exactly one icon at the end";
    EXPECT_TRUE(IconInNotificationArea(m_main));
    printf("flaky shell: %lu ms refusing 60%% at random, %d restarts; requests: %d refused, %d adds accepted, "
           "%d duplicate adds, %d probes; one icon at the end\n", refuseMs, restarts, refused, accepted, duplicates,
           probes);
}

} // namespace
