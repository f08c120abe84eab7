#include "panelmode.h"

namespace {

const char kSettingsKey[] = "SOFTWARE\\Vorn\\ZelPC";
const char kWidthValue[] = "DispWidth";
const char kHeightValue[] = "DispHeight";
const DWORD kPanelWidth = 800;
const DWORD kDefaultHeight = 480;

// A window that stopped answering must not freeze the switch: hung windows are skipped at once,
// and a slow one is given the time after which Windows itself calls a window hung.
const UINT kBroadcastTimeoutMs = 5000;

// Reads a 32-bit value; one that is missing or does not fit is replaced by the default.
DWORD ReadValueOrDefault(HKEY key, const char* name, DWORD defaultValue)
{
    // Zeroed so that a value shorter than four bytes reads with zero high bytes.
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS)
        return value;
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&defaultValue), sizeof(defaultValue));
    return defaultValue;
}

void WriteValue(HKEY key, const char* name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

} // namespace

void SetPanelMode(UINT selector)
{
    const DWORD height = PanelHeight(selector);

    DISPLAY_DEVICEA device = {};
    device.cb = sizeof(device);
    if (!EnumDisplayDevicesA(nullptr, 0, &device, 0))
        return;

    // Every other member, refresh rate and dmFields included, travels into the change request as it is.
    DEVMODEA mode = {};
    mode.dmSize = sizeof(mode);
    mode.dmDriverExtra = 0;
    if (!EnumDisplaySettingsExA(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode, 0))
        return;
    if (mode.dmPelsWidth == kPanelWidth && mode.dmPelsHeight == height)
        return;

    mode.dmPelsWidth = kPanelWidth;
    mode.dmPelsHeight = height;
    // Flags 0: for the running session only, not written to the system's display configuration.
    if (ChangeDisplaySettingsExA(device.DeviceName, &mode, nullptr, 0, nullptr) != DISP_CHANGE_SUCCESSFUL)
        return;
    SendMessageTimeoutA(HWND_BROADCAST, WM_DISPLAYCHANGE, mode.dmBitsPerPel, MAKELPARAM(kPanelWidth, height),
                        SMTO_ABORTIFHUNG, kBroadcastTimeoutMs, nullptr);
}

PanelMode ReadSavedPanelMode()
{
    PanelMode saved = {kPanelWidth, kDefaultHeight};
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return saved;
    saved.width = ReadValueOrDefault(key, kWidthValue, kPanelWidth);
    saved.height = ReadValueOrDefault(key, kHeightValue, kDefaultHeight);
    RegCloseKey(key);
    return saved;
}

void WriteSavedPanelMode(DWORD width, DWORD height)
{
    // The key is created by the read at start; a key that went away since is not brought back.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    WriteValue(key, kWidthValue, width);
    WriteValue(key, kHeightValue, height);
    RegCloseKey(key);
}
