// InstallZel run as an installer runs it, against the ACPI server stand-in: what reaches the
// server byte for byte, when, and what the user sees when there is no server.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "blocksquat.h"
#include "messages.h"
#include "process.h"
#include "record.h"
#include "serverlog.h"
#include "standin.h"

namespace {

const DWORD kRunTimeoutMs = MachineMs(40000);

// Requests as they lie in the block, grouped by field as the stand-in logs them.
const char kFirstQuery[] = "51555259 01000000 43414D53 00000000 0300 0000 00000000";
// The register request after the four bytes of the client window's handle.
const char kRegisterTail[] = "00000000 00000000 00000000 0100 0000 00000000";

// InstallZel started as an installer starts it, with a command line and a show command.
bool StartInstallZel(ChildProcess& run, const std::string& arguments = "", WORD showCommand = SW_SHOWNORMAL)
{
    StartOptions options;
    options.showCommand = showCommand;
    return run.Start(ToWindowsPath(INSTALLZEL_EXE) + " " + arguments, options);
}

const LoggedRecord* FindRecord(const std::vector<LoggedRecord>& records, const std::string& kind)
{
    for (const LoggedRecord& record : records)
        if (record.isRequest && record.kind == kind)
            return &record;
    return nullptr;
}

// The logged reply that follows the request of the given kind.
const LoggedRecord* FindReplyTo(const std::vector<LoggedRecord>& records, const std::string& kind)
{
    for (size_t i = 0; i + 1 < records.size(); ++i)
        if (records[i].isRequest && records[i].kind == kind && !records[i + 1].isRequest)
            return &records[i + 1];
    return nullptr;
}

std::string ClientDescription(const ChildProcess& run)
{
    return "class=INSTALLZEL pid=" + std::to_string(run.Id()) + " hidden";
}

// Starts the stand-in with serverArgs, runs InstallZel to its end and checks the exit code.
void RunAgainstServer(AcpiServerStandIn& server, ChildProcess& run, const std::string& serverArgs)
{
    ASSERT_TRUE(server.Start(serverArgs));
    ASSERT_TRUE(StartInstallZel(run));
    EXPECT_EQ(run.Wait(kRunTimeoutMs), 0u);
}

// What a server that allows every switch receives in a full run.
void ExpectTheTenRequests(const AcpiServerStandIn& server, const ChildProcess& run)
{
    // The stand-in allows every switch: queries are answered value=1, status=1, sets status=1.
    struct Expected
    {
        const char* kind;
        const char* hex;
    };
    const Expected expected[] = {
        {"register", nullptr},
        {"query:CAMS", kFirstQuery},
        {"set:CAMS", "43414D53 01000000 01000000 01000000 0300 0000 01000000"},
        {"query:WLDS", "51555259 01000000 574C4453 01000000 0300 0000 01000000"},
        {"set:WLDS", "574C4453 01000000 01000000 01000000 0300 0000 01000000"},
        {"query:CRDS", "51555259 01000000 43524453 01000000 0300 0000 01000000"},
        {"set:CRDS", "43524453 01000000 01000000 01000000 0300 0000 01000000"},
        {"query:MODS", "51555259 01000000 4D4F4453 01000000 0300 0000 01000000"},
        {"set:MODS", "4D4F4453 01000000 01000000 01000000 0300 0000 01000000"},
        {"unregister", kUnregisterRequest},
    };
    std::vector<LoggedRecord> requests = server.Requests();
    ASSERT_EQ(server.RequestKinds(), kFullRun);
    for (size_t i = 1; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].hex, expected[i].hex) << expected[i].kind;

    // The register request names the hidden client window of this run; so does the stand-in's look
    // at that window when the unregister request comes.
    EXPECT_EQ(requests[0].hex.substr(9), kRegisterTail);
    EXPECT_NE(requests[0].hex.substr(0, 8), "00000000");
    EXPECT_NE(requests[0].text.find(ClientDescription(run)), std::string::npos) << requests[0].text;
    EXPECT_NE(requests[9].text.find(ClientDescription(run)), std::string::npos) << requests[9].text;
}

} // namespace

TEST(FullRun, SendsTheTenRequestsByteForByteInOrder)
{
    AcpiServerStandIn server(ACPISERVER_EXE);
    ChildProcess run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, ""));
    ExpectTheTenRequests(server, run);
}

#ifndef _WIN64
// The 32-bit client beside a 64-bit server, as on 64-bit Windows: the block, the message and the
// client's window handle in the register request cross between the two widths unchanged.
TEST(MixedWidth, ThirtyTwoBitClientBesideASixtyFourBitServer)
{
    AcpiServerStandIn server(ACPISERVER64_EXE);
    ChildProcess run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, ""));
    BOOL serverIsWow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(server.Process(), &serverIsWow64));
    ASSERT_FALSE(serverIsWow64) << "the stand-in is not a 64-bit process";
    ExpectTheTenRequests(server, run);
}
#endif

TEST(FullRun, CarriesEachReplyIntoTheNextRequest)
{
    // The query reply changes every field; the set must carry its value, command, reserved and
    // status unchanged and put back the code, 1 and 1. The set reply's value, reserved and status
    // must travel into the next query, with command back at 3.
    AcpiServerStandIn server(ACPISERVER_EXE);
    ChildProcess run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(
        server, run,
        "--on query:CAMS subject=0x11111111,count=7,argument=9,value=0xA1B2C3D4,command=0x0707,reserved=0xBEEF,"
        "status=0x5A5A5A5A --on set:CAMS value=0x42,command=5,reserved=0x1234,status=0x99"));

    std::vector<LoggedRecord> records = server.Records();
    const LoggedRecord* set = FindRecord(records, "set:CAMS");
    const LoggedRecord* nextQuery = FindRecord(records, "query:WLDS");
    ASSERT_NE(set, nullptr);
    ASSERT_NE(nextQuery, nullptr);
    EXPECT_EQ(set->hex, "43414D53 01000000 01000000 D4C3B2A1 0707 EFBE 5A5A5A5A");
    EXPECT_EQ(nextQuery->hex, "51555259 01000000 574C4453 42000000 0300 3412 99000000");
}

// One run whose stand-in answers each device switch's query differently.
TEST(FullRun, SetsOnlySwitchesWhoseQueryReplyHasStatusAndValue)
{
    struct Case
    {
        const char* code;
        const char* queryReply;
        bool setExpected;
    };
    const Case cases[] = {
        {"CAMS", "status=0,value=1", false},
        {"WLDS", "status=1,value=0", false},
        {"CRDS", "status=0,value=0", false},
        {"MODS", "status=0x80000000,value=0x100", true},
    };
    std::string serverArgs;
    for (const Case& c : cases)
        serverArgs += std::string(" --on query:") + c.code + " " + c.queryReply;

    AcpiServerStandIn server(ACPISERVER_EXE);
    ChildProcess run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, serverArgs));

    std::vector<LoggedRecord> records = server.Records();
    for (const Case& c : cases) {
        EXPECT_NE(FindRecord(records, std::string("query:") + c.code), nullptr) << c.code;
        EXPECT_EQ(FindRecord(records, std::string("set:") + c.code) != nullptr, c.setExpected)
            << c.code << " answered " << c.queryReply;
    }
    EXPECT_EQ(server.RequestKinds().back(), "unregister");
}

TEST(FullRun, ServerThatLeavesTheBlockAloneGetsNoSetRequest)
{
    // Every reply then equals its request, whose status and value are 0 from the start.
    AcpiServerStandIn server(ACPISERVER_EXE);
    ChildProcess run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, "--on * untouched"));

    const std::vector<std::string>& expectedKinds = kRunWithoutSets;
    EXPECT_EQ(server.RequestKinds(), expectedKinds);
    std::vector<LoggedRecord> records = server.Records();
    ASSERT_EQ(records.size(), 2 * expectedKinds.size());
    for (size_t i = 0; i < records.size(); i += 2)
        EXPECT_EQ(records[i + 1].hex, records[i].hex) << records[i].kind;
}

TEST(FullRun, AnyCommandLineAndShowCommandGiveTheSameHiddenRun)
{
    struct Case
    {
        const char* arguments;
        WORD showCommand;
    };
    const Case cases[] = {
        {"", SW_SHOWNORMAL},
        {"/S /D=C:\\Vorn --show \"quoted argument\"", SW_SHOWMAXIMIZED},
        {"\"unterminated", SW_SHOWMINNOACTIVE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("command line: ") + c.arguments + ", show command " + std::to_string(c.showCommand));
        AcpiServerStandIn server(ACPISERVER_EXE);
        ChildProcess run;
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(StartInstallZel(run, c.arguments, c.showCommand));
        EXPECT_EQ(run.Wait(kRunTimeoutMs), 0u);

        EXPECT_EQ(server.RequestKinds(), kFullRun);
        // The stand-in looks at the client window at registration, while it is being created,
        // and at unregistration, after it has been hidden and the message loop runs.
        std::vector<LoggedRecord> requests = server.Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_NE(requests.front().text.find(ClientDescription(run)), std::string::npos) << requests.front().text;
        EXPECT_NE(requests.back().text.find(ClientDescription(run)), std::string::npos) << requests.back().text;
    }
}

TEST(Timing, ServerPresentFromTheStart)
{
    AcpiServerStandIn server(ACPISERVER_EXE);
    ChildProcess run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, ""));
    std::vector<LoggedRecord> records = server.Records();
    ASSERT_EQ(server.RequestKinds(), kFullRun);

    // One look-up, 200 ms and the 1,000 ms settling pause before the window exists; a second
    // look-up would add 200 ms, the full wait 10 s. Starting a Wine process takes some time too.
    DWORD toRegister = records.front().tick - run.StartTick();
    EXPECT_GE(toRegister, 1200u);
    EXPECT_LT(toRegister, 1200 + MachineMs(2800));

    // The final pause lies between the last set's reply and the unregister request.
    const LoggedRecord* lastReply = FindReplyTo(records, "set:MODS");
    ASSERT_NE(lastReply, nullptr);
    DWORD pause = FindRecord(records, "unregister")->tick - lastReply->tick;
    EXPECT_GE(pause, 1000u);
    EXPECT_LT(pause, 1000 + MachineMs(1000));
}

TEST(Timing, ServerWithAnotherTitleIsFoundAfterTheFullWait)
{
    AcpiServerStandIn server(ACPISERVER_EXE);
    ChildProcess run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, "--title \"Vorn ACPI Server 2\""));

    // The wait looks for the title as well and runs all 50 look-ups; the registration looks for
    // the class alone and finds the server.
    ASSERT_EQ(server.RequestKinds(), kFullRun);
    DWORD toRegister = server.Records().front().tick - run.StartTick();
    EXPECT_GE(toRegister, 11000u);
    EXPECT_LT(toRegister, 11000 + MachineMs(3000));
}

TEST(NoServer, OneMessageBoxAndNoRequestThenExitCodeZero)
{
    // A block made before the run, which any request written into it would change.
    BlockSquat block(kRecordSize, PAGE_READWRITE, nullptr);
    ASSERT_TRUE(block.Made());
    ChildProcess run;
    ASSERT_TRUE(StartInstallZel(run));

    HWND box = WaitForMessageBox(run.Id(), MachineMs(20000));
    ASSERT_NE(box, nullptr);
    // 50 look-ups 200 ms apart, then the settling pause.
    DWORD toBox = GetTickCount() - run.StartTick();
    EXPECT_GE(toBox, 11000u);
    EXPECT_LT(toBox, 11000 + MachineMs(3000));

    EXPECT_EQ(WindowText(box), L"Vorn ZelPC Installation");
    EXPECT_EQ(MessageBoxText(box), L"Please install VornAcpiSvr.exe (Vorn ACPI Server) first");
    EXPECT_EQ(ButtonTexts(box), std::vector<std::wstring>{L"OK"});
    // Owned by the client window, which stays hidden.
    HWND client = FindProcessWindow("INSTALLZEL", run.Id());
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(GetWindow(box, GW_OWNER), client);
    EXPECT_FALSE(IsWindowVisible(client));

    PressOk(box);
    EXPECT_EQ(run.Wait(MachineMs(10000)), 0u);
    EXPECT_EQ(block.ChangedFrom(0), 0u) << "a request was written into the block";
}

TEST(NoServer, ServerThatComesUpAfterTheRegistrationGetsTheUnregisterRequest)
{
    ChildProcess run;
    ASSERT_TRUE(StartInstallZel(run));
    HWND box = WaitForMessageBox(run.Id(), MachineMs(20000));
    ASSERT_NE(box, nullptr);

    AcpiServerStandIn server(ACPISERVER_EXE);
    ASSERT_TRUE(server.Start());
    PressOk(box);
    EXPECT_EQ(run.Wait(MachineMs(10000)), 0u);

    std::vector<LoggedRecord> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].hex, kUnregisterRequest);
}
