// The saved panel mode as the registry holds it, for the tests to set up and check.
#pragma once
#include <windows.h>
#include <vector>

extern const char kSettingsKey[];

struct StoredValue
{
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::vector<BYTE> DwordBytes(DWORD value);
StoredValue ReadStored(const char* name);
// Stores a value of any type and size, creating the key; a failure fails the test.
void Store(const char* name, DWORD type, const std::vector<BYTE>& data);
void StoreMode(DWORD width, DWORD height);
void ExpectStoredDword(const char* name, DWORD expected);
bool SettingsKeyExists();
// Removes the program's keys, first giving the settings key an open DACL again if a test took it away.
void RemoveSettings();
