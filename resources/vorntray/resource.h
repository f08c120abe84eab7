// Resource identifiers of VornTray, shared by vorntray.rc and the code.
#pragma once

#define IDI_VORNTRAY        107
// The tray menu's identifier equals the tray icon's: the tray component loads the menu by the icon's id.
#define IDR_TRAYMENU        130
#define IDM_LCD_800X480     104
#define IDM_LCD_800X600     32773
#define IDM_EXIT            105
