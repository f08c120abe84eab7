// A stand-in for the shell's notification area, for the tests: a hidden top-level window of class
// "Shell_TrayWnd". Made after Wine's own, it is the one Shell_NotifyIcon finds, so it decides what
// every program's icon requests get; once it is gone, Wine's tray is found again. It keeps the
// icons it accepted as a shell does, answers from a small script, broadcasts "TaskbarCreated" when
// its driver says so (harness/shellstandin.h), and logs every request.
//
//   shellstandin --log FILE [--refuse-first N] [--refuse-for MS] [--refuse-percent P] [--seed S]
//                [--late MS] [--time-out MS] [--vanish-at N]
//
// --refuse-first N    refuses the first N requests
// --refuse-for MS     refuses the requests that come within MS of the start (4294967295: for good)
// --refuse-percent P  of the requests the two above name, refuses P percent at random (100)
// --seed S            seeds the random refusals (1)
// --late MS           answers each request only after MS, as a shell busy with something else
// --time-out MS       a refused request is not dropped: after MS it is carried out and answered 0,
//                     which is what a caller on Windows sees when its wait for a busy shell ends
//                     and the shell catches up later
// --vanish-at N       at the N-th request destroys its window instead of answering, and ends
// Whatever no rule refuses is answered as a shell does: an add of an icon it has, and a modify or
// delete of one it lacks, fail.
//
// The driver's own requests, which change nothing (uFlags 0: a look whether an icon is there, or a
// delete), are logged apart ("from=driver"), answered at once as a shell that is not busy, and not
// counted by the rules.
//
// Windows's own shell receives another record in WM_COPYDATA; the stand-in reads Wine's.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include "shellicon.h"
#include "shellstandin.h"

namespace {

struct Script
{
    DWORD refuseFirst = 0;
    DWORD refuseForMs = 0;
    DWORD refusePercent = 100;
    DWORD lateMs = 0;
    DWORD timeOutMs = 0;
    DWORD vanishAt = 0;
};

Script g_script;
HANDLE g_log = INVALID_HANDLE_VALUE;
DWORD g_startTick;
DWORD g_requests;
// Refuses the programs' next requests, as a shell busy after a restart (kShellRestart's wParam).
DWORD g_busyRequests;
unsigned g_random = 1;
std::set<std::pair<HWND, UINT>> g_icons;

// A broadcast that a hung window cannot hold for long.
const DWORD kBroadcastTimeoutMs = 10000;

unsigned Random()
{
    // xorshift32: repeatable from the seed.
    g_random ^= g_random << 13;
    g_random ^= g_random >> 17;
    g_random ^= g_random << 5;
    return g_random;
}

std::string Hex(UINT_PTR value)
{
    char text[24];
    snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

void Log(const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::string line = FormatNote(pairs) + "\r\n";
    DWORD written = 0;
    WriteFile(g_log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void LogEvent(const char* event)
{
    Log({{"event", event}, {"tick", std::to_string(GetTickCount())}, {"icons", std::to_string(g_icons.size())}});
}

bool Refuses(DWORD serial)
{
    if (g_busyRequests) {
        --g_busyRequests;
        return true;
    }
    bool named = serial <= g_script.refuseFirst || GetTickCount() - g_startTick < g_script.refuseForMs;
    return named && (g_script.refusePercent >= 100 || Random() % 100 < g_script.refusePercent);
}

// What a shell that is not busy makes of the request.
const char* Answer(DWORD code, std::pair<HWND, UINT> icon)
{
    bool known = g_icons.count(icon) != 0;
    switch (code) {
    case NIM_ADD:
        if (known)
            return kAnswerDuplicate;
        g_icons.insert(icon);
        return kAnswerAccepted;
    case NIM_MODIFY:
        return known ? kAnswerAccepted : kAnswerUnknown;
    case NIM_DELETE:
        if (!known)
            return kAnswerUnknown;
        g_icons.erase(icon);
        return kAnswerAccepted;
    default:
        return kAnswerAccepted;
    }
}

LRESULT OnCopyData(HWND window, const COPYDATASTRUCT* data)
{
    DWORD tick = GetTickCount();
    // Wine's record begins with the owner window (a 32-bit LONG), the icon identifier and uFlags.
    LONG owner = 0;
    UINT identifier = 0;
    UINT flags = 0;
    const BYTE* record = static_cast<const BYTE*>(data->lpData);
    if (data->cbData >= sizeof(LONG) + 2 * sizeof(UINT)) {
        memcpy(&owner, record, sizeof(owner));
        memcpy(&identifier, record + sizeof(owner), sizeof(identifier));
        memcpy(&flags, record + sizeof(owner) + sizeof(identifier), sizeof(flags));
    }
    std::pair<HWND, UINT> icon(reinterpret_cast<HWND>(static_cast<LONG_PTR>(owner)), identifier);
    const DWORD code = static_cast<DWORD>(data->dwData);
    const bool fromDriver = flags == 0;

    const char* answer = nullptr;
    DWORD serial = 0;
    if (!fromDriver) {
        serial = ++g_requests;
        if (serial == g_script.vanishAt)
            answer = kAnswerVanished;
        else if (Refuses(serial))
            answer = g_script.timeOutMs ? kAnswerTimedOut : kAnswerRefused;
        if (g_script.lateMs)
            Sleep(g_script.lateMs);
        if (answer == kAnswerTimedOut) {
            Sleep(g_script.timeOutMs);
            Answer(code, icon);
        }
    }
    if (!answer)
        answer = Answer(code, icon);
    Log({{"event", "request"}, {"from", fromDriver ? "driver" : "program"}, {"tick", std::to_string(tick)},
         {"serial", std::to_string(serial)}, {"code", std::to_string(code)},
         {"owner", Hex(reinterpret_cast<UINT_PTR>(icon.first))}, {"id", std::to_string(identifier)},
         {"flags", std::to_string(flags)}, {"answer", answer}, {"icons", std::to_string(g_icons.size())}});

    if (answer == kAnswerVanished) {
        DestroyWindow(window);
        return FALSE;
    }
    return answer == kAnswerAccepted;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COPYDATA:
        return OnCopyData(window, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case kShellRestart:
        g_icons.clear();
        g_busyRequests = static_cast<DWORD>(wParam);
        LogEvent("restart");
        BroadcastTaskbarCreated(kBroadcastTimeoutMs);
        return 1;
    case kShellBroadcast:
        LogEvent("broadcast");
        BroadcastTaskbarCreated(kBroadcastTimeoutMs);
        return 1;
    case kShellLeave:
        LogEvent("leave");
        DestroyWindow(window);
        if (wParam)
            BroadcastTaskbarCreated(kBroadcastTimeoutMs);
        return 1;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

DWORD Number(const char* text)
{
    return static_cast<DWORD>(strtoul(text, nullptr, 0));
}

bool ReadScript(int argc, char** argv, const char** logPath)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* option = argv[i];
        const char* value = argv[i + 1];
        if (strcmp(option, "--log") == 0)
            *logPath = value;
        else if (strcmp(option, "--refuse-first") == 0)
            g_script.refuseFirst = Number(value);
        else if (strcmp(option, "--refuse-for") == 0)
            g_script.refuseForMs = Number(value);
        else if (strcmp(option, "--refuse-percent") == 0)
            g_script.refusePercent = Number(value);
        else if (strcmp(option, "--seed") == 0)
            g_random = Number(value) ? Number(value) : 1;
        else if (strcmp(option, "--late") == 0)
            g_script.lateMs = Number(value);
        else if (strcmp(option, "--time-out") == 0)
            g_script.timeOutMs = Number(value);
        else if (strcmp(option, "--vanish-at") == 0)
            g_script.vanishAt = Number(value);
        else
            return false;
    }
    return argc % 2 == 1 && *logPath;
}

} // namespace

int main(int argc, char** argv)
{
    const char* logPath = nullptr;
    if (!ReadScript(argc, argv, &logPath)) {
        fprintf(stderr, "usage: shellstandin --log FILE [--refuse-first N] [--refuse-for MS] "
                        "[--refuse-percent P] [--seed S] [--late MS] [--time-out MS] [--vanish-at N]\n");
        return 2;
    }
    g_log = CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_log == INVALID_HANDLE_VALUE)
        return 3;
    g_startTick = GetTickCount();

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kShellTrayClass;
    RegisterClassA(&windowClass);
    // Top-level, as the shell's own: Shell_NotifyIcon looks for it with FindWindow.
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, kShellTrayClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window)
        return 4;
    Log({{"event", "start"}, {"tick", std::to_string(g_startTick)}, {"window", Hex(reinterpret_cast<UINT_PTR>(window))}});

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    LogEvent("end");
    CloseHandle(g_log);
    return 0;
}
