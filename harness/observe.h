// What a Windows program can learn about another process while both run under Wine: its CPU time,
// how often it woke up, its memory and its open handles; and the views mapped into this process.
#pragma once
#include <windows.h>
#include <string>

// CPU time of all the process's threads. Wine answers GetProcessTimes for another process with the
// caller's own times, but GetThreadTimes with the thread's own, read from /proc.
double CpuMilliseconds(DWORD processId);

// Wine runs each Windows process as a Unix process whose command line is the Windows one: the Unix
// pid of the process whose command line contains token, or 0.
DWORD FindUnixProcess(const std::string& token);

// How often the Unix process's threads have been switched out since it started, or -1 when /proc
// cannot be read. A thread that waits in GetMessage and is sent nothing is never switched out.
long long ContextSwitches(DWORD unixPid);

// What a process used while it was left alone for restMs: its CPU time and its wake-ups (the
// context switches of its Unix process). A figure that could not be read is negative.
struct RestCost
{
    double cpuMs;
    long long wakeups;
};
RestCost MeasureRest(DWORD processId, DWORD unixPid, DWORD restMs);

// The working set: the process's memory that is resident right now.
SIZE_T ResidentBytes(HANDLE process);
// The memory the process has committed for itself, resident or not.
SIZE_T PrivateBytes(HANDLE process);

// The handles open in the process, this one (GetCurrentProcess()) included. Wine's
// GetProcessHandleCount reports 0, so each handle value is tried instead: a value that
// DuplicateHandle can copy is an open handle.
DWORD CountHandles(HANDLE process);

// Views of sections mapped into this process.
size_t CountMappedViews();
