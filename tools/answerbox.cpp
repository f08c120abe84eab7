// Plays the user in front of another program's message box: waits for a box of any program, prints
// its caption and text, and with --press answers it with OK. The demo uses it to show and close
// InstallZel's box.
//   answerbox [--press]     exit code 0 when a box was found within 30 s, 1 otherwise
#include <windows.h>
#include <stdio.h>
#include <wchar.h>
#include "messages.h"

namespace {
const DWORD kWaitMs = 30000;
}

int wmain(int argc, wchar_t** argv)
{
    bool press = argc == 2 && wcscmp(argv[1], L"--press") == 0;
    if (argc > 2 || (argc == 2 && !press)) {
        fprintf(stderr, "usage: answerbox [--press]\n");
        return 2;
    }
    HWND box = WaitForMessageBox(0, kWaitMs);
    if (!box) {
        fprintf(stderr, "answerbox: no message box within %lu ms\n", kWaitMs);
        return 1;
    }
    printf("caption: %ls\ntext:    %ls\n", WindowText(box).c_str(), MessageBoxText(box).c_str());
    if (press) {
        PressOk(box);
        printf("pressed: OK\n");
    }
    return 0;
}
