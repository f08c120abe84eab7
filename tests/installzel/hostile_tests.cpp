// InstallZel among broken and hostile programs: a server that answers garbage, flips its reply,
// goes away, hangs or re-creates the block; a block name taken by another program; random
// messages sent and posted to the client window while it waits. Every run must end with exit
// code 0 within the bound stated with its case, touch no byte of the block beyond the 24 of the
// record, and send each request exactly as the replies before it call for: above all, a set
// request only after a query reply with nonzero status and value.
//
// Each test prints its figures: what was tried, how many runs survived, what was lost.
#include <gtest/gtest.h>
#include <algorithm>
#include <stdio.h>
#include <string>
#include <vector>
#include "blocksquat.h"
#include "process.h"
#include "record.h"
#include "requestcheck.h"
#include "serverlog.h"
#include "standin.h"
#include "stress.h"

namespace {

// A server that answers at once: 200 ms of waiting, 1 s of settling and 1 s of final pause are the
// program's; the exchanges and the time Wine takes to start and end a process, with room for a
// busy machine, are the machine's.
const DWORD kAnsweringServerBoundMs = 2200 + MachineMs(7800);
// The client waits at most this long for one reply.
const DWORD kReplyLimitMs = 10000;
// A run that can send nothing is its two pauses and Wine's start and end of a process.
const DWORD kNothingSentBoundMs = 2200 + MachineMs(2800);

// One run of InstallZel against a stand-in started with serverArgs, as the stand-in logged it.
struct Outcome
{
    DWORD exitCode = STILL_ACTIVE;
    DWORD elapsedMs = 0;
    std::vector<LoggedRecord> records;
    std::vector<std::string> kinds;
    std::vector<LoggedNote> notes;
};

// Starts the stand-in, runs InstallZel to its end (or timeoutMs), stops the stand-in, which is
// given graceMs to finish, and reads its log.
void RunOnce(const std::string& serverArgs, DWORD timeoutMs, Outcome* run, DWORD graceMs = 30000)
{
    AcpiServerStandIn server(ACPISERVER_EXE);
    ASSERT_TRUE(server.Start(serverArgs)) << serverArgs;
    ChildProcess client;
    ASSERT_TRUE(client.Start(ToWindowsPath(INSTALLZEL_EXE)));
    run->exitCode = client.Wait(timeoutMs);
    run->elapsedMs = run->exitCode == STILL_ACTIVE ? GetTickCount() - client.StartTick() : client.ElapsedMs();
    server.Stop(graceMs);
    run->records = server.Records();
    run->kinds = server.RequestKinds();
    run->notes = server.Notes();
}

// The sum of one figure over the notes of one kind, e.g. "sent" over the "fuzz" notes.
unsigned long SumOfNotes(const Outcome& run, const char* what, const char* key)
{
    unsigned long sum = 0;
    for (const LoggedNote& note : run.notes)
        if (note.what == what)
            sum += note.Number(key);
    return sum;
}

size_t CountReplies(const std::vector<LoggedRecord>& records)
{
    size_t replies = 0;
    for (const LoggedRecord& record : records)
        replies += !record.isRequest;
    return replies;
}

size_t CountOfKind(const std::vector<std::string>& kinds, const char* prefix)
{
    size_t count = 0;
    for (const std::string& kind : kinds)
        count += kind.rfind(prefix, 0) == 0;
    return count;
}

std::string Join(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : " ") + item;
    return text;
}

std::string Seconds(DWORD ms)
{
    char text[32];
    snprintf(text, sizeof(text), "%.1f s", ms / 1000.0);
    return text;
}

// What a test tried and what survived. Each run is checked against its bound here, and the
// printed figures are the counts of those same checks.
class Tally
{
public:
    // bound: the bound the runs are checked against, as the figures name it.
    explicit Tally(std::string bound) : m_bound(std::move(bound)) {}

    // A run survived when it ended with exit code 0 within boundMs and was right; lost counts what
    // it got wrong, in the unit the test prints.
    void Check(const Outcome& run, DWORD boundMs, bool right, size_t lost)
    {
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_LE(run.elapsedMs, boundMs);
        ++m_runs;
        m_lost += lost;
        m_survived += run.exitCode == 0 && run.elapsedMs <= boundMs && right;
        m_slowestMs = run.elapsedMs > m_slowestMs ? run.elapsedMs : m_slowestMs;
    }
    int Runs() const { return m_runs; }

    // "[ figures  ] InstallZel, WHAT: TRIED, S of N runs survived (exit 0 within BOUND, slowest X), lost: L LOST".
    void Print(const char* what, const std::string& tried, const std::string& lost) const
    {
        printf("[ figures  ] InstallZel, %s: %s, %d of %d runs survived (exit 0 within %s, slowest %s), lost: %zu %s\n",
               what, tried.c_str(), m_survived, m_runs, m_bound.c_str(), Seconds(m_slowestMs).c_str(), m_lost,
               lost.c_str());
        fflush(stdout);
    }

private:
    std::string m_bound;
    int m_runs = 0;
    int m_survived = 0;
    size_t m_lost = 0;
    DWORD m_slowestMs = 0;
};

} // namespace

// Random bytes in every reply, each field zero a third of the time: the client must carry every
// reply into its next request as the protocol says and send a set only where a query reply has
// nonzero status and value.
TEST(HostileServer, GarbageReplies)
{
    const int runs = StressCount(3, 40);
    size_t replies = 0, requests = 0, sets = 0, setsWithoutYes = 0;
    Tally tally(Seconds(kAnsweringServerBoundMs));
    for (int run = 1; run <= runs; ++run) {
        SCOPED_TRACE("seed " + std::to_string(run));
        Outcome outcome;
        ASSERT_NO_FATAL_FAILURE(
            RunOnce("--seed " + std::to_string(run) + " --on * garbage", kAnsweringServerBoundMs * 3, &outcome));
        ProtocolCheck check = CheckRequests(outcome.records);
        EXPECT_TRUE(check.Complete()) << check.firstMismatch << "\n" << Join(outcome.kinds);
        replies += CountReplies(outcome.records);
        requests += check.logged;
        sets += CountOfKind(outcome.kinds, "set:");
        setsWithoutYes += check.setsWithoutYes;
        tally.Check(outcome, kAnsweringServerBoundMs, check.Complete(), check.Lost() + check.setsWithoutYes);
    }
    EXPECT_EQ(setsWithoutYes, 0u);
    // Garbage makes some queries say yes and others no; a run of only one kind proves little.
    EXPECT_GT(sets, 0u);
    EXPECT_LT(sets, 4u * runs);
    tally.Print("garbage replies",
                std::to_string(replies) + " garbage replies tried, " + std::to_string(requests) +
                    " requests checked (" + std::to_string(sets) + " sets, " + std::to_string(setsWithoutYes) +
                    " without a yes)",
                "requests wrong, missing or set without a yes");
}

// Query replies whose value and status keep changing while the client reads them, one at a time
// and never both nonzero at once: a client that decides on one copy of the reply never sends a
// set; one that reads status and value at different moments sooner or later does.
TEST(HostileServer, RepliesThatFlipWhileBeingRead)
{
    const int runs = StressCount(3, 30);
    const std::vector<std::string>& expected = kRunWithoutSets;
    unsigned long flips = 0;
    size_t queries = 0, sets = 0;
    Tally tally(Seconds(kAnsweringServerBoundMs));
    for (int run = 1; run <= runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Outcome outcome;
        ASSERT_NO_FATAL_FAILURE(RunOnce("--on query:* flip,value=0x" + std::to_string(run) + "A,status=0x5" +
                                            std::to_string(run),
                                        kAnsweringServerBoundMs * 3, &outcome));
        EXPECT_EQ(outcome.kinds, expected);
        flips += SumOfNotes(outcome, "flip", "changes");
        queries += CountOfKind(outcome.kinds, "query:");
        size_t runSets = CountOfKind(outcome.kinds, "set:");
        sets += runSets;
        size_t missing = 0;
        for (const std::string& kind : expected)
            missing += std::find(outcome.kinds.begin(), outcome.kinds.end(), kind) == outcome.kinds.end();
        tally.Check(outcome, kAnsweringServerBoundMs, outcome.kinds == expected, runSets + missing);
    }
    tally.Print("replies flipping status and value",
                std::to_string(queries) + " flipping query replies tried (" + std::to_string(flips) +
                    " changes of value or status), " + std::to_string(sets) + " sets sent on a reply that never said yes",
                "requests missing or set without a yes");
    // The replies did change while the client could read them.
    EXPECT_GT(flips, 0ul);
}

// The server window goes away in the middle of the run: the client sends nothing more to it, no
// set follows a request the window could not answer, and an unregister request goes only to a
// server window that exists when the run ends.
TEST(HostileServer, ServerWindowGoesAway)
{
    struct Case
    {
        const char* what;
        const char* serverArgs;
        std::vector<std::string> expected;
        // Requests that reach the first window; any later one goes to a window that took its place.
        size_t toFirstWindow;
    };
    const Case cases[] = {
        {"window destroyed after the register reply", "--on register vanish,status=1", {"register"}, 1},
        {"window destroyed after a query reply", "--on query:WLDS vanish,value=1,status=1",
         {"register", "query:CAMS", "set:CAMS", "query:WLDS"}, 4},
        {"stand-in ends in the middle of a set request", "--on set:CAMS exit",
         {"register", "query:CAMS", "set:CAMS"}, 3},
        {"window replaced by a new one after a query reply", "--on query:CRDS renew,value=1,status=1",
         {"register", "query:CAMS", "set:CAMS", "query:WLDS", "set:WLDS", "query:CRDS", "unregister"}, 6},
    };
    const int rounds = StressCount(1, 5);
    Tally tally(Seconds(kAnsweringServerBoundMs));
    for (int round = 0; round < rounds; ++round)
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            Outcome outcome;
            ASSERT_NO_FATAL_FAILURE(RunOnce(c.serverArgs, kAnsweringServerBoundMs * 3, &outcome));
            // What the first window got follows from its replies; the window in its place gets
            // nothing but the unregister request.
            std::vector<LoggedRecord> first, later;
            size_t requests = 0;
            for (const LoggedRecord& record : outcome.records)
                ((requests += record.isRequest) <= c.toFirstWindow ? first : later).push_back(record);
            ProtocolCheck check = CheckRequests(first);
            EXPECT_EQ(outcome.kinds, c.expected);
            EXPECT_EQ(check.matched, check.logged) << check.firstMismatch;
            bool laterRight = true;
            for (const LoggedRecord& record : later)
                if (record.isRequest)
                    laterRight = laterRight && record.hex == kUnregisterRequest;
            EXPECT_TRUE(laterRight);
            bool right = outcome.kinds == c.expected && check.matched == check.logged && laterRight;
            tally.Check(outcome, kAnsweringServerBoundMs, right, !right);
        }
    tally.Print("server window going away",
                std::to_string(tally.Runs()) + " runs over " + std::to_string(sizeof(cases) / sizeof(cases[0])) +
                    " ways of going",
                "runs with a request wrong, missing or sent to no server");
}

// A server that stops answering costs the run at most one reply limit: once it is stuck, the
// client gives up on it at once. A slow server costs at most one limit per request.
TEST(HostileServer, ServerThatHangs)
{
    const DWORD slowMs = StressCount(700, 9000);
    struct Case
    {
        std::string what;
        std::string serverArgs;
        std::vector<std::string> expected;
        DWORD boundMs;
    };
    const Case cases[] = {
        {"stuck for good on the first query", "--on query:CAMS hang=4294967295", {"register", "query:CAMS"},
         kAnsweringServerBoundMs + kReplyLimitMs},
        // The reply would allow the switch, but it comes after the limit: no set may follow it.
        {"allows the first switch 15 s late", "--on query:CAMS hang=15000,value=1,status=1",
         {"register", "query:CAMS"}, kAnsweringServerBoundMs + kReplyLimitMs},
        {"stuck for good on the unregister request", "--on unregister hang=4294967295", kFullRun,
         kAnsweringServerBoundMs + kReplyLimitMs},
        {"answers every request after " + std::to_string(slowMs) + " ms", "--on query:* hang=" +
             std::to_string(slowMs) + ",value=1,status=1 --on * hang=" + std::to_string(slowMs) + ",status=1",
         kFullRun, kAnsweringServerBoundMs + 10 * slowMs},
    };
    Tally tally("the bound of each case");
    std::string times;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome outcome;
        // A stuck stand-in cannot close its window; it is ended.
        ASSERT_NO_FATAL_FAILURE(RunOnce(c.serverArgs, c.boundMs * 2, &outcome, 100));
        ProtocolCheck check = CheckRequests(outcome.records);
        EXPECT_EQ(outcome.kinds, c.expected);
        EXPECT_EQ(check.matched, check.logged) << check.firstMismatch;
        bool right = outcome.kinds == c.expected && check.matched == check.logged;
        tally.Check(outcome, c.boundMs, right, !right);
        times += (times.empty() ? "" : ", ") + c.what + ": " + Seconds(outcome.elapsedMs) + " of " + Seconds(c.boundMs);
    }
    tally.Print("server that hangs", times, "runs with a request wrong or missing");
}

// The server drops the block and makes a new one of the same name once the client has let go of
// it, larger than a record: the next requests arrive whole in the new block, and nothing beyond
// the record's 24 bytes changes.
TEST(HostileServer, ServerRecreatesTheBlock)
{
    const DWORD sizes[] = {kRecordSize, 4096, 65536};
    const int rounds = StressCount(1, 5);
    size_t recreated = 0, tailChecks = 0;
    unsigned long tailChanged = 0;
    Tally tally(Seconds(kAnsweringServerBoundMs));
    for (int round = 0; round < rounds; ++round)
        for (DWORD size : sizes) {
            SCOPED_TRACE("new block of " + std::to_string(size) + " bytes");
            std::string recreate = "recreate=" + std::to_string(size);
            Outcome outcome;
            ASSERT_NO_FATAL_FAILURE(RunOnce("--on query:WLDS " + recreate + ",value=1,status=1 --on set:CRDS " +
                                                recreate + ",status=1",
                                            kAnsweringServerBoundMs * 3, &outcome));
            ProtocolCheck check = CheckRequests(outcome.records);
            EXPECT_TRUE(check.Complete()) << check.firstMismatch << "\n" << Join(outcome.kinds);
            size_t runRecreated = 0;
            for (const LoggedNote& note : outcome.notes) {
                runRecreated += note.what == "recreated";
                tailChecks += note.what == "tail";
            }
            unsigned long runTailChanged = SumOfNotes(outcome, "tail", "changed");
            // The final pause leaves the client's hands off the block for a second at least.
            EXPECT_GE(runRecreated, 1u);
            recreated += runRecreated;
            tailChanged += runTailChanged;
            tally.Check(outcome, kAnsweringServerBoundMs, check.Complete() && runTailChanged == 0,
                        check.Lost() + runTailChanged);
        }
    EXPECT_EQ(tailChanged, 0u);
    tally.Print("server re-creating the block",
                std::to_string(recreated) + " blocks re-created, " + std::to_string(tailChecks) +
                    " checks of the bytes beyond the record (" + std::to_string(tailChanged) + " bytes changed)",
                "requests wrong or missing and bytes beyond the record changed");
}

// Another program took the block's name before InstallZel started and holds it for the whole run: a
// section of the wrong size, protection or security, or another kind of object. Where the block can
// be used, the run goes on as with a block of its own and changes no byte beyond the record; where
// it cannot, not one request is sent and no byte of the section changes; either way the run ends at
// once, without a reply to wait for where nothing could be sent.
TEST(HostileServer, BlockNameTakenByAnotherProgram)
{
    struct SectionCase
    {
        const char* what;
        DWORD size;
        DWORD protect;
        const wchar_t* sddl;
        BlockSquat::Backing backing;
    };
    const auto pageFile = BlockSquat::Backing::PageFile;
    const SectionCase sections[] = {
        // Whether a view of a whole record fits a small section of the page file depends on the
        // platform; one backed by a file of 8 bytes never takes it.
        {"file-backed section of 8 bytes", 8, PAGE_READWRITE, nullptr, BlockSquat::Backing::File},
        {"section of 8 bytes", 8, PAGE_READWRITE, nullptr, pageFile},
        {"section of 23 bytes", 23, PAGE_READWRITE, nullptr, pageFile},
        {"section of 25 bytes", 25, PAGE_READWRITE, nullptr, pageFile},
        {"section of 4096 bytes", 4096, PAGE_READWRITE, nullptr, pageFile},
        {"section of 1 MiB", 1 << 20, PAGE_READWRITE, nullptr, pageFile},
        {"read-only section", kRecordSize, PAGE_READONLY, nullptr, pageFile},
        {"section nobody may open (empty DACL)", kRecordSize, PAGE_READWRITE, L"D:", pageFile},
        {"section everyone may only read", kRecordSize, PAGE_READWRITE, L"D:(A;;GR;;;WD)", pageFile},
        {"section denied to everyone", kRecordSize, PAGE_READWRITE, L"D:(D;;GA;;;WD)(A;;GA;;;WD)", pageFile},
    };

    int usable = 0;
    Tally tally(Seconds(kAnsweringServerBoundMs) + " where usable, " + Seconds(kNothingSentBoundMs) + " where not");
    // One run with the squat in place: the full exchange when the block can be used, none otherwise.
    auto runWith = [&](const BlockSquat& squat, const char* what) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(squat.Made());
        bool canUse = squat.Size() != 0 && BlockSquat::UsableAsBlock();
        Outcome outcome;
        ASSERT_NO_FATAL_FAILURE(RunOnce("", kAnsweringServerBoundMs * 3, &outcome));
        ProtocolCheck check = CheckRequests(outcome.records);
        bool right = canUse ? check.Complete() : outcome.records.empty();
        EXPECT_TRUE(right) << (canUse ? "the block could be used: " + check.firstMismatch
                                      : "the block could not be used, yet the server got " + Join(outcome.kinds));
        DWORD changed = canUse ? squat.ChangedFrom(kRecordSize) : squat.ChangedFrom(0);
        EXPECT_EQ(changed, 0u) << "bytes the client had no business writing";
        printf("  %-40s %s, %lu requests, exit %lu after %s\n", what,
               canUse ? "usable as a block" : "not usable as a block", static_cast<unsigned long>(outcome.kinds.size()),
               outcome.exitCode, Seconds(outcome.elapsedMs).c_str());
        usable += canUse;
        tally.Check(outcome, canUse ? kAnsweringServerBoundMs : kNothingSentBoundMs, right && changed == 0, !right + changed);
    };
    const int rounds = StressCount(1, 5);
    for (int round = 0; round < rounds; ++round) {
        for (const SectionCase& c : sections) {
            BlockSquat squat(c.size, c.protect, c.sddl, c.backing);
            runWith(squat, c.what);
        }
        for (const OtherObject& other : kOtherObjects) {
            BlockSquat squat(other.make());
            runWith(squat, other.what);
        }
    }
    tally.Print("block name taken by another program",
                std::to_string(tally.Runs()) + " squats tried (" + std::to_string(usable) + " usable as a block)",
                "(runs with a wrong exchange, bytes changed outside the record)");
}

// Another program sends and posts random messages to the client window every time the client
// waits for a reply. Nothing of the exchange may change: the same requests in the same order,
// byte for byte, and the run still ends.
TEST(HostileMessages, RandomMessagesWhileTheClientWaits)
{
    const int runs = StressCount(3, 30);
    const int perRequest = StressCount(200, 1000);
    unsigned long sent = 0, posted = 0, refused = 0;
    DWORD worst = 0;
    Tally tally(Seconds(kAnsweringServerBoundMs) + " besides the time the server held the requests");
    for (int run = 1; run <= runs; ++run) {
        SCOPED_TRACE("seed " + std::to_string(run));
        std::string fuzz = "fuzz=" + std::to_string(perRequest);
        Outcome outcome;
        ASSERT_NO_FATAL_FAILURE(RunOnce("--seed " + std::to_string(run) + " --on query:* " + fuzz +
                                            ",value=1,status=1 --on * " + fuzz + ",status=1",
                                        120000, &outcome));
        ProtocolCheck check = CheckRequests(outcome.records);
        EXPECT_TRUE(check.Complete()) << check.firstMismatch << "\n" << Join(outcome.kinds);
        EXPECT_EQ(check.expected, kFullRun.size());
        // The stand-in holds each request while it sends the messages; that time is the server's.
        DWORD heldMs = 0;
        for (size_t i = 0; i + 1 < outcome.records.size(); ++i)
            if (outcome.records[i].isRequest && !outcome.records[i + 1].isRequest)
                heldMs += outcome.records[i + 1].tick - outcome.records[i].tick;
        sent += SumOfNotes(outcome, "fuzz", "sent");
        posted += SumOfNotes(outcome, "fuzz", "posted");
        refused += SumOfNotes(outcome, "fuzz", "refused");
        tally.Check(outcome, kAnsweringServerBoundMs + heldMs, check.Complete(), check.Lost());
        worst = outcome.elapsedMs - heldMs > worst ? outcome.elapsedMs - heldMs : worst;
    }
    tally.Print("random messages while waiting",
                std::to_string(sent + posted + refused) + " messages tried (" + std::to_string(sent) + " sent, " +
                    std::to_string(posted) + " posted, " + std::to_string(refused) +
                    " refused by the system), worst run " + Seconds(worst) + " besides the time the server held the requests",
                "requests changed or missing");
}
