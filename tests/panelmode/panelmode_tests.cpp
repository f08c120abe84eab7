// The saved panel mode against the real registry: every type and size a value can have, a key that
// refuses writing, a key that is missing, and nothing touched outside the program's own key.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "handles.h"
#include "panelmode.h"
#include "savedmode.h"

namespace {

// Watches every key of HKEY_LOCAL_MACHINE but the program's own for changes while it lives.
class ChangesOutsideOwnKey
{
public:
    ChangesOutsideOwnKey()
    {
        Watch(HKEY_LOCAL_MACHINE, "", false, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET);
        Watch(HKEY_LOCAL_MACHINE, "SOFTWARE", false, REG_NOTIFY_CHANGE_LAST_SET);
        for (const char* hive : {"HARDWARE", "SAM", "SECURITY", "SYSTEM"})
            Watch(HKEY_LOCAL_MACHINE, hive, true, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET);
        unique_hkey software;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, software.put()) == ERROR_SUCCESS) {
            char name[256];
            for (DWORD i = 0;; ++i) {
                DWORD size = sizeof(name);
                if (RegEnumKeyExA(software.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                if (lstrcmpiA(name, "Vorn") != 0)
                    Watch(software.get(), name, true, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET);
            }
        }
    }

    // The keys that changed since the watch began.
    std::vector<std::string> Changed() const
    {
        std::vector<std::string> changed;
        for (const Watched& watched : m_watched)
            if (WaitForSingleObject(watched.changed.get(), 0) == WAIT_OBJECT_0)
                changed.push_back(watched.name);
        return changed;
    }

    size_t Count() const { return m_watched.size(); }

private:
    struct Watched
    {
        std::string name;
        unique_hkey key;
        unique_handle changed;
    };

    void Watch(HKEY parent, const char* name, bool subtree, DWORD filter)
    {
        Watched watched = {name, unique_hkey(), unique_handle(CreateEventA(nullptr, TRUE, FALSE, nullptr))};
        if (RegOpenKeyExA(parent, name, 0, KEY_NOTIFY, watched.key.put()) != ERROR_SUCCESS)
            return;
        ASSERT_EQ(RegNotifyChangeKeyValue(watched.key.get(), subtree, filter, watched.changed.get(), TRUE),
                  ERROR_SUCCESS) << name;
        m_watched.push_back(std::move(watched));
    }

    std::vector<Watched> m_watched;
};

class SavedPanelMode : public ::testing::Test
{
protected:
    void SetUp() override { RemoveSettings(); }
    void TearDown() override { RemoveSettings(); }
};

TEST_F(SavedPanelMode, FirstReadCreatesTheKeyAndWritesBothDefaults)
{
    PanelMode mode = ReadSavedPanelMode();
    EXPECT_EQ(mode.width, 800u);
    EXPECT_EQ(mode.height, 480u);
    StoredValue width = ReadStored("DispWidth"), height = ReadStored("DispHeight");
    EXPECT_EQ(width.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(width.data, DwordBytes(800));
    EXPECT_EQ(height.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(height.data, DwordBytes(480));
}

TEST_F(SavedPanelMode, WriteStoresBothAsDwords)
{
    ReadSavedPanelMode();
    WriteSavedPanelMode(800, 600);
    EXPECT_EQ(ReadStored("DispWidth").data, DwordBytes(800));
    StoredValue height = ReadStored("DispHeight");
    EXPECT_EQ(height.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(height.data, DwordBytes(600));
}

TEST_F(SavedPanelMode, WriteDoesNotCreateAMissingKey)
{
    WriteSavedPanelMode(800, 600);
    EXPECT_FALSE(SettingsKeyExists());
}

// Every type, every size from 0 to 16 bytes, for each of the two values. Up to four bytes are a
// little-endian number whatever the type (fewer fill the low bytes); a larger value counts as
// missing and is replaced by the default as a REG_DWORD.
TEST_F(SavedPanelMode, EveryStoredTypeAndSizeReadsAsANumberOrTheDefault)
{
    const DWORD types[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                           REG_LINK, REG_MULTI_SZ, REG_QWORD};
    const char* names[] = {"DispWidth", "DispHeight"};
    const DWORD defaults[] = {800, 480};
    ChangesOutsideOwnKey outside;
    ASSERT_GT(outside.Count(), 4u);
    int tried = 0, asExpected = 0;

    for (int which = 0; which < 2; ++which) {
        for (DWORD type : types) {
            for (size_t size = 0; size <= 16; ++size) {
                // Printable bytes, so that string types survive the ANSI round trip unchanged.
                std::vector<BYTE> data;
                for (size_t i = 0; i < size; ++i)
                    data.push_back(static_cast<BYTE>(0x31 + i));
                RemoveSettings();
                Store(names[which], type, data);
                StoredValue stored = ReadStored(names[which]);
                ASSERT_TRUE(stored.exists);

                PanelMode mode = ReadSavedPanelMode();
                DWORD read = which == 0 ? mode.width : mode.height;
                StoredValue after = ReadStored(names[which]);
                ++tried;
                SCOPED_TRACE(std::string(names[which]) + " type " + std::to_string(type) + ", "
                             + std::to_string(stored.data.size()) + " bytes as the ANSI call sees it");
                if (stored.data.size() <= 4) {
                    DWORD expected = 0;
                    memcpy(&expected, stored.data.data(), stored.data.size());
                    EXPECT_EQ(read, expected);
                    EXPECT_EQ(after.type, stored.type) << "a readable value is left as it is";
                    EXPECT_EQ(after.data, stored.data);
                    asExpected += read == expected && after.data == stored.data;
                } else {
                    EXPECT_EQ(read, defaults[which]);
                    EXPECT_EQ(after.type, static_cast<DWORD>(REG_DWORD));
                    EXPECT_EQ(after.data, DwordBytes(defaults[which]));
                    asExpected += read == defaults[which] && after.data == DwordBytes(defaults[which]);
                }
                // The other value was missing and is written with its default.
                EXPECT_EQ(ReadStored(names[1 - which]).data, DwordBytes(defaults[1 - which]));
            }
        }
    }
    EXPECT_EQ(outside.Changed(), std::vector<std::string>()) << "written outside the program's key";
    printf("registry values: %d tried, %d read as the rules say\n", tried, asExpected);
}

// A key this user may read but not write: the start goes on with the defaults and writes nothing.
TEST_F(SavedPanelMode, KeyThatRefusesWritingGivesTheDefaultsAndStaysUnchanged)
{
    Store("DispWidth", REG_DWORD, DwordBytes(1024));
    unique_hkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
    // Everyone may read; nobody may write or change the permissions back but the owner.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    BYTE aclBuffer[256];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    LONG secured = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &descriptor);
    FreeSid(everyone);
    ASSERT_EQ(secured, ERROR_SUCCESS);
    key.reset();

    unique_hkey probe;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, probe.put()) == ERROR_SUCCESS) {
        GTEST_SKIP() << "Wine grants KEY_ALL_ACCESS to the administrator despite the DACL";
    }

    PanelMode mode = ReadSavedPanelMode();
    EXPECT_EQ(mode.width, 800u);
    EXPECT_EQ(mode.height, 480u);
    WriteSavedPanelMode(800, 600);
    EXPECT_EQ(ReadStored("DispWidth").data, DwordBytes(1024));
    EXPECT_FALSE(ReadStored("DispHeight").exists);
}

} // namespace
