#include "test/processing.h"

#include <string.h>

#include <atomic>

#include "app/appcontext.h"
#include "test/loadgen.h"
#include "test/reports.h"
#include "test/runfigures.h"
#include "test/sinegen.h"
#include "test/statistics.h"

namespace {

void PostCommand(APPCONTEXT* context, int32_t command, intptr_t lParam) {
  APP_POSTCOMMAND post = context->pfnPostCommand;
  if (post) post(context, command, lParam);
}

void ProcessRunBuffer(APPCONTEXT* context, ASIOMAN_DEVICE* device, const int32_t* in, int32_t* out) {
  const ASIOMAN_TIMING* timing = &device->timing;
  UpdateStatistics(context, timing);
  context->nDriverSamplePosition = (int64_t)timing->nSamplePosition;
  context->nDriverSystemTime = (int64_t)timing->nsSystemTime;
  RunLoadGenerators(context);

  int32_t outputs = context->nOutputs;
  int32_t count = context->nBufferSize;
  if (outputs > 0 && out != NULL && count > 0) {
    if (context->fSineFrequency > 1.0f)
      SINEGEN_Render(&context->sine, out, count, outputs);
    else
      RenderPassThrough(in, out, count, in != NULL ? (int32_t)context->nInputs : 0, outputs);
  }
}

// Counted in before the gate is read, while the GUI thread closes the gate
// before it reads the count: either it sees this buffer, or this buffer sees
// the gate closed. A switch of a device the run no longer serves (the manager
// kept it when its switch ran past the bound) is left alone: the run's blocks
// and sizes may be another device's by now.
void ProcessBuffer(APPCONTEXT* context, ASIOMAN_DEVICE* device, const int32_t* in, int32_t* out) {
  context->nProcessing.FetchAdd(1);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (context->pRunDevice == device && !context->bRunHeld) {
    std::atomic_thread_fence(std::memory_order_acquire);
    ProcessRunBuffer(context, device, in, out);
  }
  std::atomic_thread_fence(std::memory_order_release);
  context->nProcessing.FetchAdd(-1);
}

// 0 refuses the preparation.
int Prepare(APPCONTEXT* context, ASIOMAN_DEVICE* device) {
  // The earlier run's blocks and sizes cannot be freed or changed under a
  // buffer still being processed in them: this run cannot start yet.
  if (PROCESSING_FreeRunBlocks(context) != 0) {
    LogLine(context, "PREPARE DEVICE: refused, the previous device is still processing a buffer");
    return 0;
  }
  context->nSampleRate = (int32_t)(uint32_t)device->nSampleRate;
  context->nBufferSize = device->nBufferSize;
  context->nInputs = device->nInputs;
  context->nOutputs = device->nOutputs;
  LOADGEN_AllocCopyBlocks(context, device->nBufferSize);
  LogPreparationReport(context, device, REPORT_DEVICE_LINES);
  SINEGEN_Init(&context->sine, context->nSampleRate, 1.0f, 0.1f);
  float frequency = context->fSineFrequency;
  if (frequency > 1.0f) context->sine.fFrequency = frequency;
  LogPreparationReport(context, device, REPORT_BUFFER_LINES);
  std::atomic_thread_fence(std::memory_order_release);
  context->pRunDevice = device;
  return 1;
}

void Close(APPCONTEXT* context) {
  LogLine(context, "CLOSE DEVICE");
  RUNFIGURES_LogSummary(context);
  PROCESSING_FreeRunBlocks(context);
}

void StreamError(APPCONTEXT* context, ASIOMAN_DEVICE* device, intptr_t reason) {
  const char* why = reason == ASIOMAN_ERROR_CONVERSION ? "Data conversion missing" : "Re-entrance detected";
  LogDeviceEvent(context, "DEVICE WANT TO STOP", why, device);
  PostCommand(context, CMD_RESTART, 0);
}

void DriverRequest(APPCONTEXT* context, ASIOMAN_DEVICE* device, intptr_t reason) {
  const char* why = reason == ASIOMAN_REQUEST_RESET    ? "kAsioResetRequest msg"
                    : reason == ASIOMAN_REQUEST_RESYNC ? "kAsioResyncRequest msg"
                                                       : "SampleRate Change";
  LogDeviceEvent(context, "DEVICE RESET", why, device);
  PostCommand(context, CMD_RESTART, 1);
}

}  // namespace

void RenderPassThrough(const int32_t* in, int32_t* out, int32_t count, int32_t inputs, int32_t outputs) {
  size_t bytes = (size_t)count * sizeof(int32_t);
  for (int32_t c = 0; c < outputs; c++) {
    int32_t* target = out + (size_t)c * count;
    if (inputs > 0 && in != NULL)
      memcpy(target, in + (size_t)(c % inputs) * count, bytes);
    else
      memset(target, 0, bytes);
  }
}

int PROCESSING_FreeRunBlocks(APPCONTEXT* context) {
  context->pRunDevice = NULL;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (context->nProcessing != 0) return -1;
  std::atomic_thread_fence(std::memory_order_acquire);
  SINEGEN_Free(&context->sine);
  LOADGEN_FreeCopyBlocks(context);
  return 0;
}

int ProcessingCallback(void* pContext, ASIOMAN_DEVICE* device, uint32_t order, intptr_t param1, intptr_t param2) {
  APPCONTEXT* context = (APPCONTEXT*)pContext;
  if (context == NULL || device == NULL) return 1;
  switch (order) {
    case ASIOMAN_ORDER_PROCESSBUFFER:
      ProcessBuffer(context, device, (const int32_t*)param1, (int32_t*)param2);
      break;
    case ASIOMAN_ORDER_CLOSINGDEVICE:
      Close(context);
      break;
    case ASIOMAN_ORDER_PREPAREDDEVICE:
      return Prepare(context, device);
    case ASIOMAN_ORDER_STREAMERROR:
      StreamError(context, device, param1);
      break;
    case ASIOMAN_ORDER_DRIVERREQUEST:
      DriverRequest(context, device, param1);
      break;
    case ASIOMAN_ORDER_THREADSTART:
      if (param1 == 0) LogThreadPriority(context, (int32_t)param2);
      break;
    default:  // ASIOMAN_ORDER_OPENEDDEVICE and anything unknown
      break;
  }
  return 1;
}
