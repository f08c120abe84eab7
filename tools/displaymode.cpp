// Prints or sets the mode of the first display device, from a process of its own: a Wine process
// keeps seeing the mode it started with, so the mode must be read by a fresh one.
//   displaymode             prints "WIDTHxHEIGHT BPP bpp FREQ Hz"
//   displaymode set W H     changes the resolution, keeping depth and refresh rate; exit code 0 on success
//   displaymode set W H HZ  the same at another refresh rate
// A refused change prints the mode asked for, the current one and the modes the platform lists, so
// that a refusal in a test log says whether the mode was missing or the platform refused a listed one.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "display.h"

namespace {

void PrintMode(const char* label, const DEVMODEA& mode)
{
    fprintf(stderr, "%s%lux%lu %lu bpp %lu Hz", label, mode.dmPelsWidth, mode.dmPelsHeight, mode.dmBitsPerPel,
            mode.dmDisplayFrequency);
}

void PrintRefusal(LONG result, const DEVMODEA& asked, const DEVMODEA& current)
{
    fprintf(stderr, "displaymode: change to %lux%lu refused (%ld)", asked.dmPelsWidth, asked.dmPelsHeight, result);
    PrintMode(": asked ", asked);
    PrintMode(", current ", current);
    fprintf(stderr, "; listed at %lu bpp:", asked.dmBitsPerPel);
    DEVMODEA listed = {};
    listed.dmSize = sizeof(listed);
    const char* separator = " ";
    for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &listed); ++i) {
        if (listed.dmBitsPerPel == asked.dmBitsPerPel) {
            fprintf(stderr, "%s%lux%lu %lu Hz", separator, listed.dmPelsWidth, listed.dmPelsHeight,
                    listed.dmDisplayFrequency);
            separator = ", ";
        }
    }
    fprintf(stderr, "\n");
}

} // namespace

int main(int argc, char** argv)
{
    DEVMODEA mode;
    if (!ReadFirstDisplayMode(&mode)) {
        fprintf(stderr, "displaymode: no current mode of the first display\n");
        return 2;
    }
    if ((argc == 4 || argc == 5) && strcmp(argv[1], "set") == 0) {
        DWORD frequency = argc == 5 ? strtoul(argv[4], nullptr, 10) : 0;
        DEVMODEA asked;
        LONG result = ChangeFirstDisplayMode(strtoul(argv[2], nullptr, 10), strtoul(argv[3], nullptr, 10), frequency,
                                             &asked);
        if (result != DISP_CHANGE_SUCCESSFUL) {
            PrintRefusal(result, asked, mode);
            return 1;
        }
        return 0;
    }
    printf("%lux%lu %lu bpp %lu Hz\n", mode.dmPelsWidth, mode.dmPelsHeight, mode.dmBitsPerPel,
           mode.dmDisplayFrequency);
    return 0;
}
