#include <windows.h>

#include "app/mainwindow.h"
#include "asio/asioman.h"
#include "test/loadgen.h"
#include "test/reports.h"
#include "test/testcontrol.h"

static const float kSineFrequencies[4] = {100.0f, 200.0f, 440.0f, 1000.0f};
static const int kIOLimits[6] = {16, 32, 64, 128, 256, 512};
// Load amounts in units of 128 that the menu offers.
static const int kLoadAmounts[11] = {0, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32};
static const int kLoadBases[5] = {CMD_CPULOAD_BASE, CMD_FPULOAD_BASE, CMD_SINGLECOPY_BASE, CMD_PATCH_BASE,
                                  CMD_BUSCOPY_BASE};

static void Invalidate(HWND hwnd) { InvalidateRect(hwnd, NULL, TRUE); }

static Relaxed<int32_t>* LoadMember(int group) {
  APPCONTEXT* context = &g_appContext;
  switch (group) {
    case 0:
      return &context->nCpuFilters;
    case 1:
      return &context->nFpuFilters;
    case 2:
      return &context->nSingleCopies;
    case 3:
      return &context->nPatches;
    default:
      return &context->nBusCopies;
  }
}

// The load group of an identifier and its amount, or -1 when it is none of
// the listed load items (205, for example).
static int FindLoadItem(int identifier, int* amount) {
  for (int group = 0; group < 5; group++) {
    for (int k = 0; k < 11; k++) {
      if (identifier == kLoadBases[group] + kLoadAmounts[k]) {
        *amount = kLoadAmounts[k];
        return group;
      }
    }
  }
  return -1;
}

static void SelectAsioDriver(HWND hwnd, int index) {
  StopTest();
  g_appContext.nWinDevice = 0;
  g_appContext.nAsioDriver = index;
  StartTest();
  Invalidate(hwnd);
}

static void SelectWindowsDevice(HWND hwnd, int index) {
  StopTest();
  g_appContext.nAsioDriver = 0;
  g_appContext.nWinDevice = index;
  StartTest();
  Invalidate(hwnd);
}

static void RestartTest(HWND hwnd) {
  if (g_appContext.nAsioDriver < 1) {
    LogLine(&g_appContext, "START: choose an ASIO driver in the Devices menu first");
    return;
  }
  StopTest();
  StartTest();
  Invalidate(hwnd);
}

static void ShowControlPanel(HWND hwnd) {
  APPCONTEXT* context = &g_appContext;
  if (context->nAsioDriver < 1) {
    LogLine(context, "CONTROL PANEL: choose an ASIO driver in the Devices menu first");
    return;
  }
  char text[512];
  int result = ASIOMAN_ShowControlPanel(context->nAsioDriver, hwnd, text, sizeof text);
  if (result != 0) LogLine(context, "CONTROL PANEL: the driver did not open it (%i) %s", result, text);
}

void OnMenuCommand(HWND hwnd, int identifier, LPARAM lParam) {
  APPCONTEXT* context = &g_appContext;
  int amount = 0;
  int group = FindLoadItem(identifier, &amount);
  if (group >= 0) {
    if (group == 0 || group == 1) {
      // The bank is built before the amount is stored, or the amount stays.
      if (LOADGEN_ChooseFilters(context, group == 0 ? LOADGEN_CPU : LOADGEN_FPU, amount) != 0) return;
    } else {
      *LoadMember(group) = amount;
    }
    LogLoadOptions(context);
    return;
  }
  if (identifier >= CMD_SINE_FIRST && identifier <= CMD_SINE_LAST) {
    float frequency = kSineFrequencies[identifier - CMD_SINE_FIRST];
    context->fSineFrequency = frequency;
    context->sine.fFrequency = frequency;
    LogOutputMode(context);
    return;
  }
  if (identifier >= CMD_IOLIMIT_FIRST && identifier <= CMD_IOLIMIT_LAST) {
    RestartWithIOLimit(hwnd, kIOLimits[identifier - CMD_IOLIMIT_FIRST]);
    return;
  }
  if (identifier >= CMD_ZOOM_FIRST && identifier <= CMD_ZOOM_LAST) {
    context->nZoom = identifier - CMD_ZOOM_FIRST;  // shows at the next tick
    return;
  }
  if (identifier >= CMD_ASIODRIVER_FIRST && identifier <= CMD_ASIODRIVER_LAST) {
    SelectAsioDriver(hwnd, identifier - (CMD_ASIODRIVER_FIRST - 1));
    return;
  }
  if (identifier >= CMD_WINDEVICE_FIRST && identifier <= CMD_WINDEVICE_LAST) {
    SelectWindowsDevice(hwnd, identifier - (CMD_WINDEVICE_FIRST - 1));
    return;
  }
  switch (identifier) {
    case CMD_ABOUT:
      ShowAboutBox();
      break;
    case CMD_QUIT:
      PostMessageA((HWND)context->hwndMain, WM_DESTROY, 0, 0);
      break;
    case CMD_RESTART:
      StopTest();
      if (lParam != 0) StartTest();
      Invalidate(hwnd);
      break;
    case CMD_RESTARTTEST:
      RestartTest(hwnd);
      break;
    case CMD_STOPTEST:
      StopTest();
      Invalidate(hwnd);
      break;
    case CMD_PASSTHROUGH:
      context->fSineFrequency = 0.0f;
      LogOutputMode(context);
      break;
    case CMD_CONTROLPANEL:
      ShowControlPanel(hwnd);
      break;
    default:
      break;
  }
}

static void Check(HMENU menu, int identifier, bool checked) {
  CheckMenuItem(menu, (UINT)identifier, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void UpdateMenuChecks(HMENU menu) {
  const APPCONTEXT* context = &g_appContext;
  int drivers = ASIOMAN_GetEntryCount();
  for (int identifier = CMD_ASIODRIVER_FIRST; identifier < CMD_ASIODRIVER_FIRST + drivers; identifier++)
    Check(menu, identifier, identifier == CMD_ASIODRIVER_FIRST - 1 + context->nAsioDriver);
  float sine = context->fSineFrequency;
  for (int k = 0; k < 4; k++) Check(menu, CMD_SINE_FIRST + k, sine == kSineFrequencies[k]);
  Check(menu, CMD_PASSTHROUGH, sine < 1.0f);
  for (int k = 0; k < 6; k++) Check(menu, CMD_IOLIMIT_FIRST + k, context->nIOLimit == kIOLimits[k]);
  for (int identifier = CMD_ZOOM_FIRST; identifier <= CMD_ZOOM_LAST; identifier++)
    Check(menu, identifier, identifier - CMD_ZOOM_FIRST == context->nZoom);
  for (int group = 0; group < 5; group++) {
    int32_t value = *LoadMember(group);
    for (int k = 0; k < 11; k++) Check(menu, kLoadBases[group] + kLoadAmounts[k], kLoadAmounts[k] == value);
  }
}

void ShowAboutBox(void) {
  char title[128];
  APP_FormatTitle(title, sizeof title);
  char text[512];
  wsprintfA(text,
            "%s\n\nTests whether a real-time ASIO configuration holds: it measures the DSP load and the callback "
            "timing of every buffer.\n\nStandard edition, 64-bit.",
            title);
  MessageBoxA((HWND)g_appContext.hwndMain, text, "About...", MB_OK);
}
