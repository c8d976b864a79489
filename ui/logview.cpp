#include "ui/logview.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "app/appcontext.h"
#include "app/commands.h"
#include "asio/asioman.h"

// Characters of the log that the view holds, always a prefix of the log. The
// control's own length says whether it still holds them.
static int32_t s_nHeld;

static void AppendDriverItems(HWND hwndMain) {
  HMENU devices = GetSubMenu(GetMenu(hwndMain), 1);
  if (!devices) return;
  int count = ASIOMAN_GetEntryCount();
  int appended = 0;
  for (int i = 1; i <= count; i++) {
    const ASIOMAN_DRIVERENTRY* entry = ASIOMAN_GetEntry(i);
    if (!entry) continue;
    WCHAR text[1024];
    // The name is at most 255 units; the record keeps it terminated.
    swprintf(text, 1024, L"ASIO: %.255ls", entry->wszName);
    if (AppendMenuW(devices, MF_STRING, (UINT_PTR)(CMD_ASIODRIVER_FIRST - 1 + i), text)) appended++;
  }
  // A menu of no driver would leave the user nothing to choose and no reason.
  if (appended == 0) AppendMenuA(devices, MF_STRING | MF_GRAYED, 0, "(no ASIO driver installed)");
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
  s_nHeld = 0;
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

// A scroll bar's thumb and state as drawn, and whether they could be read.
struct BAR {
  SCROLLBARINFO info;
  bool bRead;
};

static void GetBar(HWND view, LONG object, BAR* bar) {
  memset(bar, 0, sizeof *bar);
  bar->info.cbSize = sizeof bar->info;
  bar->bRead = GetScrollBarInfo(view, object, &bar->info) != 0;
}

// A bar that could not be read counts as moved.
static bool BarMoved(const BAR* before, const BAR* after) {
  const SCROLLBARINFO* a = &before->info;
  const SCROLLBARINFO* b = &after->info;
  return !before->bRead || !after->bRead || a->xyThumbTop != b->xyThumbTop || a->xyThumbBottom != b->xyThumbBottom ||
         memcmp(a->rgstate, b->rgstate, sizeof a->rgstate) != 0 || !EqualRect(&a->rcScrollBar, &b->rcScrollBar);
}

// Draws a scroll bar again where it stands.
static void RedrawBar(HWND view, int bar) {
  SCROLLINFO info = {sizeof info, SIF_PAGE | SIF_POS | SIF_RANGE, 0, 0, 0, 0, 0};
  if (GetScrollInfo(view, bar, &info)) SetScrollInfo(view, bar, &info, TRUE);
}

// The control draws each scroll bar again at every change of its range or
// position, four times an append, and a themed bar can cost milliseconds to
// draw (6 ms under Wine's default theme, the layout of some 50 new lines).
// While it appends, the view is marked invisible (the control may ignore
// WM_SETREDRAW, so the style is cleared here) and draws nothing, nor scrolls
// the text it is about to cover. Then the text is painted once and only a bar
// whose thumb moved is drawn again. Becoming visible may ask for the whole
// frame again, which is dropped unless something was waiting to be painted
// before.
static void AppendUndrawn(HWND view, int32_t from, const char* text) {
  LONG_PTR style = GetWindowLongPtrA(view, GWL_STYLE);
  bool pending = GetUpdateRect(view, NULL, FALSE) != 0;
  BAR vertical, horizontal, now;
  GetBar(view, OBJID_VSCROLL, &vertical);
  GetBar(view, OBJID_HSCROLL, &horizontal);
  SetWindowLongPtrA(view, GWL_STYLE, style & ~(LONG_PTR)WS_VISIBLE);
  SendMessageA(view, EM_SETSEL, (WPARAM)from, (LPARAM)from);
  SendMessageA(view, EM_REPLACESEL, FALSE, (LPARAM)text);
  SendMessageA(view, WM_VSCROLL, SB_BOTTOM, 0);
  SetWindowLongPtrA(view, GWL_STYLE, style);
  if (!(style & WS_VISIBLE)) return;
  if (pending) {
    RedrawWindow(view, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    return;
  }
  RedrawWindow(view, NULL, NULL, RDW_VALIDATE | RDW_NOFRAME | RDW_NOCHILDREN);
  InvalidateRect(view, NULL, TRUE);
  GetBar(view, OBJID_VSCROLL, &now);
  if (BarMoved(&vertical, &now)) RedrawBar(view, SB_VERT);
  GetBar(view, OBJID_HSCROLL, &now);
  if (BarMoved(&horizontal, &now)) RedrawBar(view, SB_HORZ);
}

// Appending costs what the new text costs; replacing the whole text makes the
// control lay out up to 1 MiB again, so that happens only when the view does
// not hold a prefix of the log (the first fill, or its text was changed).
static void ShowText(HWND view, const char* log, int32_t length) {
  int32_t held = s_nHeld;
  bool prefix = held <= length && SendMessageA(view, WM_GETTEXTLENGTH, 0, 0) == (LRESULT)held;
  int32_t from = prefix ? held : 0;
  if (prefix && from == length) return;
  // A terminated copy: lines appended meanwhile run on past length.
  char* text = (char*)malloc((size_t)(length - from) + 1);
  if (!text) {
    g_appContext.log.bChanged.store(1);  // try again at the next tick
    return;
  }
  memcpy(text, log + from, (size_t)(length - from));
  text[length - from] = 0;
  if (prefix) {
    AppendUndrawn(view, from, text);
  } else {
    SetWindowTextA(view, text);
    SendMessageA(view, EM_SETSEL, (WPARAM)length, (LPARAM)length);
    PostMessageA(view, WM_VSCROLL, SB_BOTTOM, 0);
  }
  free(text);
  s_nHeld = length;
}

void LOGVIEW_Refresh(void) {
  APPCONTEXT* context = &g_appContext;
  // Clear before reading: a line appended during the copy sets it again and
  // shows at the next tick.
  if (!context->log.bChanged.exchange(0)) return;
  if (!context->log.pText || !context->hLogView) return;
  ShowText((HWND)context->hLogView, context->log.pText, TXTBUFFER_GetLength(&context->log));
}
