// Menus of the tray component's tests beside VornTray's own, for trayprobe.rc and the tests.
#pragma once

#define IDR_MENU_WITHOUT_POPUP  140
// No resource has this identifier.
#define IDR_MISSING_MENU        150
