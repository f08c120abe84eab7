#include "purgesavedmode.h"
#include <string>
#include "handles.h"

namespace {

const wchar_t kSettingsKey[] = L"SOFTWARE\\Vorn\\ZelPC";

// Registry virtualization keeps a 32-bit program's copy below WOW6432Node on 64-bit Windows.
std::wstring VirtualStoreSoftware()
{
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    bool wide = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
    return wide ? L"VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node" : L"VirtualStore\\MACHINE\\SOFTWARE";
}

// RegDeleteKey takes a key with its values: only an empty key may go.
bool DeleteKeyIfEmpty(HKEY parent, const std::wstring& path)
{
    unique_hkey key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD subKeys = 0, values = 0;
    LONG result = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                   nullptr, nullptr, nullptr);
    key.reset();
    return result == ERROR_SUCCESS && subKeys == 0 && values == 0 && RegDeleteKeyW(parent, path.c_str()) == ERROR_SUCCESS;
}

// VornTray's two values in software\Vorn\ZelPC, then that key and software\Vorn once empty. Says
// where it removed a value; returns whether it did.
bool PurgeBelow(HKEY root, const wchar_t* rootName, const std::wstring& software, const Notes& note)
{
    const std::wstring vorn = software + L"\\Vorn", settings = vorn + L"\\ZelPC";
    bool removed = false;
    unique_hkey key;
    if (RegOpenKeyExW(root, settings.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
        for (const wchar_t* name : {L"DispWidth", L"DispHeight"})
            removed |= RegDeleteValueW(key.get(), name) == ERROR_SUCCESS;
        key.reset();
    }
    if (DeleteKeyIfEmpty(root, settings))
        DeleteKeyIfEmpty(root, vorn);
    if (removed)
        note(L"Saved panel mode removed from %s\\%s", rootName, settings.c_str());
    return removed;
}

} // namespace

void PurgeSavedModes(const Notes& note)
{
    if (!PurgeBelow(HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE", note))
        note(L"No saved panel mode under HKLM\\%s", kSettingsKey);

    const std::wstring store = VirtualStoreSoftware();
    unique_hkey users;
    if (RegOpenKeyExW(HKEY_USERS, nullptr, 0, KEY_ENUMERATE_SUB_KEYS, users.put()) == ERROR_SUCCESS) {
        WCHAR hive[256];
        DWORD size = ARRAYSIZE(hive);
        for (DWORD i = 0; RegEnumKeyExW(users.get(), i, hive, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, size = ARRAYSIZE(hive)) {
            std::wstring name = hive;
            const std::wstring classesSuffix = L"_Classes";
            bool classesHive = name.size() > classesSuffix.size() &&
                               name.compare(name.size() - classesSuffix.size(), classesSuffix.size(), classesSuffix) == 0;
            PurgeBelow(HKEY_USERS, L"HKEY_USERS",
                       name + (classesHive ? L"\\" : L"\\Software\\Classes\\") + store, note);
        }
    }
    note(L"Users whose profile is not loaded now keep their own saved panel mode (...\\Classes\\%s\\Vorn\\ZelPC)",
         store.c_str());
}
