#include "simdriver/simdriver.h"

#include <mmsystem.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>

#include "asio/relaxed.h"
#include "simdriver/simprofile.h"
#include "simdriver/simreg.h"
#include "simdriver/simshared.h"
#include "simdriver/simsignal.h"

namespace {

LONG g_nLiveObjects = 0;

enum { HELPER_RESET = 1, HELPER_RESYNC = 2, HELPER_RATE = 4, HELPER_REENTER = 8 };

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// The ways the streaming thread can sleep; the one that wakes closest to its
// target on this system is chosen at the start of every stream.
enum { WAIT_SLEEP, WAIT_TIMER, WAIT_DELAY, WAIT_KINDS };
typedef LONG(NTAPI* DELAYEXECUTION)(BOOLEAN alertable, PLARGE_INTEGER interval);

struct SIMCHANNEL {
  int32_t bIsInput;
  int32_t nChannel;
  int32_t nType;
  int32_t nRow;  // input: row of its copies; output: unused
  void* pBuffers[2];
};

// Written by the streaming and helper threads while they run, read only after
// they have been joined.
struct SIMSTATS {
  int64_t nSwitches;
  int64_t nIntervals;
  double fIntervalSum, fIntervalMin, fIntervalMax;  // counter ticks
  int64_t nLateIntervals;
  // Intervals off by more than 10/20/50/100 % of the period, early or late.
  int64_t nTimingErrors[4];
  int64_t nTimingIntervals;
  int64_t nSwitchesBeforeStop;  // begun before the host called stop
  int64_t nBlocks;
  int64_t nStalls, nResets, nResyncs, nRateChanges, nReentrances, nReentranceOverlaps;
  int32_t nResetAnswer, nResyncAnswer;
  // Resets asked for inside the host's stop and inside its outputReady, each
  // written by its own thread; the report adds them to the helper's.
  int64_t nStopResets, nOutputReadyResets;
  int32_t nOutputReadyResetAnswer;
  double fOutputReadyResetUs;  // how long the host took to answer
};

int64_t Qpc() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

int64_t QpcFrequency() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return f.QuadPart > 0 ? f.QuadPart : 1;
}

int64_t TicksToNs(int64_t ticks, int64_t freq) {
  return (ticks / freq) * 1000000000LL + (ticks % freq) * 1000000000LL / freq;
}

// One buffer switch to the host, with time information when the stream uses it.
void SendSwitch(const ASIOCallbacks* callbacks, int timeInfo, uint32_t flags, double rate, int64_t position,
                int64_t systemTimeNs, int32_t index) {
  ASIOTime time;
  memset(&time, 0, sizeof(time));
  time.timeInfo.speed = 1.0;
  time.timeInfo.systemTime.hi = (uint32_t)((uint64_t)systemTimeNs >> 32);
  time.timeInfo.systemTime.lo = (uint32_t)systemTimeNs;
  time.timeInfo.samplePosition.hi = (uint32_t)((uint64_t)position >> 32);
  time.timeInfo.samplePosition.lo = (uint32_t)position;
  time.timeInfo.sampleRate = rate;
  time.timeInfo.flags = flags;
  if (timeInfo && callbacks->bufferSwitchTimeInfo)
    callbacks->bufferSwitchTimeInfo(&time, index, ASIOFalse);
  else if (callbacks->bufferSwitch)
    callbacks->bufferSwitch(index, ASIOFalse);
}

// What the late-call thread needs: the driver object may be gone long before
// the thread ends. The host's record is read afresh at each call, as a real
// driver keeps only the pointer it was given.
struct SIMLATECALLS {
  HMODULE hModule;
  HANDLE hShared;
  SIMSHARED* pShared;
  const ASIOCallbacks* pCallbacks;
  int32_t bTimeInfo;
  uint32_t nFlags;
  double fRate;
  int64_t nPosition;
  int32_t nBufferSize, nCalls, nIndex;
  DWORD nPeriodMs;
  int64_t nFrequency;
};

DWORD WINAPI LateCallsThread(void* param) {
  SIMLATECALLS* late = (SIMLATECALLS*)param;
  HMODULE module = late->hModule;
  for (int32_t i = 0; i < late->nCalls; ++i) {
    Sleep(late->nPeriodMs);
    int64_t position = late->nPosition + (int64_t)i * late->nBufferSize;
    SendSwitch(late->pCallbacks, late->bTimeInfo, late->nFlags, late->fRate, position,
               TicksToNs(Qpc(), late->nFrequency), (late->nIndex + i) & 1);
    if (i == 0 && late->pCallbacks->asioMessage) late->pCallbacks->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    if (late->pShared) InterlockedIncrement64(&late->pShared->nLateCalls);
  }
  if (late->pShared) InterlockedDecrement(&late->pShared->nLateThreads);
  SIMSHARED_Close(late->hShared, late->pShared);
  free(late);
  // The reference taken for this thread keeps the code it runs loaded to the end.
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

// Names are 32 bytes; the LongNames lie fills all of them with no terminator.
void CopyName(char* dst, const char* src, int fill) {
  size_t n = strlen(src);
  if (!fill) {
    if (n > 31) n = 31;
    memcpy(dst, src, n);
    dst[n] = 0;
    return;
  }
  for (size_t i = 0; i < 32; ++i) dst[i] = i < n ? src[i] : (char)('A' + i % 26);
}

class SimDriver final : public IASIO {
 public:
  explicit SimDriver(REFCLSID clsid);
  ~SimDriver();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IASIO
  ASIOBool STDMETHODCALLTYPE init(void* sysHandle) override;
  void STDMETHODCALLTYPE getDriverName(char* name) override;
  int32_t STDMETHODCALLTYPE getDriverVersion() override;
  void STDMETHODCALLTYPE getErrorMessage(char* string) override;
  ASIOError STDMETHODCALLTYPE start() override;
  ASIOError STDMETHODCALLTYPE stop() override;
  ASIOError STDMETHODCALLTYPE getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
  ASIOError STDMETHODCALLTYPE getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
  ASIOError STDMETHODCALLTYPE getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                            int32_t* granularity) override;
  ASIOError STDMETHODCALLTYPE canSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError STDMETHODCALLTYPE getSampleRate(ASIOSampleRate* sampleRate) override;
  ASIOError STDMETHODCALLTYPE setSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError STDMETHODCALLTYPE getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
  ASIOError STDMETHODCALLTYPE setClockSource(int32_t reference) override;
  ASIOError STDMETHODCALLTYPE getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
  ASIOError STDMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) override;
  ASIOError STDMETHODCALLTYPE createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                            ASIOCallbacks* callbacks) override;
  ASIOError STDMETHODCALLTYPE disposeBuffers() override;
  ASIOError STDMETHODCALLTYPE controlPanel() override;
  ASIOError STDMETHODCALLTYPE future(int32_t selector, void* opt) override;
  ASIOError STDMETHODCALLTYPE outputReady() override;

 private:
  static DWORD WINAPI StreamThread(void* self);
  static DWORD WINAPI HelperThread(void* self);
  void StreamLoop();
  void HelperLoop();
  void ChooseWait();
  bool Pause(double ticks);
  int WaitUntil(double deadline);
  double JitterTicks();
  void Deliver(int64_t k);
  void FillInputs(int index);
  void ObserveOutputs(int index, int64_t switchNumber);
  void CallHost(int index, int64_t position, int64_t systemTimeNs);
  void Request(int32_t bits);
  void StartLateCalls();
  void Block();
  void ResetFromOutputReady();
  void Reenter();
  void RecordInterval(int64_t k, int64_t ticks);

  ASIOError Fail(ASIOError code, const char* format, ...);
  int FailRequested(int call);
  int RateSupported(double rate) const;
  int32_t ChannelCount(int isInput) const { return isInput ? profile_.nInputs : profile_.nOutputs; }
  int OnStreamThreads() const;
  void JoinThreads();
  void FreeBuffers();
  void WriteReport();
  int SourceChannel(int32_t output) const;

  LONG nRefs_;
  CLSID clsid_;
  SIMPROFILE profile_;
  int bInitialised_;
  char szError_[ASIO_ERRORMESSAGE_SIZE];
  int32_t nCalls_[SIMCALL_COUNT];
  Relaxed<double> fRate_;
  int64_t nFrequency_;

  // Buffers, from createBuffers to disposeBuffers.
  int bBuffers_;
  ASIOCallbacks callbacks_;              // the stream's copy
  const ASIOCallbacks* pHostCallbacks_;  // the host's record, which it keeps alive
  int32_t nBufferSize_;
  int32_t nChannels_;
  int32_t nInputRows_;
  SIMCHANNEL* pChannels_;
  uint8_t* pMemory_;
  double* pScratch_;
  float* pInCurrent_;   // inputs as the host receives them at this switch
  float* pInPrevious_;  // and at the one before
  int32_t nNullChannel_;  // channel whose second pointer the host was denied, -1 none
  SIMSIGNAL_OSC osc_[SIMPROFILE_MAX_CHANNELS];
  SIMSIGNAL_METER meters_[SIMPROFILE_MAX_CHANNELS];
  SIMSTATS stats_;
  Relaxed<int64_t> nOutputReadyCalls_;
  double fStreamRate_;
  uint32_t nRandom_;

  // The streaming thread's wait: its kind, and how long before a deadline it
  // stops sleeping and spins (learnt from how late its sleeps wake).
  int nWaitKind_;
  HANDLE hTimer_;
  DELAYEXECUTION pfnDelay_;
  double fSpinTicks_, fSpinStep_, fSpinMin_, fSpinMax_;

  // Streaming.
  HANDLE hThread_, hHelper_, hHelperEvent_;
  DWORD nThreadId_, nHelperId_;
  Relaxed<DWORD> nStartThreadId_;  // the host's thread while start makes switches, else 0
  Relaxed<int32_t> bRunning_, bStopRequest_, nHelperRequests_, nReenterIndex_;
  Relaxed<int32_t> nHostCallSeq_;  // odd while the streaming thread is inside the host
  Relaxed<int64_t> nPosition_, nTimeNs_;
  Relaxed<int64_t> nDelivered_;  // switches begun in this stream
  int64_t qpcLastSwitch_;        // when the last one began
  int64_t nBlockedSwitch_;       // the switch outputReady blocked in
  int bOutputReadyReset_;        // outputReady asked for its reset in this stream
  HANDLE hShared_;
  SIMSHARED* pShared_;
  LONG nStream_;  // this stream's number in the section, -1 none
  int64_t qpcPeriod_, qpcThresholds_[4];
};

SimDriver::SimDriver(REFCLSID clsid)
    : nRefs_(1),
      clsid_(clsid),
      bInitialised_(0),
      nFrequency_(QpcFrequency()),
      bBuffers_(0),
      pHostCallbacks_(nullptr),
      nBufferSize_(0),
      nChannels_(0),
      nInputRows_(0),
      pChannels_(nullptr),
      pMemory_(nullptr),
      pScratch_(nullptr),
      pInCurrent_(nullptr),
      pInPrevious_(nullptr),
      nNullChannel_(-1),
      fStreamRate_(0),
      nWaitKind_(WAIT_SLEEP),
      hTimer_(nullptr),
      pfnDelay_(nullptr),
      fSpinTicks_(0),
      fSpinStep_(0),
      fSpinMin_(0),
      fSpinMax_(0),
      hThread_(nullptr),
      hHelper_(nullptr),
      hHelperEvent_(nullptr),
      nThreadId_(0),
      nHelperId_(0) {
  SIMREG_LoadProfile(clsid, &profile_);
  strcpy(szError_, "No error");
  memset(nCalls_, 0, sizeof(nCalls_));
  memset(&callbacks_, 0, sizeof(callbacks_));
  memset(&stats_, 0, sizeof(stats_));
  fRate_ = profile_.fSampleRate;
  nOutputReadyCalls_ = 0;
  nRandom_ = profile_.nSeed ? profile_.nSeed : 1;
  bRunning_ = 0;
  bStopRequest_ = 0;
  nHostCallSeq_ = 0;
  nHelperRequests_ = 0;
  nReenterIndex_ = 0;
  nPosition_ = 0;
  nTimeNs_ = 0;
  nDelivered_ = 0;
  qpcLastSwitch_ = 0;
  nStartThreadId_ = 0;
  nBlockedSwitch_ = 0;
  bOutputReadyReset_ = 0;
  hShared_ = SIMSHARED_Open(clsid, &pShared_);
  nStream_ = -1;
  qpcPeriod_ = 0;
  memset(qpcThresholds_, 0, sizeof(qpcThresholds_));
  InterlockedIncrement(&g_nLiveObjects);
}

SimDriver::~SimDriver() {
  if (bBuffers_) disposeBuffers();
  JoinThreads();
  FreeBuffers();
  SIMSHARED_Close(hShared_, pShared_);
  InterlockedDecrement(&g_nLiveObjects);
}

HRESULT STDMETHODCALLTYPE SimDriver::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  // Hosts ask for the driver's own CLSID as the interface.
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, clsid_)) {
    *ppv = static_cast<IASIO*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE SimDriver::AddRef() { return (ULONG)InterlockedIncrement(&nRefs_); }

ULONG STDMETHODCALLTYPE SimDriver::Release() {
  LONG n = InterlockedDecrement(&nRefs_);
  if (n == 0) delete this;
  return (ULONG)n;
}

ASIOError SimDriver::Fail(ASIOError code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(szError_, sizeof(szError_), format, args);
  va_end(args);
  return code;
}

// Counts the call; 1 when the profile asks this occurrence to fail, with the
// error text already set.
int SimDriver::FailRequested(int call) {
  int32_t n = ++nCalls_[call];
  if (profile_.nFailCall != call || n != profile_.nFailOccurrence) return 0;
  Fail(ASE_HWMalfunction, "Simulated failure of %s (call %d)", SIMPROFILE_CallName(call), (int)n);
  return 1;
}

int SimDriver::RateSupported(double rate) const {
  if (rate == profile_.fSampleRate) return 1;
  for (int i = 0; i < profile_.nOtherRates && i < SIMPROFILE_MAX_RATES; ++i) {
    if (rate == profile_.fOtherRates[i]) return 1;
  }
  return 0;
}

int SimDriver::OnStreamThreads() const {
  DWORD self = GetCurrentThreadId();
  return (hThread_ && self == nThreadId_) || (hHelper_ && self == nHelperId_) || self == nStartThreadId_;
}

ASIOBool STDMETHODCALLTYPE SimDriver::init(void* sysHandle) {
  if (FailRequested(SIMCALL_INIT)) return ASIOFalse;
  bInitialised_ = 1;
  strcpy(szError_, "No error");
  return ASIOTrue;
}

void STDMETHODCALLTYPE SimDriver::getDriverName(char* name) {
  if (name) CopyName(name, profile_.szDriverName, profile_.bLongNames);
}

int32_t STDMETHODCALLTYPE SimDriver::getDriverVersion() { return profile_.nDriverVersion; }

void STDMETHODCALLTYPE SimDriver::getErrorMessage(char* string) {
  if (!string) return;
  size_t n = strlen(szError_);
  if (n >= ASIO_ERRORMESSAGE_SIZE) n = ASIO_ERRORMESSAGE_SIZE - 1;
  memcpy(string, szError_, n);
  string[n] = 0;
}

ASIOError STDMETHODCALLTYPE SimDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
  if (FailRequested(SIMCALL_GETCHANNELS)) return ASE_HWMalfunction;
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!numInputChannels || !numOutputChannels) return Fail(ASE_InvalidParameter, "getChannels: null pointer");
  *numInputChannels = profile_.nInputs;
  *numOutputChannels = profile_.nOutputs;
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
  if (FailRequested(SIMCALL_GETLATENCIES)) return ASE_HWMalfunction;
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!inputLatency || !outputLatency) return Fail(ASE_InvalidParameter, "getLatencies: null pointer");
  int32_t size = bBuffers_ ? nBufferSize_ : profile_.nPreferredBufferSize;
  *inputLatency = profile_.nInputLatency >= 0 ? profile_.nInputLatency : size;
  *outputLatency = profile_.nOutputLatency >= 0 ? profile_.nOutputLatency : 2 * size;
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                                     int32_t* granularity) {
  if (FailRequested(SIMCALL_GETBUFFERSIZE)) return ASE_HWMalfunction;
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!minSize || !maxSize || !preferredSize || !granularity)
    return Fail(ASE_InvalidParameter, "getBufferSize: null pointer");
  *minSize = profile_.nMinBufferSize;
  *maxSize = profile_.nMaxBufferSize;
  *preferredSize = profile_.nPreferredBufferSize;
  *granularity = profile_.nGranularity;
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::canSampleRate(ASIOSampleRate sampleRate) {
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!RateSupported(sampleRate)) return Fail(ASE_NoClock, "Sample rate %.1f Hz is not supported", sampleRate);
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::getSampleRate(ASIOSampleRate* sampleRate) {
  if (FailRequested(SIMCALL_GETSAMPLERATE)) return ASE_HWMalfunction;
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!sampleRate) return Fail(ASE_InvalidParameter, "getSampleRate: null pointer");
  *sampleRate = fRate_;
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::setSampleRate(ASIOSampleRate sampleRate) {
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!RateSupported(sampleRate)) return Fail(ASE_NoClock, "Sample rate %.1f Hz is not supported", sampleRate);
  if (bRunning_ && sampleRate != fRate_) return Fail(ASE_InvalidMode, "Stop the stream before changing the rate");
  fRate_ = sampleRate;
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!clocks || !numSources || *numSources < 1) return Fail(ASE_InvalidParameter, "getClockSources: no room");
  memset(&clocks[0], 0, sizeof(clocks[0]));
  clocks[0].index = 0;
  clocks[0].associatedChannel = -1;
  clocks[0].associatedGroup = -1;
  clocks[0].isCurrentSource = ASIOTrue;
  strcpy(clocks[0].name, "Internal");
  *numSources = 1;
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::setClockSource(int32_t reference) {
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (reference != 0) return Fail(ASE_InvalidParameter, "Clock source %d does not exist", (int)reference);
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!sPos || !tStamp) return Fail(ASE_InvalidParameter, "getSamplePosition: null pointer");
  if (!bRunning_) return Fail(ASE_SPNotAdvancing, "The stream is not running");
  uint64_t pos = (uint64_t)(int64_t)nPosition_, ns = (uint64_t)(int64_t)nTimeNs_;
  sPos->hi = (uint32_t)(pos >> 32);
  sPos->lo = (uint32_t)pos;
  tStamp->hi = (uint32_t)(ns >> 32);
  tStamp->lo = (uint32_t)ns;
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::getChannelInfo(ASIOChannelInfo* info) {
  if (FailRequested(SIMCALL_GETCHANNELINFO)) return ASE_HWMalfunction;
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!info) return Fail(ASE_InvalidParameter, "getChannelInfo: null pointer");
  int isInput = info->isInput != ASIOFalse;
  int32_t channel = info->channel;
  if (channel < 0 || channel >= ChannelCount(isInput))
    return Fail(ASE_InvalidParameter, "No %s channel %d (the driver has %d)", isInput ? "input" : "output",
                (int)channel, (int)ChannelCount(isInput));
  char name[SIMPROFILE_TEXT_SIZE + 16];
  if (profile_.bControlNames)  // a host that shows or logs them raw breaks its lines and colours
    snprintf(name, sizeof(name), isInput ? "In\r\n%d\x1b[31m\x7f" : "Out\r\n%d\x1b[0m\t\b\x7f", (int)channel + 1);
  else
    snprintf(name, sizeof(name), "%s %d", isInput ? profile_.szInputName : profile_.szOutputName, (int)channel + 1);
  info->isActive = ASIOFalse;
  for (int32_t i = 0; i < nChannels_; ++i) {
    if (pChannels_[i].bIsInput == isInput && pChannels_[i].nChannel == channel) info->isActive = ASIOTrue;
  }
  info->channelGroup = 0;
  info->type = isInput ? profile_.nInputType : profile_.nOutputType;
  CopyName(info->name, name, profile_.bLongNames);
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                                     int32_t bufferSize, ASIOCallbacks* callbacks) {
  if (FailRequested(SIMCALL_CREATEBUFFERS)) return ASE_HWMalfunction;
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (bBuffers_) return Fail(ASE_InvalidMode, "Buffers already exist: dispose them first");
  if (!bufferInfos || !callbacks) return Fail(ASE_InvalidParameter, "createBuffers: null pointer");
  if (numChannels < 1 || numChannels > profile_.nInputs + profile_.nOutputs)
    return Fail(ASE_InvalidParameter, "createBuffers: %d channels requested", (int)numChannels);
  if (!SIMPROFILE_BufferSizeValid(&profile_, bufferSize))
    return Fail(ASE_InvalidMode, "Buffer size %d not supported (%d..%d, granularity %d)", (int)bufferSize,
                (int)profile_.nMinBufferSize, (int)profile_.nMaxBufferSize, (int)profile_.nGranularity);

  uint8_t seen[2][SIMPROFILE_MAX_CHANNELS];
  memset(seen, 0, sizeof(seen));
  size_t bytes = 0;
  int32_t inputs = 0;
  for (int32_t i = 0; i < numChannels; ++i) {
    int isInput = bufferInfos[i].isInput != ASIOFalse;
    int32_t channel = bufferInfos[i].channelNum;
    if (channel < 0 || channel >= ChannelCount(isInput))
      return Fail(ASE_InvalidParameter, "No %s channel %d (the driver has %d)", isInput ? "input" : "output",
                  (int)channel, (int)ChannelCount(isInput));
    if (seen[isInput][channel]) return Fail(ASE_InvalidParameter, "Channel %d requested twice", (int)channel);
    seen[isInput][channel] = 1;
    int32_t type = isInput ? profile_.nInputType : profile_.nOutputType;
    size_t half = ((size_t)bufferSize * (size_t)SIMSIGNAL_BytesPerSample(type) + 15) & ~(size_t)15;
    bytes += 2 * half;
    inputs += isInput;
  }
  // Sizes are bounded (300 + 300 channels, 8 bytes, 2^31 samples) so size_t
  // arithmetic on x64 cannot overflow; the allocation may still fail.
  pChannels_ = (SIMCHANNEL*)calloc((size_t)numChannels, sizeof(SIMCHANNEL));
  pMemory_ = (uint8_t*)calloc(bytes, 1);
  pScratch_ = (double*)calloc((size_t)bufferSize, sizeof(double));
  size_t rowsBytes = (size_t)(inputs ? inputs : 1) * (size_t)bufferSize * sizeof(float);
  pInCurrent_ = (float*)calloc(rowsBytes, 1);
  pInPrevious_ = (float*)calloc(rowsBytes, 1);
  if (!pChannels_ || !pMemory_ || !pScratch_ || !pInCurrent_ || !pInPrevious_) {
    FreeBuffers();
    return Fail(ASE_NoMemory, "Out of memory for %d channels of %d samples", (int)numChannels, (int)bufferSize);
  }

  uint8_t* p = pMemory_;
  int32_t row = 0;
  for (int32_t i = 0; i < numChannels; ++i) {
    SIMCHANNEL* c = &pChannels_[i];
    c->bIsInput = bufferInfos[i].isInput != ASIOFalse;
    c->nChannel = bufferInfos[i].channelNum;
    c->nType = c->bIsInput ? profile_.nInputType : profile_.nOutputType;
    c->nRow = c->bIsInput ? row++ : -1;
    size_t half = ((size_t)bufferSize * (size_t)SIMSIGNAL_BytesPerSample(c->nType) + 15) & ~(size_t)15;
    c->pBuffers[0] = p;
    c->pBuffers[1] = p + half;
    p += 2 * half;
    bufferInfos[i].buffers[0] = c->pBuffers[0];
    bufferInfos[i].buffers[1] = c->pBuffers[1];
  }
  nNullChannel_ = -1;
  if (profile_.bNullBuffer) {
    // The lie: success, but the host gets no second half of the last channel.
    nNullChannel_ = numChannels - 1;
    bufferInfos[nNullChannel_].buffers[1] = nullptr;
  }
  callbacks_ = *callbacks;
  pHostCallbacks_ = callbacks;
  nBufferSize_ = bufferSize;
  nChannels_ = numChannels;
  nInputRows_ = inputs;
  memset(&stats_, 0, sizeof(stats_));
  for (int i = 0; i < SIMPROFILE_MAX_CHANNELS; ++i) SIMSIGNAL_MeterReset(&meters_[i]);
  nOutputReadyCalls_ = 0;
  fStreamRate_ = fRate_;
  bBuffers_ = 1;
  return ASE_OK;
}

void SimDriver::FreeBuffers() {
  free(pChannels_);
  free(pMemory_);
  free(pScratch_);
  free(pInCurrent_);
  free(pInPrevious_);
  pChannels_ = nullptr;
  pMemory_ = nullptr;
  pScratch_ = nullptr;
  pInCurrent_ = nullptr;
  pInPrevious_ = nullptr;
  nChannels_ = 0;
  nInputRows_ = 0;
  bBuffers_ = 0;
}

ASIOError STDMETHODCALLTYPE SimDriver::disposeBuffers() {
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!bBuffers_) return Fail(ASE_InvalidMode, "No buffers to dispose");
  if (OnStreamThreads()) return Fail(ASE_InvalidMode, "disposeBuffers called from the driver's own callback");
  stop();
  JoinThreads();  // a stop that did not wait still has its thread
  WriteReport();
  FreeBuffers();
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::controlPanel() {
  return Fail(ASE_NotPresent, "No control panel: edit the values of the profile's registry key");
}

ASIOError STDMETHODCALLTYPE SimDriver::future(int32_t selector, void* opt) {
  return Fail(ASE_InvalidParameter, "future(%d) is not supported", (int)selector);
}

ASIOError STDMETHODCALLTYPE SimDriver::outputReady() {
  if (OnStreamThreads()) {
    nOutputReadyCalls_.FetchAdd(1);  // probes outside the stream are not counted
    if (profile_.nBlockUs > 0 && GetCurrentThreadId() == nThreadId_ && nDelivered_ == profile_.nBlockAt &&
        nBlockedSwitch_ != nDelivered_)
      Block();
    if (profile_.nResetInOutputReady > 0 && GetCurrentThreadId() == nThreadId_ &&
        nDelivered_ == profile_.nResetInOutputReady && !bOutputReadyReset_)
      ResetFromOutputReady();
  }
  return profile_.bOutputReady ? ASE_OK : ASE_NotPresent;
}

ASIOError STDMETHODCALLTYPE SimDriver::start() {
  if (FailRequested(SIMCALL_START)) return ASE_HWMalfunction;
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  if (!bBuffers_) return Fail(ASE_NotPresent, "start before createBuffers");
  if (bRunning_) return ASE_OK;
  if (OnStreamThreads()) return Fail(ASE_InvalidMode, "start called from the driver's own callback");
  JoinThreads();  // the thread of a stop that returned at once
  double rate = fRate_;
  if (!(rate >= 1000.0 && rate <= 10000000.0)) return Fail(ASE_NoClock, "No clock at %g Hz", rate);
  fStreamRate_ = rate;
  for (int32_t i = 0; i < nChannels_; ++i) {
    if (pChannels_[i].bIsInput) SIMSIGNAL_InitInput(&osc_[pChannels_[i].nChannel], pChannels_[i].nChannel, rate);
  }
  bStopRequest_ = 0;
  nHostCallSeq_ = 0;
  nHelperRequests_ = 0;
  nDelivered_ = 0;
  nBlockedSwitch_ = 0;
  bOutputReadyReset_ = 0;
  // The program's own arithmetic: whole ticks for the period, truncated
  // fractions of the exact buffer duration for the thresholds.
  const double bufferTicks = (double)nFrequency_ * (double)nBufferSize_ / rate;
  qpcPeriod_ = (int64_t)nBufferSize_ * nFrequency_ / (int64_t)rate;
  const double fractions[4] = {0.1, 0.2, 0.5, 1.0};
  for (int i = 0; i < 4; ++i) qpcThresholds_[i] = (int64_t)(bufferTicks * fractions[i]);
  nPosition_ = 0;
  nTimeNs_ = TicksToNs(Qpc(), nFrequency_);
  hHelperEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (hHelperEvent_) hHelper_ = CreateThread(nullptr, 0, HelperThread, this, 0, &nHelperId_);
  if (hHelper_) hThread_ = CreateThread(nullptr, 0, StreamThread, this, CREATE_SUSPENDED, &nThreadId_);
  if (!hThread_) {
    bStopRequest_ = 1;
    JoinThreads();
    return Fail(ASE_HWMalfunction, "Cannot create the streaming thread");
  }
  SetThreadPriority(hThread_, profile_.nThreadPriority);
  nStream_ = pShared_ ? InterlockedIncrement(&pShared_->nStreams) - 1 : -1;
  bRunning_ = 1;
  // The fault of drivers that make the first switches inside start, on the
  // host's thread; the streaming thread goes on from there. A stop from
  // inside one of them ends the stream here.
  nStartThreadId_ = GetCurrentThreadId();
  for (int64_t k = 0; k < profile_.nSwitchesInStart && !bStopRequest_; ++k) Deliver(k);
  nStartThreadId_ = 0;
  ResumeThread(hThread_);
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE SimDriver::stop() {
  if (!bInitialised_) return Fail(ASE_NotPresent, "Driver is not initialised");
  int wasRunning = bRunning_;
  // Only the host's stop writes this count; the report reads it after the join.
  if (wasRunning) stats_.nSwitchesBeforeStop += nDelivered_;
  bRunning_ = 0;
  if (!hThread_) return ASE_OK;
  bStopRequest_ = 1;
  if (hHelperEvent_) SetEvent(hHelperEvent_);
  // A thread cannot wait for itself; the one that did not wait is the lie.
  if (!OnStreamThreads() && !profile_.bStopNoWait) JoinThreads();
  // The fault of drivers that ask for a reset while the host stops them: the
  // request arrives inside the host's own call.
  if (wasRunning && profile_.bResetInStop && pHostCallbacks_->asioMessage) {
    pHostCallbacks_->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    stats_.nStopResets++;
  }
  if (wasRunning) StartLateCalls();
  return ASE_OK;
}

// The fault of drivers whose thread winds down on its own: a few more
// switches and a reset request, one period apart, from a thread of the
// driver's that outlives stop, disposeBuffers and Release.
void SimDriver::StartLateCalls() {
  if (profile_.nLateCalls <= 0) return;
  SIMLATECALLS* late = (SIMLATECALLS*)calloc(1, sizeof(SIMLATECALLS));
  if (!late) return;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCWSTR)(void*)&LateCallsThread,
                          &late->hModule)) {
    free(late);
    return;
  }
  late->hShared = SIMSHARED_Open(clsid_, &late->pShared);
  late->pCallbacks = pHostCallbacks_;
  late->bTimeInfo = profile_.bTimeInfo;
  late->nFlags = profile_.nTimeInfoFlags;
  late->fRate = fRate_;
  late->nBufferSize = nBufferSize_;
  late->nPosition = (int64_t)nDelivered_ * nBufferSize_;
  late->nIndex = (int32_t)(nDelivered_ & 1);
  late->nCalls = profile_.nLateCalls;
  double ms = fStreamRate_ > 0 ? 1000.0 * nBufferSize_ / fStreamRate_ : 1.0;
  late->nPeriodMs = ms >= 1.0 ? (DWORD)ms : 1;
  late->nFrequency = nFrequency_;
  if (late->pShared) InterlockedIncrement(&late->pShared->nLateThreads);
  HANDLE thread = CreateThread(nullptr, 0, LateCallsThread, late, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
    return;
  }
  if (late->pShared) InterlockedDecrement(&late->pShared->nLateThreads);
  SIMSHARED_Close(late->hShared, late->pShared);
  FreeLibrary(late->hModule);
  free(late);
}

// The fault of a driver that blocks inside the host's switch: the host's
// outputReady does not return for BlockUs.
void SimDriver::Block() {
  nBlockedSwitch_ = nDelivered_;
  const int64_t end = Qpc() + (int64_t)profile_.nBlockUs * nFrequency_ / 1000000;
  for (int64_t now = Qpc(); now < end; now = Qpc()) Sleep((DWORD)((end - now) * 1000 / nFrequency_) + 1);
  stats_.nBlocks++;
}

// The fault of a driver that asks for a reset from inside the host's switch;
// how long the host takes to answer shows whether it acts on it there.
void SimDriver::ResetFromOutputReady() {
  bOutputReadyReset_ = 1;
  if (!pHostCallbacks_->asioMessage) return;
  const int64_t begin = Qpc();
  stats_.nOutputReadyResetAnswer = pHostCallbacks_->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
  stats_.fOutputReadyResetUs = (double)(Qpc() - begin) * 1e6 / (double)nFrequency_;
  stats_.nOutputReadyResets++;
}

void SimDriver::JoinThreads() {
  if (OnStreamThreads()) return;
  if (hThread_ || hHelper_) {
    bStopRequest_ = 1;
    if (hHelperEvent_) SetEvent(hHelperEvent_);
  }
  if (hThread_) {
    WaitForSingleObject(hThread_, INFINITE);
    CloseHandle(hThread_);
    hThread_ = nullptr;
    nThreadId_ = 0;
  }
  if (hHelper_) {
    WaitForSingleObject(hHelper_, INFINITE);
    CloseHandle(hHelper_);
    hHelper_ = nullptr;
    nHelperId_ = 0;
  }
  if (hHelperEvent_) {
    CloseHandle(hHelperEvent_);
    hHelperEvent_ = nullptr;
  }
}

DWORD WINAPI SimDriver::StreamThread(void* self) {
  static_cast<SimDriver*>(self)->StreamLoop();
  return 0;
}

DWORD WINAPI SimDriver::HelperThread(void* self) {
  static_cast<SimDriver*>(self)->HelperLoop();
  return 0;
}

// false when the wait was too short for the kind and it only yielded.
bool SimDriver::Pause(double ticks) {
  LARGE_INTEGER due;
  due.QuadPart = -(LONGLONG)(ticks * 1e7 / (double)nFrequency_);  // relative, in 100 ns
  if (nWaitKind_ == WAIT_TIMER && SetWaitableTimer(hTimer_, &due, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(hTimer_, (DWORD)(-due.QuadPart / 10000) + 100);
    return true;
  }
  if (nWaitKind_ == WAIT_DELAY) {
    pfnDelay_(FALSE, &due);
    return true;
  }
  DWORD ms = (DWORD)(-due.QuadPart / 10000);
  if (ms == 0) {
    SwitchToThread();
    return false;
  }
  Sleep(ms);
  return true;
}

// Times a short sleep of each kind the system offers and keeps the one that
// overshoots least: a timer may exist and still wake only on whole
// milliseconds. The spin before each deadline starts at twice that overshoot.
void SimDriver::ChooseWait() {
  hTimer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  pfnDelay_ = (DELAYEXECUTION)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDelayExecution");
  const double request = (double)nFrequency_ / 4000.0;  // 250 us
  double best = 0;
  int bestKind = WAIT_SLEEP;
  for (int kind = 0; kind < WAIT_KINDS; ++kind) {
    if ((kind == WAIT_TIMER && !hTimer_) || (kind == WAIT_DELAY && !pfnDelay_)) continue;
    nWaitKind_ = kind;
    // The median of a few: a coarse timer now and then fires early, a busy
    // machine now and then wakes a fine one late.
    double over[5];
    for (double& o : over) {
      int64_t start = Qpc();
      Pause(kind == WAIT_SLEEP ? (double)nFrequency_ / 1000.0 : request);  // Sleep's least is 1 ms
      o = (double)(Qpc() - start) - request;
    }
    std::sort(over, over + 5);
    if (kind == WAIT_SLEEP || over[2] < best) {
      best = over[2];
      bestKind = kind;
    }
  }
  nWaitKind_ = bestKind;
  const double period = (double)nBufferSize_ * (double)nFrequency_ / fStreamRate_;
  fSpinMin_ = (double)nFrequency_ / 50000.0;  // 20 us
  // 500 us, or what a coarse wait needs: the spin costs the host CPU.
  fSpinMax_ = std::min(period / 2, std::max((double)nFrequency_ / 2000.0, 1.5 * best));
  fSpinStep_ = (double)nFrequency_ / 100000.0;  // 10 us
  fSpinTicks_ = std::min(fSpinMax_, std::max(fSpinMin_, 2 * best));
}

// Sleeps to shortly before the deadline, then spins to it. 0 when a stop was
// requested meanwhile.
int SimDriver::WaitUntil(double deadline) {
  const double longest = (double)nFrequency_ / 50.0;  // a long stall still sees a stop within 20 ms
  for (;;) {
    if (bStopRequest_) return 0;
    double now = (double)Qpc();
    double remaining = deadline - now;
    if (remaining <= 0) return 1;
    double sleep = remaining - fSpinTicks_;
    if (sleep <= 0) {
      YieldProcessor();
      continue;
    }
    if (sleep > longest) sleep = longest;
    if (!Pause(sleep)) continue;
    // The spin settles where about one sleep in ten wakes later than it:
    // regular wakes without spinning through whole buffers.
    double late = (double)Qpc() - (now + sleep);
    if (late > fSpinTicks_)
      fSpinTicks_ = std::min(fSpinMax_, fSpinTicks_ + fSpinStep_);
    else
      fSpinTicks_ = std::max(fSpinMin_, fSpinTicks_ - fSpinStep_ / 9);
  }
}

double SimDriver::JitterTicks() {
  uint32_t x = nRandom_;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  nRandom_ = x;
  double unit = (double)x / 4294967295.0 * 2.0 - 1.0;  // -1 .. 1
  return unit * profile_.nJitterUs * (double)nFrequency_ / 1e6;
}

// Interval `ticks` ends at switch k (from 0). The histogram holds the
// intervals a host like the program measures: it ignores the first two
// switches and times from the third, so its first interval ends at the fourth.
void SimDriver::RecordInterval(int64_t k, int64_t ticks) {
  if (k >= 3) {
    for (int i = 0; i < 4; ++i)
      stats_.nTimingErrors[i] += ticks < qpcPeriod_ - qpcThresholds_[i] || ticks > qpcPeriod_ + qpcThresholds_[i];
    stats_.nTimingIntervals++;
  }
  double t = (double)ticks;
  if (stats_.nIntervals == 0 || t < stats_.fIntervalMin) stats_.fIntervalMin = t;
  if (t > stats_.fIntervalMax) stats_.fIntervalMax = t;
  stats_.fIntervalSum += t;
  stats_.nIntervals++;
  if (t > 1.5 * (double)nBufferSize_ * (double)nFrequency_ / fStreamRate_) stats_.nLateIntervals++;
}

void SimDriver::StreamLoop() {
  timeBeginPeriod(1);
  ChooseWait();
  const double period = (double)nBufferSize_ * (double)nFrequency_ / fStreamRate_;
  const double t0 = (double)Qpc();
  const int64_t first = nDelivered_;  // those start made itself
  for (int64_t k = first;; ++k) {
    // Absolute deadlines: a late buffer does not shift the ones after it.
    double deadline = t0 + (double)(k - first + 1) * period;
    if (profile_.nJitterUs > 0) deadline += JitterTicks();
    if (!WaitUntil(deadline)) break;
    if (profile_.nStallEvery > 0 && profile_.nStallUs > 0 && (k + 1) % profile_.nStallEvery == 0) {
      if (!WaitUntil((double)Qpc() + profile_.nStallUs * (double)nFrequency_ / 1e6)) break;
      stats_.nStalls++;
    }
    Deliver(k);
  }
  if (hTimer_) CloseHandle(hTimer_);
  hTimer_ = nullptr;
  timeEndPeriod(1);
}

// Switch k of the stream (from 0): from the streaming thread, or from start
// for the first ones.
void SimDriver::Deliver(int64_t k) {
  int index = (int)(k & 1);
  FillInputs(index);
  int64_t now = Qpc();
  if (k > 0) RecordInterval(k, now - qpcLastSwitch_);
  qpcLastSwitch_ = now;
  int64_t ns = TicksToNs(now, nFrequency_);
  nPosition_ = k * nBufferSize_;
  nTimeNs_ = ns;
  if (profile_.nReentranceAfter > 0 && k == profile_.nReentranceAfter) {
    nReenterIndex_ = 1 - index;
    Request(HELPER_REENTER);
  }
  nDelivered_ = k + 1;
  if (pShared_) {
    InterlockedIncrement64(&pShared_->nSwitches);
    if (nStream_ >= 0 && nStream_ < SIMSHARED_MAX_STREAMS) InterlockedIncrement64(&pShared_->nStreamSwitches[nStream_]);
  }
  CallHost(index, k * nBufferSize_, ns);
  stats_.nSwitches++;
  ObserveOutputs(index, k);
  float* t = pInPrevious_;
  pInPrevious_ = pInCurrent_;
  pInCurrent_ = t;
  int64_t done = k + 1;
  if (done == profile_.nResetAfter) Request(HELPER_RESET);
  if (done == profile_.nResyncAfter) Request(HELPER_RESYNC);
  if (done == profile_.nRateChangeAfter) Request(HELPER_RATE);
}

void SimDriver::FillInputs(int index) {
  const int32_t n = nBufferSize_;
  for (int32_t i = 0; i < nChannels_; ++i) {
    SIMCHANNEL* c = &pChannels_[i];
    if (!c->bIsInput) continue;
    SIMSIGNAL_Generate(&osc_[c->nChannel], pScratch_, n);
    // Round-trip through the channel's format: the copy is what the host reads.
    SIMSIGNAL_Encode(c->nType, pScratch_, c->pBuffers[index], n);
    SIMSIGNAL_Decode(c->nType, c->pBuffers[index], pScratch_, n);
    float* row = pInCurrent_ + (size_t)c->nRow * (size_t)n;
    for (int32_t s = 0; s < n; ++s) row[s] = (float)pScratch_[s];
  }
}

void SimDriver::ObserveOutputs(int index, int64_t switchNumber) {
  const int32_t n = nBufferSize_;
  for (int32_t i = 0; i < nChannels_; ++i) {
    SIMCHANNEL* c = &pChannels_[i];
    if (c->bIsInput || !SIMSIGNAL_IsPcm(c->nType)) continue;
    SIMSIGNAL_METER* meter = &meters_[c->nChannel];
    SIMSIGNAL_Decode(c->nType, c->pBuffers[index], pScratch_, n);
    SIMSIGNAL_MeterAdd(meter, pScratch_, n);
    if (switchNumber > 0 && nInputRows_ > 0) {
      int32_t row = c->nChannel % nInputRows_;
      SIMSIGNAL_MeterCompare(meter, pScratch_, pInPrevious_ + (size_t)row * (size_t)n, n);
    }
  }
}

void SimDriver::CallHost(int index, int64_t position, int64_t systemTimeNs) {
  nHostCallSeq_ = nHostCallSeq_ + 1;
  SendSwitch(&callbacks_, profile_.bTimeInfo, profile_.nTimeInfoFlags, fRate_, position, systemTimeNs, index);
  nHostCallSeq_ = nHostCallSeq_ + 1;
}

void SimDriver::Request(int32_t bits) {
  nHelperRequests_.FetchAdd(bits);
  SetEvent(hHelperEvent_);
}

// The second callback must overlap one in progress: wait (bounded) until the
// streaming thread is inside the host and call the host from here. A call
// that missed it (this thread was late) is retried a few times.
void SimDriver::Reenter() {
  for (int attempt = 0; attempt < 10 && !bStopRequest_; ++attempt) {
    int64_t limit = Qpc() + nFrequency_ / 5;
    while (!(nHostCallSeq_ & 1) && !bStopRequest_ && Qpc() < limit) SwitchToThread();
    if (bStopRequest_) return;
    int32_t before = nHostCallSeq_;
    SendSwitch(&callbacks_, profile_.bTimeInfo, profile_.nTimeInfoFlags, fRate_, nPosition_ + nBufferSize_,
               TicksToNs(Qpc(), nFrequency_), nReenterIndex_);
    int32_t after = nHostCallSeq_;
    stats_.nReentrances++;
    // Overlapped when the streaming call was running at our entry or began before our return.
    if ((before & 1) || after != before) {
      stats_.nReentranceOverlaps++;
      return;
    }
  }
}

// Requests to the host go out from this thread, as real drivers send them
// from their own service threads rather than from the audio callback.
void SimDriver::HelperLoop() {
  for (;;) {
    WaitForSingleObject(hHelperEvent_, INFINITE);
    if (bStopRequest_) return;
    int32_t bits = nHelperRequests_.Exchange(0);
    if ((bits & HELPER_REENTER)) Reenter();
    if ((bits & HELPER_RESET) && callbacks_.asioMessage) {
      stats_.nResetAnswer = callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
      stats_.nResets++;
    }
    if ((bits & HELPER_RESYNC) && callbacks_.asioMessage) {
      stats_.nResyncAnswer = callbacks_.asioMessage(kAsioResyncRequest, 0, nullptr, nullptr);
      stats_.nResyncs++;
    }
    if ((bits & HELPER_RATE) && callbacks_.sampleRateDidChange) {
      fRate_ = profile_.fRateChangeTo;
      callbacks_.sampleRateDidChange(profile_.fRateChangeTo);
      stats_.nRateChanges++;
    }
  }
}

// The input channel an output's pass-through copies: input row c mod rows.
int SimDriver::SourceChannel(int32_t output) const {
  if (nInputRows_ <= 0) return -1;
  for (int32_t i = 0; i < nChannels_; ++i) {
    if (pChannels_[i].bIsInput && pChannels_[i].nRow == output % nInputRows_) return (int)pChannels_[i].nChannel;
  }
  return -1;
}

void SimDriver::WriteReport() {
  char path[SIMPROFILE_PATH_SIZE * 2];
  if (!profile_.szReportFile[0]) return;
  DWORD n = ExpandEnvironmentStringsA(profile_.szReportFile, path, sizeof(path));
  if (n == 0 || n > sizeof(path)) return;
  FILE* f = fopen(path, "w");
  if (!f) return;
  const double usPerTick = 1e6 / (double)nFrequency_;
  const char* inName = SIMSIGNAL_TypeName(profile_.nInputType);
  const char* outName = SIMSIGNAL_TypeName(profile_.nOutputType);
  int32_t inputs = nInputRows_, outputs = nChannels_ - nInputRows_;
  fprintf(f, "driver=%s\n", profile_.szDriverName);
  fprintf(f, "sample_rate=%.3f\n", fStreamRate_);
  fprintf(f, "buffer_size=%d\n", (int)nBufferSize_);
  fprintf(f, "inputs=%d\noutputs=%d\n", (int)inputs, (int)outputs);
  fprintf(f, "input_type=%d\ninput_type_name=%s\n", (int)profile_.nInputType, inName ? inName : "unknown");
  fprintf(f, "output_type=%d\noutput_type_name=%s\n", (int)profile_.nOutputType, outName ? outName : "unknown");
  fprintf(f, "time_info=%d\n", (int)(profile_.bTimeInfo && callbacks_.bufferSwitchTimeInfo));
  fprintf(f, "switches=%lld\n", (long long)stats_.nSwitches);
  fprintf(f, "switches_before_stop=%lld\n", (long long)stats_.nSwitchesBeforeStop);
  fprintf(f, "output_ready_calls=%lld\n", (long long)(int64_t)nOutputReadyCalls_);
  fprintf(f, "period_us=%.3f\n", fStreamRate_ > 0 ? 1e6 * nBufferSize_ / fStreamRate_ : 0.0);
  fprintf(f, "interval_count=%lld\n", (long long)stats_.nIntervals);
  double mean = stats_.nIntervals ? stats_.fIntervalSum / (double)stats_.nIntervals : 0.0;
  fprintf(f, "interval_mean_us=%.3f\n", mean * usPerTick);
  fprintf(f, "interval_min_us=%.3f\n", stats_.fIntervalMin * usPerTick);
  fprintf(f, "interval_max_us=%.3f\n", stats_.fIntervalMax * usPerTick);
  fprintf(f, "late_intervals=%lld\n", (long long)stats_.nLateIntervals);
  fprintf(f, "timing_error_intervals=%lld\n", (long long)stats_.nTimingIntervals);
  fprintf(f, "timing_error_10=%lld\ntiming_error_20=%lld\ntiming_error_50=%lld\ntiming_error_100=%lld\n",
          (long long)stats_.nTimingErrors[0], (long long)stats_.nTimingErrors[1], (long long)stats_.nTimingErrors[2],
          (long long)stats_.nTimingErrors[3]);
  static const char* const kWaitNames[WAIT_KINDS] = {"sleep", "timer", "delay"};
  fprintf(f, "wait=%s\nspin_us=%.1f\n", kWaitNames[nWaitKind_], fSpinTicks_ * usPerTick);
  fprintf(f, "jitter_us=%d\n", (int)profile_.nJitterUs);
  fprintf(f, "stalls=%lld\n", (long long)stats_.nStalls);
  fprintf(f, "blocks=%lld\n", (long long)stats_.nBlocks);
  fprintf(f, "reset_requests=%lld\nreset_answer=%d\n",
          (long long)(stats_.nResets + stats_.nStopResets + stats_.nOutputReadyResets), (int)stats_.nResetAnswer);
  if (stats_.nOutputReadyResets)
    fprintf(f, "reset_in_output_ready_us=%.1f\nreset_in_output_ready_answer=%d\n", stats_.fOutputReadyResetUs,
            (int)stats_.nOutputReadyResetAnswer);
  fprintf(f, "resync_requests=%lld\nresync_answer=%d\n", (long long)stats_.nResyncs, (int)stats_.nResyncAnswer);
  fprintf(f, "rate_changes=%lld\n", (long long)stats_.nRateChanges);
  fprintf(f, "reentrant_calls=%lld\nreentrant_overlaps=%lld\n", (long long)stats_.nReentrances,
          (long long)stats_.nReentranceOverlaps);
  fprintf(f, "null_buffer_channel=%d\n", (int)nNullChannel_);
  for (int32_t i = 0; i < nChannels_; ++i) {
    const SIMCHANNEL* c = &pChannels_[i];
    if (c->bIsInput) continue;
    const SIMSIGNAL_METER* m = &meters_[c->nChannel];
    int ch = (int)c->nChannel;
    fprintf(f, "out%d.readable=%d\n", ch, SIMSIGNAL_IsPcm(c->nType));
    fprintf(f, "out%d.peak=%.6f\n", ch, m->fPeak);
    fprintf(f, "out%d.rms=%.6f\n", ch, SIMSIGNAL_MeterRms(m));
    fprintf(f, "out%d.frequency=%.3f\n", ch, SIMSIGNAL_MeterFrequency(m, fStreamRate_));
    fprintf(f, "out%d.buffers=%lld\n", ch, (long long)m->nBuffers);
    fprintf(f, "out%d.silent_buffers=%lld\n", ch, (long long)m->nSilentBuffers);
    fprintf(f, "out%d.passthrough=%d\n", ch, SIMSIGNAL_MeterPassThrough(m));
    fprintf(f, "out%d.passthrough_source=%d\n", ch, SourceChannel(ch));
    fprintf(f, "out%d.passthrough_matched=%lld\n", ch, (long long)m->nMatchedBuffers);
    fprintf(f, "out%d.passthrough_compared=%lld\n", ch, (long long)m->nComparedBuffers);
  }
  fclose(f);
}

}  // namespace

IASIO* SIMDRIVER_Create(REFCLSID clsid) { return new (std::nothrow) SimDriver(clsid); }

LONG SIMDRIVER_LiveObjects(void) { return InterlockedCompareExchange(&g_nLiveObjects, 0, 0); }
