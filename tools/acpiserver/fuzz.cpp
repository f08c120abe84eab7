#include "fuzz.h"
#include <string>
#include "handles.h"
#include "log.h"
#include "random.h"
#include "record.h"

namespace {

struct Fuzz
{
    HWND target;
    UINT32 count;
    UINT32 sent = 0;
    UINT32 posted = 0;
    UINT32 refused = 0;
};

UINT RandomMessage()
{
    static const UINT kMeaningful[] = {
        WM_CREATE,   WM_DESTROY,        WM_NCCREATE,   WM_NCDESTROY,  WM_CLOSE,          WM_QUIT,
        WM_PAINT,    WM_QUERYENDSESSION, WM_ENDSESSION, WM_TIMER,      WM_SYSCOMMAND,     WM_SHOWWINDOW,
        WM_ACTIVATEAPP, WM_SETTEXT,     WM_GETTEXT,    WM_COMMAND,    kServerRequestMessage, WM_USER,
    };
    switch (Random() % 4) {
    case 0:
        return kMeaningful[Random() % (sizeof(kMeaningful) / sizeof(kMeaningful[0]))];
    case 1:
        return Random() % WM_USER;
    case 2:
        return WM_USER + Random() % (0xC000 - WM_USER);
    default:
        return 0xC000 + Random() % 0x4000;
    }
}

WPARAM RandomWParam(UINT message)
{
    static const WPARAM kSystemCommands[] = {SC_CLOSE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE, SC_KEYMENU,
                                             SC_TASKLIST, SC_SCREENSAVE, SC_MONITORPOWER, SC_HOTKEY};
    if (message == WM_SYSCOMMAND && Random() % 2)
        return kSystemCommands[Random() % (sizeof(kSystemCommands) / sizeof(kSystemCommands[0]))];
    return Random() % 2 ? Random() % 16 : RandomParam();
}

DWORD WINAPI FuzzThread(void* param)
{
    Fuzz& fuzz = *static_cast<Fuzz*>(param);
    for (UINT32 i = 0; i < fuzz.count; ++i) {
        UINT message = RandomMessage();
        WPARAM wParam = RandomWParam(message);
        LPARAM lParam = static_cast<LPARAM>(Random() % 2 ? Random() % 16 : RandomParam());
        DWORD_PTR result = 0;
        bool delivered;
        switch (Random() % 3) {
        case 0:
            delivered = SendMessageTimeoutW(fuzz.target, message, wParam, lParam, SMTO_NORMAL, 200, &result) != 0;
            fuzz.sent += delivered;
            break;
        case 1:
            delivered = SendNotifyMessageW(fuzz.target, message, wParam, lParam) != FALSE;
            fuzz.sent += delivered;
            break;
        default:
            delivered = PostMessageW(fuzz.target, message, wParam, lParam) != FALSE;
            fuzz.posted += delivered;
            break;
        }
        fuzz.refused += !delivered;
    }
    return 0;
}

} // namespace

void FuzzClient(HWND target, UINT32 count)
{
    Fuzz fuzz = {target, count};
    unique_handle thread(CreateThread(nullptr, 0, FuzzThread, &fuzz, 0, nullptr));
    if (thread)
        WaitForSingleObject(thread.get(), INFINITE);
    LogNote("fuzz", {{"messages", std::to_string(count)},
                     {"target", HexText(static_cast<UINT32>(reinterpret_cast<UINT_PTR>(target)))},
                     {"sent", std::to_string(fuzz.sent)},
                     {"posted", std::to_string(fuzz.posted)},
                     {"refused", std::to_string(fuzz.refused)}});
}
