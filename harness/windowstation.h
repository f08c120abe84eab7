// A window station of the test's own, as a service has one: not visible, with one desktop and no
// shell on it. A program started on it (StartOptions::desktop) finds no notification area there.
#pragma once
#include <windows.h>
#include <string>

class PrivateWindowStation
{
public:
    PrivateWindowStation();
    ~PrivateWindowStation();
    PrivateWindowStation(const PrivateWindowStation&) = delete;
    PrivateWindowStation& operator=(const PrivateWindowStation&) = delete;

    bool Made() const { return m_station && m_desktop; }
    // "station\Default", for StartOptions::desktop.
    const std::string& DesktopName() const { return m_desktopName; }

private:
    HWINSTA m_station = nullptr;
    HDESK m_desktop = nullptr;
    std::string m_desktopName;
};
