// An installation of the utilities by the setup or by the package, as Program Files, the registry
// and the running VornTray show it; and the setup run as a deployment tool runs it.
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>
#include "handles.h"
#include "rowlabel.h"
#include "trayfixture.h"

extern const char kRunKey[];
// The Apps entry the setup writes; the package's entries are named by their ProductCode.
extern const char kSetupEntryKey[];

// A setup or uninstall that has not ended by then hangs.
inline const DWORD kSetupTimeoutMs = MachineMs(120000);

std::string ProgramFiles();
// Where both install by default.
std::string InstallDir();
bool Exists(const std::string& path);
// The bytes of a file, or nothing when it cannot be read.
std::string FileContent(const std::string& path);
// The names of the files in folder, sorted; folders left out.
std::vector<std::string> FilesIn(const std::string& folder);

struct RegistryValue
{
    bool exists = false;
    DWORD type = REG_NONE;
    std::string text;
    DWORD number = 0;
};
// A value below HKEY_LOCAL_MACHINE.
RegistryValue ReadValue(const std::string& key, const char* name);
bool KeyExists(const char* key);
// The names of a key's subkeys, and its string values by name.
std::vector<std::string> SubkeysOf(const char* key);
std::vector<std::pair<std::string, std::string>> TextValuesOf(const char* key);
// The text of a log whose lines are ASCII, written as UTF-16 (with a byte-order mark or without)
// or in the ANSI code page.
std::string AsciiText(const std::string& raw);

// Whether some dialog is visible: a silent run must not wait for an answer.
bool VisibleDialogExists();
// Ends every VornTray as its "Exit" would, waiting for each process.
void CloseVornTrays();

struct SetupRun
{
    DWORD processId = 0;
    DWORD exitCode = STILL_ACTIVE;
    DWORD elapsedMs = 0;
};
// ZelPCSetup.exe of this tree run with arguments to its end; it prints how it ended.
SetupRun RunSetup(const std::string& arguments = "/S");
// The setup's installation in InstallDir() taken away by hand: files, folders, Run value, Apps entry.
void RemoveSetupInstallation();

// The programs of this tree in dir, and the Run value that starts VornTray from there.
void ExpectProgramsIn(const std::string& dir);
// A fixture's tests run once for each row of a table.
template <typename Fixture, typename Row> class TableOf : public Fixture, public ::testing::WithParamInterface<Row>
{
};

// VornTray's saved mode where registry virtualization keeps it for a user who may not write HKLM
// (Windows Vista and later): HKCU\Software\Classes\VirtualStore\MACHINE\SOFTWARE\[WOW6432Node\]Vorn\ZelPC,
// WOW6432Node on 64-bit Windows, 800 x 600. Removed again when the holder goes.
class VirtualStoreCopy
{
public:
    VirtualStoreCopy() = default;
    VirtualStoreCopy(const VirtualStoreCopy&) = delete;
    VirtualStoreCopy& operator=(const VirtualStoreCopy&) = delete;
    ~VirtualStoreCopy();
    // A failure ends the test (ASSERT_NO_FATAL_FAILURE).
    void Place();
    // Whether DispWidth or DispHeight is still there.
    bool Kept() const;
};

// An uninstall given arguments, and whether the saved panel mode outlives it.
struct UninstallCase
{
    const char* label;
    const char* arguments;
    bool savedModeKept;
};
// The saved mode VornTray's first start wrote, 800 x 480, and a user's virtualized copy: both kept
// by the row's uninstall, or both purged.
void ExpectSavedModeAfterUninstall(const UninstallCase& row, const VirtualStoreCopy& copy);
// A purge's log names both copies it removed and says that users not logged on keep theirs.
void ExpectPurgeSaid(const std::string& log);
// The row prints as its label, as the rows of the tests' own tables do.
using rowlabel::operator<<;

// Neither the programs' folder, nor the Vorn folder, the Run value or the setup's Apps entry.
void ExpectNoInstallation();

// What an uninstall must leave: a key beside the saved mode, a folder beside the programs, a Run
// value of another program. Removed again when the holder goes.
class Neighbours
{
public:
    Neighbours() = default;
    Neighbours(const Neighbours&) = delete;
    Neighbours& operator=(const Neighbours&) = delete;
    ~Neighbours();
    // Places them; a failure ends the test (ASSERT_NO_FATAL_FAILURE).
    void Place();
    void ExpectKept() const;

private:
    std::string Folder() const;
};

// A key's DACL replaced by one that lets everybody read and nobody write, the old one put back
// afterwards through the handle opened before: a Run key an installation cannot write.
class ReadOnlyKey
{
public:
    explicit ReadOnlyKey(const char* path);
    ~ReadOnlyKey();
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;
    bool Made() const { return m_made; }

private:
    unique_hkey m_key;
    std::vector<BYTE> m_saved;
    bool m_made = false;
};

// A "VORNTRAY" window of this test process that is told WM_CLOSE and does not go away: it stays,
// as a hung VornTray or another program's window of that class does, or it destroys itself and
// makes a new one, as any program in the session may. Its messages are handled while the test
// waits for the installation.
class StubbornVornTray
{
public:
    enum OnClose
    {
        kStays,
        kComesBack
    };
    explicit StubbornVornTray(OnClose onClose = kStays);
    ~StubbornVornTray();
    StubbornVornTray(const StubbornVornTray&) = delete;
    StubbornVornTray& operator=(const StubbornVornTray&) = delete;
    HWND Window() const { return m_window; }
    int ClosesAsked() const { return m_closesAsked; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    OnClose m_onClose;
    HWND m_window = nullptr;
    int m_closesAsked = 0;
};

// The install folders both installers are tried with, as one table: each installer's test program
// runs every row with its own installer.
struct InstallFolderCase
{
    const char* label;
    const char* folder;
    // A notes.txt of somebody else's in the folder beforehand.
    bool holdsNotes;
    // Taken, or refused with the installer's refusal code.
    bool taken;
    // Taken, then deleted and the installation repaired, which must make and protect it again.
    bool repairedAfterDeleting;
    // What the installer's log must say: for a refusal the reason, else the protection.
    const char* logged;
    // The folders the installer makes on the way, innermost first, removed afterwards.
    std::vector<std::string> madeOnTheWay;
};
const std::vector<InstallFolderCase>& InstallFolderCases();

struct InstallerRun
{
    DWORD exitCode = STILL_ACTIVE;
    std::string log;
};
// One installer, as the folder table drives it: silent runs with their logs.
struct FolderTableInstaller
{
    DWORD refusedCode;
    InstallerRun (*install)(const std::string& folder);
    // The installation in folder repaired as its administrator would.
    InstallerRun (*repair)(const std::string& folder);
    void (*uninstall)();
    void (*expectNothingInstalled)();
};
void RunInstallFolderCase(const InstallFolderCase& row, const FolderTableInstaller& installer);
