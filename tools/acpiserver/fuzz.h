// Random messages to the client window from a thread of its own, as another program would send
// them while the client waits for a reply: first those a window procedure gives a meaning to,
// then any number in the whole range. Returns once all are sent, and logs how they went.
#pragma once
#include <windows.h>

void FuzzClient(HWND target, UINT32 count);
