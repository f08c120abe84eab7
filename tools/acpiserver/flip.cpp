#include "flip.h"
#include <string>
#include "handles.h"
#include "log.h"
#include "record.h"

namespace {

const LONGLONG kFlipGapUs = 10;
const LONGLONG kFlipHoldUs = 40;

struct Flipper
{
    unique_handle thread;
    unique_handle started;
    unique_handle block;
    unique_mapview_ptr view;
    volatile LONG stop = 0;
    UINT32 value = 1;
    UINT32 status = 1;
    LONG flips = 0;
};
Flipper g_flipper;

void SpinMicroseconds(LONGLONG us)
{
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    do
        QueryPerformanceCounter(&now);
    while ((now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart < us);
}

DWORD WINAPI FlipThread(void*)
{
    auto* record = static_cast<ServerRecord*>(g_flipper.view.get());
    volatile LONG* value = reinterpret_cast<volatile LONG*>(&record->value);
    volatile LONG* status = reinterpret_cast<volatile LONG*>(&record->status);
    SetEvent(g_flipper.started.get());
    // From (V,0), as the reply was written: (0,0), (0,S), (0,0), (V,0), ...
    for (int step = 0; !g_flipper.stop; step = (step + 1) % 4) {
        SpinMicroseconds(step % 2 ? kFlipGapUs : kFlipHoldUs);
        switch (step) {
        case 0:
            InterlockedExchange(value, 0);
            break;
        case 1:
            InterlockedExchange(status, static_cast<LONG>(g_flipper.status));
            break;
        case 2:
            InterlockedExchange(status, 0);
            break;
        case 3:
            InterlockedExchange(value, static_cast<LONG>(g_flipper.value));
            break;
        }
        ++g_flipper.flips;
    }
    return 0;
}

} // namespace

void StartFlipping(UINT32 value, UINT32 status)
{
    // A view of its own: the block outlives the request as long as the thread holds it.
    g_flipper.block.reset(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kRequestBlockName));
    if (g_flipper.block)
        g_flipper.view.reset(MapViewOfFile(g_flipper.block.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ServerRecord)));
    if (!g_flipper.view) {
        LogNote("flip", {{"block", "unusable"}});
        g_flipper.block.reset();
        return;
    }
    g_flipper.stop = 0;
    g_flipper.value = value;
    g_flipper.status = status;
    g_flipper.flips = 0;
    g_flipper.started.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_flipper.thread.reset(CreateThread(nullptr, 0, FlipThread, nullptr, 0, nullptr));
    WaitForSingleObject(g_flipper.started.get(), INFINITE);
}

void StopFlipping()
{
    if (!g_flipper.thread)
        return;
    InterlockedExchange(&g_flipper.stop, 1);
    WaitForSingleObject(g_flipper.thread.get(), INFINITE);
    g_flipper.thread.reset();
    g_flipper.started.reset();
    g_flipper.view.reset();
    g_flipper.block.reset();
    LogNote("flip", {{"changes", std::to_string(g_flipper.flips)}});
}
