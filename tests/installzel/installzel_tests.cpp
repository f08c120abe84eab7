// InstallZel run as an installer runs it, against the ACPI server stand-in: what reaches the
// server byte for byte, when, and what the user sees when there is no server.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "messages.h"
#include "process.h"
#include "standin.h"

namespace {

const wchar_t kRequestBlockName[] = L"926d2da0-c324-3ba9-cda7-5a4ab239b6de";
const DWORD kRunTimeoutMs = MachineMs(40000);

// Requests as they lie in the block, grouped by field as the stand-in logs them.
const char kFirstQuery[] = "51555259 01000000 43414D53 00000000 0300 0000 00000000";
const char kUnregister[] = "00000000 00000000 00000000 00000000 0200 0000 00000000";
// The register request after the four bytes of the client window's handle.
const char kRegisterTail[] = "00000000 00000000 00000000 0100 0000 00000000";

const std::vector<std::string> kFullRun = {"register",   "query:CAMS", "set:CAMS", "query:WLDS", "set:WLDS",
                                           "query:CRDS", "set:CRDS",   "query:MODS", "set:MODS", "unregister"};

// InstallZel started with a command line and a show command of the caller's choosing.
class InstallZelRun
{
public:
    InstallZelRun() = default;
    InstallZelRun(const InstallZelRun&) = delete;
    InstallZelRun& operator=(const InstallZelRun&) = delete;
    ~InstallZelRun()
    {
        if (m_info.hProcess) {
            if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_info.hProcess, 1);
            CloseHandle(m_info.hProcess);
            CloseHandle(m_info.hThread);
        }
    }

    bool Start(const std::string& arguments = "", WORD showCommand = SW_SHOWNORMAL)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = showCommand;
        std::string commandLine = ToWindowsPath(INSTALLZEL_EXE) + " " + arguments;
        m_startTick = GetTickCount();
        return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &m_info) != FALSE;
    }

    // The exit code, or STILL_ACTIVE when the run has not ended within timeoutMs.
    DWORD Wait(DWORD timeoutMs = kRunTimeoutMs)
    {
        DWORD exitCode = STILL_ACTIVE;
        if (WaitForSingleObject(m_info.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_info.hProcess, &exitCode);
        m_endTick = GetTickCount();
        return exitCode;
    }

    DWORD Id() const { return m_info.dwProcessId; }
    DWORD StartTick() const { return m_startTick; }
    DWORD ElapsedMs() const { return m_endTick - m_startTick; }

private:
    PROCESS_INFORMATION m_info = {};
    DWORD m_startTick = 0;
    DWORD m_endTick = 0;
};

// A block of the request block's name made before InstallZel runs, as another program might make
// it: backed by a file of the given size, filled with a pattern that any request written into it
// would change.
class PresetBlock
{
public:
    explicit PresetBlock(DWORD size) : m_size(size)
    {
        char directory[MAX_PATH] = {};
        char path[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, directory);
        GetTempFileNameA(directory, "blk", 0, path);
        m_file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        std::vector<BYTE> pattern(size, kPattern);
        DWORD written = 0;
        WriteFile(m_file, pattern.data(), size, &written, nullptr);
        // Sized by the file: a view larger than the file cannot be mapped.
        m_mapping = CreateFileMappingW(m_file, nullptr, PAGE_READWRITE, 0, 0, kRequestBlockName);
        m_view = m_mapping ? static_cast<BYTE*>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, size)) : nullptr;
    }
    ~PresetBlock()
    {
        if (m_view)
            UnmapViewOfFile(m_view);
        if (m_mapping)
            CloseHandle(m_mapping);
        CloseHandle(m_file);
    }
    bool Made() const { return m_view != nullptr; }
    bool Intact() const
    {
        for (DWORD i = 0; i < m_size; ++i)
            if (m_view[i] != kPattern)
                return false;
        return true;
    }

private:
    static const BYTE kPattern = 0xA5;
    DWORD m_size;
    HANDLE m_file;
    HANDLE m_mapping = nullptr;
    BYTE* m_view = nullptr;
};

// A message box of processId once it is on screen, or null.
HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs)
{
    HWND box = nullptr;
    PumpUntil([&] {
        box = FindProcessWindow("#32770", processId);
        return box && IsWindowVisible(box);
    }, timeoutMs);
    return box;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param)
{
    char className[32] = {};
    GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child))
        reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(WindowText(child));
    return TRUE;
}

std::vector<std::wstring> ButtonTexts(HWND box)
{
    std::vector<std::wstring> texts;
    EnumChildWindows(box, CollectButton, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// What a click on OK sends to the box.
void PressOk(HWND box)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
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

std::string ClientDescription(const InstallZelRun& run)
{
    return "class=INSTALLZEL pid=" + std::to_string(run.Id()) + " hidden";
}

// Starts the stand-in with serverArgs, runs InstallZel to its end and checks the exit code.
void RunAgainstServer(AcpiServerStandIn& server, InstallZelRun& run, const std::string& serverArgs)
{
    ASSERT_TRUE(server.Start(serverArgs));
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(run.Wait(), 0u);
}

// What a server that allows every switch receives in a full run.
void ExpectTheTenRequests(const AcpiServerStandIn& server, const InstallZelRun& run)
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
        {"unregister", kUnregister},
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
    AcpiServerStandIn server;
    InstallZelRun run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, ""));
    ExpectTheTenRequests(server, run);
}

#ifndef _WIN64
// The 32-bit client beside a 64-bit server, as on 64-bit Windows: the block, the message and the
// client's window handle in the register request cross between the two widths unchanged.
TEST(MixedWidth, ThirtyTwoBitClientBesideASixtyFourBitServer)
{
    AcpiServerStandIn server(ACPISERVER64_EXE);
    InstallZelRun run;
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
    AcpiServerStandIn server;
    InstallZelRun run;
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

    AcpiServerStandIn server;
    InstallZelRun run;
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
    AcpiServerStandIn server;
    InstallZelRun run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, "--on * untouched"));

    std::vector<std::string> expectedKinds = {"register",   "query:CAMS", "query:WLDS",
                                              "query:CRDS", "query:MODS", "unregister"};
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
        AcpiServerStandIn server;
        InstallZelRun run;
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(run.Start(c.arguments, c.showCommand));
        EXPECT_EQ(run.Wait(), 0u);

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
    AcpiServerStandIn server;
    InstallZelRun run;
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
    AcpiServerStandIn server;
    InstallZelRun run;
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
    PresetBlock block(24);
    ASSERT_TRUE(block.Made());
    InstallZelRun run;
    ASSERT_TRUE(run.Start());

    HWND box = WaitForMessageBox(run.Id(), MachineMs(20000));
    ASSERT_NE(box, nullptr);
    // 50 look-ups 200 ms apart, then the settling pause.
    DWORD toBox = GetTickCount() - run.StartTick();
    EXPECT_GE(toBox, 11000u);
    EXPECT_LT(toBox, 11000 + MachineMs(3000));

    EXPECT_EQ(WindowText(box), L"Vorn ZelPC Installation");
    wchar_t text[256] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 256);
    EXPECT_STREQ(text, L"Please install VornAcpiSvr.exe (Vorn ACPI Server) first");
    EXPECT_EQ(ButtonTexts(box), std::vector<std::wstring>{L"OK"});
    // Owned by the client window, which stays hidden.
    HWND client = FindProcessWindow("INSTALLZEL", run.Id());
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(GetWindow(box, GW_OWNER), client);
    EXPECT_FALSE(IsWindowVisible(client));

    PressOk(box);
    EXPECT_EQ(run.Wait(MachineMs(10000)), 0u);
    EXPECT_TRUE(block.Intact()) << "a request was written into the block";
}

TEST(NoServer, ServerThatComesUpAfterTheRegistrationGetsTheUnregisterRequest)
{
    InstallZelRun run;
    ASSERT_TRUE(run.Start());
    HWND box = WaitForMessageBox(run.Id(), MachineMs(20000));
    ASSERT_NE(box, nullptr);

    AcpiServerStandIn server;
    ASSERT_TRUE(server.Start());
    PressOk(box);
    EXPECT_EQ(run.Wait(MachineMs(10000)), 0u);

    std::vector<LoggedRecord> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].hex, kUnregister);
}

TEST(Faults, BlockNameTakenByAnotherKindOfObject)
{
    // The block cannot be made, so no request can be sent; the run still ends normally.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kRequestBlockName);
    ASSERT_NE(mutex, nullptr);
    AcpiServerStandIn server;
    InstallZelRun run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, ""));
    CloseHandle(mutex);

    EXPECT_TRUE(server.Records().empty());
    EXPECT_LT(run.ElapsedMs(), MachineMs(5000));
}

TEST(Faults, BlockTooSmallForARequest)
{
    // Another program made the block with 8 bytes: InstallZel opens it but cannot map a view of a
    // whole request, so nothing is written into it, nothing beyond it, and nothing is sent.
    PresetBlock block(8);
    ASSERT_TRUE(block.Made());
    AcpiServerStandIn server;
    InstallZelRun run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, ""));

    EXPECT_TRUE(block.Intact());
    EXPECT_TRUE(server.Records().empty());
    EXPECT_LT(run.ElapsedMs(), MachineMs(5000));
}

TEST(Faults, HungServerCostsOneTimeOutAndGetsNoSetRequest)
{
    // The first query's reply would allow the switch, but it comes 15 s late: the exchange has
    // timed out by then, so no set request follows; while the server stays stuck the remaining
    // requests give up at once.
    AcpiServerStandIn server;
    InstallZelRun run;
    ASSERT_NO_FATAL_FAILURE(RunAgainstServer(server, run, "--on query:CAMS hang=15000,value=1,status=1"));

    EXPECT_LT(run.ElapsedMs(), 12200 + MachineMs(7800));
    std::vector<std::string> kinds = server.RequestKinds();
    ASSERT_GE(kinds.size(), 2u);
    EXPECT_EQ(kinds[1], "query:CAMS");
    server.Stop();
    EXPECT_EQ(FindRecord(server.Records(), "set:CAMS"), nullptr);
}
