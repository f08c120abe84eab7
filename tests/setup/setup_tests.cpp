// ZelPCSetup.exe run for real, as an administrator or a deployment tool runs it: what it leaves in
// Program Files and the registry, what reaches the ACPI server stand-in, the VornTray it starts,
// and what its uninstaller takes away again.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <algorithm>
#include <cctype>
#include <map>
#include <fstream>
#include <string>
#include <vector>
#include "handles.h"
#include "folderrights.h"
#include "installfixture.h"
#include "messages.h"
#include "processlist.h"
#include "rowlabel.h"
#include "savedmode.h"
#include "shellicon.h"
#include "standin.h"

namespace {

using rowlabel::operator<<;

// A silent installation waits 10 s for the server before it skips InstallZel; the rest is Wine
// starting the setup and the programs.
const DWORD kInstallBoundMs = 10000 + MachineMs(15000);

// The setup writes its log as UTF-16.
std::string ReadLog(const std::string& dir = InstallDir())
{
    return AsciiText(FileContent(dir + "\\ZelPCSetup.log"));
}

// The Run values that start some VornTray.exe, by name.
std::vector<std::string> RunEntriesForVornTray()
{
    std::vector<std::string> names;
    for (const auto& [name, command] : TextValuesOf(kRunKey))
        if (command.find("VornTray.exe") != std::string::npos)
            names.push_back(name);
    return names;
}

std::vector<HWND> VornTrayWindows()
{
    return WindowsOfClass(kVornTrayClass);
}

std::string ImagePath(HANDLE process)
{
    char path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    QueryFullProcessImageNameA(process, 0, path, &size);
    return path;
}

// Whatever an earlier test or run installed, gone without the uninstaller.
void RemoveInstallation()
{
    CloseVornTrays();
    RemoveSetupInstallation();
    RemoveSettings();
}

// The quiet uninstall command the Apps entry gives, run as the Apps page would. The uninstaller
// copies itself to the temporary folder and that copy does the work: the run ends with the copy.
SetupRun Uninstall(const std::string& extraArguments)
{
    SetupRun run;
    std::string command = ReadValue(kSetupEntryKey, "QuietUninstallString").text + extraArguments;
    ChildProcess uninstaller;
    DWORD start = GetTickCount();
    if (!uninstaller.Start(command)) {
        ADD_FAILURE() << "cannot start " << command;
        return run;
    }
    std::vector<DWORD> children;
    PumpUntil([&] {
        std::vector<DWORD> now = ChildrenOf(uninstaller.Id());
        children.insert(children.end(), now.begin(), now.end());
        return !uninstaller.Running();
    }, kSetupTimeoutMs);
    std::vector<DWORD> late = ChildrenOf(uninstaller.Id());
    children.insert(children.end(), late.begin(), late.end());
    run.exitCode = uninstaller.Wait(0);
    for (DWORD child : children) {
        unique_handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child));
        if (!process)
            continue;
        PumpUntil([&] { return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; }, kSetupTimeoutMs, process.get());
        GetExitCodeProcess(process.get(), &run.exitCode);
    }
    run.elapsedMs = GetTickCount() - start;
    printf("uninstall%s: exit code %lu after %lu ms\n", extraArguments.c_str(), run.exitCode, run.elapsedMs);
    return run;
}

// The VornTray setup started, once its window is there.
HWND WaitForVornTray()
{
    HWND window = nullptr;
    PumpUntil([&] {
        std::vector<HWND> windows = VornTrayWindows();
        window = windows.empty() ? nullptr : windows[0];
        return window != nullptr;
    }, kTimeoutMs);
    return window;
}

// A refused run starts again the VornTray it closed on the way.
void ExpectInstalledVornTrayRuns()
{
    HWND tray = WaitForVornTray();
    ASSERT_NE(tray, nullptr) << "the installed VornTray no longer runs";
    unique_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessOf(tray)));
    EXPECT_EQ(ImagePath(process.get()), InstallDir() + "\\VornTray.exe");
}

// A clean machine: nothing installed, no saved mode, the display at 1024 x 600; the stand-in
// server is started by the tests that want it.
class Setup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemoveInstallation();
        SetDisplayMode(1024, 600);
    }
    void TearDown() override { RemoveInstallation(); }

    // What a completed installation leaves, and the VornTray it started.
    HWND ExpectInstalled(const SetupRun& run)
    {
        const std::string dir = InstallDir();
        ExpectProgramsIn(dir);
        EXPECT_TRUE(Exists(dir + "\\Uninstall.exe"));

        struct Expected
        {
            const char* name;
            std::string text;
        };
        const Expected entry[] = {
            {"DisplayName", "Vorn ZelPC Utilities"},
            {"DisplayVersion", "5.1.1.0"},
            {"Publisher", "Vorn"},
            {"InstallLocation", dir},
            {"UninstallString", "\"" + dir + "\\Uninstall.exe\""},
            {"QuietUninstallString", "\"" + dir + "\\Uninstall.exe\" /S"},
            {"DisplayIcon", dir + "\\VornTray.exe,0"},
        };
        for (const Expected& value : entry)
            EXPECT_EQ(ReadValue(kSetupEntryKey, value.name).text, value.text) << value.name;
        DWORD bytes = 0;
        for (const std::string& name : FilesIn(dir))
            bytes += FileContent(dir + "\\" + name).size();
        RegistryValue size = ReadValue(kSetupEntryKey, "EstimatedSize");
        EXPECT_EQ(size.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_NEAR(size.number, bytes / 1024, 2) << "KB";

        HWND tray = WaitForVornTray();
        if (!tray) {
            ADD_FAILURE() << "VornTray is not running";
            return nullptr;
        }
        unique_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessOf(tray)));
        EXPECT_EQ(ImagePath(process.get()), dir + "\\VornTray.exe");
        // Wine gives every process the full administrator token, the test's own included, so an
        // un-elevated VornTray cannot be told apart here; what shows is that setup handed the start
        // to the shell instead of starting VornTray itself with its own token.
        EXPECT_NE(ParentOf(ProcessOf(tray)), run.processId) << "VornTray started by setup itself";
        EXPECT_TRUE(PumpUntil([&] { return IconInNotificationArea(tray); }, kTimeoutMs)) << "no icon";
        return tray;
    }

    void ExpectNothingInstalled()
    {
        ExpectNoInstallation();
        EXPECT_TRUE(VornTrayWindows().empty());
    }

    AcpiServerStandIn m_server{ACPISERVER_EXE};
};

TEST_F(Setup, SilentInstallPlacesEverythingRunsInstallZelAndStartsVornTray)
{
    ASSERT_TRUE(m_server.Start());
    SetupRun run = RunSetup();
    ASSERT_EQ(run.exitCode, 0u);
    ExpectInstalled(run);
    EXPECT_EQ(m_server.RequestKinds(), kFullRun);
    EXPECT_NE(ReadLog().find("Running InstallZel"), std::string::npos) << ReadLog();
}

TEST_F(Setup, SilentUpgradeClosesVornTrayKeepsTheSavedModeAndStartsItAgain)
{
    ASSERT_TRUE(m_server.Start());
    ASSERT_EQ(RunSetup().exitCode, 0u);
    HWND first = WaitForVornTray();
    ASSERT_NE(first, nullptr);
    unique_handle firstProcess(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, ProcessOf(first)));
    ASSERT_TRUE(firstProcess);
    // The user's choice, made through VornTray itself once its start, which saves the default, is over.
    ASSERT_TRUE(PumpUntil([&] { return WaitForInputIdle(firstProcess.get(), 0) == 0; }, kTimeoutMs));
    ASSERT_TRUE(SendMessageTimeoutA(first, WM_COMMAND, IDM_LCD_800X600, 0, SMTO_NORMAL, kTimeoutMs, nullptr));
    ExpectStoredDword("DispHeight", 600);

    SetupRun upgrade = RunSetup();
    ASSERT_EQ(upgrade.exitCode, 0u);
    // Ended by its own WM_CLOSE handling, which returns 0; a kill leaves another code.
    DWORD exitCode = STILL_ACTIVE;
    EXPECT_EQ(WaitForSingleObject(firstProcess.get(), 0), WAIT_OBJECT_0);
    GetExitCodeProcess(firstProcess.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);

    HWND second = ExpectInstalled(upgrade);
    EXPECT_NE(second, first);
    EXPECT_EQ(VornTrayWindows().size(), 1u);
    ExpectStoredDword("DispWidth", 800);
    ExpectStoredDword("DispHeight", 600);
    EXPECT_EQ(CurrentDisplayMode().Text(), "800x600");
    EXPECT_EQ(RunEntriesForVornTray(), std::vector<std::string>{"VornTray"});
    EXPECT_EQ(FilesIn(InstallDir()), (std::vector<std::string>{"InstallZel.exe", "Uninstall.exe", "VornTray.exe", "ZelPCSetup.log"}));
    // Both installations ran InstallZel.
    EXPECT_EQ(m_server.RequestKinds().size(), 2 * kFullRun.size());
}

TEST_F(Setup, SilentInstallWithoutServerSkipsInstallZelWithinItsBound)
{
    SetupRun run = RunSetup();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_LT(run.elapsedMs, kInstallBoundMs);
    EXPECT_FALSE(ProcessRunning("InstallZel.exe"));
    EXPECT_FALSE(VisibleDialogExists()) << "a window waits for an answer";
    EXPECT_NE(ReadLog().find("InstallZel skipped: no ACPI server window within 10 s"), std::string::npos)
        << ReadLog();
    ExpectInstalled(run);
}

using SilentUninstall = TableOf<Setup, UninstallCase>;

TEST_P(SilentUninstall, RemovesWhatSetupMadeAndNothingElse)
{
    const UninstallCase& row = GetParam();
    ASSERT_TRUE(m_server.Start());
    ASSERT_EQ(RunSetup().exitCode, 0u);
    HWND tray = WaitForVornTray();
    ASSERT_NE(tray, nullptr);
    unique_handle trayProcess(OpenProcess(SYNCHRONIZE, FALSE, ProcessOf(tray)));
    // Neighbours setup did not make.
    Neighbours neighbours;
    ASSERT_NO_FATAL_FAILURE(neighbours.Place());
    VirtualStoreCopy copy;
    ASSERT_NO_FATAL_FAILURE(copy.Place());
    // Where the uninstaller says what it purged, the install folder being gone.
    const std::string purgeLog = TempPath("ZelPCSetup.log");
    DeleteFileA(purgeLog.c_str());

    SetupRun run = Uninstall(row.arguments);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(WaitForSingleObject(trayProcess.get(), 0), WAIT_OBJECT_0) << "VornTray still runs";
    EXPECT_TRUE(VornTrayWindows().empty());
    EXPECT_FALSE(Exists(InstallDir()));
    EXPECT_FALSE(ReadValue(kRunKey, "VornTray").exists);
    EXPECT_FALSE(KeyExists(kSetupEntryKey));
    ExpectSavedModeAfterUninstall(row, copy);
    neighbours.ExpectKept();
    if (!row.savedModeKept)
        ExpectPurgeSaid(AsciiText(FileContent(purgeLog)));
}

INSTANTIATE_TEST_SUITE_P(Table, SilentUninstall, ::testing::Values(
    UninstallCase{"keep_saved_mode", "", true},
    UninstallCase{"purge", " /PURGE", false}),
    rowlabel::Name());

TEST_F(Setup, ReadOnlyRunKeyRefusesTheInstallationAndLeavesNothing)
{
    ReadOnlyKey runKey(kRunKey);
    ASSERT_TRUE(runKey.Made());
    ASSERT_NE(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, "Probe", REG_SZ, "x", 2), ERROR_SUCCESS)
        << "the key is still writable";
    EXPECT_EQ(RunSetup().exitCode, 2u);
    EXPECT_FALSE(VisibleDialogExists());
    ExpectNothingInstalled();
}

TEST_F(Setup, FolderThatCannotBeWrittenRefusesTheInstallationAndLeavesNothing)
{
    // Z: is the Unix root under Wine, and nobody, root included, makes a folder in /proc.
    EXPECT_EQ(RunSetup("/S /D=Z:\\proc\\Vorn\\ZelPC").exitCode, 2u);
    EXPECT_FALSE(VisibleDialogExists());
    ExpectNothingInstalled();
}

// The setup cut in the middle of its packed data, after the program part Windows loads, as an
// interrupted download leaves it.
std::string CutShortCopy()
{
    std::string setup = FileContent(ToWindowsPath(SETUP_EXE));
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(setup.data());
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(setup.data() + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    size_t imageEnd = 0;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i)
        imageEnd = std::max<size_t>(imageEnd, section[i].PointerToRawData + section[i].SizeOfRawData);
    EXPECT_LT(imageEnd, setup.size());
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "ZelPCSetup-cut.exe";
    std::ofstream(path, std::ios::binary).write(setup.data(), (imageEnd + setup.size()) / 2);
    return path;
}

struct CutShortCase
{
    const char* label;
    const char* arguments;
    bool interactive;
};

using CutShortSetup = TableOf<Setup, CutShortCase>;

TEST_P(CutShortSetup, IsRefusedByTheIntegrityCheckAndInstallsNothing)
{
    const CutShortCase& row = GetParam();
    const std::string cut = CutShortCopy();
    ChildProcess setup;
    ASSERT_TRUE(setup.Start("\"" + cut + "\" " + row.arguments));
    if (row.interactive) {
        HWND box = WaitForMessageBox(setup.Id(), kTimeoutMs);
        ASSERT_NE(box, nullptr) << "no message box";
        std::wstring text = MessageBoxText(box);
        EXPECT_NE(text.find(L"Installer integrity check has failed"), std::wstring::npos) << text;
        PressOk(box);
    }
    EXPECT_EQ(setup.Wait(kSetupTimeoutMs), 2u);
    DeleteFileA(cut.c_str());
    ExpectNothingInstalled();
}

INSTANTIATE_TEST_SUITE_P(Table, CutShortSetup, ::testing::Values(
    CutShortCase{"silent", "/S", false},
    CutShortCase{"interactive", "", true}),
    rowlabel::Name());

// A file's size and FNV-1a hash, short enough to print when two differ.
std::string Digest(const std::string& content)
{
    unsigned long long hash = 14695981039346656037ull;
    for (unsigned char byte : content)
        hash = (hash ^ byte) * 1099511628211ull;
    char text[64];
    snprintf(text, sizeof(text), "%zu bytes, %016llx", content.size(), hash);
    return text;
}

// Every file of the install folder with its digest, the Run value and the Apps entry.
std::map<std::string, std::string> InstallationSnapshot()
{
    std::map<std::string, std::string> snapshot;
    for (const std::string& name : FilesIn(InstallDir()))
        snapshot["file " + name] = Digest(FileContent(InstallDir() + "\\" + name));
    snapshot["run VornTray"] = ReadValue(kRunKey, "VornTray").text;
    for (const char* name : {"DisplayName", "DisplayVersion", "InstallLocation", "UninstallString"})
        snapshot[std::string("apps ") + name] = ReadValue(kSetupEntryKey, name).text;
    return snapshot;
}

struct StubbornCase
{
    const char* label;
    bool upgrade;
};

using StubbornVornTraySetup = TableOf<Setup, StubbornCase>;

// Setup gives a VornTray 10 s to end after WM_CLOSE, then refuses before it has written anything.
// Wine lets any process open any other (measured: even a protected, empty DACL on a process leaves
// OpenProcess(SYNCHRONIZE) working), so the window of a process setup cannot open is met only on
// Windows; setup watches the window itself on both paths, and this row runs that watch.
TEST_P(StubbornVornTraySetup, IsRefusedWithinTheCloseWaitAndLeavesWhatWasThere)
{
    const StubbornCase& row = GetParam();
    std::map<std::string, std::string> before;
    if (row.upgrade) {
        ASSERT_TRUE(m_server.Start());
        ASSERT_EQ(RunSetup().exitCode, 0u);
        ASSERT_NE(WaitForVornTray(), nullptr);
        before = InstallationSnapshot();
    }
    SetupRun run;
    int closesIgnored = 0;
    {
        StubbornVornTray stubborn;
        ASSERT_NE(stubborn.Window(), nullptr);
        run = RunSetup();
        closesIgnored = stubborn.ClosesAsked();
    }
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_GE(closesIgnored, 1) << "setup never asked the window to close";
    EXPECT_GE(run.elapsedMs, 10000u) << "refused without giving VornTray its 10 s";
    EXPECT_LT(run.elapsedMs, kInstallBoundMs);
    EXPECT_FALSE(VisibleDialogExists());
    if (!row.upgrade) {
        ExpectNothingInstalled();
        return;
    }
    EXPECT_EQ(InstallationSnapshot(), before);
    // The VornTray setup closed on the way, if it met that one first, runs again.
    ExpectInstalledVornTrayRuns();
}

INSTANTIATE_TEST_SUITE_P(Table, StubbornVornTraySetup, ::testing::Values(
    StubbornCase{"first_install", false},
    StubbornCase{"upgrade", true}),
    rowlabel::Name());

// A file of the installation held open for reading by this test with FILE_SHARE_READ only, as
// another logged-on user's VornTray holds VornTray.exe where setup's closing cannot see it.
class HeldFile
{
public:
    explicit HeldFile(const std::string& path)
        : m_file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    bool Held() const { return static_cast<bool>(m_file); }

private:
    unique_hfile m_file;
};

struct HeldFileCase
{
    const char* label;
    const char* file;
    bool uninstall;
};

using FileInUse = TableOf<Setup, HeldFileCase>;

// A file that cannot be replaced or removed refuses the upgrade or the uninstall before anything
// changes (exit code 2): the files, the Run value and the Apps entry stay as they were, and the
// VornTray closed on the way runs again. NSIS alone would skip the file and report success.
TEST_P(FileInUse, RefusesAndLeavesTheInstallationAsItWas)
{
    const HeldFileCase& row = GetParam();
    ASSERT_TRUE(m_server.Start());
    ASSERT_EQ(RunSetup().exitCode, 0u);
    ASSERT_NE(WaitForVornTray(), nullptr);
    const std::map<std::string, std::string> before = InstallationSnapshot();
    DeleteFileA(TempPath("ZelPCSetup.log").c_str());
    SetupRun run;
    {
        HeldFile held(InstallDir() + "\\" + row.file);
        ASSERT_TRUE(held.Held()) << GetLastError();
        run = row.uninstall ? Uninstall("") : RunSetup();
    }
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_FALSE(VisibleDialogExists());
    EXPECT_EQ(InstallationSnapshot(), before);
    const std::string refusal = AsciiText(FileContent(TempPath("ZelPCSetup.log")));
    EXPECT_NE(refusal.find(InstallDir() + "\\" + row.file + " is in use by another program"), std::string::npos)
        << refusal;
    ExpectInstalledVornTrayRuns();
}

INSTANTIATE_TEST_SUITE_P(Table, FileInUse, ::testing::Values(
    HeldFileCase{"upgrade_vorntray", "VornTray.exe", false},
    HeldFileCase{"upgrade_installzel", "InstallZel.exe", false},
    HeldFileCase{"uninstall_vorntray", "VornTray.exe", true}),
    rowlabel::Name());

std::string Lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string ProgramFilesX86()
{
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, 0, path);
    return path;
}

const char kFolderRuleLine[] = ": owner Administrators; Administrators and SYSTEM full control, Users read and execute";

struct FolderCase
{
    const char* label;
    // The folder given with /D=, and the one it names once "." and ".." are resolved.
    std::string (*folder)();
    std::string (*resolved)();
    bool outsideProgramFiles;
    // Folders the test leaves behind above it, removed afterwards, innermost first.
    std::vector<std::string> (*parents)();
};

using FolderRule = TableOf<Setup, FolderCase>;

// Where setup installs decides who may change VornTray.exe, which starts at every user's logon:
// inside Program Files the folder keeps the rights it inherits there, elsewhere setup gives it
// Program Files' own. What setup's run shows: its exit code, the files and its log line. Wine does
// not keep a folder's DACL (SetNamedSecurityInfo succeeds, the folder then shows a default one), so
// the rights themselves are checked on Windows only.
TEST_P(FolderRule, DecidesTheFolderRightsByWhereTheFolderReallyIs)
{
    const FolderCase& row = GetParam();
    const std::string folder = row.folder(), dir = row.resolved();
    ASSERT_TRUE(m_server.Start());
    SetupRun run = RunSetup("/S /D=" + folder);
    ASSERT_EQ(run.exitCode, 0u);
    EXPECT_EQ(FileContent(dir + "\\VornTray.exe"), FileContent(ToWindowsPath(VORNTRAY_EXE)));
    EXPECT_EQ(ReadLog(dir).find(kFolderRuleLine) != std::string::npos, row.outsideProgramFiles) << ReadLog(dir);
    if (row.outsideProgramFiles)
        ExpectProgramFilesRights(dir);
    ASSERT_NE(WaitForVornTray(), nullptr);
    EXPECT_EQ(Uninstall("").exitCode, 0u);
    EXPECT_FALSE(Exists(dir));
    for (const std::string& parent : row.parents())
        RemoveDirectoryA(parent.c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, FolderRule, ::testing::Values(
    FolderCase{"outside", [] { return std::string("C:\\Tools\\ZelPC"); }, [] { return std::string("C:\\Tools\\ZelPC"); },
               true, [] { return std::vector<std::string>{"C:\\Tools"}; }},
    FolderCase{"dot_dot_out_of_program_files", [] { return ProgramFiles() + "\\..\\Tools\\ZelPC"; },
               [] { return std::string("C:\\Tools\\ZelPC"); }, true, [] { return std::vector<std::string>{"C:\\Tools"}; }},
    FolderCase{"program_files_as_a_prefix", [] { return ProgramFiles() + "X\\ZelPC"; },
               [] { return ProgramFiles() + "X\\ZelPC"; }, true, [] { return std::vector<std::string>{ProgramFiles() + "X"}; }},
    FolderCase{"program_files_other_case", [] { return Lowercase(InstallDir()); }, [] { return InstallDir(); }, false,
               [] { return std::vector<std::string>{ProgramFiles() + "\\Vorn"}; }},
    FolderCase{"program_files_x86", [] { return ProgramFilesX86() + "\\Vorn\\ZelPC"; },
               [] { return ProgramFilesX86() + "\\Vorn\\ZelPC"; }, false,
               [] { return std::vector<std::string>{ProgramFilesX86() + "\\Vorn"}; }}),
    rowlabel::Name());

// A run of the setup into folder, with what it logged: in the folder when it took it, in TEMP
// when it refused it and left the folder alone.
InstallerRun SetupInto(const std::string& folder)
{
    const std::string refusals = TempPath("ZelPCSetup.log");
    DeleteFileA(refusals.c_str());
    SetupRun run = RunSetup("/S /D=" + folder);
    // The VornTray it starts at the end holds the folder as its working folder.
    if (run.exitCode == 0) {
        EXPECT_NE(WaitForVornTray(), nullptr);
    }
    return {run.exitCode, AsciiText(FileContent(refusals)) + ReadLog(folder)};
}

using InstallFolder = TableOf<Setup, InstallFolderCase>;

// The folder rule the package shares, as the setup applies it (tests/support/installfixture.cpp
// has the rows). The setup has no repair: a second run over its earlier installation is one.
TEST_P(InstallFolder, IsTakenOnlyWhereNothingElseIsAndProtectedAtEveryInstallation)
{
    ASSERT_TRUE(m_server.Start());
    RunInstallFolderCase(GetParam(), {2, SetupInto, SetupInto, [] { EXPECT_EQ(Uninstall("").exitCode, 0u); },
                                      [] {
                                          ExpectNoInstallation();
                                          EXPECT_TRUE(VornTrayWindows().empty());
                                      }});
}

INSTANTIATE_TEST_SUITE_P(Table, InstallFolder, ::testing::ValuesIn(InstallFolderCases()), rowlabel::Name());

// Outside Program Files setup does not take over a folder that holds something else: rights set
// there would change them for the other files too.
TEST_F(Setup, FolderOutsideProgramFilesWithOtherFilesIsRefusedAndKeptAsItWas)
{
    const std::string dir = "C:\\Tools\\Other";
    ASSERT_TRUE(CreateDirectoryA("C:\\Tools", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    std::ofstream(dir + "\\notes.txt") << "kept";
    EXPECT_EQ(RunSetup("/S /D=" + dir).exitCode, 2u);
    EXPECT_FALSE(VisibleDialogExists());
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(FileContent(dir + "\\notes.txt"), "kept");
    ExpectNothingInstalled();
    DeleteFileA((dir + "\\notes.txt").c_str());
    RemoveDirectoryA(dir.c_str());
    RemoveDirectoryA("C:\\Tools");
}

} // namespace
