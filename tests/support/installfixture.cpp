#include "installfixture.h"
#include <sddl.h>
#include <shlobj.h>
#include <algorithm>
#include <fstream>
#include <sstream>
#include "folderrights.h"
#include "handles.h"
#include "messages.h"
#include "savedmode.h"
#include "shellicon.h"
#include "vorntray/resource.h"

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSetupEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VornZelPC";

namespace {
const char kNeighbourKey[] = "SOFTWARE\\Vorn\\Neighbour";
}

std::string ProgramFiles()
{
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path);
    return path;
}

std::string InstallDir()
{
    return ProgramFiles() + "\\Vorn\\ZelPC";
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string FileContent(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
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

std::vector<std::string> SubkeysOf(const char* key)
{
    std::vector<std::string> names;
    unique_hkey handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
        return names;
    char name[256];
    DWORD size = sizeof(name);
    for (DWORD i = 0; RegEnumKeyExA(handle.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, size = sizeof(name))
        names.push_back(name);
    return names;
}

std::vector<std::pair<std::string, std::string>> TextValuesOf(const char* key)
{
    std::vector<std::pair<std::string, std::string>> values;
    unique_hkey handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
        return values;
    char name[256];
    BYTE data[1024];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof(name), dataSize = sizeof(data) - 1, type = 0;
        if (RegEnumValueA(handle.get(), i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        data[dataSize] = 0;
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            values.emplace_back(name, reinterpret_cast<char*>(data));
    }
    return values;
}

std::string AsciiText(const std::string& raw)
{
    size_t first = 0;
    if (raw.size() >= 2 && raw[0] == '\xff' && raw[1] == '\xfe')
        first = 2;
    else if (raw.size() < 2 || raw[1] != '\0')
        return raw;
    std::string text;
    for (size_t i = first; i < raw.size(); i += 2)
        text += raw[i];
    return text;
}

bool VisibleDialogExists()
{
    HWND dialog = FindWindowA("#32770", nullptr);
    return dialog && IsWindowVisible(dialog);
}

void CloseVornTrays()
{
    for (HWND window : WindowsOfClass(kVornTrayClass)) {
        unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, ProcessOf(window)));
        PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
        if (process)
            PumpUntil([&] { return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; }, kTimeoutMs,
                      process.get());
    }
}

SetupRun RunSetup(const std::string& arguments)
{
    SetupRun run;
    ChildProcess setup;
    DWORD start = GetTickCount();
    EXPECT_TRUE(setup.Start("\"" + ToWindowsPath(SETUP_EXE) + "\" " + arguments)) << GetLastError();
    run.processId = setup.Id();
    run.exitCode = setup.Wait(kSetupTimeoutMs);
    run.elapsedMs = GetTickCount() - start;
    printf("setup %s: exit code %lu after %lu ms\n", arguments.c_str(), run.exitCode, run.elapsedMs);
    return run;
}

void RemoveSetupInstallation()
{
    const std::string dir = InstallDir();
    for (const std::string& name : FilesIn(dir))
        DeleteFileA((dir + "\\" + name).c_str());
    RemoveDirectoryA(dir.c_str());
    RemoveDirectoryA((ProgramFiles() + "\\Vorn").c_str());
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, "VornTray");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSetupEntryKey);
}

void ExpectProgramsIn(const std::string& dir)
{
    EXPECT_EQ(FileContent(dir + "\\VornTray.exe"), FileContent(ToWindowsPath(VORNTRAY_EXE)));
    EXPECT_EQ(FileContent(dir + "\\InstallZel.exe"), FileContent(ToWindowsPath(INSTALLZEL_EXE)));
    EXPECT_EQ(ReadValue(kRunKey, "VornTray").text, "\"" + dir + "\\VornTray.exe\"");
}

void ExpectNoInstallation()
{
    EXPECT_FALSE(Exists(InstallDir()));
    EXPECT_FALSE(Exists(ProgramFiles() + "\\Vorn"));
    EXPECT_FALSE(ReadValue(kRunKey, "VornTray").exists);
    EXPECT_FALSE(KeyExists(kSetupEntryKey));
}

namespace {
// A 32-bit VornTray's copy lies below WOW6432Node on 64-bit Windows.
std::string VirtualStoreKey()
{
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL
               ? "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\Vorn\\ZelPC"
               : "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\Vorn\\ZelPC";
}
} // namespace

void VirtualStoreCopy::Place()
{
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, VirtualStoreKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.put(), nullptr), ERROR_SUCCESS);
    for (auto [name, value] : {std::pair<const char*, DWORD>{"DispWidth", 800}, {"DispHeight", 600}})
        ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
}

bool VirtualStoreCopy::Kept() const
{
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, VirtualStoreKey().c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExA(key.get(), "DispWidth", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS ||
           RegQueryValueExA(key.get(), "DispHeight", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

VirtualStoreCopy::~VirtualStoreCopy()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes\\VirtualStore");
}

void ExpectSavedModeAfterUninstall(const UninstallCase& row, const VirtualStoreCopy& copy)
{
    EXPECT_EQ(KeyExists(kSettingsKey), row.savedModeKept);
    if (row.savedModeKept) {
        ExpectStoredDword("DispWidth", 800);
        ExpectStoredDword("DispHeight", 480);
    }
    EXPECT_EQ(copy.Kept(), row.savedModeKept) << "the virtualized copy under HKCU\\" << VirtualStoreKey();
}

void ExpectPurgeSaid(const std::string& log)
{
    for (const char* line : {"Saved panel mode removed from HKLM\\SOFTWARE\\Vorn\\ZelPC",
                             "Saved panel mode removed from HKEY_USERS\\",
                             "Users whose profile is not loaded now keep their own saved panel mode"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

std::string Neighbours::Folder() const
{
    return ProgramFiles() + "\\Vorn\\Neighbour";
}

void Neighbours::Place()
{
    unique_hkey neighbour;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNeighbourKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              neighbour.put(), nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(neighbour.get(), "Kept", 0, REG_SZ, reinterpret_cast<const BYTE*>("yes"), 4),
              ERROR_SUCCESS);
    ASSERT_TRUE(CreateDirectoryA(Folder().c_str(), nullptr));
    std::ofstream(Folder() + "\\kept.txt") << "kept";
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, "VornNeighbour", REG_SZ, "neighbour.exe", 14),
              ERROR_SUCCESS);
}

void Neighbours::ExpectKept() const
{
    EXPECT_EQ(ReadValue(kNeighbourKey, "Kept").text, "yes");
    EXPECT_EQ(FileContent(Folder() + "\\kept.txt"), "kept");
    EXPECT_EQ(ReadValue(kRunKey, "VornNeighbour").text, "neighbour.exe");
}

Neighbours::~Neighbours()
{
    DeleteFileA((Folder() + "\\kept.txt").c_str());
    RemoveDirectoryA(Folder().c_str());
    RemoveDirectoryA((ProgramFiles() + "\\Vorn").c_str());
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, "VornNeighbour");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kNeighbourKey);
}

ReadOnlyKey::ReadOnlyKey(const char* path)
{
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, READ_CONTROL | WRITE_DAC, m_key.put()) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    RegGetKeySecurity(m_key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    m_saved.resize(size);
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    m_made = RegGetKeySecurity(m_key.get(), DACL_SECURITY_INFORMATION, m_saved.data(), &size) == ERROR_SUCCESS &&
             ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                  nullptr) &&
             RegSetKeySecurity(m_key.get(), DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
    LocalFree(readOnly);
}

ReadOnlyKey::~ReadOnlyKey()
{
    if (m_made) {
        EXPECT_EQ(RegSetKeySecurity(m_key.get(), DACL_SECURITY_INFORMATION, m_saved.data()), ERROR_SUCCESS);
    }
}

StubbornVornTray::StubbornVornTray(OnClose onClose) : m_onClose(onClose)
{
    m_window = CreateHiddenWindow(kVornTrayClass, WindowProc, this);
}

StubbornVornTray::~StubbornVornTray()
{
    DestroyWindow(m_window);
}

LRESULT CALLBACK StubbornVornTray::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto self = reinterpret_cast<StubbornVornTray*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_CLOSE && self) {
        ++self->m_closesAsked;
        if (self->m_onClose == kComesBack) {
            self->m_window = CreateHiddenWindow(kVornTrayClass, WindowProc, self);
            DestroyWindow(window);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

const std::vector<InstallFolderCase>& InstallFolderCases()
{
    static const std::vector<InstallFolderCase> cases = {
        {"folder_holding_notes", "C:\\Apps", true, false, false, "C:\\Apps already holds other files", {}},
        {"drive_root", "C:\\", false, false, false, "C:\\ is a drive's root", {}},
        {"new_folder_on_a_new_parent", "C:\\Tools\\ZelPC", false, true, false,
         "Protected C:\\Tools\\ZelPC: owner Administrators; Administrators and SYSTEM full control, Users read and "
         "execute; so are the folders it made on the way: C:\\Tools",
         {"C:\\Tools"}},
        {"repaired_after_deleting_the_folder", "C:\\ZelPC", false, true, true,
         "Protected C:\\ZelPC: owner Administrators; Administrators and SYSTEM full control, Users read and execute",
         {}},
    };
    return cases;
}

namespace {

void RemoveFolderWithFiles(const std::string& folder)
{
    for (const std::string& name : FilesIn(folder))
        DeleteFileA((folder + "\\" + name).c_str());
    RemoveDirectoryA(folder.c_str());
}

// What a row leaves in its folders, gone however the row ends; never the drive's root itself.
struct RowFolders
{
    const InstallFolderCase& row;
    ~RowFolders()
    {
        if (std::string(row.folder).size() > 3)
            RemoveFolderWithFiles(row.folder);
        for (const std::string& parent : row.madeOnTheWay)
            RemoveDirectoryA(parent.c_str());
    }
};

} // namespace

void RunInstallFolderCase(const InstallFolderCase& row, const FolderTableInstaller& installer)
{
    const std::string folder = row.folder;
    RowFolders leftovers{row};
    if (row.holdsNotes) {
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
        std::ofstream(folder + "\\notes.txt") << "kept";
    }
    InstallerRun run = installer.install(folder);
    EXPECT_NE(run.log.find(row.logged), std::string::npos) << run.log;
    if (!row.taken) {
        EXPECT_EQ(run.exitCode, installer.refusedCode) << run.log;
        installer.expectNothingInstalled();
        const std::string programs = folder.back() == '\\' ? folder + "VornTray.exe" : folder + "\\VornTray.exe";
        EXPECT_FALSE(Exists(programs));
        if (row.holdsNotes) {
            EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"notes.txt"});
            EXPECT_EQ(FileContent(folder + "\\notes.txt"), "kept");
        }
        return;
    }
    ASSERT_EQ(run.exitCode, 0u) << run.log;
    ExpectProgramsIn(folder);
    ExpectProgramFilesRights(folder);
    for (const std::string& parent : row.madeOnTheWay)
        ExpectProgramFilesRights(parent);
    if (row.repairedAfterDeleting) {
        CloseVornTrays();
        RemoveFolderWithFiles(folder);
        ASSERT_FALSE(Exists(folder)) << "error " << GetLastError() << ", " << FilesIn(folder).size() << " files left";
        run = installer.repair(folder);
        EXPECT_EQ(run.exitCode, 0u) << run.log;
        EXPECT_NE(run.log.find(row.logged), std::string::npos) << run.log;
        ExpectProgramsIn(folder);
        ExpectProgramFilesRights(folder);
    }
    installer.uninstall();
    EXPECT_FALSE(Exists(folder + "\\VornTray.exe"));
}
