// A stand-in for the Vorn ACPI server, for the tests and the demo: a hidden top-level window that
// answers InstallZel's requests from a small script and logs every request and reply.
//
//   acpiserver [--title TITLE] [--log FILE] [--on WHEN REPLY]...
//
// TITLE is the window's title ("VornAcpiServer"); FILE is the log ("acpiserver.log").
// WHEN names the requests a rule answers: register, unregister, query:CODE or set:CODE (CODE is a
// device switch such as CAMS, or * for every switch), or * for every request. The first rule that
// matches wins.
// REPLY is a comma-separated list of
//   FIELD=NUMBER   writes the field (subject, count, argument, value, command, reserved or status);
//                  numbers are decimal or 0x hexadecimal
//   hang=MS        sleeps MS milliseconds inside the window procedure before replying
//   untouched      leaves the block as the client wrote it
// After the given rules come those of a server that allows every switch:
//   --on query:* value=1,status=1 --on * status=1
//
// Each log line is: milliseconds since the start, "request" or "reply", the 24 bytes in block order
// grouped by field, and the record decoded.
#include <windows.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

const wchar_t kServerClassName[] = L"VORN ACPI SERVER CLASS";
const wchar_t kRequestBlockName[] = L"926d2da0-c324-3ba9-cda7-5a4ab239b6de";
const UINT WM_SERVER_REQUEST = WM_USER + 0x255;

struct Record
{
    UINT32 subject;
    UINT32 count;
    UINT32 argument;
    UINT32 value;
    UINT16 command;
    UINT16 reserved;
    UINT32 status;
};
static_assert(sizeof(Record) == 24, "the block holds one 24-byte record");

struct Field
{
    const wchar_t* name;
    size_t offset;
    size_t width;
};
const Field kFields[] = {
    {L"subject", offsetof(Record, subject), 4}, {L"count", offsetof(Record, count), 4},
    {L"argument", offsetof(Record, argument), 4}, {L"value", offsetof(Record, value), 4},
    {L"command", offsetof(Record, command), 2}, {L"reserved", offsetof(Record, reserved), 2},
    {L"status", offsetof(Record, status), 4},
};
const size_t kFieldCount = sizeof(kFields) / sizeof(kFields[0]);

struct Reply
{
    bool untouched = false;
    DWORD hangMs = 0;
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
DWORD g_startTick;
// The window named by the last register request, described again at unregistration.
HWND g_client;

UINT32 FieldValue(const Record& record, const Field& field)
{
    UINT32 value = 0;
    memcpy(&value, reinterpret_cast<const BYTE*>(&record) + field.offset, field.width);
    return value;
}

void SetField(Record& record, const Field& field, UINT32 value)
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
std::string RequestKind(const Record& request)
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

std::string Decode(const Record& record)
{
    std::string text;
    char part[64];
    for (const Field& field : kFields) {
        UINT32 value = FieldValue(record, field);
        bool isCode = field.offset == offsetof(Record, subject) || field.offset == offsetof(Record, argument);
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

void LogLine(const std::string& line)
{
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(g_log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void LogRecord(const char* what, const Record& record, const std::string& note)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
    char line[128];
    int length = snprintf(line, sizeof(line), "%8lu %-8s", GetTickCount() - g_startTick, what);
    for (const Field& field : kFields) {
        line[length++] = ' ';
        for (size_t i = 0; i < field.width; ++i)
            length += snprintf(line + length, sizeof(line) - length, "%02X", bytes[field.offset + i]);
    }
    LogLine(std::string(line) + "  " + note);
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
    return note.empty() ? note : " (" + note.substr(1) + ")";
}

// Reads the request, answers it in the same 24 bytes and logs both, all before returning, so
// that the client's send returns only once the reply is in the block.
void OnServerRequest()
{
    HANDLE block = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kRequestBlockName);
    void* view = block ? MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Record)) : nullptr;
    if (!view) {
        char line[80];
        snprintf(line, sizeof(line), "%8lu request  (the block cannot be used: error %lu)", GetTickCount() - g_startTick,
                 GetLastError());
        LogLine(line);
        if (block)
            CloseHandle(block);
        return;
    }

    Record request;
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
    if (reply.hangMs)
        Sleep(reply.hangMs);
    if (!reply.untouched) {
        Record answer = request;
        for (size_t i = 0; i < kFieldCount; ++i)
            if (reply.writes[i])
                SetField(answer, kFields[i], reply.values[i]);
        memcpy(view, &answer, sizeof(answer));
    }
    Record written;
    memcpy(&written, view, sizeof(written));
    LogRecord("reply", written, Decode(written) + ReplyNote(reply));

    UnmapViewOfFile(view);
    CloseHandle(block);
}

LRESULT CALLBACK ServerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SERVER_REQUEST:
        OnServerRequest();
        return 0;
    case WM_DESTROY:
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
        size_t equals = item.find(L'=');
        UINT32 number = 0;
        if (equals == std::wstring::npos || !ParseNumber(item.c_str() + equals + 1, &number))
            return false;
        std::wstring name = item.substr(0, equals);
        if (name == L"hang") {
            reply->hangMs = number;
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
    fprintf(stderr, "usage: acpiserver [--title TITLE] [--log FILE] [--on WHEN REPLY]...\n"
                    "  WHEN: register, unregister, query:CODE, set:CODE (CODE may be *) or *\n"
                    "  REPLY: comma-separated FIELD=NUMBER, hang=MS, untouched\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* title = L"VornAcpiServer";
    const wchar_t* logPath = L"acpiserver.log";
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--title") == 0 && i + 1 < argc) {
            title = argv[++i];
        } else if (wcscmp(argv[i], L"--log") == 0 && i + 1 < argc) {
            logPath = argv[++i];
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

    // Shared for reading, so that a test can read the log while the server runs.
    g_log = CreateFileW(logPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    if (g_log == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "acpiserver: cannot write %ls\n", logPath);
        return 1;
    }
    g_startTick = GetTickCount();
    char header[160];
    snprintf(header, sizeof(header), "# acpiserver: title \"%ls\", started at tick %lu", title, g_startTick);
    LogLine(header);

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ServerWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kServerClassName;
    RegisterClassW(&windowClass);
    // Top-level and hidden: the client finds it with FindWindow, which skips message-only windows.
    if (!CreateWindowExW(0, kServerClassName, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                         windowClass.hInstance, nullptr)) {
        fprintf(stderr, "acpiserver: cannot create the window\n");
        return 1;
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    CloseHandle(g_log);
    return 0;
}
