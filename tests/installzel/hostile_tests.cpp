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
#include "standin.h"
#include "stress.h"

namespace {

const char kUnregister[] = "00000000 00000000 00000000 00000000 0200 0000 00000000";

// A server that answers at once: 200 ms of waiting, 1 s of settling, the exchanges, 1 s of final
// pause, and the time Wine takes to start and end a process, with room for a busy machine.
const DWORD kAnsweringServerBoundMs = 10000;
// The client waits at most this long for one reply.
const DWORD kReplyLimitMs = 10000;
// A run that can send nothing is its two pauses and Wine's start and end of a process.
const DWORD kNothingSentBoundMs = MachineMs(5000);

const char* const kCodes[] = {"CAMS", "WLDS", "CRDS", "MODS"};

// The requests a client must send, built from the replies the stand-in logged: the register
// request, for each device switch a query carrying value, reserved and status of the reply
// before it, a set carrying the query reply's value, command, reserved and status whenever that
// reply has nonzero status and value, and the unregister request.
struct ProtocolCheck
{
    size_t expected = 0;           // requests of the whole run, as far as the replies decide them
    size_t matched = 0;            // logged requests, from the first, that are what they must be
    size_t logged = 0;             // requests logged
    size_t setsWithoutYes = 0;     // set requests that no query reply with nonzero status and value allowed
    std::string firstMismatch;

    bool Complete() const { return matched == expected && logged == expected; }
    size_t Lost() const { return logged > matched ? logged - matched : expected - matched; }
};

ProtocolCheck CheckRequests(const std::vector<LoggedRecord>& records)
{
    ProtocolCheck check;
    std::vector<std::pair<ServerRecord, ServerRecord>> exchanges;
    for (size_t i = 0; i < records.size(); ++i) {
        if (!records[i].isRequest)
            continue;
        ServerRecord reply = ParseRecord(records[i].hex);
        if (i + 1 < records.size() && !records[i + 1].isRequest)
            reply = ParseRecord(records[i + 1].hex);
        exchanges.push_back({ParseRecord(records[i].hex), reply});
    }
    check.logged = exchanges.size();
    for (const auto& exchange : exchanges)
        if (exchange.first.count == 1 && exchange.first.argument == 1 &&
            exchange.first.subject != FourCharCode("QURY") &&
            (exchange.first.status == 0 || exchange.first.value == 0))
            ++check.setsWithoutYes;

    // Each step compares the next logged request with the one the protocol calls for.
    size_t next = 0;
    bool inStep = true;
    auto expect = [&](const ServerRecord& wanted, bool anySubject) -> const ServerRecord* {
        ++check.expected;
        if (!inStep || next >= exchanges.size()) {
            inStep = false;
            return nullptr;
        }
        ServerRecord got = exchanges[next].first;
        if (anySubject && got.subject != 0)
            got.subject = wanted.subject;
        if (FormatRecord(got) != FormatRecord(wanted)) {
            check.firstMismatch = "request " + std::to_string(next + 1) + ": " + FormatRecord(exchanges[next].first) +
                                  ", expected " + FormatRecord(wanted);
            inStep = false;
            return nullptr;
        }
        ++check.matched;
        return &exchanges[next++].second;
    };

    ServerRecord registration = {};
    registration.command = 1;
    expect(registration, true);
    ServerRecord previous = {};
    for (const char* code : kCodes) {
        ServerRecord query = previous;
        query.subject = FourCharCode("QURY");
        query.count = 1;
        query.argument = FourCharCode(code);
        query.command = 3;
        const ServerRecord* reply = expect(query, false);
        if (!reply)
            break;
        previous = *reply;
        if (reply->status != 0 && reply->value != 0) {
            ServerRecord set = *reply;
            set.subject = FourCharCode(code);
            set.count = 1;
            set.argument = 1;
            const ServerRecord* setReply = expect(set, false);
            if (!setReply)
                break;
            previous = *setReply;
        }
    }
    if (inStep) {
        ServerRecord unregistration = {};
        unregistration.command = 2;
        expect(unregistration, false);
    }
    return check;
}

// One run of InstallZel against a started stand-in: its exit code and how long it took.
struct Outcome
{
    DWORD exitCode = STILL_ACTIVE;
    DWORD elapsedMs = 0;
};

Outcome RunInstallZel(DWORD timeoutMs)
{
    ChildProcess client;
    Outcome outcome;
    if (!client.Start(ToWindowsPath(INSTALLZEL_EXE)))
        return outcome;
    outcome.exitCode = client.Wait(timeoutMs);
    outcome.elapsedMs = outcome.exitCode == STILL_ACTIVE ? GetTickCount() - client.StartTick() : client.ElapsedMs();
    return outcome;
}

// A run ends well when it ends with exit code 0 within its bound.
bool EndedWell(const Outcome& outcome, DWORD boundMs)
{
    return outcome.exitCode == 0 && outcome.elapsedMs <= boundMs;
}

std::vector<std::string> Kinds(const std::vector<LoggedRecord>& records)
{
    std::vector<std::string> kinds;
    for (const LoggedRecord& record : records)
        if (record.isRequest)
            kinds.push_back(record.kind);
    return kinds;
}

size_t CountReplies(const std::vector<LoggedRecord>& records)
{
    size_t replies = 0;
    for (const LoggedRecord& record : records)
        replies += !record.isRequest;
    return replies;
}

// The numbers in a stand-in note, e.g. "fuzz: 300 messages to 0x2004C: 196 sent, 81 posted, 23 refused".
unsigned long NumberBefore(const std::string& note, const std::string& word)
{
    size_t at = note.find(" " + word);
    if (at == std::string::npos)
        return 0;
    size_t start = note.rfind(' ', at - 1);
    return std::stoul(note.substr(start + 1, at - start - 1));
}

std::string Join(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : " ") + item;
    return text;
}

void PrintFigure(const char* what, const std::string& figure)
{
    printf("[ figures  ] InstallZel, %s: %s\n", what, figure.c_str());
    fflush(stdout);
}

std::string Seconds(DWORD ms)
{
    char text[32];
    snprintf(text, sizeof(text), "%.1f s", ms / 1000.0);
    return text;
}

} // namespace

// Random bytes in every reply, each field zero a third of the time: the client must carry every
// reply into its next request as the protocol says and send a set only where a query reply has
// nonzero status and value.
TEST(HostileServer, GarbageReplies)
{
    const int runs = StressCount(3, 40);
    size_t replies = 0, requests = 0, sets = 0, lost = 0, setsWithoutYes = 0;
    int survived = 0;
    DWORD slowest = 0;
    for (int run = 1; run <= runs; ++run) {
        SCOPED_TRACE("seed " + std::to_string(run));
        AcpiServerStandIn server(ACPISERVER_EXE);
        ASSERT_TRUE(server.Start("--seed " + std::to_string(run) + " --on * garbage"));
        Outcome outcome = RunInstallZel(kAnsweringServerBoundMs * 3);
        server.Stop();

        std::vector<LoggedRecord> records = server.Records();
        ProtocolCheck check = CheckRequests(records);
        EXPECT_TRUE(check.Complete()) << check.firstMismatch << "\n" << Join(Kinds(records));
        EXPECT_EQ(outcome.exitCode, 0u);
        EXPECT_LE(outcome.elapsedMs, kAnsweringServerBoundMs);
        replies += CountReplies(records);
        requests += check.logged;
        for (const std::string& kind : Kinds(records))
            sets += kind.rfind("set:", 0) == 0;
        lost += check.Lost();
        setsWithoutYes += check.setsWithoutYes;
        survived += EndedWell(outcome, kAnsweringServerBoundMs) && check.Complete();
        slowest = outcome.elapsedMs > slowest ? outcome.elapsedMs : slowest;
    }
    EXPECT_EQ(setsWithoutYes, 0u);
    // Garbage makes some queries say yes and others no; a run of only one kind proves little.
    EXPECT_GT(sets, 0u);
    EXPECT_LT(sets, 4u * runs);
    PrintFigure("garbage replies",
                std::to_string(runs) + " runs, " + std::to_string(replies) + " garbage replies tried, " +
                    std::to_string(requests) + " requests checked (" + std::to_string(sets) + " sets), " +
                    std::to_string(survived) + " runs survived (exit 0 within " + Seconds(kAnsweringServerBoundMs) +
                    ", slowest " + Seconds(slowest) + "), lost: " + std::to_string(lost) + " requests wrong or missing, " +
                    std::to_string(setsWithoutYes) + " sets without a yes");
}

// Query replies whose value and status keep changing while the client reads them, one at a time
// and never both nonzero at once: a client that decides on one copy of the reply never sends a
// set; one that reads status and value at different moments sooner or later does.
TEST(HostileServer, RepliesThatFlipWhileBeingRead)
{
    const int runs = StressCount(3, 30);
    const std::vector<std::string> expected = {"register",   "query:CAMS", "query:WLDS",
                                               "query:CRDS", "query:MODS", "unregister"};
    unsigned long flips = 0;
    size_t queries = 0, sets = 0, lost = 0;
    int survived = 0;
    for (int run = 1; run <= runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        AcpiServerStandIn server(ACPISERVER_EXE);
        ASSERT_TRUE(server.Start("--on query:* flip,value=0x" + std::to_string(run) + "A,status=0x5" +
                                 std::to_string(run)));
        Outcome outcome = RunInstallZel(kAnsweringServerBoundMs * 3);
        server.Stop();

        std::vector<std::string> kinds = Kinds(server.Records());
        EXPECT_EQ(kinds, expected);
        EXPECT_EQ(outcome.exitCode, 0u);
        EXPECT_LE(outcome.elapsedMs, kAnsweringServerBoundMs);
        for (const std::string& note : server.Notes())
            if (note.rfind("flip:", 0) == 0)
                flips += NumberBefore(note, "times");
        size_t runSets = 0;
        for (const std::string& kind : kinds) {
            queries += kind.rfind("query:", 0) == 0;
            runSets += kind.rfind("set:", 0) == 0;
        }
        sets += runSets;
        size_t missing = 0;
        for (const std::string& kind : expected)
            missing += std::find(kinds.begin(), kinds.end(), kind) == kinds.end();
        lost += runSets + missing;
        survived += EndedWell(outcome, kAnsweringServerBoundMs) && kinds == expected;
    }
    // The replies did change while the client could read them.
    EXPECT_GT(flips, 0ul);
    PrintFigure("replies flipping status and value",
                std::to_string(runs) + " runs, " + std::to_string(queries) + " flipping query replies tried (" +
                    std::to_string(flips) + " changes of value or status), " + std::to_string(survived) +
                    " runs survived (exit 0 within " + Seconds(kAnsweringServerBoundMs) + "), lost: " +
                    std::to_string(lost) + " (" + std::to_string(sets) + " sets sent on a reply that never said yes)");
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
    int tried = 0, survived = 0;
    size_t lost = 0;
    for (int round = 0; round < rounds; ++round)
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            AcpiServerStandIn server(ACPISERVER_EXE);
            ASSERT_TRUE(server.Start(c.serverArgs));
            Outcome outcome = RunInstallZel(kAnsweringServerBoundMs * 3);
            server.Stop();

            // What the first window got follows from its replies; the window in its place gets
            // nothing but the unregister request.
            std::vector<LoggedRecord> records = server.Records();
            std::vector<LoggedRecord> first, later;
            size_t requests = 0;
            for (const LoggedRecord& record : records)
                ((requests += record.isRequest) <= c.toFirstWindow ? first : later).push_back(record);
            ProtocolCheck check = CheckRequests(first);
            std::vector<std::string> kinds = Kinds(records);
            EXPECT_EQ(kinds, c.expected);
            EXPECT_EQ(check.matched, check.logged) << check.firstMismatch;
            bool laterRight = true;
            for (const LoggedRecord& record : later)
                if (record.isRequest)
                    laterRight = laterRight && record.hex == kUnregister;
            EXPECT_TRUE(laterRight);
            EXPECT_EQ(outcome.exitCode, 0u);
            EXPECT_LE(outcome.elapsedMs, kAnsweringServerBoundMs);
            ++tried;
            bool right = kinds == c.expected && check.matched == check.logged && laterRight;
            lost += !right;
            survived += EndedWell(outcome, kAnsweringServerBoundMs) && right;
        }
    PrintFigure("server window going away",
                std::to_string(tried) + " runs over " + std::to_string(sizeof(cases) / sizeof(cases[0])) +
                    " ways of going, " + std::to_string(survived) + " survived (exit 0 within " +
                    Seconds(kAnsweringServerBoundMs) + "), lost: " + std::to_string(lost) +
                    " runs with a request wrong, missing or sent to no server");
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
    const std::vector<std::string> fullRun = {"register",   "query:CAMS", "set:CAMS",   "query:WLDS", "set:WLDS",
                                              "query:CRDS", "set:CRDS",   "query:MODS", "set:MODS",   "unregister"};
    const Case cases[] = {
        {"stuck for good on the first query", "--on query:CAMS hang=4294967295", {"register", "query:CAMS"},
         kAnsweringServerBoundMs + kReplyLimitMs},
        // The reply would allow the switch, but it comes after the limit: no set may follow it.
        {"allows the first switch 15 s late", "--on query:CAMS hang=15000,value=1,status=1",
         {"register", "query:CAMS"}, kAnsweringServerBoundMs + kReplyLimitMs},
        {"stuck for good on the unregister request", "--on unregister hang=4294967295", fullRun,
         kAnsweringServerBoundMs + kReplyLimitMs},
        {"answers every request after " + std::to_string(slowMs) + " ms", "--on query:* hang=" +
             std::to_string(slowMs) + ",value=1,status=1 --on * hang=" + std::to_string(slowMs) + ",status=1",
         fullRun, kAnsweringServerBoundMs + 10 * slowMs},
    };
    int survived = 0;
    size_t lost = 0;
    std::string times;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AcpiServerStandIn server(ACPISERVER_EXE);
        ASSERT_TRUE(server.Start(c.serverArgs));
        Outcome outcome = RunInstallZel(c.boundMs * 2);
        // A stuck stand-in cannot close its window; it is ended.
        server.Stop(100);

        std::vector<LoggedRecord> records = server.Records();
        std::vector<std::string> kinds = Kinds(records);
        ProtocolCheck check = CheckRequests(records);
        EXPECT_EQ(kinds, c.expected);
        EXPECT_EQ(check.matched, check.logged) << check.firstMismatch;
        EXPECT_EQ(outcome.exitCode, 0u);
        EXPECT_LE(outcome.elapsedMs, c.boundMs);
        bool right = kinds == c.expected && check.matched == check.logged;
        lost += !right;
        survived += EndedWell(outcome, c.boundMs) && right;
        times += (times.empty() ? "" : ", ") + c.what + ": " + Seconds(outcome.elapsedMs) + " of " + Seconds(c.boundMs);
    }
    PrintFigure("server that hangs",
                std::to_string(sizeof(cases) / sizeof(cases[0])) + " runs, " + std::to_string(survived) +
                    " survived (" + times + "), lost: " + std::to_string(lost) + " runs with a request wrong or missing");
}

// The server drops the block and makes a new one of the same name once the client has let go of
// it, larger than a record: the next requests arrive whole in the new block, and nothing beyond
// the record's 24 bytes changes.
TEST(HostileServer, ServerRecreatesTheBlock)
{
    const DWORD sizes[] = {kRecordSize, 4096, 65536};
    const int rounds = StressCount(1, 5);
    int tried = 0, survived = 0;
    size_t recreated = 0, tailChecks = 0, tailChanged = 0, lost = 0;
    for (int round = 0; round < rounds; ++round)
        for (DWORD size : sizes) {
            SCOPED_TRACE("new block of " + std::to_string(size) + " bytes");
            AcpiServerStandIn server(ACPISERVER_EXE);
            std::string recreate = "recreate=" + std::to_string(size);
            ASSERT_TRUE(server.Start("--on query:WLDS " + recreate + ",value=1,status=1 --on set:CRDS " + recreate +
                                     ",status=1"));
            Outcome outcome = RunInstallZel(kAnsweringServerBoundMs * 3);
            server.Stop();

            std::vector<LoggedRecord> records = server.Records();
            ProtocolCheck check = CheckRequests(records);
            EXPECT_TRUE(check.Complete()) << check.firstMismatch << "\n" << Join(Kinds(records));
            EXPECT_EQ(outcome.exitCode, 0u);
            EXPECT_LE(outcome.elapsedMs, kAnsweringServerBoundMs);
            size_t runRecreated = 0;
            for (const std::string& note : server.Notes()) {
                if (note.rfind("block re-created", 0) == 0)
                    ++runRecreated;
                if (note.rfind("block tail", 0) == 0) {
                    ++tailChecks;
                    tailChanged += NumberBefore(note, "of");
                }
            }
            // The final pause leaves the client's hands off the block for a second at least.
            EXPECT_GE(runRecreated, 1u);
            recreated += runRecreated;
            ++tried;
            lost += check.Lost();
            survived += EndedWell(outcome, kAnsweringServerBoundMs) && check.Complete();
        }
    EXPECT_EQ(tailChanged, 0u);
    PrintFigure("server re-creating the block",
                std::to_string(tried) + " runs, " + std::to_string(recreated) + " blocks re-created, " +
                    std::to_string(tailChecks) + " checks of the bytes beyond the record, " + std::to_string(survived) +
                    " runs survived (exit 0 within " + Seconds(kAnsweringServerBoundMs) + "), lost: " +
                    std::to_string(lost) + " requests wrong or missing, " + std::to_string(tailChanged) +
                    " bytes beyond the record changed");
}

namespace {

HANDLE MakeMutex()
{
    return CreateMutexW(nullptr, FALSE, kRequestBlockName);
}
HANDLE MakeEvent()
{
    return CreateEventW(nullptr, TRUE, FALSE, kRequestBlockName);
}
HANDLE MakeSemaphore()
{
    return CreateSemaphoreW(nullptr, 1, 1, kRequestBlockName);
}
HANDLE MakeTimer()
{
    return CreateWaitableTimerW(nullptr, TRUE, kRequestBlockName);
}
HANDLE MakeJob()
{
    return CreateJobObjectW(nullptr, kRequestBlockName);
}

} // namespace

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
    struct OtherCase
    {
        const char* what;
        HANDLE (*make)();
    };
    const OtherCase others[] = {
        {"mutex", MakeMutex},   {"event", MakeEvent}, {"semaphore", MakeSemaphore},
        {"waitable timer", MakeTimer}, {"job object", MakeJob},
    };

    int tried = 0, survived = 0, usable = 0;
    size_t lost = 0;
    DWORD slowest = 0;
    // One run with the squat in place: the full exchange when the block can be used, none otherwise.
    auto runWith = [&](const BlockSquat& squat, const char* what) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(squat.Made());
        bool canUse = squat.Size() != 0 && BlockSquat::UsableAsBlock();
        AcpiServerStandIn server(ACPISERVER_EXE);
        ASSERT_TRUE(server.Start());
        Outcome outcome = RunInstallZel(kAnsweringServerBoundMs * 3);
        server.Stop();

        std::vector<LoggedRecord> records = server.Records();
        ProtocolCheck check = CheckRequests(records);
        bool right = canUse ? check.Complete() : records.empty();
        EXPECT_TRUE(right) << (canUse ? "the block could be used: " + check.firstMismatch
                                      : "the block could not be used, yet the server got " + Join(Kinds(records)));
        DWORD changed = canUse ? squat.ChangedFrom(kRecordSize) : squat.ChangedFrom(0);
        EXPECT_EQ(changed, 0u) << "bytes the client had no business writing";
        EXPECT_EQ(outcome.exitCode, 0u);
        EXPECT_LE(outcome.elapsedMs, canUse ? kAnsweringServerBoundMs : kNothingSentBoundMs);
        printf("  %-40s %s, %lu requests, exit %lu after %s\n", what,
               canUse ? "usable as a block" : "not usable as a block", static_cast<unsigned long>(records.size() / 2),
               outcome.exitCode, Seconds(outcome.elapsedMs).c_str());
        ++tried;
        usable += canUse;
        lost += !right + changed;
        survived += EndedWell(outcome, canUse ? kAnsweringServerBoundMs : kNothingSentBoundMs) && right && changed == 0;
        slowest = outcome.elapsedMs > slowest ? outcome.elapsedMs : slowest;
    };
    const int rounds = StressCount(1, 5);
    for (int round = 0; round < rounds; ++round) {
        for (const SectionCase& c : sections) {
            BlockSquat squat(c.size, c.protect, c.sddl, c.backing);
            runWith(squat, c.what);
        }
        for (const OtherCase& c : others) {
            BlockSquat squat(c.make());
            runWith(squat, c.what);
        }
    }
    PrintFigure("block name taken by another program",
                std::to_string(tried) + " squats tried (" + std::to_string(usable) + " usable as a block), " +
                    std::to_string(survived) + " runs survived (exit 0 within " + Seconds(kAnsweringServerBoundMs) +
                    ", slowest " + Seconds(slowest) + "), lost: " + std::to_string(lost) +
                    " (runs with a wrong exchange, bytes changed outside the record)");
}

// Another program sends and posts random messages to the client window every time the client
// waits for a reply. Nothing of the exchange may change: the same requests in the same order,
// byte for byte, and the run still ends.
TEST(HostileMessages, RandomMessagesWhileTheClientWaits)
{
    const int runs = StressCount(3, 30);
    const int perRequest = StressCount(200, 1000);
    unsigned long sent = 0, posted = 0, refused = 0;
    size_t lost = 0;
    int survived = 0;
    DWORD worst = 0;
    for (int run = 1; run <= runs; ++run) {
        SCOPED_TRACE("seed " + std::to_string(run));
        AcpiServerStandIn server(ACPISERVER_EXE);
        std::string fuzz = "fuzz=" + std::to_string(perRequest);
        ASSERT_TRUE(server.Start("--seed " + std::to_string(run) + " --on query:* " + fuzz +
                                 ",value=1,status=1 --on * " + fuzz + ",status=1"));
        Outcome outcome = RunInstallZel(120000);
        server.Stop();

        std::vector<LoggedRecord> records = server.Records();
        ProtocolCheck check = CheckRequests(records);
        EXPECT_TRUE(check.Complete()) << check.firstMismatch << "\n" << Join(Kinds(records));
        EXPECT_EQ(check.expected, 10u);
        // The stand-in holds each request while it sends the messages; that time is the server's.
        DWORD heldMs = 0;
        for (size_t i = 0; i + 1 < records.size(); ++i)
            if (records[i].isRequest && !records[i + 1].isRequest)
                heldMs += records[i + 1].tick - records[i].tick;
        DWORD boundMs = kAnsweringServerBoundMs + heldMs;
        EXPECT_EQ(outcome.exitCode, 0u);
        EXPECT_LE(outcome.elapsedMs, boundMs);
        for (const std::string& note : server.Notes())
            if (note.rfind("fuzz:", 0) == 0) {
                sent += NumberBefore(note, "sent,");
                posted += NumberBefore(note, "posted,");
                refused += NumberBefore(note, "refused");
            }
        lost += check.Lost();
        survived += EndedWell(outcome, boundMs) && check.Complete();
        worst = outcome.elapsedMs - heldMs > worst ? outcome.elapsedMs - heldMs : worst;
    }
    PrintFigure("random messages while waiting",
                std::to_string(runs) + " runs, " + std::to_string(sent + posted + refused) + " messages tried (" +
                    std::to_string(sent) + " sent, " + std::to_string(posted) + " posted, " + std::to_string(refused) +
                    " refused by the system), " + std::to_string(survived) + " runs survived (exit 0 within " +
                    Seconds(kAnsweringServerBoundMs) + " besides the time the server held the requests; worst " +
                    Seconds(worst) + "), lost: " + std::to_string(lost) + " requests changed or missing");
}
