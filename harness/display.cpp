#include "display.h"

namespace {

bool FirstDisplay(DISPLAY_DEVICEA* device)
{
    *device = {};
    device->cb = sizeof(*device);
    return EnumDisplayDevicesA(nullptr, 0, device, 0) != FALSE;
}

} // namespace

bool ReadFirstDisplayMode(DEVMODEA* mode)
{
    DISPLAY_DEVICEA device;
    *mode = {};
    mode->dmSize = sizeof(*mode);
    return FirstDisplay(&device) && EnumDisplaySettingsExA(device.DeviceName, ENUM_CURRENT_SETTINGS, mode, 0);
}

LONG ChangeFirstDisplayMode(DWORD width, DWORD height, DWORD frequency, DEVMODEA* asked)
{
    DISPLAY_DEVICEA device;
    DEVMODEA mode;
    if (!ReadFirstDisplayMode(&mode) || !FirstDisplay(&device))
        return DISP_CHANGE_FAILED;
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    if (frequency)
        mode.dmDisplayFrequency = frequency;
    if (asked)
        *asked = mode;
    return ChangeDisplaySettingsExA(device.DeviceName, &mode, nullptr, 0, nullptr);
}
