#include "windowstation.h"

PrivateWindowStation::PrivateWindowStation()
{
    std::string name = "VornTest-" + std::to_string(GetCurrentProcessId());
    m_station = CreateWindowStationA(name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    if (!m_station)
        return;
    // A desktop is made on the window station of the calling process, so this one is borrowed
    // for the call.
    HWINSTA own = GetProcessWindowStation();
    if (SetProcessWindowStation(m_station)) {
        m_desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        SetProcessWindowStation(own);
    }
    m_desktopName = name + "\\Default";
}

PrivateWindowStation::~PrivateWindowStation()
{
    if (m_desktop)
        CloseDesktop(m_desktop);
    if (m_station)
        CloseWindowStation(m_station);
}
