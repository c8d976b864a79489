// The mini list view: a vertical list with its own scroll bar and one
// selected row. It paints nothing itself; every element is drawn by the
// creator's callback, which also receives the notifications. Created with
// CreateWindowExA on QZ2CTL_MINILISTVIEW_CLASS, a filled MINILISTVIEW as the
// creation parameter (copied whole; a null parameter, a row height of 0 or
// less or a null callback make the creation fail).
#ifndef MB_UI_MINILISTVIEW_H
#define MB_UI_MINILISTVIEW_H

#include <stdint.h>
#include <windows.h>

// Callback codes.
enum {
    MINILISTVIEW_CODE_DRAWROW = 1,
    MINILISTVIEW_CODE_ERASELIST = 4,
    MINILISTVIEW_CODE_TRACK = 5,       // also the scroll bar column on erase
    MINILISTVIEW_CODE_ROWSDONE = 6,
    MINILISTVIEW_CODE_CLICK = 7,
    MINILISTVIEW_CODE_SELCHANGED = 12,
    MINILISTVIEW_CODE_UPBUTTON = 16,
    MINILISTVIEW_CODE_DOWNBUTTON = 17,  // also the thumb; the rectangle tells
    MINILISTVIEW_CODE_TRACKABOVE = 19,
    MINILISTVIEW_CODE_TRACKBELOW = 20
};

// Scroll bar parts (pressed part and hit test results).
enum {
    MINILISTVIEW_PART_NONE = -1,
    MINILISTVIEW_PART_UPBUTTON = 0x10000,
    MINILISTVIEW_PART_DOWNBUTTON = 0x20000,
    MINILISTVIEW_PART_THUMB = 0x40000,
    MINILISTVIEW_PART_TRACKABOVE = 0x100000,
    MINILISTVIEW_PART_TRACKBELOW = 0x200000
};

enum {
    MINILISTVIEW_STYLE_SINGLEROW = 0x1000000,
    MINILISTVIEW_REPEAT_TIMER = 3206,
    MINILISTVIEW_REPEAT_MS = 30,
    MINILISTVIEW_ROW_OFFSET = 3,       // rows are hit 3 pixels below the top
    MINILISTVIEW_TRACK_MIN_HIT = 25,   // track parts this short act as thumb
    MINILISTVIEW_CMD_ENABLE = 1,       // WM_COMMAND wParam from the creator
    MINILISTVIEW_CMD_DISABLE = 2
};

// Passed by address as the third argument of every callback.
typedef struct MINILISTVIEW_ITEM {
    WORD nIdentifier;
    HWND hWnd;
    int32_t nItem;  // 1-based
    int32_t nTop;
    int32_t nLeft;
    int32_t nWidth;
    int32_t nHeight;
    int32_t nKeys;  // MK_SHIFT and MK_CONTROL of a click
    HDC hDC;
    int32_t nState;
    int64_t nReserved;
} MINILISTVIEW_ITEM;

// The result is not used.
typedef int (*MINILISTVIEW_CALLBACK)(void* pUserData, int32_t nCode, MINILISTVIEW_ITEM* pItem);

typedef struct MINILISTVIEW {
    HWND hOwner;  // receives the keys and system commands passed on
    HWND hWnd;    // set by the control
    int32_t nWidth;
    int32_t nHeight;
    WORD nIdentifier;
    int32_t bEnabled;  // set by the control
    int32_t nStyle;
    int32_t nScrollBarWidth;
    int32_t nListWidth;    // set by the control
    int32_t nTrackLength;  // set by the control
    int32_t nThumbLength;
    int32_t nItemCount;
    int32_t nTop;  // items scrolled out above the view
    int32_t nRowHeight;
    int32_t nVisibleRows;  // set by the control
    int32_t nSelection;    // 1-based; set to 1 by the control
    int32_t nDragOrigin;
    int32_t nPressedPart;
    int32_t nRepeatTicks;
    UINT_PTR nRepeatTimer;
    int32_t bRepeatStopped;
    HWND hPrevCapture;
    MINILISTVIEW_ITEM item;
    MINILISTVIEW_CALLBACK pCallback;
    void* pUserData;
} MINILISTVIEW;

LRESULT CALLBACK MINILISTVIEW_WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The control's live record (null for other windows); the creator may read
// the selection and scroll position from it.
MINILISTVIEW* MINILISTVIEW_FromWindow(HWND hWnd);

// Position of the thumb within the track.
int32_t MINILISTVIEW_ThumbOffset(const MINILISTVIEW* view);
// A row number (0 to the visible row count) left of the scroll bar, else a
// MINILISTVIEW_PART_ value.
int32_t MINILISTVIEW_HitTest(const MINILISTVIEW* view, int32_t x, int32_t y);

#endif  // MB_UI_MINILISTVIEW_H
