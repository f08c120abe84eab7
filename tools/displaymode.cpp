// Prints or sets the mode of the first display device, from a process of its own: a Wine process
// keeps seeing the mode it started with, so the mode must be read by a fresh one.
//   displaymode             prints "WIDTHxHEIGHT BPP bpp FREQ Hz"
//   displaymode set W H     changes the resolution, keeping depth and refresh rate; exit code 0 on success
//   displaymode set W H HZ  the same at another refresh rate
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "display.h"

int main(int argc, char** argv)
{
    DEVMODEA mode;
    if (!ReadFirstDisplayMode(&mode)) {
        fprintf(stderr, "displaymode: no current mode of the first display\n");
        return 2;
    }
    if ((argc == 4 || argc == 5) && strcmp(argv[1], "set") == 0) {
        DWORD frequency = argc == 5 ? strtoul(argv[4], nullptr, 10) : 0;
        LONG result = ChangeFirstDisplayMode(strtoul(argv[2], nullptr, 10), strtoul(argv[3], nullptr, 10), frequency);
        if (result != DISP_CHANGE_SUCCESSFUL) {
            fprintf(stderr, "displaymode: change to %sx%s refused (%ld)\n", argv[2], argv[3], result);
            return 1;
        }
        return 0;
    }
    printf("%lux%lu %lu bpp %lu Hz\n", mode.dmPelsWidth, mode.dmPelsHeight, mode.dmBitsPerPel,
           mode.dmDisplayFrequency);
    return 0;
}
