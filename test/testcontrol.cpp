#include "test/testcontrol.h"

#include <windows.h>

#include <atomic>
#include <type_traits>

#include "asio/asioman.h"
#include "test/processing.h"
#include "test/reports.h"
#include "test/runfigures.h"
#include "test/statistics.h"

static_assert(std::is_same<APP_HWND, HWND>::value, "the context's window handles are HWND");
static_assert(std::is_same<APP_HINSTANCE, HINSTANCE>::value, "the context's instance handle is HINSTANCE");
static_assert(std::is_same<APP_HFONT, HFONT>::value, "the context's font handle is HFONT");
static_assert(std::is_same<APP_HBITMAP, HBITMAP>::value, "the context's bitmap handle is HBITMAP");
static_assert(std::is_same<APP_HGDIOBJ, HGDIOBJ>::value, "the context's GDI object handle is HGDIOBJ");

namespace {

int NameLength(const ASIOMAN_DRIVERENTRY* entry) {
  return (int)BoundedLength(entry->szName, sizeof(entry->szName));
}

void LogReport(APPCONTEXT* context, const ASIOMAN_DRIVERENTRY* entry) {
  if (entry == NULL) return;
  const char* report = entry->device.report;
  int length = (int)BoundedLength(report, sizeof(entry->device.report));
  if (length == 0) return;
  LogLine(context, "Report:");
  LogLine(context, "%.*s", length, report);
}

// The buffer being processed may still log an incident: it ends within one
// buffer's processing, which the bound far exceeds.
void HoldRun(APPCONTEXT* context) {
  context->bRunHeld = 1;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  DWORD start = GetTickCount();
  while (context->nProcessing != 0 && GetTickCount() - start < 1000) Sleep(1);
}

}  // namespace

void TESTCONTROL_PostCommand(APPCONTEXT* context, int32_t command, intptr_t lParam) {
  PostMessageA((HWND)context->hwndMain, WM_COMMAND, (WPARAM)command, (LPARAM)lParam);
}

void StartTest(void) {
  APPCONTEXT* context = &g_appContext;
  int index = context->nAsioDriver;
  if (index < 1) return;
  if (context->pfnPostCommand == NULL) context->pfnPostCommand = TESTCONTROL_PostCommand;

  context->bRunHeld = 1;
  ResetStatistics(context);
  // Written again only by a successful preparation: until then the header
  // shows zeros, not the previous device's stream.
  context->nSampleRate = 0;
  context->nBufferSize = 0;
  context->nInputs = 0;
  context->nOutputs = 0;
  LogLine(context, "------------------------------------------------------");
  const ASIOMAN_DRIVERENTRY* entry = ASIOMAN_GetEntry(index);
  if (entry != NULL)
    LogLine(context, "(%s) TEST ASIO DEVICE: %.*s", TESTCONTROL_WORDSIZE_TAG, NameLength(entry), entry->szName);
  else
    LogLine(context, "(%s) TEST ASIO DEVICE", TESTCONTROL_WORDSIZE_TAG);

  int opened = ASIOMAN_OpenDevice(index, context->nIOLimit, context->nIOLimit, context, ProcessingCallback,
                                  (HWND)context->hwndMain);
  Sleep(50);
  if (opened != 0) {
    LogLine(context, "OPEN ASIO DEVICE: Error");
  } else if (ASIOMAN_StartDevice(index) == 0) {
    LogLine(context, "START ASIO DEVICE: Running");
    context->bRunHeld = 0;
  } else {
    LogLine(context, "START ASIO DEVICE Error");
  }
  LogReport(context, entry);
}

void StopTest(void) {
  APPCONTEXT* context = &g_appContext;
  int index = context->nAsioDriver;
  const ASIOMAN_DRIVERENTRY* entry = index > 0 ? ASIOMAN_GetEntry(index) : NULL;
  if (index > 0) {
    HoldRun(context);
    if (entry != NULL)
      LogLine(context, "STOP ASIO DEVICE: %.*s", NameLength(entry), entry->szName);
    else
      LogLine(context, "STOP ASIO DEVICE");
    ASIOMAN_StopDevice(index);
    Sleep(50);
    ASIOMAN_CloseDevice(index);
    // A device whose callback never returned is kept with its driver; its
    // report says what was kept, and no close line came with its summary.
    if (!ASIOMAN_IsDeviceClosed(index)) {
      LogReport(context, entry);
      RUNFIGURES_LogSummary(context);
    }
  }
  // Normally the close has freed them already; a kept device's switch is
  // shut out of them here, and they stay only while it is inside.
  PROCESSING_FreeRunBlocks(context);
}

void RestartWithIOLimit(APP_HWND window, int32_t limit) {
  StopTest();
  g_appContext.nIOLimit = limit;
  StartTest();
  InvalidateRect((HWND)window, NULL, TRUE);
}
