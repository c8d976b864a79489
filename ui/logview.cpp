#include "ui/logview.h"

#include <stdio.h>
#include <wchar.h>

#include "app/appcontext.h"
#include "asio/asioman.h"

static void AppendDriverItems(HWND hwndMain) {
  HMENU devices = GetSubMenu(GetMenu(hwndMain), 1);
  if (!devices) return;
  int count = ASIOMAN_GetEntryCount();
  for (int i = 1; i <= count; i++) {
    const ASIOMAN_DRIVERENTRY* entry = ASIOMAN_GetEntry(i);
    if (!entry) continue;
    WCHAR text[1024];
    // The name is at most 255 units; the record keeps it terminated.
    swprintf(text, 1024, L"ASIO: %.255ls", entry->wszName);
    AppendMenuW(devices, MF_STRING, (UINT_PTR)(LOGVIEW_FIRST_DRIVER_COMMAND - 1 + i), text);
  }
}

void LOGVIEW_Create(HWND hwndMain) {
  APPCONTEXT* context = &g_appContext;
  HINSTANCE instance = (HINSTANCE)context->hInstance;
  HWND view = CreateWindowExA(WS_EX_CLIENTEDGE, "edit", "",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE |
                                  ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN,
                              0, context->nPanelHeight + 100, 300, 300, hwndMain, (HMENU)(INT_PTR)LOGVIEW_CONTROL_ID,
                              instance, NULL);
  context->hLogView = view;
  if (view) {
    // The whole log can pass the edit control's default limit of 32 767.
    SendMessageA(view, EM_SETLIMITTEXT, 0, 0);
    SendMessageA(view, WM_SETFONT, (WPARAM)context->hFontMono, 1);
    SendMessageA(view, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(2, 2));
  }
  AppendDriverItems(hwndMain);
}

void LOGVIEW_Resize(int clientWidth, int clientHeight) {
  APPCONTEXT* context = &g_appContext;
  int height = clientHeight - context->nPanelHeight - 100;
  if (height < 100) height = 100;
  SetWindowPos(context->hLogView, NULL, 0, context->nPanelHeight + 100, clientWidth, height,
               SWP_SHOWWINDOW | SWP_NOMOVE);
}

void LOGVIEW_Refresh(void) {
  APPCONTEXT* context = &g_appContext;
  // Clear before reading: a line appended during the copy sets it again and
  // shows at the next tick.
  if (!context->log.bChanged.exchange(0)) return;
  if (!context->log.pText) return;
  SetWindowTextA(context->hLogView, context->log.pText);
  PostMessageA(context->hLogView, WM_VSCROLL, SB_BOTTOM, 0);
}
