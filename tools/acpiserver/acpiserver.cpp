// A stand-in for the Vorn ACPI server, for the tests and the demo: a hidden top-level window that
// answers InstallZel's requests from a small script and logs every request and reply. Besides a
// well-behaved server it can play a broken or hostile one.
//
//   acpiserver [--title TITLE] [--log FILE] [--seed N] [--on WHEN REPLY]...
//
// TITLE is the window's title ("VornAcpiServer"); FILE is the log ("acpiserver.log"); N seeds the
// random replies and messages (1).
// WHEN names the requests a rule answers: register, unregister, query:CODE or set:CODE (CODE is a
// device switch such as CAMS, or * for every switch), or * for every request. The first rule that
// matches wins.
// REPLY is a comma-separated list of
//   FIELD=NUMBER   writes the field (subject, count, argument, value, command, reserved or status);
//                  numbers are decimal or 0x hexadecimal
//   hang=MS        sleeps MS milliseconds inside the window procedure before replying
//                  (4294967295: for good)
//   untouched      leaves the block as the client wrote it
//   garbage        replies with random bytes, each field zero a third of the time; FIELD=NUMBER
//                  items still apply on top
//   flip           replies with status 0, then keeps changing value and status one at a time
//                  through (V,0) (0,0) (0,S) (0,0), V and S being the rule's value and status (or
//                  1), until the next request: the two are never nonzero together
//   fuzz=COUNT     before replying, sends and posts COUNT random messages to the client window
//                  from another thread, while the client waits for the reply
//   recreate=SIZE  after replying, drops the block and, as soon as the client has let go of it
//                  too, makes a new one of SIZE (at least 24) bytes that it keeps open; bytes
//                  from 24 on are filled with EE, and each later request checks that they stayed so
//   vanish         after replying, destroys the window; the stand-in ends
//   renew          after replying, destroys the window and creates another one in its place
//   exit           ends the stand-in at once, in the middle of the request, without a reply
// After the given rules come those of a server that allows every switch:
//   --on query:* value=1,status=1 --on * status=1
//
// Each log line is: milliseconds since the start, "request" or "reply", the 24 bytes in block order
// grouped by field, and the record decoded; or "note" and what else happened.
#include <windows.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <sstream>
#include <string>
#include <vector>
#include "record.h"

namespace {

const wchar_t kClientClassName[] = L"INSTALLZEL";
const BYTE kTailFill = 0xEE;

struct Field
{
    const wchar_t* name;
    size_t offset;
    size_t width;
};
const Field kFields[] = {
    {L"subject", offsetof(ServerRecord, subject), 4}, {L"count", offsetof(ServerRecord, count), 4},
    {L"argument", offsetof(ServerRecord, argument), 4}, {L"value", offsetof(ServerRecord, value), 4},
    {L"command", offsetof(ServerRecord, command), 2}, {L"reserved", offsetof(ServerRecord, reserved), 2},
    {L"status", offsetof(ServerRecord, status), 4},
};
const size_t kFieldCount = sizeof(kFields) / sizeof(kFields[0]);
const size_t kValueField = 3;
const size_t kStatusField = 6;

// What becomes of the stand-in's window once a request is answered.
enum class WindowFate { Stays, Vanishes, Renewed, ExitsAtOnce };

struct Reply
{
    bool untouched = false;
    DWORD hangMs = 0;
    bool garbage = false;
    bool flip = false;
    UINT32 fuzzCount = 0;
    DWORD recreateSize = 0;
    WindowFate fate = WindowFate::Stays;
    bool writes[kFieldCount] = {};
    UINT32 values[kFieldCount] = {};
};

struct Rule
{
    std::string when;
    Reply reply;
};

std::vector<Rule> g_rules;
HANDLE g_log = INVALID_HANDLE_VALUE;
CRITICAL_SECTION g_logLock;
DWORD g_startTick;
const wchar_t* g_title = L"VornAcpiServer";
UINT64 g_random = 1;
// The window named by the last register request, described again at unregistration.
HWND g_client;
// Set while the window is destroyed to make way for a new one.
bool g_renewing;

UINT32 Random()
{
    // xorshift64*: repeatable from the seed, good enough for replies and messages.
    g_random ^= g_random >> 12;
    g_random ^= g_random << 25;
    g_random ^= g_random >> 27;
    return static_cast<UINT32>((g_random * 2685821657736338717ULL) >> 32);
}

UINT_PTR RandomParam()
{
    return static_cast<UINT_PTR>((static_cast<UINT64>(Random()) << 32) | Random());
}

UINT32 FieldValue(const ServerRecord& record, const Field& field)
{
    UINT32 value = 0;
    memcpy(&value, reinterpret_cast<const BYTE*>(&record) + field.offset, field.width);
    return value;
}

void SetField(ServerRecord& record, const Field& field, UINT32 value)
{
    memcpy(reinterpret_cast<BYTE*>(&record) + field.offset, &value, field.width);
}

// A four-character code as its text when it is one, otherwise as a number.
std::string CodeText(UINT32 code)
{
    char text[16];
    memcpy(text, &code, 4);
    for (int i = 0; i < 4; ++i)
        if (text[i] < 0x20 || text[i] > 0x7E) {
            snprintf(text, sizeof(text), "0x%X", code);
            return text;
        }
    text[4] = '\0';
    return text;
}

// How the client builds its requests: a query names QURY, a set carries 1 in count and argument
// (its command is whatever the query's reply left), register and unregister say so in command.
std::string RequestKind(const ServerRecord& request)
{
    if (CodeText(request.subject) == "QURY")
        return "query:" + CodeText(request.argument);
    if (request.count == 1 && request.argument == 1)
        return "set:" + CodeText(request.subject);
    if (request.command == 1)
        return "register";
    if (request.command == 2)
        return "unregister";
    return "unknown";
}

std::string Decode(const ServerRecord& record)
{
    std::string text;
    char part[64];
    for (const Field& field : kFields) {
        UINT32 value = FieldValue(record, field);
        bool isCode =
            field.offset == offsetof(ServerRecord, subject) || field.offset == offsetof(ServerRecord, argument);
        if (isCode && value > 0xFFFFFF)
            snprintf(part, sizeof(part), "%ls=%s ", field.name, CodeText(value).c_str());
        else
            snprintf(part, sizeof(part), value < 10 ? "%ls=%u " : "%ls=0x%X ", field.name, value);
        text += part;
    }
    text.pop_back();
    return text;
}

std::string DescribeWindow(HWND window)
{
    if (!window)
        return "client none";
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char text[160];
    snprintf(text, sizeof(text), "client 0x%X class=%ls pid=%lu %s", static_cast<UINT32>(reinterpret_cast<UINT_PTR>(window)),
             className, processId, IsWindowVisible(window) ? "visible" : "hidden");
    return text;
}

// Threads of the stand-in log too; each line goes out whole.
void LogLine(const std::string& line)
{
    std::string text = line + "\r\n";
    DWORD written = 0;
    EnterCriticalSection(&g_logLock);
    WriteFile(g_log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    LeaveCriticalSection(&g_logLock);
}

void LogNote(const std::string& note)
{
    char line[32];
    snprintf(line, sizeof(line), "%8lu note     ", GetTickCount() - g_startTick);
    LogLine(line + note);
}

void LogRecord(const char* what, const ServerRecord& record, const std::string& note)
{
    char line[32];
    snprintf(line, sizeof(line), "%8lu %-8s ", GetTickCount() - g_startTick, what);
    LogLine(line + FormatRecord(record) + "  " + note);
}

// "*" matches every request, "query:*" every query, "query:CAMS" that one.
bool Matches(const std::string& when, const std::string& kind)
{
    if (when == "*" || when == kind)
        return true;
    size_t prefix = when.size() - 1;
    return when.size() >= 2 && when.back() == '*' && kind.compare(0, prefix, when, 0, prefix) == 0;
}

const Reply& ReplyFor(const std::string& kind)
{
    // The last rule, "*", matches every request.
    size_t i = 0;
    while (!Matches(g_rules[i].when, kind))
        ++i;
    return g_rules[i].reply;
}

std::string ReplyNote(const Reply& reply)
{
    std::string note;
    if (reply.hangMs)
        note += " after " + std::to_string(reply.hangMs) + " ms";
    if (reply.untouched)
        note += " untouched";
    if (reply.garbage)
        note += " garbage";
    if (reply.flip)
        note += " flipping";
    return note.empty() ? note : " (" + note.substr(1) + ")";
}

// Random bytes in which every field is zero, small or anything, a third of the time each, so that
// both ways of every decision the client makes on a reply come up.
ServerRecord GarbageRecord()
{
    ServerRecord record;
    for (const Field& field : kFields) {
        UINT32 kind = Random() % 3;
        SetField(record, field, kind == 0 ? 0 : kind == 1 ? 1 + Random() % 3 : Random());
    }
    return record;
}

// The flipping reply: a thread that keeps rewriting value and status in the block until the next
// request comes. Each step changes one of them, with a (0,0) state between a nonzero value and a
// nonzero status, so no moment has both nonzero and a client that decides on one copy of the
// reply never sees them so. A (0,0) state lasts far longer than one copy of the record takes;
// the states with one of them nonzero last longer still, so that a client reading value and
// status at two moments often finds both nonzero.
struct Flipper
{
    HANDLE thread = nullptr;
    HANDLE started = nullptr;
    HANDLE block = nullptr;
    ServerRecord* record = nullptr;
    volatile LONG stop = 0;
    UINT32 value = 1;
    UINT32 status = 1;
    LONG flips = 0;
};
Flipper g_flipper;
const LONGLONG kFlipGapUs = 10;
const LONGLONG kFlipHoldUs = 40;

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
    volatile LONG* value = reinterpret_cast<volatile LONG*>(&g_flipper.record->value);
    volatile LONG* status = reinterpret_cast<volatile LONG*>(&g_flipper.record->status);
    SetEvent(g_flipper.started);
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

// The nonzero value or status a flipping reply shows: the rule's, or 1.
UINT32 FlipValue(const Reply& reply, size_t field)
{
    return reply.values[field] ? reply.values[field] : 1;
}

// Called before the reply goes back, so that the client reads a reply that is already changing.
void StartFlipping(UINT32 value, UINT32 status)
{
    // A view of its own: the block outlives the request as long as the thread holds it.
    g_flipper.block = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kRequestBlockName);
    g_flipper.record = g_flipper.block ? static_cast<ServerRecord*>(
                                             MapViewOfFile(g_flipper.block, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ServerRecord)))
                                       : nullptr;
    if (!g_flipper.record) {
        LogNote("flip: the block cannot be used");
        if (g_flipper.block)
            CloseHandle(g_flipper.block);
        g_flipper.block = nullptr;
        return;
    }
    g_flipper.stop = 0;
    g_flipper.value = value;
    g_flipper.status = status;
    g_flipper.flips = 0;
    g_flipper.started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_flipper.thread = CreateThread(nullptr, 0, FlipThread, nullptr, 0, nullptr);
    WaitForSingleObject(g_flipper.started, INFINITE);
}

void StopFlipping()
{
    if (!g_flipper.thread)
        return;
    InterlockedExchange(&g_flipper.stop, 1);
    WaitForSingleObject(g_flipper.thread, INFINITE);
    CloseHandle(g_flipper.thread);
    CloseHandle(g_flipper.started);
    UnmapViewOfFile(g_flipper.record);
    CloseHandle(g_flipper.block);
    g_flipper.thread = nullptr;
    LogNote("flip: value and status changed " + std::to_string(g_flipper.flips) + " times");
}

// Random messages to the client window from a thread of its own, as another program would send
// them: first those a window procedure gives a meaning to, then any number in the whole range.
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

void FuzzClient(UINT32 count)
{
    Fuzz fuzz = {g_client ? g_client : FindWindowW(kClientClassName, nullptr), count};
    HANDLE thread = CreateThread(nullptr, 0, FuzzThread, &fuzz, 0, nullptr);
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    char note[160];
    snprintf(note, sizeof(note), "fuzz: %u messages to 0x%X: %u sent, %u posted, %u refused", count,
             static_cast<UINT32>(reinterpret_cast<UINT_PTR>(fuzz.target)), fuzz.sent, fuzz.posted, fuzz.refused);
    LogNote(note);
}

// The block the stand-in made itself and keeps, once it has re-created one.
HANDLE g_ownBlock;
DWORD g_ownBlockSize;

volatile LONG g_stopping;

DWORD WINAPI RecreateThread(void* param)
{
    const DWORD size = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(param));
    // The old block lives on while the client holds it; only a creation that finds no block of the
    // name makes a new one. The client lets go between two requests for a moment only.
    DWORD start = GetTickCount();
    while (!g_stopping) {
        HANDLE block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, kRequestBlockName);
        if (block && GetLastError() != ERROR_ALREADY_EXISTS) {
            // Only bytes no request covers: the client may be writing its next request already.
            if (BYTE* view = static_cast<BYTE*>(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, size))) {
                memset(view + sizeof(ServerRecord), kTailFill, size - sizeof(ServerRecord));
                UnmapViewOfFile(view);
            }
            g_ownBlockSize = size;
            InterlockedExchangePointer(&g_ownBlock, block);
            LogNote("block re-created: " + std::to_string(size) + " bytes, " +
                    std::to_string(GetTickCount() - start) + " ms after the reply");
            return 0;
        }
        if (block)
            CloseHandle(block);
        Sleep(0);
    }
    return 0;
}

HANDLE g_recreateThread;

void StartRecreating(DWORD size)
{
    if (g_recreateThread && WaitForSingleObject(g_recreateThread, 0) == WAIT_TIMEOUT) {
        LogNote("block re-creation still pending");
        return;
    }
    if (g_recreateThread)
        CloseHandle(g_recreateThread);
    // The thread only publishes the new block; the old one is let go here.
    if (g_ownBlock)
        CloseHandle(g_ownBlock);
    g_ownBlock = nullptr;
    g_recreateThread = CreateThread(nullptr, 0, RecreateThread, reinterpret_cast<void*>(static_cast<UINT_PTR>(size)),
                                    0, nullptr);
}

// Once every request: the bytes of the stand-in's own block that lie beyond the record.
void CheckOwnBlockTail()
{
    if (!g_ownBlock || g_ownBlockSize <= sizeof(ServerRecord))
        return;
    BYTE* view = static_cast<BYTE*>(MapViewOfFile(g_ownBlock, FILE_MAP_ALL_ACCESS, 0, 0, g_ownBlockSize));
    if (!view)
        return;
    DWORD changed = 0;
    for (DWORD i = sizeof(ServerRecord); i < g_ownBlockSize; ++i)
        changed += view[i] != kTailFill;
    UnmapViewOfFile(view);
    LogNote("block tail: " + std::to_string(changed) + " of " + std::to_string(g_ownBlockSize - sizeof(ServerRecord)) +
            " bytes beyond the record changed");
}

HWND CreateServerWindow()
{
    // Top-level and hidden: the client finds it with FindWindow, which skips message-only windows.
    return CreateWindowExW(0, kAcpiServerClassW, g_title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

void MeetFate(HWND window, WindowFate fate)
{
    char note[96];
    switch (fate) {
    case WindowFate::Stays:
    case WindowFate::ExitsAtOnce:
        break;
    case WindowFate::Vanishes:
        LogNote("window destroyed");
        DestroyWindow(window);
        break;
    case WindowFate::Renewed: {
        g_renewing = true;
        DestroyWindow(window);
        g_renewing = false;
        HWND renewed = CreateServerWindow();
        snprintf(note, sizeof(note), "window 0x%X destroyed, 0x%X in its place",
                 static_cast<UINT32>(reinterpret_cast<UINT_PTR>(window)),
                 static_cast<UINT32>(reinterpret_cast<UINT_PTR>(renewed)));
        LogNote(note);
        break;
    }
    }
}

// Reads the request, answers it in the same 24 bytes and logs both, all before returning, so
// that the client's send returns only once the reply is in the block.
void OnServerRequest(HWND window)
{
    StopFlipping();
    CheckOwnBlockTail();
    HANDLE block = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kRequestBlockName);
    void* view = block ? MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ServerRecord)) : nullptr;
    if (!view) {
        char line[80];
        snprintf(line, sizeof(line), "%8lu request  (the block cannot be used: error %lu)", GetTickCount() - g_startTick,
                 GetLastError());
        LogLine(line);
        if (block)
            CloseHandle(block);
        return;
    }

    ServerRecord request;
    memcpy(&request, view, sizeof(request));
    std::string kind = RequestKind(request);
    std::string note = kind + "  " + Decode(request);
    if (kind == "register") {
        g_client = reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(request.subject)));
        note += "  " + DescribeWindow(g_client);
    } else if (kind == "unregister") {
        note += "  " + DescribeWindow(g_client);
    }
    LogRecord("request", request, note);

    const Reply& reply = ReplyFor(kind);
    if (reply.fate == WindowFate::ExitsAtOnce) {
        LogNote("ending in the middle of the request");
        TerminateProcess(GetCurrentProcess(), 1);
    }
    if (reply.fuzzCount)
        FuzzClient(reply.fuzzCount);
    if (reply.hangMs)
        Sleep(reply.hangMs);
    if (!reply.untouched) {
        ServerRecord answer = reply.garbage ? GarbageRecord() : request;
        for (size_t i = 0; i < kFieldCount; ++i)
            if (reply.writes[i])
                SetField(answer, kFields[i], reply.values[i]);
        if (reply.flip) {
            answer.value = FlipValue(reply, kValueField);
            answer.status = 0;
        }
        memcpy(view, &answer, sizeof(answer));
    }
    ServerRecord written;
    memcpy(&written, view, sizeof(written));
    LogRecord("reply", written, Decode(written) + ReplyNote(reply));

    if (reply.flip)
        StartFlipping(FlipValue(reply, kValueField), FlipValue(reply, kStatusField));
    UnmapViewOfFile(view);
    CloseHandle(block);
    if (reply.recreateSize)
        StartRecreating(reply.recreateSize);
    MeetFate(window, reply.fate);
}

LRESULT CALLBACK ServerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kServerRequestMessage:
        OnServerRequest(window);
        return 0;
    case WM_DESTROY:
        if (!g_renewing)
            PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool ParseNumber(const wchar_t* text, UINT32* number)
{
    wchar_t* end = nullptr;
    *number = wcstoul(text, &end, 0);
    return *text && !*end;
}

bool ParseReply(const wchar_t* text, Reply* reply)
{
    std::wistringstream items(text);
    std::wstring item;
    while (std::getline(items, item, L',')) {
        if (item == L"untouched") {
            reply->untouched = true;
            continue;
        }
        if (item == L"garbage" || item == L"flip") {
            (item == L"garbage" ? reply->garbage : reply->flip) = true;
            continue;
        }
        if (item == L"vanish" || item == L"renew" || item == L"exit") {
            reply->fate = item == L"vanish" ? WindowFate::Vanishes
                        : item == L"renew"  ? WindowFate::Renewed
                                            : WindowFate::ExitsAtOnce;
            continue;
        }
        size_t equals = item.find(L'=');
        UINT32 number = 0;
        if (equals == std::wstring::npos || !ParseNumber(item.c_str() + equals + 1, &number))
            return false;
        std::wstring name = item.substr(0, equals);
        if (name == L"hang") {
            reply->hangMs = number;
            continue;
        }
        if (name == L"fuzz") {
            reply->fuzzCount = number;
            continue;
        }
        if (name == L"recreate") {
            if (number < sizeof(ServerRecord))
                return false;
            reply->recreateSize = number;
            continue;
        }
        size_t i = 0;
        while (i < kFieldCount && name != kFields[i].name)
            ++i;
        if (i == kFieldCount)
            return false;
        reply->writes[i] = true;
        reply->values[i] = number;
    }
    return true;
}

std::string Narrow(const wchar_t* text)
{
    char buffer[64];
    snprintf(buffer, sizeof(buffer), "%ls", text);
    return buffer;
}

bool AddRule(const wchar_t* when, const wchar_t* reply)
{
    Rule rule;
    rule.when = Narrow(when);
    if (!ParseReply(reply, &rule.reply))
        return false;
    g_rules.push_back(rule);
    return true;
}

int Usage()
{
    fprintf(stderr, "usage: acpiserver [--title TITLE] [--log FILE] [--seed N] [--on WHEN REPLY]...\n"
                    "  WHEN: register, unregister, query:CODE, set:CODE (CODE may be *) or *\n"
                    "  REPLY: comma-separated FIELD=NUMBER, hang=MS, untouched, garbage, flip, fuzz=COUNT,\n"
                    "         recreate=SIZE, vanish, renew, exit\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* logPath = L"acpiserver.log";
    for (int i = 1; i < argc; ++i) {
        UINT32 seed = 0;
        if (wcscmp(argv[i], L"--title") == 0 && i + 1 < argc) {
            g_title = argv[++i];
        } else if (wcscmp(argv[i], L"--log") == 0 && i + 1 < argc) {
            logPath = argv[++i];
        } else if (wcscmp(argv[i], L"--seed") == 0 && i + 1 < argc && ParseNumber(argv[i + 1], &seed)) {
            // xorshift needs a state other than zero.
            g_random = seed ? seed : 1;
            ++i;
        } else if (wcscmp(argv[i], L"--on") == 0 && i + 2 < argc) {
            if (!AddRule(argv[i + 1], argv[i + 2]))
                return Usage();
            i += 2;
        } else {
            return Usage();
        }
    }

    AddRule(L"query:*", L"value=1,status=1");
    AddRule(L"*", L"status=1");

    InitializeCriticalSection(&g_logLock);
    // Shared for reading, so that a test can read the log while the server runs.
    g_log = CreateFileW(logPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    if (g_log == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "acpiserver: cannot write %ls\n", logPath);
        return 1;
    }
    g_startTick = GetTickCount();
    char header[160];
    snprintf(header, sizeof(header), "# acpiserver: title \"%ls\", started at tick %lu", g_title, g_startTick);
    LogLine(header);

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ServerWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kAcpiServerClassW;
    RegisterClassW(&windowClass);
    if (!CreateServerWindow()) {
        fprintf(stderr, "acpiserver: cannot create the window\n");
        return 1;
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    StopFlipping();
    InterlockedExchange(&g_stopping, 1);
    if (g_recreateThread)
        WaitForSingleObject(g_recreateThread, INFINITE);
    CloseHandle(g_log);
    return 0;
}
