// Removing the panel mode VornTray saved, the one rule of the setup's /PURGE and the package's
// PURGE=1.
#pragma once
#include "notes.h"

// Removes DispWidth and DispHeight under HKLM\SOFTWARE\Vorn\ZelPC, and the keys once nothing else
// is left in them. The shipped VornTray is a 32-bit program that asks for no execution level, so
// from Windows Vista on its write there lands, for a user who may not write HKLM, in that user's
// ...\Classes\VirtualStore\MACHINE\SOFTWARE\[WOW6432Node\]Vorn\ZelPC, and its reads prefer that copy.
// An installer runs elevated or as SYSTEM and is not redirected, so the copy of every user whose
// hive is loaded is removed in the same way: HKEY_USERS\<SID>_Classes\VirtualStore\... where Windows
// keeps a user's classes, and HKEY_USERS\<SID>\Software\Classes\VirtualStore\... where Wine does.
// Users whose profile is not loaded keep theirs. Says each removal.
void PurgeSavedModes(const Notes& note);
