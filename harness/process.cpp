#include "process.h"
#include <cstdlib>
#include "messages.h"

std::string TempPath(const std::string& name)
{
    char directory[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, directory);
    return std::string(directory) + name;
}

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
    std::string desktop = options.desktop;
    if (!desktop.empty())
        startup.lpDesktop = &desktop[0];
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
    DWORD creationFlags = options.creationFlags | (options.runToEntry ? DEBUG_ONLY_THIS_PROCESS : 0);
    if (!CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, options.captureOutput, creationFlags, nullptr,
                        nullptr, &startup, &info))
        return false;
    m_process.reset(info.hProcess);
    m_thread.reset(info.hThread);
    m_id = info.dwProcessId;
    if (options.runToEntry && !RunToEntry()) {
        Terminate();
        return false;
    }
    return true;
}

namespace {

bool WriteCode(HANDLE process, void* address, BYTE byte)
{
    if (!WriteProcessMemory(process, address, &byte, 1, nullptr))
        return false;
    FlushInstructionCache(process, address, 1);
    return true;
}

} // namespace

// A breakpoint instruction over the first byte of the entry point; when it is hit, the byte goes
// back, the thread steps back onto it and the debugger lets the program go.
bool ChildProcess::RunToEntry()
{
    const DWORD kDebugEventTimeoutMs = MachineMs(20000);
    void* entry = nullptr;
    BYTE original = 0;
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, kDebugEventTimeoutMs))
            return false;
        DWORD status = DBG_CONTINUE;
        bool atEntry = false;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            entry = reinterpret_cast<void*>(event.u.CreateProcessInfo.lpStartAddress);
            if (!ReadProcessMemory(m_process.get(), entry, &original, 1, nullptr) ||
                !WriteCode(m_process.get(), entry, 0xCC))
                return false;
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            } else if (record.ExceptionAddress == entry) {
                if (!WriteCode(m_process.get(), entry, original))
                    return false;
                CONTEXT context = {};
                context.ContextFlags = CONTEXT_CONTROL;
                GetThreadContext(m_thread.get(), &context);
#ifdef _WIN64
                context.Rip = reinterpret_cast<DWORD64>(entry);
#else
                context.Eip = reinterpret_cast<DWORD>(entry);
#endif
                SetThreadContext(m_thread.get(), &context);
                atEntry = true;
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            // The program ended before its entry point.
            return false;
        }
        if (atEntry) {
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            m_entryCounter = now.QuadPart;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (atEntry)
            return DebugActiveProcessStop(m_id) != FALSE;
    }
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
        *exitCode = STILL_ACTIVE;
        return "cannot start " + commandLine + ": error " + std::to_string(GetLastError());
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

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}
