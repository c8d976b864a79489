#include "asio/asioswitch.h"

#include <stddef.h>

namespace {

// Appends a channel's loop to the last run from nFirst on when it is the same
// loop, else opens a run. Returns the number of runs.
int32_t AddToRuns(ASIOMAN_CONVERSIONRUN* pRuns, int32_t nFirst, int32_t nRuns, ASIOMAN_CONVERTRUNFN pfnConvert) {
  if (nRuns > nFirst && pRuns[nRuns - 1].pfnConvert == pfnConvert) {
    pRuns[nRuns - 1].nChannels += 1;
    return nRuns;
  }
  pRuns[nRuns].pfnConvert = pfnConvert;
  pRuns[nRuns].nChannels = 1;
  return nRuns + 1;
}

// Every run of the inputs' or the outputs' channels, from pInfo on, each
// channel block after block.
void ConvertRuns(const ASIOMAN_CONVERSIONRUN* pRun, int32_t nRuns, const ASIOBufferInfo* pInfo, int32_t nHalf,
                 int32_t* pBlock, size_t nSamples) {
  for (const ASIOMAN_CONVERSIONRUN* pEnd = pRun + nRuns; pRun < pEnd; pRun++) {
    pRun->pfnConvert(pInfo, pRun->nChannels, nHalf, pBlock, nSamples);
    pInfo += pRun->nChannels;
    pBlock += (size_t)pRun->nChannels * nSamples;
  }
}

}  // namespace

void ASIOMAN_PrepareConversions(ASIOMAN_DEVICE* pDevice) {
  int32_t nInputs = pDevice->nInputs;
  int32_t nTotal = nInputs + pDevice->nOutputs;
  if (nTotal > ASIOMAN_MAX_BUFFERS) nTotal = ASIOMAN_MAX_BUFFERS;
  ASIOMAN_CONVERSIONRUN* pRuns = pDevice->conversionRuns;
  int32_t nRuns = 0;
  pDevice->nConversionError = 0;
  for (int32_t i = 0; i < nInputs && i < nTotal; i++) {
    ASIOSampleType type = pDevice->channelInfos[i].type;
    nRuns = AddToRuns(pRuns, 0, nRuns, ASIOMAN_GetInputRun(type));
    int32_t nError = ASIOMAN_GetInputConversionError(type);
    if (nError != 0) pDevice->nConversionError = nError;
  }
  int32_t nInputRuns = nRuns;
  for (int32_t i = nInputs; i < nTotal; i++)
    nRuns = AddToRuns(pRuns, nInputRuns, nRuns, ASIOMAN_GetOutputRun(pDevice->channelInfos[i].type));
  pDevice->nInputRuns = nInputRuns;
  pDevice->nOutputRuns = nRuns - nInputRuns;
}

int32_t ASIOMAN_ConvertChannels(ASIOMAN_DEVICE* pDevice, int32_t nHalfBuffer) {
  size_t nSamples = (size_t)pDevice->nBufferSize;
  int32_t nHalf = nHalfBuffer != 0 ? 1 : 0;
  const ASIOMAN_CONVERSIONRUN* pRuns = pDevice->conversionRuns;
  int32_t nInputRuns = pDevice->nInputRuns;
  int32_t nOutputRuns = pDevice->nOutputRuns;
  const ASIOBufferInfo* pOutputInfos = pDevice->bufferInfos + pDevice->nInputs;
  if (nInputRuns == 1 && nOutputRuns == 1) {
    // The usual device, one type a direction: two calls and nothing to step.
    pRuns[0].pfnConvert(pDevice->bufferInfos, pRuns[0].nChannels, nHalf, pDevice->pInputBlock, nSamples);
    pRuns[1].pfnConvert(pOutputInfos, pRuns[1].nChannels, nHalf, pDevice->pOutputBlock, nSamples);
  } else {
    ConvertRuns(pRuns, nInputRuns, pDevice->bufferInfos, nHalf, pDevice->pInputBlock, nSamples);
    ConvertRuns(pRuns + nInputRuns, nOutputRuns, pOutputInfos, nHalf, pDevice->pOutputBlock, nSamples);
  }
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

void ASIOMAN_MakePrintable(char* text, size_t nSize) {
  for (size_t i = 0; i < nSize && text[i] != 0; i++) {
    unsigned char c = (unsigned char)text[i];
    if (c < 0x20 || c == 0x7F) text[i] = '?';
  }
}
