#include "closevorntray.h"
#include "handles.h"
#include "installfacts.h"

namespace {

// L"" makes the narrow literal of the shared header a wide one.
const wchar_t kVornTrayClass[] = L"" ZELPC_VORNTRAY_CLASS;

LONG MsUntil(DWORD deadline)
{
    return static_cast<LONG>(deadline - GetTickCount());
}

// Whether the window is gone and, where it could be opened, its process has ended by the deadline.
// A process that cannot be opened (another user's, on Windows) is watched through its window alone.
bool EndedBy(DWORD deadline, HWND window, HANDLE process)
{
    while (IsWindow(window)) {
        if (MsUntil(deadline) <= 0)
            return false;
        Sleep(100);
    }
    if (!process)
        return true;
    LONG left = MsUntil(deadline);
    return WaitForSingleObject(process, left > 0 ? left : 0) == WAIT_OBJECT_0;
}

} // namespace

CloseOutcome CloseVornTrays(const Notes& note)
{
    CloseOutcome outcome;
    const DWORD deadline = GetTickCount() + ZELPC_CLOSE_WAIT_MS;
    HWND window = FindWindowW(kVornTrayClass, nullptr);
    // A window still found once the time is up ends the closing, however many came and went.
    for (; window && MsUntil(deadline) > 0; window = FindWindowW(kVornTrayClass, nullptr)) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
        note(L"Closing VornTray (process %lu)", processId);
        if (!PostMessageW(window, WM_CLOSE, 0, 0)) {
            DWORD error = GetLastError();
            // Gone between the look-up and the post: the next look-up tells.
            if (IsWindow(window)) {
                note(L"VornTray (process %lu) cannot be asked to close (error %lu)", processId, error);
                return outcome;
            }
        }
        if (!EndedBy(deadline, window, process.get()))
            break;
        ++outcome.closed;
    }
    outcome.allEnded = window == nullptr;
    if (!outcome.allEnded)
        note(L"VornTray did not end within %lu ms", static_cast<DWORD>(ZELPC_CLOSE_WAIT_MS));
    return outcome;
}
