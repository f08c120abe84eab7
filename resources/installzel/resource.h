// Resource identifiers of InstallZel, shared by installzel.rc and the code.
#pragma once

#define IDS_APP_TITLE       103
#define IDS_WINDOW_CLASS    109
#define IDI_INSTALLZEL      130
#define IDD_ABOUTBOX        103

// Named by the window class and the message loop, but not carried by the program: the class gets
// no icon and no menu, and no message is ever translated as an accelerator.
#define IDI_CLASS_ICON      107
#define IDI_CLASS_SMALL     108
#define IDR_CLASS_MENU      109
#define IDR_ACCELERATORS    109

#ifndef IDC_STATIC
#define IDC_STATIC          (-1)
#endif
