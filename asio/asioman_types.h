// Records of the ASIO device manager: the per-driver entry of the installed
// driver list, its device state, the timing block and the client contract.
// Platform-free (the driver is only a forward-declared pointer), so the test
// run's statistics can be built and tested natively.
#ifndef MB_ASIO_ASIOMAN_TYPES_H
#define MB_ASIO_ASIOMAN_TYPES_H

#include <stddef.h>
#include <stdint.h>

#include "asio/asio_types.h"
#include "asio/asioconv.h"
#include "asio/relaxed.h"

struct IASIO;

enum {
  ASIOMAN_MAX_INPUTS = 256,
  ASIOMAN_MAX_OUTPUTS = 256,
  ASIOMAN_MAX_BUFFERS = ASIOMAN_MAX_INPUTS + ASIOMAN_MAX_OUTPUTS,
  ASIOMAN_MAX_SLOTS = 8,
  ASIOMAN_REPORT_SIZE = 4096,
  ASIOMAN_SEPARATOR_SIZE = 8
};

// Client orders.
enum {
  ASIOMAN_ORDER_PROCESSBUFFER = 0x0001,
  ASIOMAN_ORDER_CLOSINGDEVICE = 0x0100,
  ASIOMAN_ORDER_OPENEDDEVICE = 0x0101,
  ASIOMAN_ORDER_PREPAREDDEVICE = 0x0102,
  ASIOMAN_ORDER_STREAMERROR = 0x1000,
  ASIOMAN_ORDER_DRIVERREQUEST = 0x2000,
  ASIOMAN_ORDER_THREADSTART = 0x3000
};

enum { ASIOMAN_ERROR_REENTRANCE = 1, ASIOMAN_ERROR_CONVERSION = 2 };
enum { ASIOMAN_REQUEST_SAMPLERATE = 0, ASIOMAN_REQUEST_RESET = 1, ASIOMAN_REQUEST_RESYNC = 2 };

// A driver's request or a stream error, as a driver thread recorded it and
// the GUI thread takes it: ASIOMAN_ORDER_DRIVERREQUEST with an
// ASIOMAN_REQUEST_* reason, or ASIOMAN_ORDER_STREAMERROR with an
// ASIOMAN_ERROR_* reason, and the stream it came in.
typedef struct ASIOMAN_EVENT {
  uint32_t nOrder;
  int32_t nReason;
  int32_t nStream;
} ASIOMAN_EVENT;

// Written by the driver's audio thread, read by the GUI thread: every field is
// a relaxed atomic of the width it has in the description.
typedef struct ASIOMAN_TIMING {
  Relaxed<int64_t> nsSystemTime;
  Relaxed<int64_t> nSamplePosition;
  Relaxed<int64_t> qpcStreamStart;
  Relaxed<int64_t> nLastSwitch;
  Relaxed<int64_t> qpcFrequency;
  Relaxed<int64_t> qpcRelaxStep;
  Relaxed<int64_t> qpcPeriod;
  Relaxed<int64_t> qpcSwitchStart;
  Relaxed<int64_t> qpcProcess;
  Relaxed<int64_t> qpcProcessMin;
  Relaxed<int64_t> qpcProcessMax;
  Relaxed<int64_t> nOver50;
  Relaxed<int64_t> nOver80;
  Relaxed<int64_t> nOver100;
  Relaxed<int64_t> qpcThreshold10;
  Relaxed<int64_t> qpcThreshold20;
  Relaxed<int64_t> qpcThreshold50;
  Relaxed<int64_t> qpcThreshold80;
  Relaxed<int64_t> qpcThreshold100;
  Relaxed<float> fMegaCycles;
  Relaxed<float> fMegaCyclesMin;
  Relaxed<float> fMegaCyclesMax;
} ASIOMAN_TIMING;

struct ASIOMAN_DEVICE;

// Consecutive channels of one direction and one conversion, converted in one call.
typedef struct ASIOMAN_CONVERSIONRUN {
  ASIOMAN_CONVERTRUNFN pfnConvert;
  int32_t nChannels;
} ASIOMAN_CONVERSIONRUN;

// Client callback: (context, device, order, param1, param2).
typedef int (*ASIOMAN_CLIENTCALLBACK)(void* pContext, struct ASIOMAN_DEVICE* pDevice, uint32_t nOrder,
                                      intptr_t param1, intptr_t param2);

typedef struct ASIOMAN_DEVICE {
  IASIO* pDriver;
  int32_t nDeviceIndex;
  int32_t bOpen;
  Relaxed<int32_t> bMessageLatched;  // exchanged by any driver thread
  Relaxed<int32_t> bInCallback;      // switches inside right now: the switch gate's mark
  Relaxed<int32_t> bPrepared;  // read by the audio thread: no switch on a device without blocks
  Relaxed<int32_t> bPlaying;
  Relaxed<int32_t> bStopping;
  int32_t nDriverVersion;
  int32_t nInputs, nOutputs;
  int32_t nMaxInputs, nMaxOutputs;
  int32_t nMinBufferSize, nMaxBufferSize;
  int32_t nBufferSize;
  int32_t nGranularity;
  int32_t nInputLatency, nOutputLatency;
  Relaxed<uint32_t> nSampleRate;  // a driver thread may change it
  int32_t bOutputReady;
  ASIOBufferInfo bufferInfos[ASIOMAN_MAX_BUFFERS];
  ASIOChannelInfo channelInfos[ASIOMAN_MAX_BUFFERS];
  ASIOCallbacks callbacks;
  ASIOMAN_TIMING timing;
  int32_t* pInputBlock;
  int32_t* pOutputBlock;
  char report[ASIOMAN_REPORT_SIZE];
  char separator[ASIOMAN_SEPARATOR_SIZE];
  ASIOMAN_CLIENTCALLBACK pfnClient;
  void* pClientContext;
  // Chosen at prepare from channelInfos, in bufferInfos order, so the switch
  // never branches on a sample type: the inputs' runs of channels of one
  // type, then the outputs'.
  ASIOMAN_CONVERSIONRUN conversionRuns[ASIOMAN_MAX_BUFFERS];
  int32_t nInputRuns, nOutputRuns;
  int32_t nConversionError;  // last input channel's error code, 0 = none
  // 1 once a wait gave up on a switch that ran past the bound; until that
  // switch has left, later waits of the device only look, so one stuck
  // callback costs one bound.
  int32_t bSwitchStuck;
  int32_t nSlot;  // the bound callback slot, 0 when none
  // 1 once this stream's first switch on a thread other than the GUI thread
  // has raised that thread; audio thread only.
  Relaxed<int32_t> bThreadRaised;
} ASIOMAN_DEVICE;

// Field sizes of the driver entry.
enum {
  ASIOMAN_NAME_SIZE = 256,
  ASIOMAN_DESCRIPTION_SIZE = 128,
  ASIOMAN_SERVERPATH_SIZE = 512
};

// 16-byte class identifier, laid out like the Windows GUID.
typedef struct ASIOMAN_GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} ASIOMAN_GUID;
static_assert(sizeof(ASIOMAN_GUID) == 16, "GUID layout");

#ifdef _WIN32
typedef wchar_t ASIOMAN_WCHAR;  // WCHAR, for the wide registry calls
#else
typedef char16_t ASIOMAN_WCHAR;
#endif
static_assert(sizeof(ASIOMAN_WCHAR) == 2, "UTF-16 units");

typedef struct ASIOMAN_DRIVERENTRY {
  ASIOMAN_GUID clsid;
  char szName[ASIOMAN_NAME_SIZE];
  ASIOMAN_WCHAR wszName[ASIOMAN_NAME_SIZE];
  char szDescription[ASIOMAN_DESCRIPTION_SIZE];
  char szServerPath[ASIOMAN_SERVERPATH_SIZE];
  Relaxed<int64_t> nSwitchCount;
  // Outlive the device record, which close clears: a driver's thread may
  // still call in then. nStream numbers the entry's latest start; nEvent is
  // the first request or stream error recorded since, packed as stream
  // (high 32 bits), reason (16) and order (16), 0 when none; qpcLastCall is
  // the counter time of the latest buffer switch call, processed or not.
  Relaxed<int32_t> nStream;
  std::atomic<uint64_t> nEvent;
  Relaxed<int64_t> qpcLastCall;
  ASIOMAN_DEVICE device;
} ASIOMAN_DRIVERENTRY;

#endif  // MB_ASIO_ASIOMAN_TYPES_H
