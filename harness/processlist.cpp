#include "processlist.h"
#include <tlhelp32.h>
#include "handles.h"

std::vector<ProcessEntry> ProcessList()
{
    std::vector<ProcessEntry> processes;
    unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry))
        processes.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
    return processes;
}

DWORD ParentOf(DWORD processId)
{
    for (const ProcessEntry& process : ProcessList())
        if (process.id == processId)
            return process.parentId;
    return 0;
}

std::vector<DWORD> ChildrenOf(DWORD processId)
{
    std::vector<DWORD> children;
    for (const ProcessEntry& process : ProcessList())
        if (process.parentId == processId)
            children.push_back(process.id);
    return children;
}

bool ProcessRunning(const char* imageName)
{
    for (const ProcessEntry& process : ProcessList())
        if (lstrcmpiA(process.image.c_str(), imageName) == 0)
            return true;
    return false;
}
