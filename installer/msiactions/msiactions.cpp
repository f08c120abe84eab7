// ZelPC.msi's custom actions, called by msiexec from the package's Binary table. Each returns
// ERROR_SUCCESS unless the installation must not go on, and says what it did in the log
// (msiexec /l*v).
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <string>
#include "closevorntray.h"
#include "folderrule.h"
#include "purgesavedmode.h"
#include "runinstallzel.h"

namespace {

void LogLine(void* install, const wchar_t* text)
{
    PMSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(*static_cast<MSIHANDLE*>(install), INSTALLMESSAGE_INFO, record);
}

// Lines in msiexec's log, in wsprintf's format.
Notes LogOf(MSIHANDLE& install)
{
    return Notes{LogLine, &install};
}

template <typename... Arguments> void Log(MSIHANDLE install, const wchar_t* format, Arguments... arguments)
{
    LogOf(install)(format, arguments...);
}

// A deferred action sees only the text its property was set to before the script ran: here
// INSTALLDIR, which ends in a backslash. False when it does not fit, with room for a file name.
bool InstallDir(MSIHANDLE install, WCHAR (&folder)[MAX_PATH])
{
    DWORD size = MAX_PATH - 16;
    return MsiGetPropertyW(install, L"CustomActionData", folder, &size) == ERROR_SUCCESS && size > 0;
}

} // namespace

// Ends every VornTray of this session before its file is replaced or removed. One that cannot be
// reached or does not end keeps its file open: the installation goes on, and Windows Installer
// replaces the file at the next restart (exit code 3010).
extern "C" UINT __stdcall CloseVornTray(MSIHANDLE install)
{
    if (!CloseVornTrays(LogOf(install)).allEnded)
        Log(install, L"A VornTray still running keeps its file: it is replaced at the next restart (exit code 3010)");
    return ERROR_SUCCESS;
}

// InstallZel once, as the installing user in that user's session, where the ACPI server's window is.
// CustomActionData: INSTALLDIR.
extern "C" UINT __stdcall RunInstallZel(MSIHANDLE install)
{
    WCHAR folder[MAX_PATH];
    if (!InstallDir(install, folder))
        Log(install, L"InstallZel skipped: no install folder given");
    else
        RunInstallZelOnce(folder, true, LogOf(install));
    return ERROR_SUCCESS;
}

// Takes the install folder for the installation, or refuses it, before InstallFiles writes there,
// at every installation and repair of the programs: see folderrule.h. CustomActionData:
// INSTALLDIR|the folder of this product's installation so far (empty when none); "|" is no
// character of a path.
extern "C" UINT __stdcall ProtectFolder(MSIHANDLE install)
{
    WCHAR data[2 * MAX_PATH + 2];
    DWORD size = ARRAYSIZE(data);
    if (MsiGetPropertyW(install, L"CustomActionData", data, &size) != ERROR_SUCCESS || size == 0) {
        Log(install, L"Cannot prepare the install folder: none given, or longer than a path");
        return ERROR_INSTALL_FAILURE;
    }
    std::wstring folder = data, earlier;
    size_t bar = folder.find(L'|');
    if (bar != std::wstring::npos) {
        earlier = folder.substr(bar + 1);
        folder.erase(bar);
    }
    std::wstring message;
    bool ready = folderrule::PrepareInstallFolder(folder, earlier, message);
    Log(install, L"%s", message.c_str());
    return ready ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// PURGE=1 at an uninstall: the saved panel mode goes too, as the setup's /PURGE does.
extern "C" UINT __stdcall PurgeSavedMode(MSIHANDLE install)
{
    PurgeSavedModes(LogOf(install));
    return ERROR_SUCCESS;
}
