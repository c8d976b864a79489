#include "test/processing.h"

#include <stdlib.h>
#include <string.h>

#include "app/appcontext.h"
#include "asio/handoff.h"
#include "test/loadgen.h"
#include "test/reports.h"
#include "test/runfigures.h"
#include "test/sinegen.h"
#include "test/statistics.h"

namespace {

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

// Through the run gate: either the GUI thread sees this buffer inside, or
// this buffer sees the gate closed. A switch of a device the run no longer
// serves (the manager kept it when its switch ran past the bound) is left
// alone: the run's blocks and sizes may be another device's by now.
void ProcessBuffer(APPCONTEXT* context, ASIOMAN_DEVICE* device, const int32_t* in, int32_t* out) {
  HANDOFF_Enter(&context->nProcessing);
  if (context->pRunDevice == device && !context->bRunHeld) {
    HANDOFF_Opened();
    ProcessRunBuffer(context, device, in, out);
  }
  HANDOFF_Leave(&context->nProcessing);
}

void FreeDistributions(APPCONTEXT* context) {
  free(context->pLoadDistribution);
  free(context->pIntervalDistribution);
  context->pLoadDistribution = NULL;
  context->pIntervalDistribution = NULL;
}

// Without them the run has no distribution line; everything else runs.
void AllocDistributions(APPCONTEXT* context) {
  context->pLoadDistribution = (DISTRIBUTION*)malloc(sizeof(DISTRIBUTION));
  context->pIntervalDistribution = (DISTRIBUTION*)malloc(sizeof(DISTRIBUTION));
  if (context->pLoadDistribution == NULL || context->pIntervalDistribution == NULL) {
    FreeDistributions(context);
    return;
  }
  DISTRIBUTION_Clear(context->pLoadDistribution);
  DISTRIBUTION_Clear(context->pIntervalDistribution);
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
  AllocDistributions(context);
  LogPreparationReport(context, device, REPORT_DEVICE_LINES);
  SINEGEN_Init(&context->sine, context->nSampleRate, 1.0f, 0.1f);
  float frequency = context->fSineFrequency;
  if (frequency > 1.0f) context->sine.fFrequency = frequency;
  LogPreparationReport(context, device, REPORT_BUFFER_LINES);
  HANDOFF_Publish();
  context->pRunDevice = device;
  return 1;
}

void Close(APPCONTEXT* context, ASIOMAN_DEVICE* device) {
  LogLine(context, "CLOSE DEVICE");
  if (context->bSummaryDue && context->pRunDevice == device) STATISTICS_AddLastBuffer(context, &device->timing);
  RUNFIGURES_LogSummary(context);
  PROCESSING_FreeRunBlocks(context);
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
  HANDOFF_Closed();
  if (!HANDOFF_IsEmpty(&context->nProcessing)) return -1;
  SINEGEN_Free(&context->sine);
  LOADGEN_FreeCopyBlocks(context);
  FreeDistributions(context);
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
      Close(context, device);
      break;
    case ASIOMAN_ORDER_PREPAREDDEVICE:
      return Prepare(context, device);
    case ASIOMAN_ORDER_THREADSTART:
      if (param1 == 0) LogThreadPriority(context, (int32_t)param2);
      break;
    default:  // ASIOMAN_ORDER_OPENEDDEVICE and anything unknown; requests and
              // stream errors are the test control's, at its tick
      break;
  }
  return 1;
}
