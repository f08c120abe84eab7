#include "folderrights.h"
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <cstring>
#include "process.h"

::testing::AssertionResult HasProgramFilesRights(const std::string& folder)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR actual = nullptr;
    const SECURITY_INFORMATION shown = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD error = GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, shown, &owner, nullptr, &dacl, nullptr, &actual);
    if (error != ERROR_SUCCESS)
        return ::testing::AssertionFailure() << "GetNamedSecurityInfo: " << error;
    char* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorA(actual, SDDL_REVISION_1, shown, &text, nullptr);
    std::string described = text ? text : "?";
    LocalFree(text);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(actual, &control, &revision);
    PSECURITY_DESCRIPTOR wanted = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1, &wanted, nullptr);
    PSID wantedOwner = nullptr;
    PACL wantedDacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(wanted, &wantedOwner, &defaulted);
    GetSecurityDescriptorDacl(wanted, &present, &wantedDacl, &defaulted);
    bool same = owner && EqualSid(owner, wantedOwner) && (control & SE_DACL_PROTECTED) && dacl &&
                dacl->AceCount == wantedDacl->AceCount;
    for (WORD i = 0; same && i < dacl->AceCount; ++i) {
        void* a = nullptr;
        void* b = nullptr;
        GetAce(dacl, i, &a);
        GetAce(wantedDacl, i, &b);
        WORD size = static_cast<ACE_HEADER*>(a)->AceSize;
        same = size == static_cast<ACE_HEADER*>(b)->AceSize && memcmp(a, b, size) == 0;
    }
    LocalFree(wanted);
    LocalFree(actual);
    if (same)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << folder << " has " << described;
}

void ExpectProgramFilesRights(const std::string& folder)
{
    if (UnderWine())
        printf("Known Wine difference: a folder's owner and DACL are not kept; %s\n",
               HasProgramFilesRights(folder).message());
    else
        EXPECT_TRUE(HasProgramFilesRights(folder));
}
