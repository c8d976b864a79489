// The ASIO device manager: lifecycle of one driver per list entry, the
// report text, and the buffer switch with the driver's other callbacks.
#include "asio/asioman.h"

#include <intrin.h>
#include <malloc.h>
#include <math.h>
#include <objbase.h>
#include <string.h>

#include "asio/asiodrivers.h"
#include "asio/asioman_internal.h"
#include "asio/asioswitch.h"
#include "asio/handoff.h"
#include "winaudio/recarray.h"

typedef struct ASIOMAN_STATE {
  int nRefCount;
  int64_t qpcFrequency;
  HRESULT hrCoInit;
  ASIOMAN_SLOT slots[ASIOMAN_MAX_SLOTS];
  int nStuckBoundMs;  // 0: ASIOMAN_STUCK_BOUND_MS
  int bLeftDriverRunning;
  DWORD nGuiThreadId;  // the thread of ASIOMAN_Init, whose priority is never changed
  int32_t nStreams;    // starts so far: each start's stream number
  int64_t nReleases;   // slot releases so far: each release's order
} ASIOMAN_STATE;

static ASIOMAN_STATE g_asioman;

enum {
  ASIOMAN_STOP_WAIT_MS = 200,
  ASIOMAN_STUCK_BOUND_MS = 5000,  // a switch still running after this is taken as stuck
  ASIOMAN_MIN_BUFFER = 4,
  ASIOMAN_MAX_BUFFER = 65536,
  ASIOMAN_TEXT_SIZE = 512
};

static const char kSeparator[] = " | ";

/* ---- report text ---- */

// Appends as much of the text as fits; the report stays terminated.
static void ASIOMAN_ReportAppend(ASIOMAN_DEVICE* pDevice, const char* text) {
  size_t nUsed = strnlen(pDevice->report, ASIOMAN_REPORT_SIZE - 1);
  size_t nRoom = ASIOMAN_REPORT_SIZE - 1 - nUsed;
  size_t nText = strnlen(text, nRoom);
  memcpy(pDevice->report + nUsed, text, nText);
  pDevice->report[nUsed + nText] = 0;
}

static void ASIOMAN_ReportMessage(ASIOMAN_DEVICE* pDevice, const char* text) {
  ASIOMAN_ReportAppend(pDevice, text);
  ASIOMAN_ReportAppend(pDevice, pDevice->separator);
}

// The driver's own error text into ASIOMAN_TEXT_SIZE bytes (room for a
// driver that writes past its size), cut to that size and made printable.
static void ASIOMAN_ReadDriverError(ASIOMAN_DEVICE* pDevice, char* szError) {
  memset(szError, 0, ASIOMAN_TEXT_SIZE);
  if (pDevice->pDriver) pDevice->pDriver->getErrorMessage(szError);
  szError[ASIO_ERRORMESSAGE_SIZE - 1] = 0;
  ASIOMAN_MakePrintable(szError, ASIOMAN_TEXT_SIZE);
}

// The message, then the driver's own error text, then the separator.
static void ASIOMAN_ReportDriverMessage(ASIOMAN_DEVICE* pDevice, const char* text) {
  char szError[ASIOMAN_TEXT_SIZE];
  ASIOMAN_ReadDriverError(pDevice, szError);
  ASIOMAN_ReportAppend(pDevice, text);
  ASIOMAN_ReportAppend(pDevice, szError);
  ASIOMAN_ReportAppend(pDevice, pDevice->separator);
}

static void ASIOMAN_ReportReplace(ASIOMAN_DEVICE* pDevice, const char* text) {
  pDevice->report[0] = 0;
  ASIOMAN_ReportAppend(pDevice, text);
}

static void ASIOMAN_FormatInt(char* out, size_t nOut, const char* prefix, int64_t nValue, const char* suffix) {
  char digits[24];
  int n = 0;
  uint64_t u = nValue < 0 ? 0 - (uint64_t)nValue : (uint64_t)nValue;
  do {
    digits[n++] = (char)('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (nValue < 0) digits[n++] = '-';
  size_t i = 0;
  for (const char* p = prefix; *p && i + 1 < nOut; p++) out[i++] = *p;
  while (n > 0 && i + 1 < nOut) out[i++] = digits[--n];
  for (const char* p = suffix; *p && i + 1 < nOut; p++) out[i++] = *p;
  out[i] = 0;
}

static void ASIOMAN_ReportInt(ASIOMAN_DEVICE* pDevice, const char* prefix, int64_t nValue, const char* suffix) {
  char text[ASIOMAN_TEXT_SIZE];
  ASIOMAN_FormatInt(text, sizeof(text), prefix, nValue, suffix);
  ASIOMAN_ReportMessage(pDevice, text);
}

/* ---- helpers ---- */

static int ASIOMAN_Notify(ASIOMAN_DEVICE* pDevice, uint32_t nOrder, intptr_t param1, intptr_t param2) {
  ASIOMAN_CLIENTCALLBACK pfnClient = pDevice->pfnClient;
  if (!pfnClient) return 1;
  return pfnClient(pDevice->pClientContext, pDevice, nOrder, param1, param2);
}

// A rate that is NaN, negative or beyond 32 bits counts as 0; whole Hz.
static uint32_t ASIOMAN_WholeHz(ASIOSampleRate fRate) {
  if (!(fRate >= 0.0) || fRate >= 4294967296.0) return 0;
  return (uint32_t)fRate;
}

static int ASIOMAN_IsSupportedRate(uint32_t nRate) {
  static const uint32_t kRates[] = {32000, 44100, 48000, 64000, 88200, 96000, 128000, 176400, 192000};
  for (size_t i = 0; i < sizeof(kRates) / sizeof(kRates[0]); i++)
    if (kRates[i] == nRate) return 1;
  return 0;
}

static int64_t ASIOMAN_Counter(void) {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

// The counter value nMilliseconds from now: bounds count time, not sleeps,
// which a coarse system timer stretches.
static int64_t ASIOMAN_Deadline(int nMilliseconds) {
  return ASIOMAN_Counter() + (int64_t)nMilliseconds * g_asioman.qpcFrequency / 1000;
}

static int ASIOMAN_StuckBound(void) {
  return g_asioman.nStuckBoundMs > 0 ? g_asioman.nStuckBoundMs : ASIOMAN_STUCK_BOUND_MS;
}

void ASIOMAN_SetStuckBound(int nMilliseconds) { g_asioman.nStuckBoundMs = nMilliseconds > 0 ? nMilliseconds : 0; }

// The bounded wait of stop and close. The wait that gives up says so in the
// report; until that switch has left, later waits only look.
static int ASIOMAN_WaitForSwitch(ASIOMAN_DEVICE* pDevice) {
  if (ASIOMAN_WaitIdle(pDevice, pDevice->bSwitchStuck ? 0 : ASIOMAN_StuckBound())) {
    pDevice->bSwitchStuck = 0;
    return 1;
  }
  if (!pDevice->bSwitchStuck) ASIOMAN_ReportMessage(pDevice, "Buffer Switch Still Running: Buffers Kept...");
  pDevice->bSwitchStuck = 1;
  return 0;
}

static void ASIOMAN_ClearDevice(ASIOMAN_DEVICE* pDevice) { memset((void*)pDevice, 0, sizeof(*pDevice)); }

static void ASIOMAN_FreeBlocks(ASIOMAN_DEVICE* pDevice) {
  if (pDevice->pInputBlock) _aligned_free(pDevice->pInputBlock);
  if (pDevice->pOutputBlock) _aligned_free(pDevice->pOutputBlock);
  pDevice->pInputBlock = NULL;
  pDevice->pOutputBlock = NULL;
}

// 16-byte aligned and zeroed; 1 when done (a size of 0 needs no block).
static int ASIOMAN_AllocBlock(int32_t** ppBlock, int32_t nChannels, int32_t nBufferSize) {
  size_t nBytes = (size_t)nChannels * (size_t)nBufferSize * sizeof(int32_t);
  *ppBlock = NULL;
  if (nBytes == 0) return 1;
  *ppBlock = (int32_t*)_aligned_malloc(nBytes, 16);
  if (!*ppBlock) return 0;
  memset(*ppBlock, 0, nBytes);
  return 1;
}

/* ---- manager ---- */

int ASIOMAN_Init(HINSTANCE hInstance) {
  if (g_asioman.nRefCount > 0) {
    g_asioman.nRefCount++;
    return 1;
  }
  RECARRAY* pList = ASIOMAN_DriverList();
  RECARRAY_Init(pList, sizeof(ASIOMAN_DRIVERENTRY), 8192, 8192);
  if (!pList->pData) return 0;
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  g_asioman.qpcFrequency = freq.QuadPart;
  g_asioman.hrCoInit = CoInitialize(NULL);
  g_asioman.nGuiThreadId = GetCurrentThreadId();
  for (int i = 0; i < ASIOMAN_MAX_SLOTS; i++) {
    g_asioman.slots[i].nDeviceIndex = 0;
    g_asioman.slots[i].bInUse = 0;
    g_asioman.slots[i].pEntry = NULL;
    g_asioman.slots[i].nReleased = 0;
  }
  g_asioman.nReleases = 0;
  g_asioman.nRefCount = 1;
  ASIOMAN_ScanDrivers();
  return 1;
}

int ASIOMAN_End(void) {
  if (g_asioman.nRefCount <= 0) return 0;
  if (g_asioman.nRefCount > 1) return --g_asioman.nRefCount;
  // Every device still holding a driver is closed: open ones, kept ones whose
  // switch has left since, and failed opens. One whose callback still runs
  // is leaked with its entry, and COM stays, since uninitialising it could
  // unload the driver's code under that callback.
  int bLeaked = 0;
  for (int i = 1; i <= ASIOMAN_GetEntryCount(); i++) {
    ASIOMAN_DEVICE* pDevice = &ASIOMAN_GetEntry(i)->device;
    if (pDevice->pDriver) ASIOMAN_CloseDevice(i);
    if (pDevice->pDriver) {
      ASIOMAN_ReportMessage(pDevice, "Driver Callback Still Running: Driver Not Released...");
      bLeaked = 1;
    }
  }
  g_asioman.nRefCount = 0;
  g_asioman.bLeftDriverRunning = bLeaked;
  if (bLeaked) return 0;
  RECARRAY_Free(ASIOMAN_DriverList());
  if (g_asioman.hrCoInit == S_OK || g_asioman.hrCoInit == S_FALSE) CoUninitialize();
  return 0;
}

ASIOMAN_DRIVERENTRY* ASIOMAN_GetEntry(int nIndex) {
  if (g_asioman.nRefCount <= 0) return NULL;
  return (ASIOMAN_DRIVERENTRY*)RECARRAY_Get(ASIOMAN_DriverList(), nIndex);
}

int ASIOMAN_IsDeviceClosed(int nIndex) {
  const ASIOMAN_DRIVERENTRY* pEntry = ASIOMAN_GetEntry(nIndex);
  return pEntry == NULL || pEntry->device.pDriver == NULL ? 1 : 0;
}

int ASIOMAN_GetEntryCount(void) {
  if (g_asioman.nRefCount <= 0) return 0;
  RECARRAY* pList = ASIOMAN_DriverList();
  return pList->pData ? (int)pList->nCount : 0;
}

int ASIOMAN_LeftDriverRunning(void) { return g_asioman.bLeftDriverRunning; }

int64_t ASIOMAN_GetCounterFrequency(void) { return g_asioman.qpcFrequency; }

ASIOMAN_SLOT* ASIOMAN_GetSlot(int nSlot) { return &g_asioman.slots[nSlot - 1]; }

int32_t ASIOMAN_GetStream(int nIndex) {
  const ASIOMAN_DRIVERENTRY* pEntry = ASIOMAN_GetEntry(nIndex);
  return pEntry ? (int32_t)pEntry->nStream : 0;
}

int64_t ASIOMAN_GetLastSwitchCall(int nIndex) {
  const ASIOMAN_DRIVERENTRY* pEntry = ASIOMAN_GetEntry(nIndex);
  return pEntry ? (int64_t)pEntry->qpcLastCall : 0;
}

/* ---- open ---- */

// Channels, then buffer sizes: 0, -1 (channels query), -2 (no channel) or -3.
static int ASIOMAN_QueryChannelsAndBuffers(ASIOMAN_DEVICE* pDevice) {
  int32_t nInputs = 0, nOutputs = 0;
  IASIO* pDriver = pDevice->pDriver;
  if (pDriver && pDriver->getChannels(&nInputs, &nOutputs) != ASE_OK) {
    pDevice->nInputs = pDevice->nOutputs = 0;
    ASIOMAN_ReportDriverMessage(pDevice, "Failed to Get Channels information: ");
    return -1;
  }
  if (nInputs < 0) nInputs = 0;
  if (nOutputs < 0) nOutputs = 0;
  if (nInputs < 1 && nOutputs < 1) {
    pDevice->nInputs = pDevice->nOutputs = 0;
    ASIOMAN_ReportMessage(pDevice, "No Channel found / Device possibly not connected...");
    return -2;
  }
  if (pDevice->nMaxInputs > 0 && nInputs > pDevice->nMaxInputs) nInputs = pDevice->nMaxInputs;
  if (pDevice->nMaxOutputs > 0 && nOutputs > pDevice->nMaxOutputs) nOutputs = pDevice->nMaxOutputs;
  pDevice->nInputs = nInputs > ASIOMAN_MAX_INPUTS ? ASIOMAN_MAX_INPUTS : nInputs;
  pDevice->nOutputs = nOutputs > ASIOMAN_MAX_OUTPUTS ? ASIOMAN_MAX_OUTPUTS : nOutputs;

  int32_t nMin = 0, nMax = 0, nPreferred = 0, nGranularity = 0;
  if (pDriver && pDriver->getBufferSize(&nMin, &nMax, &nPreferred, &nGranularity) != ASE_OK) {
    ASIOMAN_ReportDriverMessage(pDevice, "Failed to Get Buffer information: ");
    return -3;
  }
  pDevice->nMinBufferSize = nMin;
  pDevice->nMaxBufferSize = nMax;
  pDevice->nBufferSize = nPreferred;
  pDevice->nGranularity = nGranularity;
  return 0;
}

// Closes the device and leaves only the failure message in its report.
static int ASIOMAN_FailOpen(int nIndex, ASIOMAN_DEVICE* pDevice) {
  char szReport[ASIOMAN_REPORT_SIZE];
  memcpy(szReport, pDevice->report, sizeof(szReport));
  ASIOMAN_CloseDevice(nIndex);
  if (pDevice->pDriver) return -1;  // could not be closed: its report says why
  memcpy(pDevice->report, szReport, sizeof(szReport));
  memcpy(pDevice->separator, kSeparator, sizeof(kSeparator));
  return -1;
}

int ASIOMAN_OpenDevice(int nIndex, int nMaxInputs, int nMaxOutputs, void* pClientContext,
                       ASIOMAN_CLIENTCALLBACK pfnClient, HWND hwnd) {
  ASIOMAN_DRIVERENTRY* pEntry = ASIOMAN_GetEntry(nIndex);
  if (!pEntry) return -1;
  ASIOMAN_DEVICE* pDevice = &pEntry->device;
  if (pDevice->bOpen) return -1;
  // A driver object left by an earlier failed open would leak when replaced.
  if (pDevice->pDriver) ASIOMAN_CloseDevice(nIndex);
  if (pDevice->pDriver) return -1;
  // Stands aside until start: a late switch of an earlier driver on the slot
  // this open binds finds nothing to process.
  pDevice->bStopping = 1;

  pDevice->report[0] = 0;
  memcpy(pDevice->separator, kSeparator, sizeof(kSeparator));
  IASIO* pDriver = NULL;
  const GUID* pClsid = (const GUID*)&pEntry->clsid;
  HRESULT hr = CoCreateInstance(*pClsid, NULL, CLSCTX_INPROC_SERVER, *pClsid, (void**)&pDriver);
  if (FAILED(hr) || !pDriver) {
    pDevice->pDriver = NULL;
    ASIOMAN_ReportMessage(pDevice, "Driver not found");
    pDevice->bOpen = 0;
    return -1;
  }
  pDevice->nDeviceIndex = nIndex;
  pDevice->pDriver = pDriver;

  if (pDriver->init((void*)hwnd) == 0) {
    char szError[ASIOMAN_TEXT_SIZE];
    memset(szError, 0, sizeof(szError));
    pDriver->getErrorMessage(szError);
    pDevice->report[0] = 0;
    ASIOMAN_ReportMessage(pDevice, "Failed to init ASIO Driver");
    pDevice->bOpen = 0;
    return -1;
  }
  char szName[ASIOMAN_TEXT_SIZE];
  memset(szName, 0, sizeof(szName));
  pDriver->getDriverName(szName);
  pDevice->nDriverVersion = pDriver->getDriverVersion();

  pDevice->nMaxInputs = nMaxInputs;
  pDevice->nMaxOutputs = nMaxOutputs;
  if (ASIOMAN_QueryChannelsAndBuffers(pDevice) != 0) return ASIOMAN_FailOpen(nIndex, pDevice);

  ASIOSampleRate fRate = 0;
  if (pDriver->getSampleRate(&fRate) != ASE_OK) {
    ASIOMAN_ReportDriverMessage(pDevice, "Failed to Get Current SampleRate:");
    pDevice->bOpen = 0;
    return -1;
  }
  pDevice->nSampleRate = ASIOMAN_WholeHz(fRate);
  if (pDevice->nSampleRate < 1000) {
    pDevice->nSampleRate = 44100;
    ASIOMAN_ReportInt(pDevice, "SampleRate < 1000: set it to ", 44100, " Hz");
  }
  pDevice->bOutputReady = pDriver->outputReady() == ASE_OK ? 1 : 0;

  if (ASIOMAN_BindSlot(pEntry, nIndex) == 0) {
    ASIOMAN_ReportMessage(pDevice, "No Callback Available");
    return ASIOMAN_FailOpen(nIndex, pDevice);
  }
  pDevice->bOpen = 1;
  pDevice->pfnClient = pfnClient;
  pDevice->pClientContext = pClientContext;
  if (ASIOMAN_Notify(pDevice, ASIOMAN_ORDER_OPENEDDEVICE, 0, 0) == 0) return -100;
  ASIOMAN_ReportMessage(pDevice, "Device Is Openned.");
  return 0;
}

/* ---- prepare, start ---- */

// Every half-buffer pointer must be set before a switch may use it.
static int ASIOMAN_CheckBuffers(ASIOMAN_DEVICE* pDevice) {
  int32_t nTotal = pDevice->nInputs + pDevice->nOutputs;
  for (int32_t i = 0; i < nTotal; i++) {
    if (!pDevice->bufferInfos[i].buffers[0] || !pDevice->bufferInfos[i].buffers[1]) {
      ASIOMAN_ReportInt(pDevice, "Driver left a buffer pointer empty: buffer ", i, "");
      return 0;
    }
  }
  return 1;
}

static void ASIOMAN_ReadChannelInfos(ASIOMAN_DEVICE* pDevice) {
  int32_t nTotal = pDevice->nInputs + pDevice->nOutputs;
  // A channel left without information converts nothing and writes nothing.
  for (int32_t i = 0; i < nTotal; i++) pDevice->channelInfos[i].type = -1;
  for (int32_t i = 0; i < nTotal; i++) {
    ASIOChannelInfo* pInfo = &pDevice->channelInfos[i];
    pInfo->channel = pDevice->bufferInfos[i].channelNum;
    pInfo->isInput = pDevice->bufferInfos[i].isInput;
    ASIOError err = pDevice->pDriver->getChannelInfo(pInfo);
    pInfo->name[sizeof(pInfo->name) - 1] = 0;
    ASIOMAN_MakePrintable(pInfo->name, sizeof(pInfo->name));
    if (err != ASE_OK) {
      pInfo->type = -1;
      ASIOMAN_ReportDriverMessage(pDevice, "Failed to Get Channel information: ");
      break;
    }
  }
}

static int ASIOMAN_PrepareDevice(ASIOMAN_DEVICE* pDevice) {
  if (!pDevice->bOpen) {
    ASIOMAN_ReportMessage(pDevice, "Device is not opened...");
    return -1;
  }
  if (pDevice->bPrepared) {
    ASIOMAN_ReportMessage(pDevice, "Device is Already prepared...");
    return 1;
  }
  // Switches stand aside until start, when blocks and client are ready.
  pDevice->bStopping = 1;
  pDevice->bMessageLatched = 0;
  pDevice->bInCallback = 0;
  pDevice->bPlaying = 0;
  pDevice->bThreadRaised = 0;
  IASIO* pDriver = pDevice->pDriver;

  if (ASIOMAN_QueryChannelsAndBuffers(pDevice) != 0) return -2;
  ASIOSampleRate fRate = 0;
  if (pDriver->getSampleRate(&fRate) != ASE_OK) {
    ASIOMAN_ReportDriverMessage(pDevice, "Failed to Get Current SampleRate information: ");
    return -1;
  }
  pDevice->nSampleRate = ASIOMAN_WholeHz(fRate);
  if (!ASIOMAN_IsSupportedRate(pDevice->nSampleRate)) {
    ASIOMAN_ReportInt(pDevice, "Unsupported Samplerate: ", pDevice->nSampleRate, " Hz");
    return -2;
  }
  if (pDevice->nBufferSize < ASIOMAN_MIN_BUFFER || pDevice->nBufferSize > ASIOMAN_MAX_BUFFER) {
    ASIOMAN_ReportMessage(pDevice, "Undefined Buffer Size...");
    return -3;
  }

  int32_t nTotal = pDevice->nInputs + pDevice->nOutputs;
  for (int32_t i = 0; i < nTotal; i++) {
    ASIOBufferInfo* pInfo = &pDevice->bufferInfos[i];
    pInfo->isInput = i < pDevice->nInputs ? 1 : 0;
    pInfo->channelNum = i < pDevice->nInputs ? i : i - pDevice->nInputs;
    pInfo->buffers[0] = pInfo->buffers[1] = NULL;
  }
  // The slot's own record, not the device's copy: a driver may call through
  // it after close, which clears the device.
  int nResult = pDriver->createBuffers(pDevice->bufferInfos, nTotal, pDevice->nBufferSize,
                                       ASIOMAN_SlotCallbacks(pDevice->nSlot));
  if (nResult != ASE_OK) {
    ASIOMAN_ReportDriverMessage(pDevice, "Failed to prepare buffers: ");
  } else if (!ASIOMAN_CheckBuffers(pDevice)) {
    nResult = ASE_InvalidMode;
  } else {
    ASIOMAN_ReadChannelInfos(pDevice);
    int32_t nInLatency = 0, nOutLatency = 0;
    nResult = pDriver->getLatencies(&nInLatency, &nOutLatency);
    pDevice->nInputLatency = nInLatency;
    pDevice->nOutputLatency = nOutLatency;
  }

  ASIOMAN_FreeBlocks(pDevice);
  if (!ASIOMAN_AllocBlock(&pDevice->pInputBlock, pDevice->nInputs, pDevice->nBufferSize) ||
      !ASIOMAN_AllocBlock(&pDevice->pOutputBlock, pDevice->nOutputs, pDevice->nBufferSize)) {
    // Without blocks the stream cannot run: give the driver's buffers back.
    ASIOMAN_FreeBlocks(pDevice);
    pDriver->disposeBuffers();
    ASIOMAN_ReportMessage(pDevice, "Not enough memory for the sample blocks");
    return nResult != ASE_OK ? nResult : ASE_NoMemory;
  }
  ASIOMAN_PrepareConversions(pDevice);
  pDevice->bPrepared = 1;
  return nResult;
}

int ASIOMAN_StartDevice(int nIndex) {
  ASIOMAN_DRIVERENTRY* pEntry = ASIOMAN_GetEntry(nIndex);
  if (!pEntry) return -1;
  ASIOMAN_DEVICE* pDevice = &pEntry->device;
  if (pDevice->bPlaying) {
    ASIOMAN_ReportMessage(pDevice, "ASIO Device Already Playing...");
    return -1;
  }
  // A new stream: what the driver records from now on is this one's.
  pEntry->nEvent.store(0, std::memory_order_relaxed);
  pEntry->qpcLastCall = 0;
  pEntry->nStream = ++g_asioman.nStreams;
  ASIOMAN_ResetTiming(pDevice);
  int nResult = ASIOMAN_PrepareDevice(pDevice);
  if (nResult != 0) return nResult;
  ASIOMAN_ResetTiming(pDevice);
  if (ASIOMAN_Notify(pDevice, ASIOMAN_ORDER_PREPAREDDEVICE, 0, 0) == 0) {
    ASIOMAN_ReportMessage(pDevice, "Failure on ASIOMAN_ORDER_PREPAREDDEVICE callback");
    return -101;
  }
  pEntry->nSwitchCount = 0;
  // Blocks, conversions and the client's preparation go with the opened gate.
  HANDOFF_Publish();
  pDevice->bStopping = 0;
  if (pDevice->pDriver->start() == ASE_OK) {
    ASIOMAN_ReportMessage(pDevice, "Device Is Started.");
    pDevice->bPlaying = 1;
    return 0;
  }
  pDevice->bStopping = 1;
  ASIOMAN_ReportDriverMessage(pDevice, "Device Not Started:");
  return -2;
}

/* ---- stop, close ---- */

static int ASIOMAN_UnprepareDevice(ASIOMAN_DEVICE* pDevice) {
  if (!pDevice->bOpen) {
    ASIOMAN_ReportMessage(pDevice, "Device is not opened...");
    return -1;
  }
  if (!pDevice->bPrepared) {
    ASIOMAN_ReportMessage(pDevice, "Device is Already unprepared...");
    return 1;
  }
  // The driver's buffers and our blocks stay until no switch can use them.
  if (!ASIOMAN_WaitForSwitch(pDevice)) return -1;
  int nResult = pDevice->pDriver ? pDevice->pDriver->disposeBuffers() : ASE_NotPresent;
  ASIOMAN_FreeBlocks(pDevice);
  pDevice->bPrepared = 0;
  return nResult;
}

int ASIOMAN_StopDevice(int nIndex) {
  ASIOMAN_DRIVERENTRY* pEntry = ASIOMAN_GetEntry(nIndex);
  if (!pEntry) return -1;
  ASIOMAN_DEVICE* pDevice = &pEntry->device;
  if (pDevice->bPlaying) {
    // Briefly first, so the driver is seldom stopped in the middle of a switch.
    ASIOMAN_WaitIdle(pDevice, pDevice->bSwitchStuck ? 0 : ASIOMAN_STOP_WAIT_MS);
    if (pDevice->pDriver) pDevice->pDriver->stop();
    pDevice->bPlaying = 0;
  }
  return ASIOMAN_UnprepareDevice(pDevice);
}

int ASIOMAN_CloseDevice(int nIndex) {
  ASIOMAN_DRIVERENTRY* pEntry = ASIOMAN_GetEntry(nIndex);
  if (!pEntry) return -1;
  ASIOMAN_DEVICE* pDevice = &pEntry->device;
  ASIOMAN_StopDevice(nIndex);
  // A callback still inside keeps the device with its blocks, its driver and
  // its slot: clearing them would pull memory from under it, and another
  // device on that slot would receive the driver's later calls.
  if (pDevice->bPrepared || pDevice->bInCallback ||
      !ASIOMAN_UnbindSlots(nIndex, pDevice->bSwitchStuck ? 0 : ASIOMAN_StuckBound())) {
    pDevice->bSwitchStuck = 1;
    // The kept driver's later requests must not restart the next device.
    pDevice->bMessageLatched = 1;
    ASIOMAN_ReportMessage(pDevice, "Driver Callback Still Running: Device Not Closed...");
    return 0;
  }
  if (pDevice->pfnClient) ASIOMAN_Notify(pDevice, ASIOMAN_ORDER_CLOSINGDEVICE, 0, 0);
  if (pDevice->pDriver) pDevice->pDriver->Release();
  pDevice->pDriver = NULL;
  ASIOMAN_FreeBlocks(pDevice);
  ASIOMAN_ClearDevice(pDevice);
  pEntry->nSwitchCount = 0;
  return 0;
}

static int ASIOMAN_AnswerYes(void*, ASIOMAN_DEVICE*, uint32_t, intptr_t, intptr_t) { return 1; }

int ASIOMAN_ShowControlPanel(int nIndex, HWND hwnd, char* szText, size_t nTextSize) {
  if (nTextSize > 0) szText[0] = 0;
  ASIOMAN_DRIVERENTRY* pEntry = ASIOMAN_GetEntry(nIndex);
  if (!pEntry) return -1;
  ASIOMAN_DEVICE* pDevice = &pEntry->device;
  int bOpenedHere = 0;
  if (!pDevice->pDriver) {
    ASIOMAN_OpenDevice(nIndex, 0, 0, NULL, ASIOMAN_AnswerYes, hwnd);
    bOpenedHere = 1;
  }
  int nResult = -1;
  char szError[ASIOMAN_TEXT_SIZE];
  const char* text = szError;
  if (pDevice->bOpen && pDevice->pDriver) {
    nResult = pDevice->pDriver->controlPanel();
    if (nResult != ASE_OK) ASIOMAN_ReadDriverError(pDevice, szError);
  } else {
    text = pDevice->report;  // the open failed: its report says why
  }
  if (nResult != ASE_OK && nTextSize > 0) {
    size_t nText = strnlen(text, nTextSize - 1);
    memcpy(szText, text, nText);
    szText[nText] = 0;
  }
  if (bOpenedHere) ASIOMAN_CloseDevice(nIndex);
  return nResult;
}

/* ---- slots ---- */

// An ASIO callback carries no context: a released driver whose thread still
// calls back lands in the slot it was given, whatever that slot serves now.
// Handing on the slot released longest ago keeps those late calls on a free
// slot, where they are ignored, as long as another slot is free; it is the
// only protection there is.
int ASIOMAN_BindSlot(ASIOMAN_DRIVERENTRY* pEntry, int nIndex) {
  int nChosen = 0;
  for (int nSlot = 1; nSlot <= ASIOMAN_MAX_SLOTS; nSlot++) {
    ASIOMAN_SLOT* pSlot = ASIOMAN_GetSlot(nSlot);
    if (pSlot->pEntry) continue;
    if (nChosen == 0 || pSlot->nReleased < ASIOMAN_GetSlot(nChosen)->nReleased) nChosen = nSlot;
  }
  if (nChosen == 0) return 0;
  ASIOMAN_SLOT* pSlot = ASIOMAN_GetSlot(nChosen);
  pSlot->nDeviceIndex = nIndex;
  pSlot->bInUse = 1;
  pEntry->device.callbacks = *ASIOMAN_SlotCallbacks(nChosen);
  pEntry->device.nSlot = nChosen;
  HANDOFF_Publish();
  pSlot->pEntry = pEntry;
  return nChosen;
}

int ASIOMAN_UnbindSlots(int nIndex, int nMilliseconds) {
  int bQuiet = 1;
  int64_t qpcEnd = ASIOMAN_Deadline(nMilliseconds);
  for (int nSlot = 1; nSlot <= ASIOMAN_MAX_SLOTS; nSlot++) {
    ASIOMAN_SLOT* pSlot = ASIOMAN_GetSlot(nSlot);
    if (pSlot->nDeviceIndex != nIndex) continue;
    ASIOMAN_DRIVERENTRY* pEntry = pSlot->pEntry;
    // Closed first, counted after: a callback either sees the slot free or
    // is seen inside it.
    pSlot->pEntry = NULL;
    pSlot->bInUse = 0;
    pSlot->nDeviceIndex = 0;
    HANDOFF_Closed();
    while (!HANDOFF_IsEmpty(&pSlot->nActive) && ASIOMAN_Counter() < qpcEnd) Sleep(1);
    if (HANDOFF_IsEmpty(&pSlot->nActive)) {
      pSlot->nReleased = ++g_asioman.nReleases;
      continue;
    }
    // Still inside: the slot stays with its device, never handed on.
    pSlot->nDeviceIndex = nIndex;
    pSlot->bInUse = 1;
    HANDOFF_Publish();
    pSlot->pEntry = pEntry;
    bQuiet = 0;
  }
  return bQuiet;
}

/* ---- timing and the switch ---- */

void ASIOMAN_ResetTiming(ASIOMAN_DEVICE* pDevice) {
  ASIOMAN_TIMING* t = &pDevice->timing;
  memset((void*)t, 0, sizeof(*t));
  int64_t qpcFrequency = g_asioman.qpcFrequency;
  t->qpcFrequency = qpcFrequency;
  t->fMegaCyclesMin = 10000.0f;
  t->fMegaCyclesMax = 0.0f;
  t->qpcProcessMin = qpcFrequency;
  t->qpcProcessMax = 0;
  uint32_t nRate = pDevice->nSampleRate;
  if (nRate == 0) return;
  double fBufferTicks = (double)qpcFrequency * (double)pDevice->nBufferSize / (double)nRate;
  t->qpcPeriod = (int64_t)pDevice->nBufferSize * qpcFrequency / (int64_t)nRate;
  t->qpcThreshold100 = (int64_t)(fBufferTicks * 1.0);
  t->qpcThreshold80 = (int64_t)(fBufferTicks * 0.8);
  t->qpcThreshold50 = (int64_t)(fBufferTicks * 0.5);
  t->qpcThreshold20 = (int64_t)(fBufferTicks * 0.2);
  t->qpcThreshold10 = (int64_t)(fBufferTicks * 0.1);
}

int ASIOMAN_WaitIdle(ASIOMAN_DEVICE* pDevice, int nMilliseconds) {
  pDevice->bStopping = 1;
  HANDOFF_Closed();
  int64_t qpcEnd = ASIOMAN_Deadline(nMilliseconds);
  while (!HANDOFF_IsEmpty(&pDevice->bInCallback)) {
    if (ASIOMAN_Counter() >= qpcEnd) return 0;
    Sleep(1);
  }
  return 1;
}

static void ASIOMAN_LeaveSwitch(ASIOMAN_DEVICE* pDevice) { HANDOFF_Leave(&pDevice->bInCallback); }

// Any driver thread: records the first request or stream error of the
// preparation for the GUI thread, which acts on it at its next tick. Nothing
// of the platform is called here: the thread may be one that the platform
// did not create.
static void ASIOMAN_RecordEvent(ASIOMAN_DRIVERENTRY* pEntry, uint32_t nOrder, int32_t nReason) {
  if (pEntry->device.bMessageLatched.Exchange(1) != 0) return;
  uint64_t nEvent = ((uint64_t)(uint32_t)(int32_t)pEntry->nStream << 32) | ((uint64_t)(uint16_t)nReason << 16) |
                    (uint64_t)(uint16_t)nOrder;
  uint64_t nNone = 0;
  pEntry->nEvent.compare_exchange_strong(nNone, nEvent, std::memory_order_relaxed);
}

static void ASIOMAN_StreamStarts(ASIOMAN_DEVICE* pDevice) {
  pDevice->timing.qpcStreamStart = ASIOMAN_Counter();
  pDevice->timing.qpcRelaxStep =
      ASIOMAN_RelaxStep(pDevice->timing.qpcFrequency, pDevice->nSampleRate, pDevice->nBufferSize);
}

// The first switch on a thread other than the GUI thread raises it: a driver
// whose start makes the first switches itself does so on the GUI thread,
// whose priority stays as it is.
static void ASIOMAN_RaiseSwitchThread(ASIOMAN_DEVICE* pDevice) {
  if (GetCurrentThreadId() == g_asioman.nGuiThreadId) return;
  pDevice->bThreadRaised = 1;
  HANDLE hThread = GetCurrentThread();
  int nPriority = GetThreadPriority(hThread);
  ASIOMAN_Notify(pDevice, ASIOMAN_ORDER_THREADSTART, 0, nPriority);
  if (nPriority < THREAD_PRIORITY_TIME_CRITICAL) SetThreadPriority(hThread, THREAD_PRIORITY_TIME_CRITICAL);
}

void ASIOMAN_OnBufferSwitch(ASIOMAN_DRIVERENTRY* pEntry, ASIOTime* pTime, int32_t nHalfBuffer) {
  ASIOMAN_DEVICE* pDevice = &pEntry->device;
  pEntry->qpcLastCall = ASIOMAN_Counter();
  if (pDevice->bStopping || !pDevice->bPrepared) return;
  // The guard comes first: an overlapping switch must not touch the running one.
  if (HANDOFF_Enter(&pDevice->bInCallback) != 0) {
    ASIOMAN_RecordEvent(pEntry, ASIOMAN_ORDER_STREAMERROR, ASIOMAN_ERROR_REENTRANCE);
    ASIOMAN_LeaveSwitch(pDevice);
    return;
  }
  if (pDevice->bStopping) {
    ASIOMAN_LeaveSwitch(pDevice);
    return;
  }
  HANDOFF_Opened();

  int64_t nSwitch = pEntry->nSwitchCount;
  if (nSwitch == 0) ASIOMAN_StreamStarts(pDevice);
  if (!pDevice->bThreadRaised) ASIOMAN_RaiseSwitchThread(pDevice);
  pEntry->nSwitchCount = ++nSwitch;
  if (nSwitch < 3) {
    if (pDevice->bOutputReady) pDevice->pDriver->outputReady();
    ASIOMAN_LeaveSwitch(pDevice);
    return;
  }
  ASIOMAN_TIMING* t = &pDevice->timing;
  t->nLastSwitch = nSwitch;
  int64_t qpcStart = ASIOMAN_Counter();
  uint64_t nCyclesStart = __rdtsc();
  t->qpcSwitchStart = qpcStart;

  uint32_t nFlags = pTime->timeInfo.flags;
  t->nsSystemTime = (nFlags & kSystemTimeValid)
                        ? ASIO_Join64(pTime->timeInfo.systemTime.hi, pTime->timeInfo.systemTime.lo)
                        : 0;
  t->nSamplePosition = (nFlags & kSamplePositionValid)
                           ? ASIO_Join64(pTime->timeInfo.samplePosition.hi, pTime->timeInfo.samplePosition.lo)
                           : 0;

  if (ASIOMAN_ConvertChannels(pDevice, nHalfBuffer) != 0) {
    ASIOMAN_RecordEvent(pEntry, ASIOMAN_ORDER_STREAMERROR, ASIOMAN_ERROR_CONVERSION);
    ASIOMAN_LeaveSwitch(pDevice);
    return;
  }
  if (pDevice->bOutputReady) pDevice->pDriver->outputReady();
  // A stop may have given up on this switch while the driver held it: the
  // client has moved on and hears nothing more from it.
  if (pDevice->bStopping) {
    ASIOMAN_LeaveSwitch(pDevice);
    return;
  }
  ASIOMAN_Notify(pDevice, ASIOMAN_ORDER_PROCESSBUFFER, (intptr_t)pDevice->pInputBlock,
                 (intptr_t)pDevice->pOutputBlock);

  int64_t qpcEnd = ASIOMAN_Counter();
  uint64_t nCyclesEnd = __rdtsc();
  ASIOMAN_UpdateStatistics(t, qpcEnd - qpcStart, nCyclesEnd - nCyclesStart);
  ASIOMAN_LeaveSwitch(pDevice);
}

/* ---- the driver's other callbacks: they only record ---- */

// A request also makes the stream's switches stand aside at once, by a plain
// store: no buffer of the run is processed after the driver asked.
void ASIOMAN_OnSampleRateDidChange(ASIOMAN_DRIVERENTRY* pEntry, ASIOSampleRate fRate) {
  ASIOMAN_DEVICE* pDevice = &pEntry->device;
  uint32_t nRate = ASIOMAN_WholeHz(fRate);
  if (nRate == pDevice->nSampleRate) return;
  pDevice->nSampleRate = nRate;
  pDevice->bStopping = 1;
  ASIOMAN_RecordEvent(pEntry, ASIOMAN_ORDER_DRIVERREQUEST, ASIOMAN_REQUEST_SAMPLERATE);
}

static int32_t ASIOMAN_OnRestartRequest(ASIOMAN_DRIVERENTRY* pEntry, int32_t nRequest) {
  pEntry->device.bStopping = 1;
  ASIOMAN_RecordEvent(pEntry, ASIOMAN_ORDER_DRIVERREQUEST, nRequest);
  return 1;
}

int32_t ASIOMAN_OnAsioMessage(ASIOMAN_DRIVERENTRY* pEntry, int32_t nSelector, int32_t nValue, void* pMessage,
                              double* pOpt) {
  switch (nSelector) {
    case kAsioSelectorSupported:
      return (nValue == kAsioEngineVersion || nValue == kAsioResetRequest || nValue == kAsioResyncRequest ||
              nValue == kAsioLatenciesChanged || nValue == kAsioSupportsTimeInfo ||
              nValue == kAsioSupportsTimeCode)
                 ? 1
                 : 0;
    case kAsioEngineVersion:
      return 2;
    case kAsioResetRequest:
      return ASIOMAN_OnRestartRequest(pEntry, ASIOMAN_REQUEST_RESET);
    case kAsioBufferSizeChange:
      return 0;
    case kAsioResyncRequest:
      return ASIOMAN_OnRestartRequest(pEntry, ASIOMAN_REQUEST_RESYNC);
    case kAsioLatenciesChanged:
    case kAsioSupportsTimeInfo:
    case kAsioSupportsTimeCode:
      return 1;
    default:
      return 0;
  }
}

/* ---- the recorded events, on the GUI thread ---- */

static void ASIOMAN_ReportEvent(ASIOMAN_DEVICE* pDevice, const ASIOMAN_EVENT* pEvent) {
  if (pEvent->nOrder == ASIOMAN_ORDER_STREAMERROR && pEvent->nReason == ASIOMAN_ERROR_CONVERSION) {
    char text[ASIOMAN_TEXT_SIZE];
    ASIOMAN_FormatInt(text, sizeof(text), "No data conversion supplied...\nConversion error nu : ",
                      pDevice->nConversionError, "\n");
    ASIOMAN_ReportReplace(pDevice, text);
  } else if (pEvent->nOrder == ASIOMAN_ORDER_STREAMERROR) {
    ASIOMAN_ReportReplace(pDevice, "Driver Callback Re-entrance...\nUnexpected error...");
  } else if (pEvent->nReason == ASIOMAN_REQUEST_SAMPLERATE) {
    ASIOMAN_ReportReplace(pDevice,
                          "Request From Audio Driver\nSampling rate has been Changed,\nAudio Stream needs a complete "
                          "RESET\n\nPlease Re-Start the Audio Device...");
  } else if (pEvent->nReason == ASIOMAN_REQUEST_RESYNC) {
    ASIOMAN_ReportReplace(pDevice,
                          "Request From Audio Driver re-synchronization\nAudio Stream needs a complete "
                          "RESET\n\nPlease Re-Start the Audio Device...");
  } else {
    ASIOMAN_ReportReplace(
        pDevice, "Request From Audio Driver\nAudio Stream needs a complete RESET\n\nPlease Re-Start the Audio Device...");
  }
}

int ASIOMAN_TakeEvent(int nIndex, ASIOMAN_EVENT* pEvent) {
  ASIOMAN_DRIVERENTRY* pEntry = ASIOMAN_GetEntry(nIndex);
  if (!pEntry || !pEvent) return 0;
  uint64_t nEvent = pEntry->nEvent.exchange(0, std::memory_order_relaxed);
  if (nEvent == 0) return 0;
  pEvent->nOrder = (uint32_t)(nEvent & 0xFFFF);
  pEvent->nReason = (int32_t)((nEvent >> 16) & 0xFFFF);
  pEvent->nStream = (int32_t)(uint32_t)(nEvent >> 32);
  ASIOMAN_DEVICE* pDevice = &pEntry->device;
  if (pDevice->bOpen && pEvent->nStream == (int32_t)pEntry->nStream) ASIOMAN_ReportEvent(pDevice, pEvent);
  return 1;
}
