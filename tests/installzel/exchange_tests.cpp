// The request exchange linked straight into this test program and run thousands of times on
// every way it can end: answered by the server, the block's name held by another kind of object,
// a block no view of a record fits in, a server that no longer answers. No handle and no view of
// the block may stay behind, however the exchange ends.
#include <gtest/gtest.h>
#include <stdio.h>
#include <memory>
#include <string>
#include "blocksquat.h"
#include "handles.h"
#include "hungwindow.h"
#include "observe.h"
#include "record.h"
#include "serverexchange.h"
#include "standin.h"
#include "stress.h"

namespace {

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

struct Counts
{
    size_t handles;
    size_t views;
};

Counts Measure()
{
    return {CountHandles(GetCurrentProcess()), CountMappedViews()};
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

// Another program's object under the block's name, with which no exchange can use the block.
struct SquatCase
{
    const char* what;
    std::unique_ptr<BlockSquat> (*make)();
};

std::unique_ptr<BlockSquat> MutexOfTheName()
{
    return std::make_unique<BlockSquat>(kOtherObjects[0].make());
}

std::unique_ptr<BlockSquat> FileOfEightBytes()
{
    return std::make_unique<BlockSquat>(8, PAGE_READWRITE, nullptr, BlockSquat::Backing::File);
}

} // namespace

TEST(ExchangeResources, NoHandleOrViewStaysBehindHoweverTheExchangeEnds)
{
    const int pairs = StressCount(500, 10000);
    ClientWindow client;
    ASSERT_NE(client.Get(), nullptr);
    size_t exchanged = 0;

    {
        AcpiServerStandIn server(ACPISERVER_EXE);
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
        const size_t sent = 2 * (5 + pairs) + 1 + 8 * sequences;
        const size_t received = server.Requests().size();
        EXPECT_EQ(received, sent);
        printf("[ figures  ] InstallZel exchange, requests the server got: %zu of %zu\n", received, sent);
    }
    // The server is there, but the block cannot be used: nothing may reach the server.
    const SquatCase squats[] = {
        {"block name held by a mutex", MutexOfTheName},
        {"block too small for a record", FileOfEightBytes},
    };
    for (const SquatCase& c : squats) {
        AcpiServerStandIn server(ACPISERVER_EXE);
        ASSERT_TRUE(server.Start());
        std::unique_ptr<BlockSquat> squat = c.make();
        ASSERT_TRUE(squat->Made()) << c.what;
        RunExchanges(c.what, client.Get(), pairs, &exchanged);
        EXPECT_EQ(server.Requests().size(), 0u) << c.what;
    }
    {
        // A window of the server's class whose thread stops handling messages: once it is hung,
        // every send to it fails at once.
        HungWindow server(kAcpiServerClassW, L"VornAcpiServer");
        ASSERT_NE(server.Window(), nullptr);
        Sleep(6000);
        RunExchanges("server that no longer answers", client.Get(), pairs, &exchanged);
    }
    printf("[ figures  ] InstallZel exchange: %zu exchanges over 4 ways of ending\n", exchanged);
}
