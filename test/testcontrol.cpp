#include "test/testcontrol.h"

#include <windows.h>

#include <type_traits>

#include "asio/asioman.h"
#include "asio/handoff.h"
#include "test/processing.h"
#include "test/reports.h"
#include "test/runfigures.h"
#include "test/stallwatch.h"
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
  HANDOFF_Closed();
  DWORD start = GetTickCount();
  while (!HANDOFF_IsEmpty(&context->nProcessing) && GetTickCount() - start < 1000) Sleep(1);
}

int64_t Counter(void) {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

// A request or stream error that the driver recorded for the run: only the
// device under test in the run that is running now, with no Stop, device
// choice or restart since, stops it (and a request starts it again). 1 when
// the run was stopped.
int ActOnDriverEvent(APPCONTEXT* context, int index, const ASIOMAN_EVENT* event) {
  if (event->nStream != context->nRunStream) return 0;
  bool request = event->nOrder == ASIOMAN_ORDER_DRIVERREQUEST;
  const char* why = DeviceEventReason(event);
  if (context->nRunState != RUN_RUNNING) {
    if (request) LogLine(context, "DEVICE RESET: (%s) ignored, the test was stopped", why);
    return 0;
  }
  const ASIOMAN_DRIVERENTRY* entry = ASIOMAN_GetEntry(index);
  if (entry == NULL) return 0;
  LogDeviceEvent(context, request ? "DEVICE RESET" : "DEVICE WANT TO STOP", why, &entry->device);
  StopTest();
  if (request) StartTest();
  return 1;
}

}  // namespace

void TESTCONTROL_Tick(APP_HWND window) {
  APPCONTEXT* context = &g_appContext;
  int index = context->nAsioDriver;
  if (index < 1) return;
  ASIOMAN_EVENT event;
  if (ASIOMAN_TakeEvent(index, &event) && ActOnDriverEvent(context, index, &event)) {
    InvalidateRect((HWND)window, NULL, TRUE);
    return;
  }
  if (context->nRunState == RUN_RUNNING) STALLWATCH_Tick(context, Counter(), ASIOMAN_GetLastSwitchCall(index));
}

void StartTest(void) {
  APPCONTEXT* context = &g_appContext;
  int index = context->nAsioDriver;
  if (index < 1) return;

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
    context->nRunStream = ASIOMAN_GetStream(index);
    context->nRunState = RUN_RUNNING;
    context->bSummaryDue = 1;
    STALLWATCH_Start(context, Counter());
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
    if (context->nRunState == RUN_RUNNING) {
      STALLWATCH_Stop(context, Counter());
      context->nRunState = RUN_STOPPED;
    }
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
