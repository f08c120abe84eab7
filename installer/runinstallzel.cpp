#include "runinstallzel.h"
#include "handles.h"
#include "installfacts.h"

namespace {

bool ServerSeen()
{
    for (int i = 0; i < ZELPC_SERVER_WAIT_TRIES; ++i) {
        if (FindWindowW(L"" ZELPC_SERVER_CLASS, nullptr))
            return true;
        if (i + 1 < ZELPC_SERVER_WAIT_TRIES)
            Sleep(ZELPC_SERVER_WAIT_MS);
    }
    return false;
}

} // namespace

void RunInstallZelOnce(const wchar_t* folder, bool waitForServer, const Notes& note)
{
    WCHAR installZel[MAX_PATH];
    if (lstrlenW(folder) > MAX_PATH - 16) {
        note(L"InstallZel skipped: the install folder's name is too long");
        return;
    }
    lstrcpyW(installZel, folder);
    if (installZel[0] && installZel[lstrlenW(installZel) - 1] != L'\\')
        lstrcatW(installZel, L"\\");
    lstrcatW(installZel, L"InstallZel.exe");
    if (waitForServer && !ServerSeen()) {
        note(L"InstallZel skipped: no ACPI server window within 10 s. Install the Vorn ACPI server, then run %s once "
             L"as the user who will use the ZelPC.", installZel);
        return;
    }
    note(L"Running InstallZel");
    WCHAR commandLine[MAX_PATH + 2];
    wsprintfW(commandLine, L"\"%s\"", installZel);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(installZel, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        DWORD error = GetLastError();
        // UAC's installer detection takes a 32-bit program named InstallZel that asks for no
        // execution level for a setup program: started with a filtered token, CreateProcess fails
        // with ERROR_ELEVATION_REQUIRED (which mingw-w64 does not define).
        if (error == 740)
            note(L"InstallZel could not be started (error 740: UAC's installer detection wants it elevated, and this "
                 L"installation runs with a filtered token); run %s once as an administrator", installZel);
        else
            note(L"InstallZel could not be started (error %lu); run %s once", error, installZel);
        return;
    }
    unique_handle process(started.hProcess), thread(started.hThread);
    if (WaitForSingleObject(process.get(), ZELPC_INSTALLZEL_WAIT_MS) == WAIT_OBJECT_0)
        note(L"InstallZel ended");
    else
        note(L"InstallZel still runs after %lu s; the installation goes on without it",
             static_cast<DWORD>(ZELPC_INSTALLZEL_WAIT_MS / 1000));
}
