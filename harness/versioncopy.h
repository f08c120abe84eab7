// A copy of a program for which Wine reports another Windows version, so that the program's
// version-dependent paths run for real. Wine reads the version per program name from
// HKCU\Software\Wine\AppDefaults\NAME.exe; the copy and that key go when the holder does.
#pragma once
#include <string>

class VersionCopy
{
public:
    // program: a Unix or Windows path; version: Wine's name ("win31", "win98", "nt40", "win2k", ...).
    VersionCopy(const std::string& program, const std::string& version);
    ~VersionCopy();
    VersionCopy(const VersionCopy&) = delete;
    VersionCopy& operator=(const VersionCopy&) = delete;

    // True once the copy and its version are in place.
    bool Made() const { return m_made; }
    // The copy's Windows path, quoted for a command line.
    std::string Command() const { return "\"" + m_path + "\""; }

private:
    std::string m_path;
    std::string m_keyPath;
    bool m_made = false;
};
