// What ZelPCSetup.exe, ZelPC.msi and their helper DLLs must agree on, stated once. The DLLs include
// this header; zelpc.nsi reads it with !searchparse and pack-msi hands the UpgradeCode to wixl, so
// each line keeps the plain form `#define NAME value`.
#pragma once

// ZelPC.msi's UpgradeCode, fixed for ever: every later package finds the installed one by it, the
// setup refuses to install beside it, and pack-msi derives the product and package codes from it.
#define ZELPC_UPGRADE_CODE "8C1F3A6E-5B2D-4F7A-9E4C-2D6B8A1F0C35"

// VornTray's main window, which both installers close as VornTray's own "Exit" would.
#define ZELPC_VORNTRAY_CLASS "VORNTRAY"
// How long all the VornTrays closed at one installation may take to end, together.
#define ZELPC_CLOSE_WAIT_MS 10000

// The ACPI server's window, looked for by class as InstallZel looks for it when it registers.
#define ZELPC_SERVER_CLASS "VORN ACPI SERVER CLASS"
// InstallZel's own wait for the server, 50 look-ups 200 ms apart: an installer that does not see
// the server within it skips InstallZel, whose message box nobody at a silent run could answer.
#define ZELPC_SERVER_WAIT_TRIES 50
#define ZELPC_SERVER_WAIT_MS 200
// InstallZel waits up to 10 s for the server and then sends at most 10 requests, each bounded by
// 10 s; past this it is left to end on its own and the installation goes on.
#define ZELPC_INSTALLZEL_WAIT_MS 180000
