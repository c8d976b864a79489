// The status panel's off-screen surface, as the application's record holds
// it. Platform-free: the handles are the pointer types windows.h declares
// (STRICT handles), forward-declared here.
#ifndef MB_UI_OFFSCREEN_H
#define MB_UI_OFFSCREEN_H

#include <stdint.h>

struct HBITMAP__;
typedef struct HBITMAP__* APP_HBITMAP;
typedef void* APP_HGDIOBJ;

typedef struct APP_RECT {
  int32_t left, top, right, bottom;
} APP_RECT;

typedef struct OFFSCREEN {
  APP_HBITMAP hBitmap;
  APP_RECT rcDest;
  int32_t nWidth, nHeight;
  APP_HGDIOBJ hOldObject;
} OFFSCREEN;

#endif  // MB_UI_OFFSCREEN_H
