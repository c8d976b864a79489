// The main window: entry, window class, message procedure, the set-up and
// release of the application's resources, and the menu commands.
#ifndef MB_APP_MAINWINDOW_H
#define MB_APP_MAINWINDOW_H

#include <windows.h>

#include "app/appcontext.h"
#include "ui/logview.h"

#define APP_MAIN_CLASS "QUORLIN0ControlPanel0MainWindow0"
#define APP_TITLE_FORMAT "Morvane Brimwell %s (Version %s)"
#define APP_VERSION "1.0.1.7"

enum { IDT_REFRESH = 12346, APP_REFRESH_MS = 100, APP_WINDOW_WIDTH = 800, APP_WINDOW_HEIGHT = 740 };

// Command identifiers of the menu and the internal restart command.
enum {
  CMD_ABOUT = 10,
  CMD_QUIT = 11,
  CMD_RESTARTTEST = 13,
  CMD_STOPTEST = 14,
  CMD_SINE_FIRST = 100,
  CMD_SINE_LAST = 103,
  CMD_PASSTHROUGH = 150,
  CMD_IOLIMIT_FIRST = 151,
  CMD_IOLIMIT_LAST = 156,
  CMD_ZOOM_FIRST = 160,
  CMD_ZOOM_LAST = 175,
  // Load items: base + amount in units of 128.
  CMD_CPULOAD_BASE = 200,
  CMD_FPULOAD_BASE = 300,
  CMD_SINGLECOPY_BASE = 500,
  CMD_PATCH_BASE = 600,
  CMD_BUSCOPY_BASE = 700,
  CMD_CONTROLPANEL = 999,
  CMD_ASIODRIVER_FIRST = LOGVIEW_FIRST_DRIVER_COMMAND,
  CMD_ASIODRIVER_LAST = LOGVIEW_LAST_DRIVER_COMMAND,
  CMD_WINDEVICE_FIRST = 1250,
  CMD_WINDEVICE_LAST = 1349
};

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
