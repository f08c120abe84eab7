// The processes running now, as a snapshot of the process list shows them: who started whom, and
// which programs run.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct ProcessEntry
{
    DWORD id = 0;
    DWORD parentId = 0;
    std::string image;
};

std::vector<ProcessEntry> ProcessList();
// The process that started processId, or 0 when processId is not running.
DWORD ParentOf(DWORD processId);
// The processes started by processId, found by their parent.
std::vector<DWORD> ChildrenOf(DWORD processId);
// Whether a process of this image name ("InstallZel.exe", any case) runs.
bool ProcessRunning(const char* imageName);
