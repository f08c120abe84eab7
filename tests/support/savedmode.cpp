#include "savedmode.h"
#include <gtest/gtest.h>
#include "handles.h"

const char kSettingsKey[] = "SOFTWARE\\Vorn\\ZelPC";

std::vector<BYTE> DwordBytes(DWORD value)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(bytes, bytes + sizeof(value));
}

StoredValue ReadStored(const char* name)
{
    StoredValue stored;
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return stored;
    BYTE buffer[64];
    DWORD size = sizeof(buffer);
    if (RegQueryValueExA(key.get(), name, nullptr, &stored.type, buffer, &size) == ERROR_SUCCESS) {
        stored.exists = true;
        stored.data.assign(buffer, buffer + size);
    }
    return stored;
}

void Store(const char* name, DWORD type, const std::vector<BYTE>& data)
{
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
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
    unique_hkey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorn", 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void RemoveSettings()
{
    unique_hkey key;
    // The owner may always give the key an open DACL again.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, WRITE_DAC, key.put()) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR open;
        InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
        RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &open);
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorn");
}
