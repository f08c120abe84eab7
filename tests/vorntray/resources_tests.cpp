// VornTray's resources as the program file carries them.
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <utility>
#include "process.h"
#include "vorntray/resource.h"

namespace {

class Resources : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_module = LoadLibraryExA(m_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(m_module, nullptr) << m_path;
    }
    void TearDown() override { FreeLibrary(m_module); }

    std::string Resource(LPCSTR type, UINT id)
    {
        HRSRC found = FindResourceA(m_module, MAKEINTRESOURCEA(id), type);
        if (!found)
            return std::string();
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(m_module, found)));
        return std::string(bytes, SizeofResource(m_module, found));
    }

    std::string m_path = ToWindowsPath(VORNTRAY_EXE);
    HMODULE m_module = nullptr;
};

#pragma pack(push, 2)
struct IconGroupEntry
{
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST_F(Resources, IconGroupHasSixImages)
{
    std::string group = Resource(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, IDI_VORNTRAY);
    ASSERT_GE(group.size(), 6u);
    WORD count = *reinterpret_cast<const WORD*>(&group[4]);
    ASSERT_EQ(count, 6);
    ASSERT_EQ(group.size(), 6 + count * sizeof(IconGroupEntry));
    std::set<std::pair<int, int>> images;
    for (WORD i = 0; i < count; ++i) {
        const auto* entry = reinterpret_cast<const IconGroupEntry*>(&group[6 + i * sizeof(IconGroupEntry)]);
        EXPECT_EQ(entry->width, entry->height);
        images.insert({entry->width, entry->bitCount});
    }
    std::set<std::pair<int, int>> expected = {{48, 8}, {32, 8}, {16, 8}, {48, 32}, {32, 32}, {16, 32}};
    EXPECT_EQ(images, expected);
}

TEST_F(Resources, TrayMenuHasOnePopupWithThreePlainItems)
{
    HMENU menu = LoadMenuA(m_module, MAKEINTRESOURCEA(IDR_TRAYMENU));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 1);
    char text[64] = {};
    GetMenuStringA(menu, 0, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ(text, "POPUP");
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), 3);
    const std::pair<UINT, const char*> items[] = {
        {IDM_LCD_800X480, "LCD 800 x 480"}, {IDM_LCD_800X600, "LCD 800 x 600"}, {IDM_EXIT, "Exit"}};
    for (int i = 0; i < 3; ++i) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        ASSERT_TRUE(GetMenuItemInfoA(popup, i, TRUE, &info));
        EXPECT_EQ(info.wID, items[i].first) << i;
        EXPECT_STREQ(text, items[i].second) << i;
        EXPECT_EQ(info.fType, static_cast<UINT>(MFT_STRING)) << i;
        EXPECT_EQ(info.fState, 0u) << i << ": no check mark, default mark or gray";
    }
    DestroyMenu(menu);
}

TEST_F(Resources, ManifestIsAnEmptyAssembly)
{
    std::string manifest = Resource(MAKEINTRESOURCEA(24), 1);
    EXPECT_NE(manifest.find("<assembly"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("manifestVersion=\"1.0\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("/>"), std::string::npos) << "the assembly element has no content: " << manifest;
    EXPECT_EQ(manifest.find("dependency"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("requestedExecutionLevel"), std::string::npos) << manifest;
}

TEST_F(Resources, VersionBlock)
{
    DWORD size = GetFileVersionInfoSizeA(m_path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(m_path.c_str(), 0, size, &block[0]));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00050001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00050001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));

    const std::pair<const char*, const char*> strings[] = {
        {"FileDescription", "VornTray"}, {"InternalName", "VornTray"}, {"OriginalFilename", "VornTray"},
        {"ProductName", "VornTray"}, {"FileVersion", "5, 1, 1, 0"}, {"ProductVersion", "5, 1, 1, 0"},
        {"Comments", "Vorn ZelPC Utility"}};
    for (const auto& [name, expected] : strings) {
        char* value = nullptr;
        std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
        ASSERT_TRUE(VerQueryValueA(&block[0], query.c_str(), reinterpret_cast<void**>(&value), &length)) << name;
        EXPECT_STREQ(value, expected) << name;
    }
}

} // namespace
