// The install folder's rule, decided and applied in this process on folders made for each case.
// Wine keeps no owner or DACL of a folder (it shows the user as owner of every one), so the
// parents' owners and DACLs are handed to the decision as SDDL; the paths, the files and the
// folders are real.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>
#include <shlobj.h>
#include <sddl.h>
#include <cstring>
#include <string>
#include <vector>
#include "folderrights.h"
#include "folderrule.h"
#include "process.h"
#include "rowlabel.h"

namespace {

using rowlabel::operator<<;

const wchar_t kBase[] = L"C:\\folderrule-tests";

// Parents as the decision may be handed them.
const wchar_t kAdministratorsOnly[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
const wchar_t kOwnedByUser[] = L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
// A system drive's root as Windows sets it up: Authenticated Users may add folders to it, and
// what they add gets Modify through the entries that are only handed down.
const wchar_t kDefaultRoot[] =
    L"O:SYD:PAI(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// A folder made in that root, C:\Tools say: it inherits Modify for Authenticated Users.
const wchar_t kRootChildMadeByUser[] =
    L"O:S-1-5-21-1-2-3-1001D:AI(A;OICIID;SDGXGWGR;;;AU)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)";
const wchar_t kRootChildMadeByAdministrator[] =
    L"O:BAD:AI(A;OICIID;SDGXGWGR;;;AU)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)";

std::wstring Replaced(std::wstring text, const std::wstring& token, const std::wstring& value)
{
    for (size_t at = text.find(token); at != std::wstring::npos; at = text.find(token, at + value.size()))
        text.replace(at, token.size(), value);
    return text;
}

std::wstring ProgramFilesFolder(int csidl)
{
    WCHAR path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
    return path;
}

// %B the test's folder, %P and %X the two Program Files folders.
std::wstring Expanded(const wchar_t* text)
{
    std::wstring expanded = Replaced(text, L"%B", kBase);
    expanded = Replaced(expanded, L"%P", ProgramFilesFolder(CSIDL_PROGRAM_FILES));
    return Replaced(expanded, L"%X", ProgramFilesFolder(CSIDL_PROGRAM_FILESX86));
}

bool WriteFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool done = ::WriteFile(file, "kept", 4, &written, nullptr) && written == 4;
    CloseHandle(file);
    return done;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// The folders every row finds: %B\parent, whose owner and DACL the row gives, holding an empty
// folder, one with somebody's notes.txt, this product's earlier folder and a file.
class FolderRuleFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TearDown();
        for (const wchar_t* folder : {L"", L"\\parent", L"\\parent\\empty", L"\\parent\\holds", L"\\parent\\ours"})
            ASSERT_TRUE(CreateDirectoryW((kBase + std::wstring(folder)).c_str(), nullptr)) << GetLastError();
        for (const wchar_t* file : {L"\\parent\\holds\\notes.txt", L"\\parent\\ours\\VornTray.exe", L"\\parent\\file.txt"})
            ASSERT_TRUE(WriteFile(kBase + std::wstring(file)));
    }
    void TearDown() override { RemoveTree(kBase); }

    static void RemoveTree(const std::wstring& folder)
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring path = folder + L"\\" + found.cFileName;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    RemoveDirectoryW(path.c_str());
                else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    if (lstrcmpW(found.cFileName, L".") && lstrcmpW(found.cFileName, L".."))
                        RemoveTree(path);
                } else
                    DeleteFileW(path.c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder.c_str());
    }

    // The security of %B and %B\parent as given, a user's folder for any other path: a folder the
    // rule must not judge (a Program Files parent, say) then still passes only if it is not judged.
    // A null parent stands for one that cannot be read.
    static folderrule::ReadSecurity Parents(const wchar_t* parentSddl)
    {
        return [parentSddl](HANDLE, const std::wstring& path) -> PSECURITY_DESCRIPTOR {
            const std::wstring base = kBase;
            const wchar_t* sddl = kOwnedByUser;
            if (CompareStringOrdinal(path.c_str(), -1, base.c_str(), -1, TRUE) == CSTR_EQUAL)
                sddl = kAdministratorsOnly;
            else if (CompareStringOrdinal(path.c_str(), -1, (base + L"\\parent").c_str(), -1, TRUE) == CSTR_EQUAL)
                sddl = parentSddl;
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            if (sddl) {
                EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                                                 nullptr))
                    << Narrow(sddl);
            }
            return descriptor;
        };
    }
};

struct DecisionCase
{
    const char* label;
    const wchar_t* folder;
    const wchar_t* earlier;
    const wchar_t* parentSddl;
    bool allowed;
    bool underProgramFiles;
    // Allowed: the folder decided; refused: a part of the reason.
    const wchar_t* expected;
    // Allowed: the folders still to be made, outermost first.
    std::vector<const wchar_t*> missing;
};

class Decision : public FolderRuleFixture, public ::testing::WithParamInterface<DecisionCase>
{
};

TEST_P(Decision, TakesOnlyAFolderNobodyElseCanChange)
{
    const DecisionCase& row = GetParam();
    folderrule::Decision decision = folderrule::Decide(Expanded(row.folder), Expanded(row.earlier),
                                                       Parents(row.parentSddl));
    ASSERT_EQ(decision.allowed, row.allowed) << Narrow(decision.reason);
    if (!row.allowed) {
        EXPECT_NE(decision.reason.find(Expanded(row.expected)), std::wstring::npos) << Narrow(decision.reason);
        return;
    }
    EXPECT_EQ(decision.underProgramFiles, row.underProgramFiles);
    EXPECT_EQ(Narrow(decision.folder), Narrow(Expanded(row.expected)));
    std::vector<std::string> missing, wanted;
    for (const std::wstring& folder : decision.missing)
        missing.push_back(Narrow(folder));
    for (const wchar_t* folder : row.missing)
        wanted.push_back(Narrow(Expanded(folder)));
    EXPECT_EQ(missing, wanted);
}

INSTANTIATE_TEST_SUITE_P(Table, Decision, ::testing::Values(
    DecisionCase{"new", L"%B\\parent\\ZelPC", L"", kAdministratorsOnly, true, false, L"%B\\parent\\ZelPC",
                 {L"%B\\parent\\ZelPC"}},
    DecisionCase{"new_on_a_new_parent", L"%B\\parent\\made\\ZelPC", L"", kAdministratorsOnly, true, false,
                 L"%B\\parent\\made\\ZelPC", {L"%B\\parent\\made", L"%B\\parent\\made\\ZelPC"}},
    DecisionCase{"empty", L"%B\\parent\\empty", L"", kAdministratorsOnly, true, false, L"%B\\parent\\empty", {}},
    DecisionCase{"earlier_install_folder", L"%B\\parent\\ours", L"%B\\PARENT\\ours\\", kAdministratorsOnly, true,
                 false, L"%B\\parent\\ours", {}},
    DecisionCase{"holds_other_files", L"%B\\parent\\holds", L"", kAdministratorsOnly, false, false,
                 L"%B\\parent\\holds already holds other files", {}},
    DecisionCase{"holds_files_while_the_earlier_folder_is_another", L"%B\\parent\\ours", L"%B\\parent\\empty",
                 kAdministratorsOnly, false, false, L"%B\\parent\\ours already holds other files", {}},
    DecisionCase{"a_file", L"%B\\parent\\file.txt", L"", kAdministratorsOnly, false, false,
                 L"%B\\parent\\file.txt is a file", {}},
    DecisionCase{"drive_root", L"C:\\", L"", kAdministratorsOnly, false, false, L"C:\\ is a drive's root", {}},
    DecisionCase{"drive_root_through_dot_dot", L"%B\\..", L"", kAdministratorsOnly, false, false,
                 L"C:\\ is a drive's root", {}},
    DecisionCase{"drive_root_with_a_slash", L"C:/", L"", kAdministratorsOnly, false, false,
                 L"C:\\ is a drive's root", {}},
    DecisionCase{"unc_path", L"\\\\server\\share\\ZelPC", L"", kAdministratorsOnly, false, false,
                 L"is a network or device path", {}},
    DecisionCase{"unc_path_in_device_form", L"\\\\?\\UNC\\server\\share\\ZelPC", L"", kAdministratorsOnly, false,
                 false, L"is a network or device path", {}},
    DecisionCase{"slashes", L"%B/parent/empty/", L"", kAdministratorsOnly, true, false, L"%B\\parent\\empty", {}},
    DecisionCase{"dot_dot_and_dot", L"%B\\parent\\holds\\..\\.\\empty", L"", kAdministratorsOnly, true, false,
                 L"%B\\parent\\empty", {}},
    DecisionCase{"parent_owned_by_a_user", L"%B\\parent\\ZelPC", L"", kOwnedByUser, false, false,
                 L"%B\\parent is not protected: it is owned by S-1-5-21-1-2-3-1001", {}},
    DecisionCase{"parent_grants_authenticated_users_delete", L"%B\\parent\\ZelPC", L"",
                 L"O:BAD:P(A;OICI;FA;;;BA)(A;;SD;;;AU)", false, false, L"S-1-5-11 may delete", {}},
    DecisionCase{"parent_grants_users_write_dac", L"%B\\parent\\ZelPC", L"", L"O:BAD:P(A;OICI;FA;;;BA)(A;;WD;;;BU)",
                 false, false, L"S-1-5-32-545 may delete", {}},
    DecisionCase{"parent_grants_users_write_owner", L"%B\\parent\\ZelPC", L"", L"O:BAD:P(A;OICI;FA;;;BA)(A;;WO;;;BU)",
                 false, false, L"S-1-5-32-545 may delete", {}},
    DecisionCase{"parent_grants_users_delete_child", L"%B\\parent\\ZelPC", L"",
                 L"O:BAD:P(A;OICI;FA;;;BA)(A;;0x40;;;BU)", false, false, L"S-1-5-32-545 may delete", {}},
    DecisionCase{"parent_grants_everyone_generic_all", L"%B\\parent\\ZelPC", L"", L"O:BAD:P(A;OICI;FA;;;BA)(A;;GA;;;WD)",
                 false, false, L"S-1-1-0 may delete", {}},
    // No DACL at all, which lets everybody do everything. (Wine turns D:NO_ACCESS_CONTROL into an
    // empty DACL, which lets nobody do anything, so the row leaves the DACL out instead.)
    DecisionCase{"parent_without_a_dacl", L"%B\\parent\\ZelPC", L"", L"O:BA", false, false, L"it has no access list",
                 {}},
    DecisionCase{"parent_that_cannot_be_read", L"%B\\parent\\ZelPC", L"", nullptr, false, false,
                 L"its owner and access list cannot be read", {}},
    DecisionCase{"parent_made_in_a_default_root_by_a_user", L"%B\\parent\\ZelPC", L"", kRootChildMadeByUser, false,
                 false, L"owned by S-1-5-21-1-2-3-1001", {}},
    DecisionCase{"parent_made_in_a_default_root_by_an_administrator", L"%B\\parent\\ZelPC", L"",
                 kRootChildMadeByAdministrator, false, false, L"S-1-5-11 may delete", {}},
    DecisionCase{"child_of_a_default_root", L"%B\\parent\\ZelPC", L"", kDefaultRoot, true, false,
                 L"%B\\parent\\ZelPC", {L"%B\\parent\\ZelPC"}},
    DecisionCase{"program_files", L"%P\\folderrule-tests", L"", kOwnedByUser, true, true, L"%P\\folderrule-tests",
                 {L"%P\\folderrule-tests"}},
    DecisionCase{"program_files_x86", L"%X\\folderrule-tests", L"", kOwnedByUser, true, true,
                 L"%X\\folderrule-tests", {L"%X\\folderrule-tests"}},
    DecisionCase{"program_files_as_a_prefix", L"%PX\\folderrule-tests", L"", kOwnedByUser, true, false,
                 L"%PX\\folderrule-tests", {L"%PX", L"%PX\\folderrule-tests"}},
    DecisionCase{"dot_dot_out_of_program_files", L"%P\\..\\folderrule-tests\\parent\\ZelPC", L"", kOwnedByUser, false,
                 false, L"%B\\parent is not protected", {}}),
    rowlabel::Name());

// A junction is a reparse point: what the installer put there would land where it points, as
// SYSTEM. Windows lets a user make one; Wine 8 cannot make any (FSCTL_SET_REPARSE_POINT fails).
bool MakeJunction(const std::wstring& junction, const std::wstring& target, DWORD& error)
{
    if (!CreateDirectoryW(junction.c_str(), nullptr)) {
        error = GetLastError();
        return false;
    }
    HANDLE opened = CreateFileW(junction.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const std::wstring substitute = L"\\??\\" + target;
    const WORD bytes = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    // REPARSE_DATA_BUFFER's mount point form: tag, length, reserved, the two names' offsets and
    // lengths, then the substitute name and an empty print name, each with its terminating null.
    std::vector<BYTE> buffer(16 + bytes + 2 * sizeof(WCHAR), 0);
    WORD* header = reinterpret_cast<WORD*>(buffer.data());
    *reinterpret_cast<DWORD*>(buffer.data()) = IO_REPARSE_TAG_MOUNT_POINT;
    header[2] = static_cast<WORD>(buffer.size() - 8);
    header[4] = 0;
    header[5] = bytes;
    header[6] = static_cast<WORD>(bytes + sizeof(WCHAR));
    header[7] = 0;
    memcpy(buffer.data() + 16, substitute.c_str(), bytes);
    DWORD returned = 0;
    bool made = DeviceIoControl(opened, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                nullptr, 0, &returned, nullptr);
    error = GetLastError();
    CloseHandle(opened);
    return made;
}

struct JunctionCase
{
    const char* label;
    // The junction, made in %B\parent and pointing to %B\parent\empty, and the folder asked for.
    const wchar_t* junction;
    const wchar_t* folder;
};

class Junction : public FolderRuleFixture, public ::testing::WithParamInterface<JunctionCase>
{
};

TEST_P(Junction, OnTheWayIsRefused)
{
    const JunctionCase& row = GetParam();
    DWORD error = 0;
    if (!MakeJunction(Expanded(row.junction), Expanded(L"%B\\parent\\empty"), error)) {
        ASSERT_TRUE(UnderWine()) << "cannot make a junction: error " << error;
        GTEST_SKIP() << "Known Wine difference: no junctions (error " << error << "); only Windows shows this row";
    }
    folderrule::Decision decision = folderrule::Decide(Expanded(row.folder), L"", Parents(kAdministratorsOnly));
    EXPECT_FALSE(decision.allowed);
    EXPECT_NE(decision.reason.find(Expanded(row.junction) + L" is a junction or symbolic link"), std::wstring::npos)
        << Narrow(decision.reason);
}

INSTANTIATE_TEST_SUITE_P(Table, Junction, ::testing::Values(
    JunctionCase{"the_folder", L"%B\\parent\\link", L"%B\\parent\\link"},
    JunctionCase{"a_parent", L"%B\\parent\\link", L"%B\\parent\\link\\ZelPC"}),
    rowlabel::Name());

// What the installers call: the folders made on the way are made and protected, and each is the
// one the decision judged.
TEST_F(FolderRuleFixture, ApplyMakesAndProtectsEveryFolderOnTheWay)
{
    const std::wstring folder = Expanded(L"%B\\parent\\made\\ZelPC");
    folderrule::Decision decision = folderrule::Decide(folder, L"", Parents(kAdministratorsOnly));
    ASSERT_TRUE(decision.allowed) << Narrow(decision.reason);
    std::wstring message;
    ASSERT_TRUE(folderrule::Apply(decision, message)) << Narrow(message);
    EXPECT_EQ(Narrow(message), Narrow(L"Protected " + folder + L": owner Administrators; Administrators and SYSTEM "
                                      L"full control, Users read and execute; so are the folders it made on the "
                                      L"way: " + Expanded(L"%B\\parent\\made")));
    ExpectProgramFilesRights(Narrow(folder));
    ExpectProgramFilesRights(Narrow(Expanded(L"%B\\parent\\made")));
}

// A folder that appeared between the decision and the making was never judged: somebody else's,
// perhaps, made to catch the installer's rights.
TEST_F(FolderRuleFixture, ApplyRefusesAFolderThatAppearedSinceTheDecision)
{
    const std::wstring folder = Expanded(L"%B\\parent\\ZelPC");
    folderrule::Decision decision = folderrule::Decide(folder, L"", Parents(kAdministratorsOnly));
    ASSERT_TRUE(decision.allowed) << Narrow(decision.reason);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFile(folder + L"\\planted.dll"));
    std::wstring message;
    EXPECT_FALSE(folderrule::Apply(decision, message));
    EXPECT_NE(message.find(L"cannot create " + folder + L" (error 183)"), std::wstring::npos) << Narrow(message);
}

// A refused folder is left as it was: nothing on the way is made.
TEST_F(FolderRuleFixture, ApplyOfARefusalMakesNothing)
{
    const std::wstring folder = Expanded(L"%B\\parent\\made\\ZelPC");
    folderrule::Decision decision = folderrule::Decide(folder, L"", Parents(kOwnedByUser));
    std::wstring message;
    EXPECT_FALSE(folderrule::Apply(decision, message));
    EXPECT_EQ(message, decision.reason);
    EXPECT_EQ(GetFileAttributesW(Expanded(L"%B\\parent\\made").c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
