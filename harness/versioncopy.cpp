#include "versioncopy.h"
#include <windows.h>
#include "handles.h"
#include "process.h"

VersionCopy::VersionCopy(const std::string& program, const std::string& version)
{
    std::string source = ToWindowsPath(program);
    std::string stem = source.substr(source.find_last_of("\\/") + 1);
    stem = stem.substr(0, stem.rfind('.'));
    std::string name = stem + "_" + version + ".exe";
    m_path = TempPath(name);
    m_keyPath = "Software\\Wine\\AppDefaults\\" + name;
    if (!CopyFileA(source.c_str(), m_path.c_str(), FALSE))
        return;
    unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    m_made = RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                            static_cast<DWORD>(version.size() + 1)) == ERROR_SUCCESS;
}

VersionCopy::~VersionCopy()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, m_keyPath.c_str());
    DeleteFileA(m_path.c_str());
}
