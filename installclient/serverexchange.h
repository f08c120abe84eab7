// What InstallZel says to the Vorn ACPI server: each request is a 24-byte record written into a
// named shared block and announced to the server's window with a message; the server answers
// by rewriting the same 24 bytes before its window procedure returns.
#pragma once
#include <windows.h>

extern const WCHAR kServerClassName[];

// The server window found at registration; the enable sequence sends every request to it.
extern HWND g_serverWindow;

// Registers the client window with the server; returns the server window, or null when none runs.
HWND RegisterWithServer(HWND client);
// Queries the four device switches in turn and sets each one the server reports as available.
void EnableDeviceSwitches();
void UnregisterFromServer();
