#include "standin.h"
#include <fstream>
#include <sstream>
#include "messages.h"

namespace {

std::string NewLogPath()
{
    static int serial;
    char directory[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, directory);
    return std::string(directory) + "acpiserver-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial) + ".log";
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
    std::string commandLine = ToWindowsPath(ACPISERVER_EXE) + " --log \"" + m_logPath + "\" " + serverArgs;
    if (!m_process.Start(commandLine))
        return false;
    m_window = WaitForProcessWindow("VORN ACPI SERVER CLASS", m_process.Id(), 10000);
    return m_window != nullptr;
}

void AcpiServerStandIn::Stop()
{
    if (!m_process.Running())
        return;
    PostMessageA(m_window, WM_CLOSE, 0, 0);
    // A server told to hang finishes its request first.
    if (m_process.Wait(30000) == STILL_ACTIVE)
        m_process.Terminate();
}

std::vector<LoggedRecord> AcpiServerStandIn::Records() const
{
    // The header gives the tick the line times count from.
    std::vector<LoggedRecord> records;
    std::ifstream log(m_logPath);
    std::string line;
    DWORD startTick = 0;
    while (std::getline(log, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t tickAt = line.find("started at tick ");
        if (line.rfind("#", 0) == 0 && tickAt != std::string::npos) {
            startTick = std::stoul(line.substr(tickAt + 16));
            continue;
        }
        std::istringstream fields(line);
        DWORD ms = 0;
        std::string what;
        if (!(fields >> ms >> what))
            continue;
        LoggedRecord record = {startTick + ms, what == "request", "", "", ""};
        std::string group;
        for (int i = 0; i < 7 && fields >> group; ++i)
            record.hex += (i ? " " : "") + group;
        if (record.isRequest)
            fields >> record.kind;
        std::getline(fields, record.text);
        records.push_back(record);
    }
    return records;
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
