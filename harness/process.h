// Starting the programs under test as real processes and reading what they print.
#pragma once
#include <windows.h>
#include <string>

// A time bound that reflects the machine, not the program (how long Wine takes to start a process,
// say), stretched by VORN_TIME_FACTOR where the machine is known to be slower: under CPU emulation.
// Bounds that describe the programs, such as InstallZel's 10 s wait, are never stretched.
DWORD MachineMs(DWORD ms);

// Wine starts programs from Windows paths; the build passes Unix ones.
std::string ToWindowsPath(const std::string& path);

// A child process; one still running when the holder goes away is terminated.
class ChildProcess
{
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Starts commandLine; with captureOutput its standard output goes into a pipe read by Output().
    bool Start(const std::string& commandLine, bool captureOutput = false, DWORD creationFlags = 0);
    // Waits for the end; returns the exit code, or STILL_ACTIVE when timeoutMs passed first.
    DWORD Wait(DWORD timeoutMs);
    bool Running() const;
    void Terminate();
    DWORD Id() const { return m_info.dwProcessId; }
    HANDLE Handle() const { return m_info.hProcess; }
    HANDLE MainThread() const { return m_info.hThread; }
    const std::string& Output();

private:
    void DrainOutput();

    PROCESS_INFORMATION m_info = {};
    HANDLE m_outputRead = nullptr;
    std::string m_output;
};

// Runs commandLine to its end and returns what it printed; exitCode receives its exit code.
std::string RunAndCapture(const std::string& commandLine, DWORD* exitCode, DWORD timeoutMs = MachineMs(30000));

// The path of this test program, for starting it again in another role.
std::string SelfPath();

