// Which install folder the installers may take, and the rights they give it. Both installers run
// as an administrator or as SYSTEM, and VornTray.exe in that folder starts at every user's logon:
// the folder must end up theirs alone, and the rights of anything that is not theirs must stay as
// they were. The setup calls this through setupcalls.dll, the package through msiactions.dll.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace folderrule {

// A folder's owner and DACL, as a security descriptor the caller frees with LocalFree; null when
// they cannot be read. The installers read them from the opened folder; the tests hand in ones
// built from SDDL, as Wine keeps neither.
using ReadSecurity = std::function<PSECURITY_DESCRIPTOR(HANDLE folder, const std::wstring& path)>;
PSECURITY_DESCRIPTOR SecurityOfHandle(HANDLE folder, const std::wstring& path);

struct Decision
{
    bool allowed = false;
    // Inside a Program Files folder, where the folder keeps the rights it inherits.
    bool underProgramFiles = false;
    // The full path without a trailing backslash, long names for the part that exists.
    std::wstring folder;
    // The folders on the way that do not exist yet, outermost first; the folder itself last when
    // it is new.
    std::vector<std::wstring> missing;
    // Why it was refused, as a sentence for the log.
    std::wstring reason;
};

// folder as the installer was given it; earlier, the folder this product was installed into
// before (empty when none), which may hold its files.
Decision Decide(const std::wstring& folder, const std::wstring& earlier,
                const ReadSecurity& readSecurity = SecurityOfHandle);

// Creates the missing folders and, outside Program Files, gives each of them and the folder its
// own protected DACL and Administrators as owner. message says what was done, or why not.
bool Apply(const Decision& decision, std::wstring& message);

// Decide and Apply as the installers call them, just before their first write to the folder.
bool PrepareInstallFolder(const std::wstring& folder, const std::wstring& earlier, std::wstring& message);

} // namespace folderrule
