#include "folderrule.h"
#include <aclapi.h>
#include <sddl.h>
#include "handles.h"

namespace folderrule {

namespace {

// What a folder outside Program Files gets, the rights Program Files has: owned by Administrators,
// Administrators and SYSTEM full control, Users read and execute, nothing inherited from the
// parent, each entry handed down to the files and folders in it. 0x1200a9 is FILE_GENERIC_READ |
// FILE_GENERIC_EXECUTE.
const wchar_t kProtection[] = L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
const wchar_t kProtectionText[] = L"owner Administrators; Administrators and SYSTEM full control, Users read and execute";

// Rights on a parent that let its holder rename or replace what lies below it.
const ACCESS_MASK kTakeOverRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;

struct LocalDescriptor
{
    PSECURITY_DESCRIPTOR value = nullptr;
    ~LocalDescriptor() { LocalFree(value); }
};

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring WithoutTrailingBackslash(std::wstring path)
{
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

// "..", "." and "/" resolved, as the file system will see the path.
std::wstring FullPath(const std::wstring& path)
{
    if (path.empty())
        return std::wstring();
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return std::wstring();
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    full.resize(size);
    return WithoutTrailingBackslash(full);
}

std::wstring LongPath(const std::wstring& path)
{
    DWORD size = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (size == 0)
        return path;
    std::wstring longPath(size, L'\0');
    size = GetLongPathNameW(path.c_str(), &longPath[0], size);
    longPath.resize(size);
    return WithoutTrailingBackslash(longPath);
}

// Where an opened handle really is, "C:\..." (or "UNC\..." for a share), without the "\\?\".
std::wstring FinalPath(HANDLE file)
{
    DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, VOLUME_NAME_DOS);
    if (size == 0)
        return std::wstring();
    std::wstring path(size, L'\0');
    size = GetFinalPathNameByHandleW(file, &path[0], size, VOLUME_NAME_DOS);
    path.resize(size);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        path.erase(0, 4);
    return WithoutTrailingBackslash(path);
}

// The folder itself, not what a junction or symbolic link there points to.
unique_hfile OpenOwnFolder(const std::wstring& path, DWORD access)
{
    return unique_hfile(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

// Both Program Files folders as the 64-bit registry names them, whatever the width of this
// process: a 32-bit process is told the 32-bit folder for both by the shell.
std::vector<std::wstring> ProgramFilesFolders()
{
    std::vector<std::wstring> folders;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return folders;
    unique_hkey key(opened);
    for (const wchar_t* name : {L"ProgramFilesDir", L"ProgramFilesDir (x86)"}) {
        WCHAR value[MAX_PATH] = {};
        DWORD size = sizeof(value) - sizeof(WCHAR);
        DWORD type = REG_NONE;
        if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ) && value[0])
            folders.push_back(WithoutTrailingBackslash(value));
    }
    return folders;
}

// The final path of an existing folder, links followed, for the Program Files decision.
std::wstring FinalPathOf(const std::wstring& folder)
{
    unique_hfile opened(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return opened ? FinalPath(opened.get()) : std::wstring();
}

bool IsUnder(const std::wstring& path, const std::wstring& folder)
{
    return !folder.empty() && path.size() > folder.size() && path[folder.size()] == L'\\' &&
           SameText(path.substr(0, folder.size()), folder);
}

bool UnderProgramFiles(const std::wstring& finalPath)
{
    for (const std::wstring& folder : ProgramFilesFolders()) {
        std::wstring real = FinalPathOf(folder);
        if (IsUnder(finalPath, real.empty() ? folder : real))
            return true;
    }
    return false;
}

bool IsAdministrative(PSID sid)
{
    for (WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
        BYTE known[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(known);
        if (CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known))
            return true;
    }
    // NT SERVICE\TrustedInstaller, which owns the system's own folders.
    PSID trustedInstaller = nullptr;
    if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &trustedInstaller))
        return false;
    bool same = EqualSid(sid, trustedInstaller);
    LocalFree(trustedInstaller);
    return same;
}

std::wstring SidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return L"?";
    std::wstring shown = text;
    LocalFree(text);
    return shown;
}

// Empty when parent cannot be used to take over what lies below it, else why it can.
std::wstring TakeOverRisk(PSECURITY_DESCRIPTOR descriptor)
{
    if (!descriptor)
        return L"its owner and access list cannot be read";
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner)
        return L"its owner cannot be read";
    // An owner may always rewrite the DACL.
    if (!IsAdministrative(owner))
        return L"it is owned by " + SidText(owner) + L", not by Administrators or SYSTEM";
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return L"its access list cannot be read";
    if (!present || !dacl)
        return L"it has no access list: everybody may change it";
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)))
            return L"its access list cannot be read";
        // Entries only handed down do not apply to the parent; what the installer creates below
        // it inherits nothing.
        if (header->AceFlags & INHERIT_ONLY_ACE || header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return L"its access list holds an entry of a kind the installer does not judge";
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        ACCESS_MASK rights = ace->Mask;
        MapGenericMask(&rights, &mapping);
        PSID sid = &ace->SidStart;
        if (rights & kTakeOverRights && !IsAdministrative(sid))
            return SidText(sid) + L" may delete, rename or change the rights of what lies in it";
    }
    return std::wstring();
}

// Whether folder holds nothing; false also when its content cannot be listed.
bool IsEmpty(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool empty = true;
    do {
        if (lstrcmpW(found.cFileName, L".") != 0 && lstrcmpW(found.cFileName, L"..") != 0)
            empty = false;
    } while (empty && FindNextFileW(search, &found));
    FindClose(search);
    return empty;
}

Decision Refuse(Decision decision, const std::wstring& reason)
{
    decision.allowed = false;
    decision.reason = reason;
    return decision;
}

} // namespace

PSECURITY_DESCRIPTOR SecurityOfHandle(HANDLE folder, const std::wstring&)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return nullptr;
    return descriptor;
}

Decision Decide(const std::wstring& given, const std::wstring& earlier, const ReadSecurity& readSecurity)
{
    Decision decision;
    const std::wstring folder = FullPath(given);
    decision.folder = folder;
    if (folder.empty())
        return Refuse(decision, L"The install folder \"" + given + L"\" is not a valid path.");
    if (folder.compare(0, 2, L"\\\\") == 0)
        return Refuse(decision, L"The install folder " + folder + L" is a network or device path: its rights are " +
                                    L"not this computer's to set. Choose a folder on a local drive.");
    if (folder.size() < 3 || folder[1] != L':' || folder[2] != L'\\')
        return Refuse(decision, L"The install folder " + folder + L" is not on a drive.");
    const std::wstring root = folder.substr(0, 3);
    if (GetDriveTypeW(root.c_str()) == DRIVE_REMOTE)
        return Refuse(decision, L"The install folder " + folder + L" is on a network drive: its rights are not this " +
                                    L"computer's to set. Choose a folder on a local drive.");
    if (folder.size() == 3)
        return Refuse(decision, L"The install folder " + folder + L" is a drive's root, which holds what everybody " +
                                    L"else has too. Choose a folder of its own, such as " + root + L"ZelPC.");

    // The folder and each parent below the root, outermost first; those that exist come first.
    std::vector<std::wstring> chain;
    for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos; at = folder.find(L'\\', at + 1))
        chain.push_back(folder.substr(0, at));
    chain.push_back(folder);
    size_t existing = 0;
    while (existing < chain.size() && GetFileAttributesW(chain[existing].c_str()) != INVALID_FILE_ATTRIBUTES)
        ++existing;
    if (existing == 0 && GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Refuse(decision, L"The drive of the install folder " + folder + L" does not exist.");

    // Where the folder really lies: the deepest part that exists, links followed, and the rest.
    // Paths are joined without the root's backslash: "C:" and "\Tools".
    const size_t cut = existing ? chain[existing - 1].size() : 2;
    const std::wstring base = existing ? LongPath(chain[existing - 1]) : folder.substr(0, 2);
    std::wstring baseFinal = FinalPathOf(existing ? base : root);
    if (baseFinal.empty())
        return Refuse(decision, L"The installer cannot open " + (existing ? base : root) + L" (error " +
                                    std::to_wstring(GetLastError()) + L").");
    if (baseFinal.back() == L'\\')
        baseFinal.pop_back();
    const std::wstring finalPath = baseFinal + folder.substr(cut);
    decision.folder = base + folder.substr(cut);
    for (size_t i = existing; i < chain.size(); ++i)
        decision.missing.push_back(base + chain[i].substr(cut));

    if (UnderProgramFiles(finalPath)) {
        decision.underProgramFiles = true;
        decision.allowed = true;
        return decision;
    }
    // The folder this product installed into before may hold its files.
    const bool earlierFolder = !earlier.empty() && SameText(LongPath(FullPath(earlier)), decision.folder);
    // A subst drive, a link or a mapped share somewhere on the way.
    if (!SameText(finalPath, decision.folder))
        return Refuse(decision, L"The install folder " + decision.folder + L" leads to " + finalPath +
                                    L" through a link. Choose a folder that is where it says.");
    for (size_t i = 0; i < existing; ++i) {
        const std::wstring path = LongPath(chain[i]);
        unique_hfile opened = OpenOwnFolder(path, READ_CONTROL | FILE_READ_ATTRIBUTES);
        BY_HANDLE_FILE_INFORMATION info = {};
        if (!opened || !GetFileInformationByHandle(opened.get(), &info))
            return Refuse(decision, L"The installer cannot open " + path + L" (error " +
                                        std::to_wstring(GetLastError()) + L").");
        if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return Refuse(decision, path + L" is a junction or symbolic link: what the installer puts there would " +
                                        L"land where it points. Choose a folder without links on the way.");
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return Refuse(decision, path + L" is a file, not a folder.");
        if (i + 1 < chain.size()) {
            LocalDescriptor descriptor{readSecurity(opened.get(), path)};
            std::wstring risk = TakeOverRisk(descriptor.value);
            if (!risk.empty())
                return Refuse(decision, L"The install folder's parent " + path + L" is not protected: " + risk +
                                            L". Choose a folder whose parents only administrators may change.");
        } else if (!earlierFolder && !IsEmpty(path)) {
            // Rights set here would change them for the other files too.
            return Refuse(decision, L"The folder " + path + L" already holds other files. Choose a new or empty " +
                                        L"folder.");
        }
    }
    decision.allowed = true;
    return decision;
}

namespace {

// Makes folder, opened by its handle and checked to be where the installer decided, Administrators'
// own with the protection.
bool Protect(const std::wstring& folder, PSECURITY_DESCRIPTOR protection, std::wstring& message)
{
    unique_hfile opened = OpenOwnFolder(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!opened || !GetFileInformationByHandle(opened.get(), &info)) {
        message = L"The installer cannot open " + folder + L" (error " + std::to_wstring(GetLastError()) + L").";
        return false;
    }
    // Replaced since the decision.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT || !SameText(FinalPath(opened.get()), folder)) {
        message = L"The folder " + folder + L" changed while the installer prepared it.";
        return false;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(protection, &owner, &defaulted);
    GetSecurityDescriptorDacl(protection, &present, &dacl, &defaulted);
    // In one call: a moment with the new DACL and the old owner would let the owner undo it.
    DWORD error = SetSecurityInfo(opened.get(), SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                      PROTECTED_DACL_SECURITY_INFORMATION,
                                  owner, nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS) {
        message = L"The installer cannot limit who may change " + folder + L" (error " + std::to_wstring(error) + L").";
        return false;
    }
    return true;
}

} // namespace

bool Apply(const Decision& decision, std::wstring& message)
{
    if (!decision.allowed) {
        message = decision.reason;
        return false;
    }
    LocalDescriptor protection;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtection, SDDL_REVISION_1, &protection.value,
                                                              nullptr)) {
        message = L"The installer cannot build the folder's access list (error " + std::to_wstring(GetLastError()) +
                  L").";
        return false;
    }
    // Created protected, so that no moment passes in which they carry their parent's rights. One
    // that appeared since the decision was not judged: refused.
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), protection.value, FALSE};
    for (const std::wstring& folder : decision.missing) {
        if (!CreateDirectoryW(folder.c_str(), decision.underProgramFiles ? nullptr : &attributes)) {
            message = L"The installer cannot create " + folder + L" (error " + std::to_wstring(GetLastError()) + L").";
            return false;
        }
    }
    if (decision.underProgramFiles) {
        message = L"Folder " + decision.folder + L" in Program Files keeps the rights it inherits there";
        return true;
    }
    std::vector<std::wstring> protect = decision.missing;
    if (protect.empty() || protect.back() != decision.folder)
        protect.push_back(decision.folder);
    for (const std::wstring& folder : protect) {
        if (!Protect(folder, protection.value, message))
            return false;
    }
    message = L"Protected " + decision.folder + L": " + kProtectionText;
    if (protect.size() > 1) {
        message += L"; so are the folders it made on the way:";
        for (size_t i = 0; i + 1 < protect.size(); ++i)
            message += L" " + protect[i];
    }
    return true;
}

bool PrepareInstallFolder(const std::wstring& folder, const std::wstring& earlier, std::wstring& message)
{
    return Apply(Decide(folder, earlier), message);
}

} // namespace folderrule
