// ZelPC.msi's custom actions, called by msiexec from the package's Binary table. Each returns
// ERROR_SUCCESS unless the installation must not go on, and says what it did in the log
// (msiexec /l*v).
#include <windows.h>
#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>
#include "closevorntray.h"
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

// A folder outside Program Files inherits whatever its parent allows, often write access for every
// user, and VornTray starts from it at every logon with the user's rights. It gets the protection
// Program Files has: its own DACL, not inherited, with full control for Administrators and SYSTEM
// and read and execute for Users, passed on to the files in it. CustomActionData: INSTALLDIR.
extern "C" UINT __stdcall ProtectFolder(MSIHANDLE install)
{
    WCHAR folder[MAX_PATH];
    if (!InstallDir(install, folder)) {
        Log(install, L"Cannot protect the install folder: none given");
        return ERROR_INSTALL_FAILURE;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)",
                                                              SDDL_REVISION_1, &descriptor, nullptr)) {
        Log(install, L"Cannot build the folder's access list (error %lu)", GetLastError());
        return ERROR_INSTALL_FAILURE;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    DWORD result = SetNamedSecurityInfoW(folder, SE_FILE_OBJECT,
                                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, dacl, nullptr);
    LocalFree(descriptor);
    if (result != ERROR_SUCCESS) {
        // Left open, the folder would let any user replace a program that starts at every logon.
        Log(install, L"Cannot protect %s (error %lu)", folder, result);
        return ERROR_INSTALL_FAILURE;
    }
    Log(install, L"Protected %s: Administrators and SYSTEM full control, Users read and execute", folder);
    return ERROR_SUCCESS;
}

// PURGE=1 at an uninstall: the saved panel mode goes too, as the setup's /PURGE does.
extern "C" UINT __stdcall PurgeSavedMode(MSIHANDLE install)
{
    PurgeSavedModes(LogOf(install));
    return ERROR_SUCCESS;
}
