#include "savedmode.h"
#include <gtest/gtest.h>

const char kSettingsKey[] = "SOFTWARE\\Vorn\\ZelPC";

std::vector<BYTE> DwordBytes(DWORD value)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(bytes, bytes + sizeof(value));
}

StoredValue ReadStored(const char* name)
{
    StoredValue stored;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return stored;
    BYTE buffer[64];
    DWORD size = sizeof(buffer);
    if (RegQueryValueExA(key, name, nullptr, &stored.type, buffer, &size) == ERROR_SUCCESS) {
        stored.exists = true;
        stored.data.assign(buffer, buffer + size);
    }
    RegCloseKey(key);
    return stored;
}

void Store(const char* name, DWORD type, const std::vector<BYTE>& data)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    RegCloseKey(key);
}

void StoreMode(DWORD width, DWORD height)
{
    Store("DispWidth", REG_DWORD, DwordBytes(width));
    Store("DispHeight", REG_DWORD, DwordBytes(height));
}

void ExpectStoredDword(const char* name, DWORD expected)
{
    StoredValue stored = ReadStored(name);
    ASSERT_TRUE(stored.exists) << name;
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD)) << name;
    EXPECT_EQ(stored.data, DwordBytes(expected)) << name;
}

bool SettingsKeyExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorn", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void RemoveSettings()
{
    HKEY key;
    // The owner may always give the key an open DACL again.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR open;
        InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open);
        RegCloseKey(key);
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorn");
}
