// The mini list view control. Everything visible goes through the creator's
// callback; the control only keeps the geometry, the selection and the state
// of the scroll bar part that is held down.
#include "ui/minilistview.h"

#include <math.h>
#include <string.h>
#include <windowsx.h>

#include "ui/qz2ctl.h"

static MINILISTVIEW* MINILISTVIEW_Get(HWND hWnd)
{
    return (MINILISTVIEW*)GetWindowLongPtrA(hWnd, 0);
}

// Checked by class name, so a subclassed control is still found.
MINILISTVIEW* MINILISTVIEW_FromWindow(HWND hWnd)
{
    char name[64];

    if (!hWnd || !GetClassNameA(hWnd, name, sizeof(name)) ||
        strcmp(name, QZ2CTL_MINILISTVIEW_CLASS) != 0)
        return NULL;
    return MINILISTVIEW_Get(hWnd);
}

// floor(f), plus 1 when the fraction is above one half.
static int32_t MINILISTVIEW_Round(float f)
{
    float whole = floorf(f);
    int32_t result = (int32_t)whole;

    if (f - whole > 0.5f)
        result++;
    return result;
}

int32_t MINILISTVIEW_ThumbOffset(const MINILISTVIEW* view)
{
    int32_t position;
    float f;

    if (view->nItemCount < 2)
        return 0;
    position = view->nSelection > 0 ? view->nSelection - 1 : view->nTop;
    f = (float)(view->nTrackLength - view->nThumbLength) * (float)position /
        (float)(view->nItemCount - 1);
    return MINILISTVIEW_Round(f);
}

int32_t MINILISTVIEW_HitTest(const MINILISTVIEW* view, int32_t x, int32_t y)
{
    int32_t w = view->nScrollBarWidth;
    int32_t offset;
    int32_t row;

    if (x < view->nListWidth)
    {
        row = (y - MINILISTVIEW_ROW_OFFSET) / view->nRowHeight + 1;
        if (row < 0)
            row = 0;
        if (row > view->nVisibleRows)
            row = view->nVisibleRows;
        return row;
    }
    if (y < w)
        return MINILISTVIEW_PART_UPBUTTON;
    if (y > w + view->nTrackLength)
        return MINILISTVIEW_PART_DOWNBUTTON;
    offset = MINILISTVIEW_ThumbOffset(view);
    if (y < w + offset && offset > MINILISTVIEW_TRACK_MIN_HIT)
        return MINILISTVIEW_PART_TRACKABOVE;
    if (y > w + offset + view->nThumbLength &&
        view->nTrackLength - view->nThumbLength - offset > MINILISTVIEW_TRACK_MIN_HIT)
        return MINILISTVIEW_PART_TRACKBELOW;
    return MINILISTVIEW_PART_THUMB;
}

static void MINILISTVIEW_UpdateGeometry(MINILISTVIEW* view)
{
    view->nListWidth = view->nWidth - view->nScrollBarWidth;
    view->nTrackLength = view->nHeight - 2 * view->nScrollBarWidth;
    if (view->nStyle & MINILISTVIEW_STYLE_SINGLEROW)
        view->nVisibleRows = 1;
    else
        view->nVisibleRows = (view->nHeight - 6) / view->nRowHeight;
    // A window lower than its margin would otherwise page backwards.
    if (view->nVisibleRows < 0)
        view->nVisibleRows = 0;
}

static void MINILISTVIEW_Notify(MINILISTVIEW* view, int32_t code)
{
    if (view->pCallback)
        view->pCallback(view->pUserData, code, &view->item);
}

static void MINILISTVIEW_Send(MINILISTVIEW* view, int32_t code, HDC hDC, int32_t top, int32_t left,
                              int32_t width, int32_t height, int32_t state)
{
    view->item.hDC = hDC;
    view->item.nTop = top;
    view->item.nLeft = left;
    view->item.nWidth = width;
    view->item.nHeight = height;
    view->item.nState = state;
    MINILISTVIEW_Notify(view, code);
}

/* Scroll bar elements */

static void MINILISTVIEW_DrawUpButton(MINILISTVIEW* view, HDC hDC, int32_t state)
{
    int32_t w = view->nScrollBarWidth;

    MINILISTVIEW_Send(view, MINILISTVIEW_CODE_UPBUTTON, hDC, 0, view->nListWidth, w, w, state);
}

static void MINILISTVIEW_DrawDownButton(MINILISTVIEW* view, HDC hDC, int32_t state)
{
    int32_t w = view->nScrollBarWidth;
    int32_t top = w + view->nTrackLength;

    MINILISTVIEW_Send(view, MINILISTVIEW_CODE_DOWNBUTTON, hDC, top, view->nListWidth, w,
                      view->nHeight - top, state);
}

// The track, then the thumb on top of it; both with the "thumb held" state.
static void MINILISTVIEW_DrawTrack(MINILISTVIEW* view, HDC hDC, int32_t held)
{
    int32_t w = view->nScrollBarWidth;
    int32_t offset = MINILISTVIEW_ThumbOffset(view);

    MINILISTVIEW_Send(view, MINILISTVIEW_CODE_TRACK, hDC, w, view->nListWidth, w,
                      view->nTrackLength, held);
    MINILISTVIEW_Send(view, MINILISTVIEW_CODE_DOWNBUTTON, hDC, w + offset, view->nListWidth, w,
                      view->nThumbLength, held);
}

static void MINILISTVIEW_DrawTrackAbove(MINILISTVIEW* view, HDC hDC, int32_t state)
{
    int32_t w = view->nScrollBarWidth;

    MINILISTVIEW_Send(view, MINILISTVIEW_CODE_TRACKABOVE, hDC, w, view->nListWidth, w,
                      MINILISTVIEW_ThumbOffset(view), state);
}

static void MINILISTVIEW_DrawTrackBelow(MINILISTVIEW* view, HDC hDC, int32_t state)
{
    int32_t w = view->nScrollBarWidth;
    int32_t offset = MINILISTVIEW_ThumbOffset(view);

    MINILISTVIEW_Send(view, MINILISTVIEW_CODE_TRACKBELOW, hDC, w + offset + view->nThumbLength,
                      view->nListWidth, w, view->nTrackLength - view->nThumbLength - offset, state);
}

static void MINILISTVIEW_DrawScrollBar(MINILISTVIEW* view, HDC hDC)
{
    MINILISTVIEW_DrawUpButton(view, hDC, 0);
    MINILISTVIEW_DrawTrack(view, hDC, 0);
    MINILISTVIEW_DrawDownButton(view, hDC, 0);
}

/* Rows */

static void MINILISTVIEW_DrawRows(MINILISTVIEW* view, HDC hDC)
{
    BOOL singleRow = (view->nStyle & MINILISTVIEW_STYLE_SINGLEROW) != 0;
    int32_t count = singleRow ? 1 : view->nVisibleRows + 1;
    int32_t i;
    int32_t y;
    int32_t height;

    for (i = 0; i < count; i++)
    {
        y = i * view->nRowHeight;
        height = view->nHeight - y;
        if (!singleRow && height > view->nRowHeight)
            height = view->nRowHeight;
        view->item.nItem = view->nTop + 1 + i;
        MINILISTVIEW_Send(view, MINILISTVIEW_CODE_DRAWROW, hDC, y, 0, view->nListWidth, height,
                          view->item.nItem == view->nSelection ? 1 : 0);
    }
    view->item.nItem = view->nTop + 1 + count;
    view->item.nTop = count * view->nRowHeight;
    MINILISTVIEW_Notify(view, MINILISTVIEW_CODE_ROWSDONE);
}

// Redraws at once rather than waiting for WM_PAINT, so a held button shows
// every step of its repeat.
static void MINILISTVIEW_RedrawRowsNow(MINILISTVIEW* view)
{
    HDC hDC = GetDC(view->hWnd);

    MINILISTVIEW_DrawRows(view, hDC);
    ReleaseDC(view->hWnd, hDC);
}

static void MINILISTVIEW_RedrawTrackNow(MINILISTVIEW* view, int32_t held)
{
    HDC hDC = GetDC(view->hWnd);

    MINILISTVIEW_DrawTrack(view, hDC, held);
    ReleaseDC(view->hWnd, hDC);
}

/* Selection */

static void MINILISTVIEW_NotifySelection(MINILISTVIEW* view)
{
    view->item.nItem = view->nSelection;
    view->item.nState = 1;
    view->item.hDC = NULL;
    MINILISTVIEW_Notify(view, MINILISTVIEW_CODE_SELCHANGED);
}

static void MINILISTVIEW_BringIntoView(MINILISTVIEW* view)
{
    int32_t s = view->nSelection;

    if (s > view->nTop + view->nVisibleRows)
        view->nTop = s - view->nVisibleRows;
    else if (s <= view->nTop)
        view->nTop = s - 1;
    if (view->nTop < 0)
        view->nTop = 0;
}

// Moves the selection to target when there are 2 items or more and the move
// stays within them; brings it into view. Reports whether it moved.
static BOOL MINILISTVIEW_Select(MINILISTVIEW* view, int32_t target)
{
    if (view->nItemCount < 2 || target < 1 || target > view->nItemCount ||
        target == view->nSelection)
        return FALSE;
    view->nSelection = target;
    MINILISTVIEW_BringIntoView(view);
    return TRUE;
}

static void MINILISTVIEW_SelectAndInvalidate(MINILISTVIEW* view, int32_t target)
{
    if (!MINILISTVIEW_Select(view, target))
        return;
    InvalidateRect(view->hWnd, NULL, FALSE);
    MINILISTVIEW_NotifySelection(view);
}

// One step up (-1) or down (+1) with the rows redrawn at once.
static BOOL MINILISTVIEW_StepNow(MINILISTVIEW* view, int32_t step)
{
    if (!MINILISTVIEW_Select(view, view->nSelection + step))
        return FALSE;
    MINILISTVIEW_RedrawRowsNow(view);
    MINILISTVIEW_NotifySelection(view);
    return TRUE;
}

static BOOL MINILISTVIEW_PageUp(MINILISTVIEW* view)
{
    if (view->nItemCount < 2 || view->nSelection <= 1)
        return FALSE;
    view->nTop = view->nTop - view->nVisibleRows;
    if (view->nTop < 0)
        view->nTop = 0;
    view->nSelection = view->nSelection - view->nVisibleRows;
    if (view->nSelection < 1)
        view->nSelection = 1;
    InvalidateRect(view->hWnd, NULL, FALSE);
    MINILISTVIEW_NotifySelection(view);
    return TRUE;
}

static BOOL MINILISTVIEW_PageDown(MINILISTVIEW* view)
{
    if (view->nItemCount < 2 || view->nSelection >= view->nItemCount)
        return FALSE;
    view->nTop = view->nTop + view->nVisibleRows;
    view->nSelection = view->nSelection + view->nVisibleRows;
    if (view->nSelection > view->nItemCount)
        view->nSelection = view->nItemCount;
    if (view->nTop > view->nItemCount - view->nVisibleRows)
        view->nTop = view->nItemCount - view->nVisibleRows;
    if (view->nTop < 0)
        view->nTop = 0;
    InvalidateRect(view->hWnd, NULL, FALSE);
    MINILISTVIEW_NotifySelection(view);
    return TRUE;
}

/* Mouse */

static void MINILISTVIEW_TakeCapture(MINILISTVIEW* view)
{
    HWND previous = SetCapture(view->hWnd);

    if (previous != view->hWnd)
        view->hPrevCapture = previous;
}

static void MINILISTVIEW_GiveBackCapture(MINILISTVIEW* view)
{
    HWND previous = view->hPrevCapture;

    view->hPrevCapture = NULL;
    if (GetCapture() != view->hWnd)
        return;
    ReleaseCapture();
    if (previous && IsWindow(previous))
        SetCapture(previous);
}

static void MINILISTVIEW_StopRepeat(MINILISTVIEW* view)
{
    if (view->nRepeatTimer)
        KillTimer(view->hWnd, view->nRepeatTimer);
    view->nRepeatTimer = 0;
    view->bRepeatStopped = 1;
}

static void MINILISTVIEW_StartRepeat(MINILISTVIEW* view)
{
    MINILISTVIEW_TakeCapture(view);
    view->nRepeatTicks = 0;
    // Cleared at every press, or auto-repeat would work for the first hold only.
    view->bRepeatStopped = 0;
    view->nRepeatTimer = SetTimer(view->hWnd, MINILISTVIEW_REPEAT_TIMER, MINILISTVIEW_REPEAT_MS, NULL);
}

static void MINILISTVIEW_PressButton(MINILISTVIEW* view, int32_t part)
{
    HDC hDC = GetDC(view->hWnd);

    view->nPressedPart = part;
    if (part == MINILISTVIEW_PART_UPBUTTON)
        MINILISTVIEW_DrawUpButton(view, hDC, 1);
    else
        MINILISTVIEW_DrawDownButton(view, hDC, 1);
    ReleaseDC(view->hWnd, hDC);
    MINILISTVIEW_StepNow(view, part == MINILISTVIEW_PART_UPBUTTON ? -1 : 1);
    MINILISTVIEW_RedrawTrackNow(view, 0);
    MINILISTVIEW_StartRepeat(view);
}

static void MINILISTVIEW_PressTrackPart(MINILISTVIEW* view, int32_t part, int32_t y)
{
    HDC hDC = GetDC(view->hWnd);

    view->nPressedPart = part;
    if (part == MINILISTVIEW_PART_THUMB)
    {
        MINILISTVIEW_DrawTrack(view, hDC, 1);
        view->nDragOrigin = y;
    }
    else if (part == MINILISTVIEW_PART_TRACKABOVE)
        MINILISTVIEW_DrawTrackAbove(view, hDC, 1);
    else
        MINILISTVIEW_DrawTrackBelow(view, hDC, 1);
    ReleaseDC(view->hWnd, hDC);
    MINILISTVIEW_TakeCapture(view);
}

static void MINILISTVIEW_ClickRow(MINILISTVIEW* view, int32_t row, int32_t x, int32_t keys)
{
    int32_t item = view->nTop + row;
    HDC hDC;

    if (item <= 0)
        return;
    if (item <= view->nItemCount)
    {
        view->item.nItem = item;
        view->item.nTop = (row - 1) * view->nRowHeight + MINILISTVIEW_ROW_OFFSET;
        view->item.nLeft = x;
        view->item.nWidth = view->nListWidth;
        view->item.nHeight = view->nRowHeight;
        view->item.nKeys = keys;
        view->item.hDC = NULL;
        view->item.nState = item == view->nSelection ? 1 : 0;
        view->item.nReserved = 0;
        view->nSelection = item;
        MINILISTVIEW_Notify(view, MINILISTVIEW_CODE_CLICK);
    }
    hDC = GetDC(view->hWnd);
    MINILISTVIEW_DrawScrollBar(view, hDC);
    MINILISTVIEW_DrawRows(view, hDC);
    ReleaseDC(view->hWnd, hDC);
}

static void MINILISTVIEW_OnButtonDown(MINILISTVIEW* view, WPARAM wParam, LPARAM lParam)
{
    int32_t x = GET_X_LPARAM(lParam);
    int32_t y = GET_Y_LPARAM(lParam);
    int32_t hit;

    if (!view->bEnabled)
        return;
    hit = MINILISTVIEW_HitTest(view, x, y);
    if (x < view->nListWidth)
        MINILISTVIEW_ClickRow(view, hit, x, (int32_t)(wParam & (MK_SHIFT | MK_CONTROL)));
    else if (hit == MINILISTVIEW_PART_UPBUTTON || hit == MINILISTVIEW_PART_DOWNBUTTON)
        MINILISTVIEW_PressButton(view, hit);
    else
        MINILISTVIEW_PressTrackPart(view, hit, y);
}

static void MINILISTVIEW_OnMouseMove(MINILISTVIEW* view, LPARAM lParam)
{
    int32_t y = GET_Y_LPARAM(lParam);
    int32_t span = view->nTrackLength - view->nThumbLength;
    int32_t target;
    float rows;
    HDC hDC;

    if (!view->bEnabled || view->nPressedPart != MINILISTVIEW_PART_THUMB || y == view->nDragOrigin)
        return;
    // A thumb that fills its track cannot be dragged.
    if (span <= 0 || view->nItemCount < 1)
        return;
    rows = (float)(view->nItemCount - 1) * (float)(y - view->nDragOrigin) / (float)span;
    // Bounded before the conversion: a long list dragged far would not fit.
    if (rows > (float)view->nItemCount)
        rows = (float)view->nItemCount;
    if (rows < -(float)view->nItemCount)
        rows = -(float)view->nItemCount;
    target = view->nSelection + MINILISTVIEW_Round(rows);
    if (target < 1)
        target = 1;
    if (target > view->nItemCount)
        target = view->nItemCount;
    if (target == view->nSelection)
        return;  // the origin stays, so slow movements add up
    view->nSelection = target;
    MINILISTVIEW_BringIntoView(view);
    hDC = GetDC(view->hWnd);
    MINILISTVIEW_DrawRows(view, hDC);
    MINILISTVIEW_DrawTrack(view, hDC, 1);
    ReleaseDC(view->hWnd, hDC);
    MINILISTVIEW_NotifySelection(view);
    view->nDragOrigin = y;
}

static void MINILISTVIEW_ReleasePart(MINILISTVIEW* view, int32_t part)
{
    HDC hDC = GetDC(view->hWnd);

    switch (part)
    {
    case MINILISTVIEW_PART_UPBUTTON:
        MINILISTVIEW_DrawUpButton(view, hDC, 0);
        break;
    case MINILISTVIEW_PART_DOWNBUTTON:
        MINILISTVIEW_DrawDownButton(view, hDC, 0);
        break;
    case MINILISTVIEW_PART_THUMB:
        MINILISTVIEW_DrawTrack(view, hDC, 0);
        break;
    case MINILISTVIEW_PART_TRACKABOVE:
        if (!MINILISTVIEW_PageUp(view))
            MINILISTVIEW_DrawTrackAbove(view, hDC, 0);
        break;
    case MINILISTVIEW_PART_TRACKBELOW:
        if (!MINILISTVIEW_PageDown(view))
            MINILISTVIEW_DrawTrackBelow(view, hDC, 0);
        break;
    }
    ReleaseDC(view->hWnd, hDC);
}

// Button up and WM_CANCELMODE. While disabled only the press itself ends, so
// neither the capture nor the timer can stay behind.
static void MINILISTVIEW_OnButtonUp(MINILISTVIEW* view)
{
    int32_t part = view->nPressedPart;

    view->nPressedPart = MINILISTVIEW_PART_NONE;
    if (view->bEnabled)
        MINILISTVIEW_ReleasePart(view, part);
    MINILISTVIEW_GiveBackCapture(view);
    MINILISTVIEW_StopRepeat(view);
}

// With k ticks counted before this one: the first repeat on the ninth tick,
// then every fourth tick up to the twentieth, every second up to the
// fortieth, then every tick.
static BOOL MINILISTVIEW_RepeatDue(int32_t k)
{
    if (k <= 4)
        return FALSE;
    if (k <= 20)
        return k % 4 == 0;
    if (k <= 40)
        return k % 2 == 0;
    return TRUE;
}

static void MINILISTVIEW_OnTimer(MINILISTVIEW* view, WPARAM id)
{
    int32_t part = view->nPressedPart;

    if (id != MINILISTVIEW_REPEAT_TIMER || view->bRepeatStopped)
        return;
    // A stray tick with no button held must not move the selection.
    if (part != MINILISTVIEW_PART_UPBUTTON && part != MINILISTVIEW_PART_DOWNBUTTON)
        return;
    if (MINILISTVIEW_RepeatDue(view->nRepeatTicks))
    {
        MINILISTVIEW_StepNow(view, part == MINILISTVIEW_PART_DOWNBUTTON ? 1 : -1);
        MINILISTVIEW_RedrawTrackNow(view, 0);
    }
    view->nRepeatTicks++;
}

static void MINILISTVIEW_OnWheel(MINILISTVIEW* view, WPARAM wParam)
{
    short delta = GET_WHEEL_DELTA_WPARAM(wParam);

    if (!view->bEnabled || delta == 0)
        return;
    MINILISTVIEW_SelectAndInvalidate(view, view->nSelection + (delta > 0 ? 1 : -1));
}

/* Keyboard */

static void MINILISTVIEW_PassToOwner(MINILISTVIEW* view, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // A null owner would turn the post into a thread message.
    if (view->hOwner)
        PostMessageA(view->hOwner, msg, wParam, lParam);
}

static void MINILISTVIEW_OnKeyDown(MINILISTVIEW* view, WPARAM wParam, LPARAM lParam)
{
    switch (wParam)
    {
    case VK_UP:
    case VK_NUMPAD8:
        if (view->bEnabled)
            MINILISTVIEW_SelectAndInvalidate(view, view->nSelection - 1);
        break;
    case VK_DOWN:
    case VK_NUMPAD2:
        if (view->bEnabled)
            MINILISTVIEW_SelectAndInvalidate(view, view->nSelection + 1);
        break;
    case VK_PRIOR:
        if (view->bEnabled)
            MINILISTVIEW_PageUp(view);
        break;
    case VK_NEXT:
        if (view->bEnabled)
            MINILISTVIEW_PageDown(view);
        break;
    case VK_HOME:
        if (view->bEnabled)
            MINILISTVIEW_SelectAndInvalidate(view, 1);
        break;
    case VK_END:
        if (view->bEnabled)
            MINILISTVIEW_SelectAndInvalidate(view, view->nItemCount);
        break;
    default:
        MINILISTVIEW_PassToOwner(view, WM_KEYDOWN, wParam, lParam);
        break;
    }
}

/* Life cycle */

static LRESULT MINILISTVIEW_OnCreate(HWND hWnd, const CREATESTRUCTA* cs)
{
    const MINILISTVIEW* tmpl = cs ? (const MINILISTVIEW*)cs->lpCreateParams : NULL;
    MINILISTVIEW* view;

    // Without a template, a row height or a callback the control could neither
    // lay out nor draw anything.
    if (!tmpl || tmpl->nRowHeight <= 0 || !tmpl->pCallback)
        return -1;
    view = (MINILISTVIEW*)HeapAlloc(GetProcessHeap(), 0, sizeof(*view));
    if (!view)
        return -1;
    SetWindowLongPtrA(hWnd, 0, (LONG_PTR)view);
    *view = *tmpl;
    view->hWnd = hWnd;
    view->item.nIdentifier = view->nIdentifier;
    view->item.hWnd = hWnd;
    view->bEnabled = 1;
    view->nSelection = 1;
    // Press state belongs to the control, whatever the template held.
    view->nPressedPart = MINILISTVIEW_PART_NONE;
    view->nRepeatTicks = 0;
    view->nRepeatTimer = 0;
    view->bRepeatStopped = 0;
    view->hPrevCapture = NULL;
    MINILISTVIEW_UpdateGeometry(view);
    return 0;
}

static void MINILISTVIEW_OnDestroy(HWND hWnd, MINILISTVIEW* view)
{
    if (view->nRepeatTimer)
        KillTimer(hWnd, view->nRepeatTimer);
    SetWindowLongPtrA(hWnd, 0, 0);
    HeapFree(GetProcessHeap(), 0, view);
}

static void MINILISTVIEW_OnPaint(MINILISTVIEW* view)
{
    PAINTSTRUCT ps;
    HDC hDC = BeginPaint(view->hWnd, &ps);

    MINILISTVIEW_DrawScrollBar(view, hDC);
    MINILISTVIEW_DrawRows(view, hDC);
    EndPaint(view->hWnd, &ps);
}

static void MINILISTVIEW_OnEraseBackground(MINILISTVIEW* view, HDC hDC)
{
    MINILISTVIEW_Send(view, MINILISTVIEW_CODE_ERASELIST, hDC, 0, 0, view->nListWidth,
                      view->nHeight, 0);
    MINILISTVIEW_Send(view, MINILISTVIEW_CODE_TRACK, hDC, 0, view->nListWidth,
                      view->nScrollBarWidth, view->nHeight, 0);
}

static void MINILISTVIEW_OnCommand(MINILISTVIEW* view, WPARAM wParam)
{
    if (wParam == MINILISTVIEW_CMD_ENABLE && !view->bEnabled)
    {
        view->bEnabled = 1;
        InvalidateRect(view->hWnd, NULL, FALSE);
    }
    else if (wParam == MINILISTVIEW_CMD_DISABLE && view->bEnabled)
    {
        view->bEnabled = 0;
        InvalidateRect(view->hWnd, NULL, FALSE);
    }
}

LRESULT CALLBACK MINILISTVIEW_WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    MINILISTVIEW* view;

    if (msg == WM_CREATE)
        return MINILISTVIEW_OnCreate(hWnd, (const CREATESTRUCTA*)lParam);
    view = MINILISTVIEW_Get(hWnd);
    if (!view)
        return DefWindowProcA(hWnd, msg, wParam, lParam);

    switch (msg)
    {
    case WM_DESTROY:
        MINILISTVIEW_OnDestroy(hWnd, view);
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_SIZE:
        view->nWidth = (short)LOWORD(lParam);
        view->nHeight = (short)HIWORD(lParam);
        MINILISTVIEW_UpdateGeometry(view);
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    case WM_PAINT:
        MINILISTVIEW_OnPaint(view);
        return 0;
    case WM_ERASEBKGND:
        MINILISTVIEW_OnEraseBackground(view, (HDC)wParam);
        return 1;
    case WM_COMMAND:
        MINILISTVIEW_OnCommand(view, wParam);
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    case WM_MOUSEACTIVATE:
        if (GetFocus() != hWnd)
            SetFocus(hWnd);
        return MA_ACTIVATE;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        return 0;
    case WM_LBUTTONDOWN:
        MINILISTVIEW_OnButtonDown(view, wParam, lParam);
        return 0;
    case WM_MOUSEMOVE:
        MINILISTVIEW_OnMouseMove(view, lParam);
        return 0;
    case WM_LBUTTONUP:
    case WM_CANCELMODE:
        MINILISTVIEW_OnButtonUp(view);
        return 0;
    case WM_TIMER:
        MINILISTVIEW_OnTimer(view, wParam);
        return 0;
    case WM_MOUSEWHEEL:
        MINILISTVIEW_OnWheel(view, wParam);
        return 0;
    case WM_KEYDOWN:
        MINILISTVIEW_OnKeyDown(view, wParam, lParam);
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCOMMAND:
        MINILISTVIEW_PassToOwner(view, msg, wParam, lParam);
        return 0;
    default:
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }
}
