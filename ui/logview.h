// The log view: a read-only multi-line edit control showing the whole text
// log, and the driver items of the Devices menu.
#ifndef MB_UI_LOGVIEW_H
#define MB_UI_LOGVIEW_H

#include <windows.h>

// The Devices menu item of the driver at 1-based index i has the command
// LOGVIEW_FIRST_DRIVER_COMMAND - 1 + i.
enum { LOGVIEW_CONTROL_ID = 20, LOGVIEW_FIRST_DRIVER_COMMAND = 1000, LOGVIEW_LAST_DRIVER_COMMAND = 1099 };

void LOGVIEW_Create(HWND hwndMain);
void LOGVIEW_Resize(int clientWidth, int clientHeight);
// When the log changed since the last tick, appends what it gained to the
// view (the whole log when the view holds no prefix of it) and scrolls to the
// last line.
void LOGVIEW_Refresh(void);

#endif  // MB_UI_LOGVIEW_H
