#include "process.h"
#include "messages.h"
#include <cstdlib>

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
    if (m_info.hProcess) {
        CloseHandle(m_info.hProcess);
        CloseHandle(m_info.hThread);
    }
    if (m_outputRead)
        CloseHandle(m_outputRead);
}

bool ChildProcess::Start(const std::string& commandLine, bool captureOutput, DWORD creationFlags)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    HANDLE outputWrite = nullptr;
    if (captureOutput) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        if (!CreatePipe(&m_outputRead, &outputWrite, &inherit, 0))
            return false;
        SetHandleInformation(m_outputRead, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = outputWrite;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    std::string mutableLine = commandLine;
    BOOL started = CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, captureOutput, creationFlags, nullptr, nullptr,
                                  &startup, &m_info);
    if (outputWrite)
        CloseHandle(outputWrite);
    return started != FALSE;
}

void ChildProcess::DrainOutput()
{
    DWORD available = 0;
    while (m_outputRead && PeekNamedPipe(m_outputRead, nullptr, 0, nullptr, &available, nullptr) && available) {
        char buffer[4096];
        DWORD read = 0;
        if (!ReadFile(m_outputRead, buffer, sizeof(buffer), &read, nullptr) || !read)
            break;
        m_output.append(buffer, read);
    }
}

DWORD ChildProcess::Wait(DWORD timeoutMs)
{
    if (!m_info.hProcess)
        return STILL_ACTIVE;
    // Keep the pipe drained so that a child printing much does not block on a full pipe, and keep
    // handling this thread's messages: a child's broadcast must not wait for the test.
    bool ended = PumpUntil([this] {
        DrainOutput();
        return WaitForSingleObject(m_info.hProcess, 0) != WAIT_TIMEOUT;
    }, timeoutMs);
    if (!ended)
        return STILL_ACTIVE;
    DrainOutput();
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(m_info.hProcess, &exitCode);
    return exitCode;
}

bool ChildProcess::Running() const
{
    return m_info.hProcess && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
}

void ChildProcess::Terminate()
{
    if (Running()) {
        TerminateProcess(m_info.hProcess, 1);
        WaitForSingleObject(m_info.hProcess, MachineMs(5000));
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
    if (!child.Start(commandLine, true)) {
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
