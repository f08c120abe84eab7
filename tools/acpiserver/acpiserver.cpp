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
// grouped by field, and the record decoded; or "note", a word and key=value pairs for what else
// happened (harness/serverlog.h writes and reads them).
//
// Here: the window, the request and main. The script, the log and each hostile behaviour have a
// file of their own.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <string>
#include "flip.h"
#include "fuzz.h"
#include "handles.h"
#include "log.h"
#include "random.h"
#include "recreate.h"
#include "record.h"
#include "script.h"
#include "serverlog.h"

namespace {

const wchar_t kClientClassName[] = L"INSTALLZEL";

const wchar_t* g_title = L"VornAcpiServer";
// The window named by the last register request, described again at unregistration.
HWND g_client;
// Set while the window is destroyed to make way for a new one.
bool g_renewing;

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

std::string HandleText(HWND window)
{
    return HexText(static_cast<UINT32>(reinterpret_cast<UINT_PTR>(window)));
}

HWND CreateServerWindow()
{
    // Top-level and hidden: the client finds it with FindWindow, which skips message-only windows.
    return CreateWindowExW(0, kAcpiServerClassW, g_title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

void MeetFate(HWND window, WindowFate fate)
{
    switch (fate) {
    case WindowFate::Stays:
    case WindowFate::ExitsAtOnce:
        break;
    case WindowFate::Vanishes:
        LogNote("vanish", {{"window", HandleText(window)}});
        DestroyWindow(window);
        break;
    case WindowFate::Renewed: {
        g_renewing = true;
        DestroyWindow(window);
        g_renewing = false;
        HWND renewed = CreateServerWindow();
        LogNote("renew", {{"old", HandleText(window)}, {"new", HandleText(renewed)}});
        break;
    }
    }
}

// The reply as the script makes it from the request.
ServerRecord MakeAnswer(const ServerRecord& request, const Reply& reply)
{
    ServerRecord answer = reply.garbage ? RandomRecord() : request;
    for (size_t i = 0; i < sizeof(kRecordFields) / sizeof(kRecordFields[0]); ++i)
        if (reply.writes[i])
            SetField(answer, kRecordFields[i], reply.values[i]);
    if (reply.flip) {
        answer.value = FlipValue(reply);
        answer.status = 0;
    }
    return answer;
}

// Reads the request, answers it in the same 24 bytes and logs both, all before returning, so
// that the client's send returns only once the reply is in the block.
void OnServerRequest(HWND window)
{
    StopFlipping();
    CheckOwnBlockTail();
    const Reply* reply = nullptr;
    {
        unique_handle block(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kRequestBlockName));
        unique_mapview_ptr view;
        if (block)
            view.reset(MapViewOfFile(block.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ServerRecord)));
        if (!view) {
            LogUnusableRequest(GetLastError());
            return;
        }

        ServerRecord request;
        memcpy(&request, view.get(), sizeof(request));
        std::string kind = RequestKind(request);
        std::string note = kind + "  " + DecodeRecord(request);
        if (kind == "register") {
            g_client = reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(request.subject)));
            note += "  " + DescribeWindow(g_client);
        } else if (kind == "unregister") {
            note += "  " + DescribeWindow(g_client);
        }
        LogRecord(true, request, note);

        reply = &ReplyFor(kind);
        if (reply->fate == WindowFate::ExitsAtOnce) {
            LogNote("exit", {{"during", kind}});
            TerminateProcess(GetCurrentProcess(), 1);
        }
        if (reply->fuzzCount)
            FuzzClient(g_client ? g_client : FindWindowW(kClientClassName, nullptr), reply->fuzzCount);
        if (reply->hangMs)
            Sleep(reply->hangMs);
        if (!reply->untouched) {
            ServerRecord answer = MakeAnswer(request, *reply);
            memcpy(view.get(), &answer, sizeof(answer));
        }
        ServerRecord written;
        memcpy(&written, view.get(), sizeof(written));
        LogRecord(false, written, DecodeRecord(written) + ReplyNote(*reply));

        if (reply->flip)
            StartFlipping(FlipValue(*reply), FlipStatus(*reply));
    }
    // The stand-in has let go of the block here: a new one can only come once the client has too.
    if (reply->recreateSize)
        StartRecreating(reply->recreateSize);
    MeetFate(window, reply->fate);
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

bool ParseSeed(const wchar_t* text, UINT32* seed)
{
    wchar_t* end = nullptr;
    *seed = wcstoul(text, &end, 0);
    return *text && !*end;
}

int Usage()
{
    fprintf(stderr, "usage: acpiserver [--title TITLE] [--log FILE] [--seed N] [--on WHEN REPLY]...\n"
                    "  WHEN: register, unregister, query:CODE, set:CODE (CODE may be *) or *\n"
                    "  REPLY: comma-separated FIELD=NUMBER, hang=MS, untouched, garbage, flip, fuzz=COUNT,\n"
                    "         recreate=SIZE, vanish, renew, exit\n");
    return 2;
}

std::string Narrow(const wchar_t* text)
{
    char buffer[160];
    snprintf(buffer, sizeof(buffer), "%ls", text);
    return buffer;
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
        } else if (wcscmp(argv[i], L"--seed") == 0 && i + 1 < argc && ParseSeed(argv[i + 1], &seed)) {
            SeedRandom(seed);
            ++i;
        } else if (wcscmp(argv[i], L"--on") == 0 && i + 2 < argc) {
            if (!AddRule(argv[i + 1], argv[i + 2]))
                return Usage();
            i += 2;
        } else {
            return Usage();
        }
    }
    AddDefaultRules();

    if (!OpenLog(logPath, Narrow(g_title))) {
        fprintf(stderr, "acpiserver: cannot write %ls\n", logPath);
        return 1;
    }

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
    StopRecreating();
    CloseLog();
    return 0;
}
