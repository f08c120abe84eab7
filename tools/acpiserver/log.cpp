#include "log.h"
#include <stdio.h>
#include "handles.h"
#include "serverlog.h"

namespace {

unique_hfile g_log;
CRITICAL_SECTION g_logLock;
DWORD g_startTick;

void WriteLine(const std::string& line)
{
    std::string text = line + "\r\n";
    DWORD written = 0;
    EnterCriticalSection(&g_logLock);
    WriteFile(g_log.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    LeaveCriticalSection(&g_logLock);
}

DWORD Ms()
{
    return GetTickCount() - g_startTick;
}

} // namespace

bool OpenLog(const wchar_t* path, const std::string& title)
{
    InitializeCriticalSection(&g_logLock);
    // Shared for reading, so that a test can read the log while the server runs.
    g_log.reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!g_log)
        return false;
    g_startTick = GetTickCount();
    WriteLine(LogHeaderLine(title, g_startTick));
    return true;
}

void CloseLog()
{
    g_log.reset();
}

void LogRecord(bool isRequest, const ServerRecord& record, const std::string& text)
{
    WriteLine(LogRecordLine(Ms(), isRequest, record, text));
}

void LogUnusableRequest(DWORD error)
{
    WriteLine(LogUnusableRequestLine(Ms(), error));
}

void LogNote(const std::string& what, const std::vector<std::pair<std::string, std::string>>& pairs)
{
    WriteLine(LogNoteLine(Ms(), what, pairs));
}

std::string HexText(UINT32 value)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%X", value);
    return text;
}
