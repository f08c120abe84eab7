#include "recreate.h"
#include <string.h>
#include <string>
#include "handles.h"
#include "log.h"
#include "record.h"

namespace {

const BYTE kTailFill = 0xEE;

unique_handle g_recreateThread;
volatile LONG g_stopping;
// The block the thread made, handed over to the window's thread, which then keeps it.
HANDLE volatile g_madeBlock;
DWORD volatile g_madeBlockSize;
unique_handle g_ownBlock;
DWORD g_ownBlockSize;

DWORD WINAPI RecreateThread(void* param)
{
    const DWORD size = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(param));
    // The old block lives on while the client holds it; only a creation that finds no block of the
    // name makes a new one. The client lets go between two requests for a moment only.
    DWORD start = GetTickCount();
    while (!g_stopping) {
        unique_handle block(
            CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, kRequestBlockName));
        if (block && GetLastError() != ERROR_ALREADY_EXISTS) {
            // Only bytes no request covers: the client may be writing its next request already.
            unique_mapview_ptr view(MapViewOfFile(block.get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
            if (view)
                memset(static_cast<BYTE*>(view.get()) + sizeof(ServerRecord), kTailFill, size - sizeof(ServerRecord));
            g_madeBlockSize = size;
            InterlockedExchangePointer(const_cast<HANDLE*>(&g_madeBlock), block.release());
            LogNote("recreated", {{"bytes", std::to_string(size)},
                                  {"after_ms", std::to_string(GetTickCount() - start)}});
            return 0;
        }
        Sleep(0);
    }
    return 0;
}

// Takes over a block the thread has made since the last look.
void AdoptMadeBlock()
{
    if (HANDLE block = InterlockedExchangePointer(const_cast<HANDLE*>(&g_madeBlock), nullptr)) {
        g_ownBlock.reset(block);
        g_ownBlockSize = g_madeBlockSize;
    }
}

} // namespace

void StartRecreating(DWORD size)
{
    if (g_recreateThread && WaitForSingleObject(g_recreateThread.get(), 0) == WAIT_TIMEOUT) {
        LogNote("recreate", {{"pending", "1"}});
        return;
    }
    // The thread only hands over the new block; the old one is let go here.
    AdoptMadeBlock();
    g_ownBlock.reset();
    g_recreateThread.reset(CreateThread(nullptr, 0, RecreateThread,
                                        reinterpret_cast<void*>(static_cast<UINT_PTR>(size)), 0, nullptr));
}

void CheckOwnBlockTail()
{
    AdoptMadeBlock();
    if (!g_ownBlock || g_ownBlockSize <= sizeof(ServerRecord))
        return;
    unique_mapview_ptr view(MapViewOfFile(g_ownBlock.get(), FILE_MAP_ALL_ACCESS, 0, 0, g_ownBlockSize));
    if (!view)
        return;
    const BYTE* bytes = static_cast<const BYTE*>(view.get());
    DWORD changed = 0;
    for (DWORD i = sizeof(ServerRecord); i < g_ownBlockSize; ++i)
        changed += bytes[i] != kTailFill;
    LogNote("tail", {{"changed", std::to_string(changed)},
                     {"of", std::to_string(g_ownBlockSize - sizeof(ServerRecord))}});
}

void StopRecreating()
{
    InterlockedExchange(&g_stopping, 1);
    if (g_recreateThread)
        WaitForSingleObject(g_recreateThread.get(), INFINITE);
}
