// QZ2CTL: the control library's shared GDI objects (sixteen colours with a
// solid brush and pen each, a dash-dot pen, sixteen Arial fonts) and the
// registration of the mini list view's window class. Painting code selects
// these objects by table index and never deletes them.
#ifndef MB_UI_QZ2CTL_H
#define MB_UI_QZ2CTL_H

#include <windows.h>

#include "ui/qz2ctl_index.h"

enum { QZ2CTL_TABLE_SIZE = 16 };

// The sign between the two words is the ANSI byte 0xA9.
#define QZ2CTL_MINILISTVIEW_CLASS "qz2ctlb_miniListview\xA9" "Kestrum"

enum { QZ2CTL_ERROR_NONE = 0, QZ2CTL_ERROR_NOTINITIALIZED = 1 };

typedef HRESULT(WINAPI* QZ2CTL_EXTRACTICONPROC)(LPCWSTR pszIconFile, int iIndex, UINT uFlags,
                                                HICON* phiconLarge, HICON* phiconSmall,
                                                UINT nIconSize);

// Module state, one per process. Read-only for users once initialised.
typedef struct QZ2CTL_MODULE {
  int nRefCount;
  HINSTANCE hInstance;
  BOOL bClassRegistered;  // the class is unregistered only if we registered it
  COLORREF crColors[QZ2CTL_TABLE_SIZE];
  HBRUSH hBrushes[QZ2CTL_TABLE_SIZE];
  HPEN hPens[QZ2CTL_TABLE_SIZE];
  HPEN hDashDotPen;
  HFONT hFonts[QZ2CTL_TABLE_SIZE];
  HMODULE hShell32;
  QZ2CTL_EXTRACTICONPROC pfnExtractIcon;  // "SHDefExtractIconW", may be null
} QZ2CTL_MODULE;

// 1 when ready (also on every call after the first), 0 when the window class
// cannot be registered; then no GDI object is created.
int QZ2CTL_InitModule(HINSTANCE hInstance);
// Deletes everything only when the count comes back to exactly 0; does
// nothing when the library is not initialised.
void QZ2CTL_EndModule(void);

// Table access by index 0..15; other indices give 0 or null.
COLORREF QZ2CTL_GetColor(int index);
HBRUSH QZ2CTL_GetBrush(int index);
HPEN QZ2CTL_GetPen(int index);
HFONT QZ2CTL_GetFont(int index);
HPEN QZ2CTL_GetDashDotPen(void);
const QZ2CTL_MODULE* QZ2CTL_GetModule(void);

// "[QZ2CTL] No error" for 0, "[QZ2CTL] Module not initialized !" for 1.
const char* QZ2CTL_GetErrorText(int code);

#endif  // MB_UI_QZ2CTL_H
