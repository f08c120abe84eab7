// Starting the programs under test as real processes and reading what they print.
#pragma once
#include <windows.h>
#include <string>
#include "handles.h"

// A time bound that reflects the machine, not the program (how long Wine takes to start a process,
// say), stretched by VORN_TIME_FACTOR where the machine is known to be slower: under CPU emulation.
// Bounds that describe the programs, such as InstallZel's 10 s wait, are never stretched.
DWORD MachineMs(DWORD ms);

// Wine starts programs from Windows paths; the build passes Unix ones.
std::string ToWindowsPath(const std::string& path);
// NAME in this process's temporary folder.
std::string TempPath(const std::string& name);

// How a child is started; the defaults start it as a shell would.
struct StartOptions
{
    // Standard output goes into a pipe read by ChildProcess::Output().
    bool captureOutput = false;
    DWORD creationFlags = 0;
    // The show command passed as a shortcut or an installer passes it; SW_SHOWDEFAULT passes none.
    WORD showCommand = SW_SHOWDEFAULT;
    // "station\desktop" to run on (windowstation.h); empty: this process's own.
    std::string desktop;
    // Runs the program under the debugger up to its entry point and lets it go there, so that the
    // moment its own code begins is known (ChildProcess::EntryCounter).
    bool runToEntry = false;
};

// A child process; one still running when the holder goes away is terminated.
class ChildProcess
{
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    bool Start(const std::string& commandLine, const StartOptions& options = StartOptions());
    // Waits for the end, handling this thread's messages meanwhile; returns the exit code, or
    // STILL_ACTIVE when timeoutMs passed first.
    DWORD Wait(DWORD timeoutMs);
    bool Running() const;
    void Terminate();
    DWORD Id() const { return m_id; }
    HANDLE Handle() const { return m_process.get(); }
    HANDLE MainThread() const { return m_thread.get(); }
    // GetTickCount() when the process was created, and the time from then to the end Wait saw.
    DWORD StartTick() const { return m_startTick; }
    DWORD ElapsedMs() const { return m_endTick - m_startTick; }
    const std::string& Output();
    // QueryPerformanceCounter when the program's own code began, when started with runToEntry.
    LONGLONG EntryCounter() const { return m_entryCounter; }

private:
    void DrainOutput();
    bool RunToEntry();

    unique_handle m_process;
    unique_handle m_thread;
    DWORD m_id = 0;
    DWORD m_startTick = 0;
    DWORD m_endTick = 0;
    LONGLONG m_entryCounter = 0;
    unique_handle m_outputRead;
    std::string m_output;
};

// Runs commandLine to its end and returns what it printed. exitCode receives its exit code, or
// STILL_ACTIVE when it did not start or did not end within timeoutMs; a start that failed is then
// described in the returned text, so that an exit code is never mistaken for an error number.
std::string RunAndCapture(const std::string& commandLine, DWORD* exitCode, DWORD timeoutMs = MachineMs(30000));

// The path of this program, for starting it again in another role.
std::string SelfPath();

// Whether this runs under Wine, which differs from Windows in ways the tests name.
bool UnderWine();
