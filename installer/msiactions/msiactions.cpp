// ZelPC.msi's custom actions, called by msiexec from the package's Binary table. Each returns
// ERROR_SUCCESS unless the installation must not go on, and says what it did in the log
// (msiexec /l*v).
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <string>
#include "folderrule.h"

namespace {

// How long a closed VornTray may take to end: as long as the setup waits.
const DWORD kCloseWaitMs = 10000;
// InstallZel's own wait for the server, 50 look-ups 200 ms apart, as the setup's silent path does.
const int kServerWaitTries = 50;
const DWORD kServerWaitMs = 200;
// InstallZel waits up to 10 s for the server and then sends at most 10 requests, each bounded by
// 10 s; past this it is left to end on its own and the installation goes on.
const DWORD kInstallZelWaitMs = 180000;

// A line in msiexec's log (wsprintf's format, at most 1024 characters).
void Log(MSIHANDLE install, const wchar_t* format, ...)
{
    WCHAR text[1024];
    va_list arguments;
    va_start(arguments, format);
    wvsprintfW(text, format, arguments);
    va_end(arguments);
    PMSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

// A deferred action sees only the text its property was set to before the script ran: here
// INSTALLDIR, which ends in a backslash. False when it does not fit, with room for a file name.
bool InstallDir(MSIHANDLE install, WCHAR (&folder)[MAX_PATH])
{
    DWORD size = MAX_PATH - 16;
    return MsiGetPropertyW(install, L"CustomActionData", folder, &size) == ERROR_SUCCESS && size > 0;
}

bool DeleteKeyIfEmpty(HKEY parent, const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD subKeys = 0, values = 0;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                   nullptr, nullptr, nullptr);
    RegCloseKey(key);
    // RegDeleteKey takes a key with its values: only an empty key may go.
    return result == ERROR_SUCCESS && subKeys == 0 && values == 0 && RegDeleteKeyW(parent, path) == ERROR_SUCCESS;
}

} // namespace

// Ends every VornTray of this session the way its own "Exit" would: WM_CLOSE to its window
// "VORNTRAY", then a wait for the process. One that cannot be reached or does not end keeps its
// file open, and Windows Installer then replaces the file at the next restart (exit code 3010).
extern "C" UINT __stdcall CloseVornTray(MSIHANDLE install)
{
    for (HWND window = FindWindowW(L"VORNTRAY", nullptr); window; window = FindWindowW(L"VORNTRAY", nullptr)) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
        Log(install, L"Closing VornTray (process %lu)", processId);
        PostMessageW(window, WM_CLOSE, 0, 0);
        bool ended = false;
        if (process) {
            ended = WaitForSingleObject(process, kCloseWaitMs) == WAIT_OBJECT_0;
            CloseHandle(process);
        } else {
            Sleep(kCloseWaitMs);
        }
        if (!ended && FindWindowW(L"VORNTRAY", nullptr) == window) {
            Log(install, L"VornTray did not end within 10 s; its file is replaced at the next restart");
            break;
        }
    }
    return ERROR_SUCCESS;
}

// Runs INSTALLDIR\InstallZel.exe once, but only when the ACPI server's window can be seen from
// here: without it InstallZel would show a message box that nobody at an unattended installation
// can answer. CustomActionData: INSTALLDIR.
extern "C" UINT __stdcall RunInstallZel(MSIHANDLE install)
{
    WCHAR installZel[MAX_PATH];
    if (!InstallDir(install, installZel)) {
        Log(install, L"InstallZel skipped: no install folder given");
        return ERROR_SUCCESS;
    }
    lstrcatW(installZel, L"InstallZel.exe");
    bool serverSeen = false;
    for (int i = 0; i < kServerWaitTries && !serverSeen; ++i) {
        serverSeen = FindWindowW(L"VORN ACPI SERVER CLASS", nullptr) != nullptr;
        if (!serverSeen && i + 1 < kServerWaitTries)
            Sleep(kServerWaitMs);
    }
    if (!serverSeen) {
        Log(install, L"InstallZel skipped: no ACPI server window within 10 s. Install the Vorn ACPI server, then run "
                     L"%s once as the user who will use the ZelPC.", installZel);
        return ERROR_SUCCESS;
    }
    Log(install, L"Running InstallZel");
    WCHAR commandLine[MAX_PATH + 2];
    wsprintfW(commandLine, L"\"%s\"", installZel);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(installZel, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        Log(install, L"InstallZel could not be started (error %lu); run %s once", GetLastError(), installZel);
        return ERROR_SUCCESS;
    }
    CloseHandle(started.hThread);
    if (WaitForSingleObject(started.hProcess, kInstallZelWaitMs) == WAIT_OBJECT_0)
        Log(install, L"InstallZel ended");
    else
        Log(install, L"InstallZel still runs after 180 s; the installation goes on without it");
    CloseHandle(started.hProcess);
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

// PURGE=1 at an uninstall: the saved panel mode goes too, as the setup's /PURGE does. Only
// VornTray's two values; the keys go only once nothing else is left in them.
extern "C" UINT __stdcall PurgeSavedMode(MSIHANDLE install)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorn\\ZelPC", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"DispWidth");
        RegDeleteValueW(key, L"DispHeight");
        RegCloseKey(key);
    }
    if (DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorn\\ZelPC"))
        DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorn");
    Log(install, L"Saved panel mode removed (PURGE=1)");
    return ERROR_SUCCESS;
}
