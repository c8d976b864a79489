// The main window: entry, window class, message procedure, the set-up and
// release of the application's resources, and the menu commands.
#ifndef MB_APP_MAINWINDOW_H
#define MB_APP_MAINWINDOW_H

#include <windows.h>

#include "app/appcontext.h"
#include "app/commands.h"
#include "mb_version.h"
#include "ui/logview.h"

#define APP_MAIN_CLASS "QUORLIN0ControlPanel0MainWindow0"
#define APP_TITLE_FORMAT "Morvane Brimwell %s (Version %s)"

// Wide enough that the panel's first row fits whole with seven-digit counters
// and loads of four digits (it ends near x 1 195 of the panel): a cut figure
// would be a wrong one.
enum { IDT_REFRESH = 12346, APP_REFRESH_MS = 100, APP_WINDOW_WIDTH = 1240, APP_WINDOW_HEIGHT = 740 };

// The instance handle saved by WinMain, copied into the context at creation.
extern HINSTANCE g_hInstance;

int APP_Main(HINSTANCE hInstance);
HWND CreateMainWindow(HINSTANCE hInstance, const char* title);
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

void APPCONTEXT_Init(void);
void CreateAppResources(void);
void ReleaseAppResources(void);
void APPCONTEXT_Free(void);

void OnMenuCommand(HWND hwnd, int identifier, LPARAM lParam);
void UpdateMenuChecks(HMENU menu);
void ShowAboutBox(void);

// Called once at shutdown after the test has stopped and before anything is
// released; lets an in-process test read the final log. Null by default.
extern void (*g_pfnBeforeRelease)(void);

// Formats the window title into out.
void APP_FormatTitle(char* out, int outSize);

#endif  // MB_APP_MAINWINDOW_H
