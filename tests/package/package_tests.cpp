// ZelPC.msi installed, upgraded and uninstalled by msiexec, as a deployment tool runs it: what it
// leaves in Program Files and the registry, what reaches the ACPI server stand-in, what it does to
// a running VornTray, and how it and ZelPCSetup.exe refuse each other's installation.
// Wine differences: its msiexec never writes DisplayIcon for ARPPRODUCTICON, does not log the message
// of a launch condition that fails, nor the nested uninstall of an upgrade; and Wine keeps no folder
// DACL (the protection of a folder outside Program Files shows only in the log here).
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <algorithm>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>
#include "handles.h"
#include "messages.h"
#include "process.h"
#include "vorntray/resource.h"
#include "savedmode.h"
#include "standin.h"
#include "trayfixture.h"

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kSetupEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VornZelPC";
const char kNeighbourKey[] = "SOFTWARE\\Vorn\\Neighbour";
const char kDisplayName[] = "Vorn ZelPC Utilities";
// msiexec's exit codes.
const DWORD kInstallFailure = 1603;
// Without a server the package waits 10 s before it skips InstallZel; the rest is Wine starting
// msiexec and its custom-action host.
const DWORD kInstallBoundMs = 10000 + MachineMs(30000);
const DWORD kRunTimeoutMs = MachineMs(180000);
const std::vector<std::string> kTheTenRequests = {"register",   "query:CAMS", "set:CAMS", "query:WLDS", "set:WLDS",
                                                  "query:CRDS", "set:CRDS",   "query:MODS", "set:MODS", "unregister"};

std::string ProgramFiles()
{
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path);
    return path;
}

std::string DefaultInstallDir()
{
    return ProgramFiles() + "\\Vorn\\ZelPC";
}

std::string TempPath(const char* name)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + name;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// msiexec writes its log in the ANSI code page, or UTF-16 with a byte-order mark; the lines that
// matter are ASCII.
std::string ReadLog(const std::string& path)
{
    std::string raw = ReadFile(path);
    if (raw.size() < 2 || raw[0] != '\xff' || raw[1] != '\xfe')
        return raw;
    std::string text;
    for (size_t i = 2; i < raw.size(); i += 2)
        text += raw[i];
    return text;
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

struct RegistryValue
{
    bool exists = false;
    DWORD type = REG_NONE;
    std::string text;
    DWORD number = 0;
};

RegistryValue ReadValue(const std::string& key, const char* name)
{
    RegistryValue value;
    BYTE data[1024] = {};
    DWORD size = sizeof(data) - 2;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, data, &size) !=
        ERROR_SUCCESS)
        return value;
    value.exists = true;
    if (value.type == REG_DWORD)
        value.number = *reinterpret_cast<DWORD*>(data);
    else
        value.text = reinterpret_cast<char*>(data);
    return value;
}

bool KeyExists(const char* key)
{
    unique_hkey handle;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

// The Apps entries named "Vorn ZelPC Utilities" that Windows Installer wrote, by key (the ProductCode).
std::vector<std::string> PackageEntries()
{
    std::vector<std::string> keys;
    unique_hkey root;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_READ, root.put()) != ERROR_SUCCESS)
        return keys;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(root.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::string key = std::string(kUninstallRoot) + "\\" + name;
        if (ReadValue(key, "DisplayName").text == kDisplayName && ReadValue(key, "WindowsInstaller").number == 1)
            keys.push_back(key);
    }
    return keys;
}

std::string ProductCodeOf(const std::string& entryKey)
{
    return entryKey.substr(entryKey.rfind('\\') + 1);
}

BOOL CALLBACK CollectVornTray(HWND window, LPARAM param)
{
    char className[32] = {};
    GetClassNameA(window, className, sizeof(className));
    if (strcmp(className, "VORNTRAY") == 0)
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> VornTrayWindows()
{
    std::vector<HWND> windows;
    EnumWindows(CollectVornTray, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

DWORD ProcessOf(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

void CloseVornTrays()
{
    for (HWND window : VornTrayWindows()) {
        unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, ProcessOf(window)));
        PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
        if (process)
            PumpUntil([&] { return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; }, kTimeoutMs,
                      process.get());
    }
}

bool VisibleDialogExists()
{
    HWND dialog = FindWindowA("#32770", nullptr);
    return dialog && IsWindowVisible(dialog);
}

struct MsiRun
{
    DWORD exitCode = STILL_ACTIVE;
    DWORD elapsedMs = 0;
    std::string log;
};

// msiexec as a deployment tool starts it, with a verbose log. Wine cuts a process's exit code to
// 8 bits (3010 would read 194), so the code comes from cmd's %ERRORLEVEL% after start /wait.
MsiRun Msiexec(const std::string& arguments)
{
    MsiRun run;
    const std::string logPath = TempPath("zelpc-msiexec.log");
    DeleteFileA(logPath.c_str());
    const std::string command =
        "cmd /c \"start /wait msiexec " + arguments + " /qn /l*v \"" + logPath + "\" & echo %ERRORLEVEL%\"";
    DWORD cmdExit = 0;
    DWORD start = GetTickCount();
    std::string printed = RunAndCapture(command, &cmdExit, kRunTimeoutMs);
    run.elapsedMs = GetTickCount() - start;
    std::istringstream(printed) >> run.exitCode;
    run.log = ReadLog(logPath);
    printf("msiexec %s: exit code %lu after %lu ms\n", arguments.c_str(), run.exitCode, run.elapsedMs);
    return run;
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// msiexec stopped by a launch condition, before anything was installed, with property set: the
// cause the condition names. Windows logs the condition's message too; Wine logs only that the
// action failed and the final property values.
void ExpectRefusedByLaunchCondition(const MsiRun& run, const char* property)
{
    EXPECT_EQ(run.exitCode, kInstallFailure);
    EXPECT_NE(run.log.find("LaunchConditions. Return value 0"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find(": InstallFiles."), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("Property(S): " + std::string(property) + " = "), std::string::npos) << run.log;
}

MsiRun InstallPackage(const char* package, const std::string& properties = "")
{
    return Msiexec("/i " + Quoted(ToWindowsPath(package)) + properties);
}

// The quiet uninstall a deployment tool derives from the Apps entry's ProductCode.
MsiRun UninstallPackage(const std::string& productCode, const std::string& properties = "")
{
    return Msiexec("/x " + productCode + properties);
}

struct SetupRun
{
    DWORD exitCode = STILL_ACTIVE;
};

SetupRun RunSetup(const std::string& arguments)
{
    ChildProcess setup;
    EXPECT_TRUE(setup.Start(Quoted(ToWindowsPath(SETUP_EXE)) + " " + arguments));
    SetupRun run;
    run.exitCode = setup.Wait(kRunTimeoutMs);
    printf("setup %s: exit code %lu\n", arguments.c_str(), run.exitCode);
    return run;
}

// The setup's installation taken away with its own uninstaller, or by hand if that is gone.
void RemoveSetupInstallation()
{
    const std::string dir = DefaultInstallDir();
    for (const std::string& name : FilesIn(dir))
        DeleteFileA((dir + "\\" + name).c_str());
    RemoveDirectoryA(dir.c_str());
    RemoveDirectoryA((ProgramFiles() + "\\Vorn").c_str());
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, "VornTray");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSetupEntryKey);
}

// VornTray as the next logon starts it: the command of the Run value.
class LogonStart
{
public:
    bool Start()
    {
        if (!m_tray.Start(ReadValue(kRunKey, "VornTray").text))
            return false;
        PumpUntil([&] { return !VornTrayWindows().empty(); }, kTimeoutMs);
        std::vector<HWND> windows = VornTrayWindows();
        m_window = windows.empty() ? nullptr : windows[0];
        return m_window && PumpUntil([&] { return WaitForInputIdle(m_tray.Handle(), 0) == 0; }, kTimeoutMs);
    }
    HWND Window() const { return m_window; }
    HANDLE Process() const { return m_tray.Handle(); }
    bool Ended() const { return WaitForSingleObject(m_tray.Handle(), 0) == WAIT_OBJECT_0; }
    DWORD ExitCode() const
    {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_tray.Handle(), &code);
        return code;
    }

private:
    ChildProcess m_tray;
    HWND m_window = nullptr;
};

// A clean machine: neither the package nor the setup installed, no saved mode, the display at
// 1024 x 600; the stand-in server is started by the tests that want it.
class Package : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemoveEverything();
        SetDisplayMode(1024, 600);
    }
    void TearDown() override { RemoveEverything(); }

    static void RemoveEverything()
    {
        CloseVornTrays();
        for (const std::string& entry : PackageEntries())
            UninstallPackage(ProductCodeOf(entry));
        RemoveSetupInstallation();
        RemoveSettings();
    }

    // What a completed installation of the current package leaves in dir.
    static void ExpectInstalled(const std::string& dir)
    {
        EXPECT_EQ(ReadFile(dir + "\\VornTray.exe"), ReadFile(ToWindowsPath(VORNTRAY_EXE)));
        EXPECT_EQ(ReadFile(dir + "\\InstallZel.exe"), ReadFile(ToWindowsPath(INSTALLZEL_EXE)));
        EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"InstallZel.exe", "VornTray.exe"}));
        EXPECT_EQ(ReadValue(kRunKey, "VornTray").text, Quoted(dir + "\\VornTray.exe"));

        std::vector<std::string> entries = PackageEntries();
        ASSERT_EQ(entries.size(), 1u);
        const std::string& key = entries[0];
        struct Expected
        {
            const char* name;
            std::string text;
        };
        const Expected texts[] = {
            {"DisplayVersion", "5.1.1.0"},
            {"Publisher", "Vorn"},
            {"InstallLocation", dir + "\\"},
            {"UninstallString", "MsiExec.exe /X" + ProductCodeOf(key)},
        };
        for (const Expected& value : texts)
            EXPECT_EQ(ReadValue(key, value.name).text, value.text) << value.name;
        EXPECT_EQ(ReadValue(key, "NoModify").number, 1u);
        EXPECT_EQ(ReadValue(key, "NoRepair").number, 1u);
        EXPECT_FALSE(KeyExists(kSetupEntryKey)) << "the setup's entry too";
    }

    static void ExpectNothingInstalled()
    {
        EXPECT_FALSE(Exists(DefaultInstallDir()));
        EXPECT_FALSE(Exists(ProgramFiles() + "\\Vorn"));
        EXPECT_FALSE(ReadValue(kRunKey, "VornTray").exists);
        EXPECT_TRUE(PackageEntries().empty());
        EXPECT_FALSE(KeyExists(kSetupEntryKey));
    }

    AcpiServerStandIn m_server{ACPISERVER_EXE};
};

TEST_F(Package, SilentInstallPlacesEverythingRunsInstallZelAndLeavesVornTrayToTheNextLogon)
{
    ASSERT_TRUE(m_server.Start());
    MsiRun run = InstallPackage(PACKAGE_MSI);
    ASSERT_EQ(run.exitCode, 0u) << run.log;
    ExpectInstalled(DefaultInstallDir());
    EXPECT_EQ(m_server.RequestKinds(), kTheTenRequests);
    EXPECT_NE(run.log.find("Running InstallZel"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("InstallZel ended"), std::string::npos) << run.log;
    // Program Files protects itself: the folder's own protection is for other places.
    EXPECT_EQ(run.log.find("Protected "), std::string::npos);
    EXPECT_TRUE(VornTrayWindows().empty()) << "the package started VornTray";

    // The uninstall a deployment tool derives from the ProductCode takes it all away, the emptied
    // Vorn folder too.
    EXPECT_EQ(UninstallPackage(ProductCodeOf(PackageEntries().at(0))).exitCode, 0u);
    ExpectNothingInstalled();
}

TEST_F(Package, SilentInstallWithoutServerSkipsInstallZelWithinItsBoundAndSaysHowToRunItLater)
{
    MsiRun run = InstallPackage(PACKAGE_MSI);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_LT(run.elapsedMs, kInstallBoundMs);
    EXPECT_FALSE(VisibleDialogExists()) << "a window waits for an answer";
    const std::string advice = "InstallZel skipped: no ACPI server window within 10 s. Install the Vorn ACPI server, "
                               "then run " + DefaultInstallDir() + "\\InstallZel.exe once";
    EXPECT_NE(run.log.find(advice), std::string::npos) << run.log;
    ExpectInstalled(DefaultInstallDir());
}

TEST_F(Package, FolderOutsideProgramFilesIsInstalledAndProtected)
{
    ASSERT_TRUE(m_server.Start());
    const std::string dir = "C:\\ZelPC Elsewhere";
    MsiRun run = InstallPackage(PACKAGE_MSI, " INSTALLDIR=" + Quoted(dir));
    ASSERT_EQ(run.exitCode, 0u) << run.log;
    ExpectInstalled(dir);
    EXPECT_FALSE(Exists(ProgramFiles() + "\\Vorn"));
    // Wine accepts the access list and keeps none (folders get a default from the Unix
    // permissions), so what shows here is that the protection was applied without an error.
    EXPECT_NE(run.log.find("Protected " + dir + "\\: Administrators and SYSTEM full control, Users read and execute"),
              std::string::npos) << run.log;
    EXPECT_EQ(UninstallPackage(ProductCodeOf(PackageEntries().at(0))).exitCode, 0u);
    EXPECT_FALSE(Exists(dir));
}

TEST_F(Package, UpgradeClosesTheRunningVornTrayReplacesTheFilesAndKeepsTheSavedMode)
{
    ASSERT_TRUE(m_server.Start());
    ASSERT_EQ(InstallPackage(OLDER_PACKAGE_MSI).exitCode, 0u);
    ASSERT_EQ(ReadValue(PackageEntries().at(0), "DisplayVersion").text, "5.1.0.0");
    LogonStart tray;
    ASSERT_TRUE(tray.Start());
    ASSERT_TRUE(SendMessageTimeoutA(tray.Window(), WM_COMMAND, IDM_LCD_800X600, 0, SMTO_NORMAL, kTimeoutMs, nullptr));
    ExpectStoredDword("DispHeight", 600);

    MsiRun upgrade = InstallPackage(PACKAGE_MSI);
    // 0, not 3010: VornTray let go of its file before it was replaced.
    ASSERT_EQ(upgrade.exitCode, 0u) << upgrade.log;
    EXPECT_TRUE(tray.Ended()) << "VornTray still runs";
    // Ended by its own WM_CLOSE handling, which returns 0; a kill leaves another code.
    EXPECT_EQ(tray.ExitCode(), 0u);
    EXPECT_NE(upgrade.log.find("File: VornTray.exe,  Directory: INSTALLDIR"), std::string::npos) << upgrade.log;
    ExpectInstalled(DefaultInstallDir());
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", 600);
    EXPECT_TRUE(VornTrayWindows().empty()) << "the package started VornTray";
    // Both installations ran InstallZel.
    EXPECT_EQ(m_server.RequestKinds().size(), 2 * kTheTenRequests.size());
}

TEST_F(Package, DowngradeIsRefusedAndLeavesTheNewerVersion)
{
    ASSERT_TRUE(m_server.Start());
    ASSERT_EQ(InstallPackage(PACKAGE_MSI).exitCode, 0u);
    ExpectRefusedByLaunchCondition(InstallPackage(OLDER_PACKAGE_MSI), "WIX_DOWNGRADE_DETECTED");
    ExpectInstalled(DefaultInstallDir());
}

struct UninstallCase
{
    const char* label;
    const char* properties;
    bool savedModeKept;
};

// Names the row in test output.
void PrintTo(const UninstallCase& row, std::ostream* out)
{
    *out << row.label;
}

class PackageUninstall : public Package, public ::testing::WithParamInterface<UninstallCase>
{
};

TEST_P(PackageUninstall, ClosesVornTrayAndRemovesWhatThePackageMadeAndNothingElse)
{
    const UninstallCase& row = GetParam();
    ASSERT_TRUE(m_server.Start());
    ASSERT_EQ(InstallPackage(PACKAGE_MSI).exitCode, 0u);
    LogonStart tray;
    ASSERT_TRUE(tray.Start());
    ExpectStoredDword("DispHeight", 480);
    // Neighbours the package did not make: a key beside the saved mode, a folder beside the
    // programs, a Run value of another program.
    unique_hkey neighbour;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNeighbourKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              neighbour.put(), nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(neighbour.get(), "Kept", 0, REG_SZ, reinterpret_cast<const BYTE*>("yes"), 4),
              ERROR_SUCCESS);
    neighbour.reset();
    const std::string neighbourDir = ProgramFiles() + "\\Vorn\\Neighbour";
    ASSERT_TRUE(CreateDirectoryA(neighbourDir.c_str(), nullptr));
    std::ofstream(neighbourDir + "\\kept.txt") << "kept";
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, "VornNeighbour", REG_SZ, "neighbour.exe", 14),
              ERROR_SUCCESS);

    MsiRun run = UninstallPackage(ProductCodeOf(PackageEntries().at(0)), row.properties);
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_TRUE(tray.Ended()) << "VornTray still runs";
    EXPECT_EQ(tray.ExitCode(), 0u);
    EXPECT_FALSE(Exists(DefaultInstallDir()));
    EXPECT_FALSE(ReadValue(kRunKey, "VornTray").exists);
    EXPECT_TRUE(PackageEntries().empty());
    EXPECT_EQ(KeyExists(kSettingsKey), row.savedModeKept);
    if (row.savedModeKept) {
        ExpectStoredDword("DispWidth", 800);
        ExpectStoredDword("DispHeight", 480);
    }

    EXPECT_EQ(ReadValue(kNeighbourKey, "Kept").text, "yes");
    EXPECT_EQ(ReadFile(neighbourDir + "\\kept.txt"), "kept");
    EXPECT_EQ(ReadValue(kRunKey, "VornNeighbour").text, "neighbour.exe");
    DeleteFileA((neighbourDir + "\\kept.txt").c_str());
    RemoveDirectoryA(neighbourDir.c_str());
    RemoveDirectoryA((ProgramFiles() + "\\Vorn").c_str());
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, "VornNeighbour");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kNeighbourKey);
}

INSTANTIATE_TEST_SUITE_P(Table, PackageUninstall, ::testing::Values(
    UninstallCase{"keep_saved_mode", "", true},
    UninstallCase{"purge", " PURGE=1", false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Package, IsRefusedWhereTheSetupInstalled)
{
    ASSERT_TRUE(m_server.Start());
    ASSERT_EQ(RunSetup("/S").exitCode, 0u);
    ASSERT_TRUE(KeyExists(kSetupEntryKey));
    CloseVornTrays();
    ExpectRefusedByLaunchCondition(InstallPackage(PACKAGE_MSI), "ZELPCSETUPINSTALLED");
    EXPECT_TRUE(PackageEntries().empty());
    EXPECT_TRUE(Exists(DefaultInstallDir() + "\\Uninstall.exe")) << "the setup's installation was touched";
    EXPECT_EQ(ReadValue(kRunKey, "VornTray").text, Quoted(DefaultInstallDir() + "\\VornTray.exe"));
}

TEST_F(Package, SetupIsRefusedWhereThePackageInstalled)
{
    ASSERT_TRUE(m_server.Start());
    ASSERT_EQ(InstallPackage(PACKAGE_MSI).exitCode, 0u);
    EXPECT_EQ(RunSetup("/S").exitCode, 2u);
    EXPECT_FALSE(VisibleDialogExists());
    EXPECT_FALSE(KeyExists(kSetupEntryKey));
    EXPECT_FALSE(Exists(DefaultInstallDir() + "\\Uninstall.exe"));
    EXPECT_FALSE(Exists(DefaultInstallDir() + "\\ZelPCSetup.log"));
    EXPECT_TRUE(VornTrayWindows().empty()) << "the setup started VornTray";
    ExpectInstalled(DefaultInstallDir());
}

} // namespace
