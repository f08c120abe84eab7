#include "shellstandin.h"
#include <cstdlib>
#include <fstream>
#include <sstream>
#include "messages.h"
#include "process.h"

namespace {

std::string NewLogPath()
{
    static int serial;
    return TempPath("shellstandin-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + ".log");
}

// Long enough for a broadcast that every window answers; the stand-in's own replies are immediate
// unless its script makes them late.
const DWORD kCommandTimeoutMs = 60000;

} // namespace

std::string FormatNote(const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::string line;
    for (const auto& [key, value] : pairs)
        line += (line.empty() ? "" : " ") + key + "=" + value;
    return line;
}

ShellNote ParseNote(const std::string& line)
{
    ShellNote note;
    std::istringstream in(line);
    std::string item;
    while (in >> item) {
        size_t equals = item.find('=');
        if (equals != std::string::npos)
            note[item.substr(0, equals)] = item.substr(equals + 1);
    }
    return note;
}

ShellStandIn::~ShellStandIn()
{
    if (m_process.Running())
        Leave(false);
    if (!m_logPath.empty())
        DeleteFileA(m_logPath.c_str());
}

bool ShellStandIn::Start(const std::string& args)
{
    m_logPath = NewLogPath();
    if (!m_process.Start(ToWindowsPath(m_program) + " --log \"" + m_logPath + "\" " + args))
        return false;
    m_window = WaitForProcessWindow(kShellTrayClass, m_process.Id(), MachineMs(10000));
    return m_window != nullptr;
}

bool ShellStandIn::Restart(DWORD busyRequests)
{
    return SendMessageTimeoutA(m_window, kShellRestart, busyRequests, 0, SMTO_NORMAL, kCommandTimeoutMs, nullptr) != 0;
}

bool ShellStandIn::Broadcast()
{
    return SendMessageTimeoutA(m_window, kShellBroadcast, 0, 0, SMTO_NORMAL, kCommandTimeoutMs, nullptr) != 0;
}

void ShellStandIn::Leave(bool broadcast)
{
    if (!m_process.Running())
        return;
    SendMessageTimeoutA(m_window, kShellLeave, broadcast, 0, SMTO_NORMAL, kCommandTimeoutMs, nullptr);
    if (m_process.Wait(MachineMs(10000)) == STILL_ACTIVE)
        m_process.Terminate();
}

std::vector<ShellNote> ShellStandIn::Notes() const
{
    std::vector<ShellNote> notes;
    std::ifstream log(m_logPath);
    std::string line;
    while (std::getline(log, line))
        notes.push_back(ParseNote(line));
    return notes;
}

std::vector<ShellRequest> ShellStandIn::Requests() const
{
    std::vector<ShellRequest> requests;
    for (ShellNote& note : Notes()) {
        if (note["event"] != "request" || note["from"] != "program")
            continue;
        requests.push_back({static_cast<DWORD>(std::strtoul(note["tick"].c_str(), nullptr, 10)),
                            static_cast<DWORD>(std::strtoul(note["code"].c_str(), nullptr, 10)),
                            reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(note["owner"].c_str(), nullptr, 16))),
                            static_cast<UINT>(std::strtoul(note["id"].c_str(), nullptr, 10)),
                            static_cast<UINT>(std::strtoul(note["flags"].c_str(), nullptr, 10)), note["answer"]});
    }
    return requests;
}
