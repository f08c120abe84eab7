// The request exchange linked straight into this test program and run thousands of times on
// every way it can end: answered by the server, the block's name held by another kind of object,
// a block no view of a record fits in, a server that no longer answers. No handle and no view of
// the block may stay behind, however the exchange ends.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include "serverexchange.h"
#include "standin.h"
#include "stress.h"

namespace {

const wchar_t kRequestBlockName[] = L"926d2da0-c324-3ba9-cda7-5a4ab239b6de";

// Open handles of this process. GetProcessHandleCount is a stub under Wine (it reports 0), so
// the handle values are probed instead: both Wine and Windows hand out multiples of 4 from the
// lowest free one, so past a long run of invalid values there are no more.
size_t CountHandles()
{
    size_t count = 0;
    ULONG_PTR lastValid = 0;
    for (ULONG_PTR value = 4; value < lastValid + 4 * 4096; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            lastValid = value;
        }
    }
    return count;
}

// Views of sections mapped into this process.
size_t CountMappedViews()
{
    size_t views = 0;
    MEMORY_BASIC_INFORMATION info;
    const BYTE* address = nullptr;
    while (VirtualQuery(address, &info, sizeof(info)) == sizeof(info)) {
        if (info.Type == MEM_MAPPED && info.BaseAddress == info.AllocationBase)
            ++views;
        const BYTE* next = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return views;
}

// A hidden window for the register requests to name.
class ClientWindow
{
public:
    ClientWindow()
        : m_window(CreateWindowExW(0, L"STATIC", L"InstallZel", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr))
    {
    }
    ~ClientWindow() { DestroyWindow(m_window); }
    HWND Get() const { return m_window; }

private:
    HWND m_window;
};

// A window of the server's class whose thread stops handling messages: once it has not asked for
// one in five seconds the system calls it hung, and every send to it fails at once.
class StuckServer
{
public:
    StuckServer()
    {
        m_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
        WaitForSingleObject(m_created, 10000);
    }
    ~StuckServer()
    {
        SetEvent(m_release);
        WaitForSingleObject(m_thread, 10000);
        CloseHandle(m_thread);
        CloseHandle(m_created);
        CloseHandle(m_release);
    }
    bool Made() const { return m_window != nullptr; }

private:
    static DWORD WINAPI ThreadMain(void* param)
    {
        auto* self = static_cast<StuckServer*>(param);
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kServerClassName;
        RegisterClassW(&windowClass);
        self->m_window = CreateWindowExW(0, kServerClassName, L"VornAcpiServer", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                         nullptr, nullptr, windowClass.hInstance, nullptr);
        SetEvent(self->m_created);
        WaitForSingleObject(self->m_release, INFINITE);
        DestroyWindow(self->m_window);
        UnregisterClassW(kServerClassName, windowClass.hInstance);
        return 0;
    }

    HANDLE m_release = nullptr;
    HANDLE m_created = nullptr;
    HANDLE m_thread = nullptr;
    HWND m_window = nullptr;
};

// A block of the request block's name backed by a file of 8 bytes: it opens, but no view of a
// whole record can be mapped.
class TooSmallBlock
{
public:
    TooSmallBlock()
    {
        char directory[MAX_PATH] = {};
        char path[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, directory);
        GetTempFileNameA(directory, "blk", 0, path);
        m_file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        const BYTE bytes[8] = {};
        DWORD written = 0;
        WriteFile(m_file, bytes, sizeof(bytes), &written, nullptr);
        m_mapping = CreateFileMappingW(m_file, nullptr, PAGE_READWRITE, 0, 0, kRequestBlockName);
    }
    ~TooSmallBlock()
    {
        if (m_mapping)
            CloseHandle(m_mapping);
        CloseHandle(m_file);
    }
    bool Made() const { return m_mapping != nullptr; }

private:
    HANDLE m_file;
    HANDLE m_mapping;
};

struct Counts
{
    size_t handles;
    size_t views;
};

Counts Measure()
{
    return {CountHandles(), CountMappedViews()};
}

// Runs `pairs` registrations and unregistrations, two exchanges each, after a few to warm up,
// and reports what the process holds before and after.
void RunExchanges(const char* condition, HWND client, int pairs, size_t* exchanged)
{
    for (int i = 0; i < 5; ++i) {
        RegisterWithServer(client);
        UnregisterFromServer();
    }
    Counts before = Measure();
    DWORD start = GetTickCount();
    for (int i = 0; i < pairs; ++i) {
        RegisterWithServer(client);
        UnregisterFromServer();
    }
    DWORD elapsed = GetTickCount() - start;
    Counts after = Measure();
    *exchanged += 2 * pairs;

    EXPECT_EQ(after.handles, before.handles) << condition;
    EXPECT_EQ(after.views, before.views) << condition;
    printf("[ figures  ] InstallZel exchange, %s: %d exchanges in %lu ms, handles %zu -> %zu, views %zu -> %zu, "
           "lost: %zd handles, %zd views\n",
           condition, 2 * pairs, elapsed, before.handles, after.handles, before.views, after.views,
           static_cast<ptrdiff_t>(after.handles - before.handles), static_cast<ptrdiff_t>(after.views - before.views));
    fflush(stdout);
}

// The stand-in's requests, counted while it runs.
size_t LoggedRequests(const AcpiServerStandIn& server)
{
    return server.Requests().size();
}

} // namespace

TEST(ExchangeResources, NoHandleOrViewStaysBehindHoweverTheExchangeEnds)
{
    const int pairs = StressCount(500, 10000);
    ClientWindow client;
    ASSERT_NE(client.Get(), nullptr);
    size_t exchanged = 0;

    {
        AcpiServerStandIn server;
        ASSERT_TRUE(server.Start());
        RunExchanges("answered by the server", client.Get(), pairs, &exchanged);
        // The enable sequence too, with its queries and sets.
        g_serverWindow = RegisterWithServer(client.Get());
        Counts before = Measure();
        const int sequences = StressCount(2, 10);
        for (int i = 0; i < sequences; ++i)
            EnableDeviceSwitches();
        Counts after = Measure();
        EXPECT_EQ(after.handles, before.handles);
        EXPECT_EQ(after.views, before.views);
        exchanged += 8 * sequences;
        printf("[ figures  ] InstallZel exchange, enable sequence: %d sequences of 8 exchanges, handles %zu -> %zu, "
               "views %zu -> %zu\n",
               sequences, before.handles, after.handles, before.views, after.views);
        // Every exchange reached the server: 5 pairs to warm up, the pairs, one registration and
        // the sequences.
        EXPECT_EQ(LoggedRequests(server), static_cast<size_t>(2 * (5 + pairs) + 1 + 8 * sequences));
        printf("[ figures  ] InstallZel exchange, requests the server got: %zu of %d\n", LoggedRequests(server),
               2 * (5 + pairs) + 1 + 8 * sequences);
    }
    {
        // The server is there, but the block cannot be made: nothing may reach the server.
        AcpiServerStandIn server;
        ASSERT_TRUE(server.Start());
        HANDLE mutex = CreateMutexW(nullptr, FALSE, kRequestBlockName);
        ASSERT_NE(mutex, nullptr);
        RunExchanges("block name held by a mutex", client.Get(), pairs, &exchanged);
        CloseHandle(mutex);
        EXPECT_EQ(LoggedRequests(server), 0u);
    }
    {
        AcpiServerStandIn server;
        ASSERT_TRUE(server.Start());
        TooSmallBlock block;
        ASSERT_TRUE(block.Made());
        RunExchanges("block too small for a record", client.Get(), pairs, &exchanged);
        EXPECT_EQ(LoggedRequests(server), 0u);
    }
    {
        StuckServer server;
        ASSERT_TRUE(server.Made());
        Sleep(6000);
        RunExchanges("server that no longer answers", client.Get(), pairs, &exchanged);
    }
    printf("[ figures  ] InstallZel exchange: %zu exchanges over 4 ways of ending\n", exchanged);
}
