// Running InstallZel once at the end of an installation, the one rule of the setup and the package.
#pragma once
#include "notes.h"

// Runs folder\InstallZel.exe and waits up to ZELPC_INSTALLZEL_WAIT_MS for it to end; past that it is
// left to end on its own and the installation goes on. With waitForServer, first waits for the ACPI
// server's window as InstallZel itself would, and skips InstallZel when the window does not come:
// InstallZel would show a message box that nobody at an unattended installation can answer. Says
// what happened, and how to run InstallZel later where it did not run.
void RunInstallZelOnce(const wchar_t* folder, bool waitForServer, const Notes& note);
