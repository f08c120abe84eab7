#include "standin.h"
#include <fstream>
#include "messages.h"
#include "process.h"
#include "record.h"

namespace {

std::string NewLogPath()
{
    static int serial;
    return TempPath("acpiserver-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + ".log");
}

} // namespace

AcpiServerStandIn::~AcpiServerStandIn()
{
    Stop();
    if (!m_logPath.empty())
        DeleteFileA(m_logPath.c_str());
}

bool AcpiServerStandIn::Start(const std::string& serverArgs)
{
    m_logPath = NewLogPath();
    std::string commandLine = ToWindowsPath(m_program) + " --log \"" + m_logPath + "\" " + serverArgs;
    if (!m_process.Start(commandLine))
        return false;
    return WaitForProcessWindow(kAcpiServerClass, m_process.Id(), MachineMs(10000)) != nullptr;
}

void AcpiServerStandIn::Stop(DWORD graceMs)
{
    if (!m_process.Running())
        return;
    // Looked up now: a stand-in told to renew its window has another one by now.
    PostMessageA(FindProcessWindow(kAcpiServerClass, m_process.Id()), WM_CLOSE, 0, 0);
    // A server told to hang finishes its request first.
    if (m_process.Wait(graceMs) == STILL_ACTIVE)
        m_process.Terminate();
}

std::vector<std::string> AcpiServerStandIn::LogLines() const
{
    std::vector<std::string> lines;
    std::ifstream log(m_logPath);
    std::string line;
    while (std::getline(log, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<LoggedNote> AcpiServerStandIn::Notes() const
{
    return ParseLoggedNotes(LogLines());
}

std::vector<LoggedRecord> AcpiServerStandIn::Records() const
{
    return ParseLoggedRecords(LogLines());
}

std::vector<LoggedRecord> AcpiServerStandIn::Requests() const
{
    std::vector<LoggedRecord> requests;
    for (const LoggedRecord& record : Records())
        if (record.isRequest)
            requests.push_back(record);
    return requests;
}

std::vector<std::string> AcpiServerStandIn::RequestKinds() const
{
    std::vector<std::string> kinds;
    for (const LoggedRecord& request : Requests())
        kinds.push_back(request.kind);
    return kinds;
}
