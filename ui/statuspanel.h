// The status panel: header line, counters and the two bar graphs, drawn off
// screen and copied to the main window in one transfer.
#ifndef MB_UI_STATUSPANEL_H
#define MB_UI_STATUSPANEL_H

#include <windows.h>

#include "app/appcontext.h"
#include "ui/statuscolumns.h"

// Returns a memory device context to draw into, or null. rc is rewritten to
// (0, 0, width, height).
HDC OFFSCREEN_Begin(OFFSCREEN* surface, HDC hdcTarget, RECT* rc);
// Copies to the target and cleans up: 0, or -1 without a memory context.
int OFFSCREEN_End(OFFSCREEN* surface, HDC hdcTarget, HDC hdcMemory);

void STATUSPANEL_Paint(HDC hdc);
void STATUSPANEL_DrawContents(HDC hdcMemory, int width);
void STATUSPANEL_PaintWindow(HWND hwnd, HDC hdc);

// The graphs' bars. DrawColumns takes them from the cache, one PolyPolyline
// per pen; DrawWalkedColumns reads every column afresh and draws it with
// MoveToEx and LineTo, for panels wider than the cache, and is the picture
// the cache must give pixel for pixel.
void STATUSPANEL_DrawColumns(HDC hdc, STATUSPANEL_COLUMNCACHE* cache, const APPCONTEXT* context, int width);
void STATUSPANEL_DrawWalkedColumns(HDC hdc, const APPCONTEXT* context, int width);

// "TESTING: ..." for the selected device, or an empty text when none is named.
void STATUSPANEL_FormatHeader(char* out, int outSize);

#endif  // MB_UI_STATUSPANEL_H
