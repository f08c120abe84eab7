#include "process.h"
#include <cstdlib>
#include "messages.h"

std::string ToWindowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string windowsPath = "Z:" + path;
    for (char& c : windowsPath)
        if (c == '/')
            c = '\\';
    return windowsPath;
}

ChildProcess::~ChildProcess()
{
    Terminate();
}

bool ChildProcess::Start(const std::string& commandLine, const StartOptions& options)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (options.showCommand != SW_SHOWDEFAULT) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = options.showCommand;
    }
    unique_handle outputWrite;
    if (options.captureOutput) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        if (!CreatePipe(&read, &write, &inherit, 0))
            return false;
        m_outputRead.reset(read);
        outputWrite.reset(write);
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    std::string mutableLine = commandLine;
    PROCESS_INFORMATION info = {};
    m_startTick = GetTickCount();
    if (!CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, options.captureOutput, options.creationFlags,
                        nullptr, nullptr, &startup, &info))
        return false;
    m_process.reset(info.hProcess);
    m_thread.reset(info.hThread);
    m_id = info.dwProcessId;
    return true;
}

void ChildProcess::DrainOutput()
{
    DWORD available = 0;
    while (m_outputRead && PeekNamedPipe(m_outputRead.get(), nullptr, 0, nullptr, &available, nullptr) && available) {
        char buffer[4096];
        DWORD read = 0;
        if (!ReadFile(m_outputRead.get(), buffer, sizeof(buffer), &read, nullptr) || !read)
            break;
        m_output.append(buffer, read);
    }
}

DWORD ChildProcess::Wait(DWORD timeoutMs)
{
    if (!m_process)
        return STILL_ACTIVE;
    // Keep the pipe drained so that a child printing much does not block on a full pipe, and keep
    // handling this thread's messages: a child's broadcast must not wait for the caller.
    bool ended = PumpUntil([this] {
        DrainOutput();
        return WaitForSingleObject(m_process.get(), 0) != WAIT_TIMEOUT;
    }, timeoutMs, m_process.get());
    if (!ended)
        return STILL_ACTIVE;
    m_endTick = GetTickCount();
    DrainOutput();
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(m_process.get(), &exitCode);
    return exitCode;
}

bool ChildProcess::Running() const
{
    return m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

void ChildProcess::Terminate()
{
    if (Running()) {
        TerminateProcess(m_process.get(), 1);
        WaitForSingleObject(m_process.get(), MachineMs(5000));
    }
}

const std::string& ChildProcess::Output()
{
    DrainOutput();
    return m_output;
}

std::string RunAndCapture(const std::string& commandLine, DWORD* exitCode, DWORD timeoutMs)
{
    ChildProcess child;
    StartOptions options;
    options.captureOutput = true;
    if (!child.Start(commandLine, options)) {
        *exitCode = GetLastError();
        return std::string();
    }
    *exitCode = child.Wait(timeoutMs);
    return child.Output();
}

std::string SelfPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

DWORD MachineMs(DWORD ms)
{
    char factor[16] = {};
    DWORD length = GetEnvironmentVariableA("VORN_TIME_FACTOR", factor, sizeof(factor));
    DWORD value = length > 0 && length < sizeof(factor) ? strtoul(factor, nullptr, 10) : 0;
    return ms * (value > 0 ? value : 1);
}
