// The log view: a read-only multi-line edit control showing the whole text
// log, and the driver items of the Devices menu.
#ifndef MB_UI_LOGVIEW_H
#define MB_UI_LOGVIEW_H

#include <windows.h>

enum { LOGVIEW_CONTROL_ID = 20 };

void LOGVIEW_Create(HWND hwndMain);
void LOGVIEW_Resize(int clientWidth, int clientHeight);
// When the log changed since the last tick, appends what it gained to the
// view (the whole log when the view holds no prefix of it) and scrolls to the
// last line.
void LOGVIEW_Refresh(void);

#endif  // MB_UI_LOGVIEW_H
