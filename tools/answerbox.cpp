// Waits for a message box of any program, prints its caption and text, and with --press answers
// it with OK, as a user would. The demo uses it to show and close InstallZel's box.
//   answerbox [--press]     exit code 0 when a box was found within 30 s, 1 otherwise
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

namespace {

const DWORD kWaitMs = 30000;
// The dialog manager's class of message boxes, and the id of their text.
const wchar_t kMessageBoxClass[] = L"#32770";
const int kMessageBoxTextId = 0xFFFF;

HWND WaitForMessageBox()
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 100) {
        HWND box = FindWindowW(kMessageBoxClass, nullptr);
        if (box && IsWindowVisible(box))
            return box;
        Sleep(100);
    }
    return nullptr;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    bool press = argc == 2 && wcscmp(argv[1], L"--press") == 0;
    if (argc > 2 || (argc == 2 && !press)) {
        fprintf(stderr, "usage: answerbox [--press]\n");
        return 2;
    }
    HWND box = WaitForMessageBox();
    if (!box) {
        fprintf(stderr, "answerbox: no message box within %lu ms\n", kWaitMs);
        return 1;
    }
    wchar_t caption[256] = {};
    wchar_t text[512] = {};
    GetWindowTextW(box, caption, 256);
    GetDlgItemTextW(box, kMessageBoxTextId, text, 512);
    printf("caption: %ls\ntext:    %ls\n", caption, text);
    if (press) {
        // What a click on OK sends to the box; the box's own thread then ends it.
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        printf("pressed: OK\n");
    }
    return 0;
}
