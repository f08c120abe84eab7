// The setup's calls into C++, through NSIS's System plug-in: each is a stdcall function of plain
// arguments, strings as UTF-16, and says what it did in a buffer the script logs.
#include <windows.h>
#include <string>
#include "closevorntray.h"
#include "folderrule.h"
#include "purgesavedmode.h"
#include "runinstallzel.h"

namespace {

void CopyOut(const std::wstring& text, LPWSTR buffer, int size)
{
    if (buffer && size > 0)
        lstrcpynW(buffer, text.c_str(), size);
}

// The lines a shared step says, joined into one line of the setup's log.
void Collect(void* said, const wchar_t* text)
{
    std::wstring& lines = *static_cast<std::wstring*>(said);
    if (!lines.empty())
        lines += L"; ";
    lines += text;
}

} // namespace

// Takes folder for the installation, or refuses it, before setup writes anything there: see
// folderrule.h. earlier is the folder of the setup's own earlier installation, or "". Returns 1
// when the folder is ready, 0 when refused; message, of size characters, says which and why.
extern "C" int __stdcall PrepareInstallFolder(LPCWSTR folder, LPCWSTR earlier, LPWSTR message, int size)
{
    std::wstring said;
    bool ready = folderrule::PrepareInstallFolder(folder ? folder : L"", earlier ? earlier : L"", said);
    CopyOut(said, message, size);
    return ready ? 1 : 0;
}

// Ends every running VornTray with the package's rule (closevorntray.h). Returns 1 when none is
// left, 0 when one did not end; closed receives how many did, report (of size characters) what
// was done.
extern "C" int __stdcall CloseVornTray(int* closed, LPWSTR report, int size)
{
    std::wstring said;
    CloseOutcome outcome = CloseVornTrays(Notes{Collect, &said});
    *closed = outcome.closed;
    CopyOut(said, report, size);
    return outcome.allEnded ? 1 : 0;
}

// Runs folder\InstallZel.exe once with the package's rule (runinstallzel.h); waitForServer nonzero
// in a silent run, where nobody could answer InstallZel's message box.
extern "C" void __stdcall RunInstallZel(LPCWSTR folder, int waitForServer, LPWSTR report, int size)
{
    std::wstring said;
    RunInstallZelOnce(folder, waitForServer != 0, Notes{Collect, &said});
    CopyOut(said, report, size);
}

// /PURGE: the saved panel mode with the package's rule (purgesavedmode.h).
extern "C" void __stdcall PurgeSavedModes(LPWSTR report, int size)
{
    std::wstring said;
    PurgeSavedModes(Notes{Collect, &said});
    CopyOut(said, report, size);
}

// 1 when setup runs as SYSTEM, or in session 0 from Windows Vista on, where services and the
// tasks of deployment tools run and no user is: there is no user's desktop to start VornTray on.
// Before Vista the first user to log on has session 0 too.
extern "C" int __stdcall WithoutUserDesktop()
{
    OSVERSIONINFOEXW vista = {};
    vista.dwOSVersionInfoSize = sizeof(vista);
    vista.dwMajorVersion = 6;
    DWORD session = 0;
    if (VerifyVersionInfoW(&vista, VER_MAJORVERSION, VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL)) &&
        ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0)
        return 1;
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(system);
    BOOL isSystem = FALSE;
    return CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size) &&
                   CheckTokenMembership(nullptr, system, &isSystem) && isSystem
               ? 1
               : 0;
}
