#include "asio/asioswitch.h"

#include <stddef.h>

void ASIOMAN_PrepareConversions(ASIOMAN_DEVICE* pDevice) {
  int32_t nInputs = pDevice->nInputs;
  int32_t nTotal = nInputs + pDevice->nOutputs;
  pDevice->nConversionError = 0;
  for (int32_t i = 0; i < nTotal && i < ASIOMAN_MAX_BUFFERS; i++) {
    ASIOSampleType type = pDevice->channelInfos[i].type;
    if (i < nInputs) {
      pDevice->pfnConvert[i] = ASIOMAN_GetInputConversion(type);
      int32_t nError = ASIOMAN_GetInputConversionError(type);
      if (nError != 0) pDevice->nConversionError = nError;
    } else {
      pDevice->pfnConvert[i] = ASIOMAN_GetOutputConversion(type);
    }
  }
}

int32_t ASIOMAN_ConvertChannels(ASIOMAN_DEVICE* pDevice, int32_t nHalfBuffer) {
  size_t nSamples = (size_t)pDevice->nBufferSize;
  int32_t nInputs = pDevice->nInputs;
  int32_t nOutputs = pDevice->nOutputs;
  int32_t half = nHalfBuffer != 0 ? 1 : 0;
  int32_t* pBlock = pDevice->pInputBlock;
  for (int32_t i = 0; i < nInputs; i++, pBlock += nSamples)
    pDevice->pfnConvert[i](pDevice->bufferInfos[i].buffers[half], pBlock, nSamples);
  pBlock = pDevice->pOutputBlock;
  for (int32_t j = nInputs; j < nInputs + nOutputs; j++, pBlock += nSamples)
    pDevice->pfnConvert[j](pDevice->bufferInfos[j].buffers[half], pBlock, nSamples);
  return pDevice->nConversionError;
}

void ASIOMAN_UpdateStatistics(ASIOMAN_TIMING* pTiming, int64_t qpcProcess, uint64_t nCycles) {
  float fCycles = (float)((double)nCycles * 0.000001);
  float fMin = pTiming->fMegaCyclesMin + 0.001f;
  float fMax = pTiming->fMegaCyclesMax - 0.001f;
  pTiming->fMegaCycles = fCycles;
  pTiming->fMegaCyclesMin = fCycles < fMin ? fCycles : fMin;
  pTiming->fMegaCyclesMax = fCycles > fMax ? fCycles : fMax;

  int64_t qpcStep = pTiming->qpcRelaxStep;
  int64_t qpcMin = pTiming->qpcProcessMin + qpcStep;
  int64_t qpcMax = pTiming->qpcProcessMax - qpcStep;
  pTiming->qpcProcess = qpcProcess;
  pTiming->qpcProcessMin = qpcProcess < qpcMin ? qpcProcess : qpcMin;
  pTiming->qpcProcessMax = qpcProcess > qpcMax ? qpcProcess : qpcMax;

  if (qpcProcess > pTiming->qpcThreshold50) pTiming->nOver50 += 1;
  if (qpcProcess > pTiming->qpcThreshold80) pTiming->nOver80 += 1;
  if (qpcProcess > pTiming->qpcThreshold100) pTiming->nOver100 += 1;
}

int64_t ASIOMAN_RelaxStep(int64_t qpcFrequency, uint32_t nSampleRate, int32_t nBufferSize) {
  uint64_t r = 1;
  if (nBufferSize > 0) r = (uint64_t)nSampleRate / (uint64_t)nBufferSize;
  if (r < 1) r = 1;
  if (r > (1u << 20)) r = 1u << 20;  // keeps 20 r^2 far from overflow; the step is 1 long before
  int64_t qpcStep = qpcFrequency / (int64_t)(20 * r * r);
  return qpcStep > 1 ? qpcStep : 1;
}
