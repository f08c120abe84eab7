#include "observe.h"
#include <psapi.h>
#include <tlhelp32.h>
#include <stdlib.h>
#include <string.h>
#include "handles.h"
#include "process.h"

namespace {

double FileTimeMs(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return value.QuadPart / 10000.0;
}

// Files under /proc report a size of 0, so they are read until the end.
std::string ReadUnixFile(const std::string& unixPath)
{
    unique_hfile file(CreateFileA(ToWindowsPath(unixPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read)
        text.append(buffer, read);
    return text;
}

// The numeric entries of a /proc directory: processes, or a process's threads.
template <typename Visit> void ForEachNumberedEntry(const std::string& unixDirectory, Visit visit)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(ToWindowsPath(unixDirectory + "/*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        char* end = nullptr;
        unsigned long number = strtoul(entry.cFileName, &end, 10);
        if (number && !*end && !visit(static_cast<DWORD>(number)))
            break;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

long long StatusField(const std::string& status, const char* name)
{
    size_t at = status.find(name);
    return at == std::string::npos ? -1 : atoll(status.c_str() + at + strlen(name));
}

} // namespace

double CpuMilliseconds(DWORD processId)
{
    // A snapshot that failed is INVALID_HANDLE_VALUE, as a file is.
    unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return -1;
    double total = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != processId)
            continue;
        unique_handle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        FILETIME created, exited, kernel, user;
        if (thread && GetThreadTimes(thread.get(), &created, &exited, &kernel, &user))
            total += FileTimeMs(kernel) + FileTimeMs(user);
    }
    return total;
}

RestCost MeasureRest(DWORD processId, DWORD unixPid, DWORD restMs)
{
    double cpuBefore = CpuMilliseconds(processId);
    long long switchesBefore = ContextSwitches(unixPid);
    Sleep(restMs);
    double cpuAfter = CpuMilliseconds(processId);
    long long switchesAfter = ContextSwitches(unixPid);
    return {cpuBefore < 0 ? -1 : cpuAfter - cpuBefore, switchesBefore < 0 ? -1 : switchesAfter - switchesBefore};
}

DWORD FindUnixProcess(const std::string& token)
{
    DWORD found = 0;
    ForEachNumberedEntry("/proc", [&](DWORD pid) {
        std::string commandLine = ReadUnixFile("/proc/" + std::to_string(pid) + "/cmdline");
        if (commandLine.find(token) != std::string::npos)
            found = pid;
        return found == 0;
    });
    return found;
}

long long ContextSwitches(DWORD unixPid)
{
    long long total = 0;
    int threads = 0;
    bool complete = true;
    const std::string tasks = "/proc/" + std::to_string(unixPid) + "/task";
    ForEachNumberedEntry(tasks, [&](DWORD tid) {
        std::string status = ReadUnixFile(tasks + "/" + std::to_string(tid) + "/status");
        long long voluntary = StatusField(status, "\nvoluntary_ctxt_switches:");
        long long involuntary = StatusField(status, "\nnonvoluntary_ctxt_switches:");
        if (voluntary < 0 || involuntary < 0)
            return complete = false;
        total += voluntary + involuntary;
        ++threads;
        return true;
    });
    return complete && threads ? total : -1;
}

SIZE_T ResidentBytes(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    return GetProcessMemoryInfo(process, &counters, sizeof(counters)) ? counters.WorkingSetSize : 0;
}

SIZE_T PrivateBytes(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    return GetProcessMemoryInfo(process, &counters, sizeof(counters)) ? counters.PagefileUsage : 0;
}

DWORD CountHandles(HANDLE process)
{
    // Handle values are multiples of four, handed out from the lowest free one, so the open ones lie
    // close together; a long run of closed values means the table has ended.
    const DWORD kEndOfTable = 1024;
    DWORD count = 0;
    DWORD closedInARow = 0;
    for (ULONG_PTR value = 4; closedInARow < kEndOfTable; value += 4) {
        HANDLE copy = nullptr;
        if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
            CloseHandle(copy);
            ++count;
            closedInARow = 0;
        } else {
            ++closedInARow;
        }
    }
    return count;
}

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
