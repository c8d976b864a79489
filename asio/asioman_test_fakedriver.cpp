#include "asio/asioman_test_fakedriver.h"

#include <string.h>

#include <chrono>

FakeAsio::FakeAsio(const FAKESCRIPT& s) : script(s) {}

FakeAsio::~FakeAsio() { StopStreamThread(); }

void FakeAsio::Log(const char* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(bReleased ? std::string("after-release:") + name : std::string(name));
}

std::vector<std::string> FakeAsio::Calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

int FakeAsio::CountCalls(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const std::string& c : calls_) n += c == name;
  return n;
}

HRESULT STDMETHODCALLTYPE FakeAsio::QueryInterface(REFIID riid, void** ppv) {
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, CLSID_FakeAsio)) {
    *ppv = static_cast<IASIO*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = NULL;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE FakeAsio::AddRef() { return ++nRefs; }

ULONG STDMETHODCALLTYPE FakeAsio::Release() {
  Log("Release");
  int n = --nRefs;
  if (n == 0) bReleased = true;  // kept alive for inspection; FAKEREGISTRY_End deletes it
  return n;
}

ASIOBool STDMETHODCALLTYPE FakeAsio::init(void*) {
  Log("init");
  return script.nInit;
}

void STDMETHODCALLTYPE FakeAsio::getDriverName(char* name) {
  Log("getDriverName");
  // Longer than the 32 bytes the host must expect: the host has to cope.
  strcpy(name, "Fake driver with a name that runs past thirty-two characters");
}

int32_t STDMETHODCALLTYPE FakeAsio::getDriverVersion() {
  Log("getDriverVersion");
  return 7;
}

void STDMETHODCALLTYPE FakeAsio::getErrorMessage(char* string) {
  Log("getErrorMessage");
  strcpy(string, script.szError);
}

ASIOError STDMETHODCALLTYPE FakeAsio::start() {
  Log("start");
  if (script.errStart == ASE_OK && script.nStreamPeriodMs > 0) {
    StopStreamThread();
    bStreaming_ = true;
    thread_ = std::thread(&FakeAsio::StreamThread, this);
  }
  return script.errStart;
}

// Returns at once, as some drivers do: a switch may still be running.
ASIOError STDMETHODCALLTYPE FakeAsio::stop() {
  Log("stop");
  bStreaming_ = false;
  return script.errStop;
}

void FakeAsio::StopStreamThread() {
  bStreaming_ = false;
  if (thread_.joinable()) thread_.join();
}

void FakeAsio::StreamThread() {
  int32_t nHalf = 0;
  while (bStreaming_) {
    ASIOTime time = {};
    time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
    time.timeInfo.samplePosition.lo = 1;
    if (callbacks.bufferSwitchTimeInfo) callbacks.bufferSwitchTimeInfo(&time, nHalf, ASIOTrue);
    nHalf ^= 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(script.nStreamPeriodMs));
  }
}

ASIOError STDMETHODCALLTYPE FakeAsio::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
  Log("getChannels");
  *numInputChannels = script.nInputs;
  *numOutputChannels = script.nOutputs;
  return script.errChannels;
}

ASIOError STDMETHODCALLTYPE FakeAsio::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
  Log("getLatencies");
  *inputLatency = script.nInputLatency;
  *outputLatency = script.nOutputLatency;
  return script.errLatencies;
}

ASIOError STDMETHODCALLTYPE FakeAsio::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                                    int32_t* granularity) {
  Log("getBufferSize");
  *minSize = script.nMinSize;
  *maxSize = script.nMaxSize;
  *preferredSize = script.nPreferredSize;
  *granularity = script.nGranularity;
  return script.errBufferSize;
}

ASIOError STDMETHODCALLTYPE FakeAsio::canSampleRate(ASIOSampleRate) {
  Log("canSampleRate");
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE FakeAsio::getSampleRate(ASIOSampleRate* sampleRate) {
  Log("getSampleRate");
  *sampleRate = script.fSampleRate;
  return script.errSampleRate;
}

ASIOError STDMETHODCALLTYPE FakeAsio::setSampleRate(ASIOSampleRate) {
  Log("setSampleRate");
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE FakeAsio::getClockSources(ASIOClockSource*, int32_t*) {
  Log("getClockSources");
  return ASE_NotPresent;
}

ASIOError STDMETHODCALLTYPE FakeAsio::setClockSource(int32_t) {
  Log("setClockSource");
  return ASE_NotPresent;
}

ASIOError STDMETHODCALLTYPE FakeAsio::getSamplePosition(ASIOSamples*, ASIOTimeStamp*) {
  Log("getSamplePosition");
  return ASE_NotPresent;
}

ASIOError STDMETHODCALLTYPE FakeAsio::getChannelInfo(ASIOChannelInfo* info) {
  Log("getChannelInfo");
  info->type = info->isInput ? script.inputType : script.outputType;
  info->isActive = ASIOTrue;
  // Unterminated on purpose: the host must terminate names itself.
  memset(info->name, 'n', sizeof(info->name));
  return script.errChannelInfo;
}

ASIOError STDMETHODCALLTYPE FakeAsio::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                                    int32_t bufferSize, ASIOCallbacks* pCallbacks) {
  Log("createBuffers");
  nCreatedChannels = numChannels;
  nCreatedSize = bufferSize;
  if (script.errCreateBuffers != ASE_OK) return script.errCreateBuffers;
  callbacks = *pCallbacks;
  pGivenCallbacks = pCallbacks;
  buffers_.assign((size_t)numChannels * 2, std::vector<uint8_t>((size_t)bufferSize * 8, 0xEE));
  for (int32_t i = 0; i < numChannels; i++) {
    bufferInfos[i].buffers[0] = buffers_[2 * i].data();
    bufferInfos[i].buffers[1] = i == script.nNullBuffer ? NULL : buffers_[2 * i + 1].data();
  }
  return ASE_OK;
}

ASIOError STDMETHODCALLTYPE FakeAsio::disposeBuffers() {
  Log("disposeBuffers");
  StopStreamThread();
  buffers_.clear();
  return script.errDispose;
}

ASIOError STDMETHODCALLTYPE FakeAsio::controlPanel() {
  Log("controlPanel");
  return script.errControlPanel;
}

ASIOError STDMETHODCALLTYPE FakeAsio::future(int32_t, void*) {
  Log("future");
  return ASE_NotPresent;
}

ASIOError STDMETHODCALLTYPE FakeAsio::outputReady() {
  Log("outputReady");
  if (bHoldOutputReady) {
    bInOutputReady = true;
    while (bHoldOutputReady) Sleep(1);
    bInOutputReady = false;
  }
  return script.errOutputReady;
}

void FakeAsio::Switch(int32_t nHalf, const ASIOTime* pTime) {
  ASIOTime time = {};
  if (pTime) time = *pTime;
  callbacks.bufferSwitchTimeInfo(&time, nHalf, ASIOTrue);
}

void FakeAsio::SwitchWithoutTimeInfo(int32_t nHalf) { callbacks.bufferSwitch(nHalf, ASIOTrue); }

/* ---- class factory ---- */

namespace {

std::mutex g_registryMutex;
FAKESCRIPT g_script;
std::vector<FakeAsio*> g_drivers;
DWORD g_cookie;

class FakeFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = NULL;
    if (outer) return CLASS_E_NOAGGREGATION;
    std::lock_guard<std::mutex> lock(g_registryMutex);
    FakeAsio* driver = new FakeAsio(g_script);
    g_drivers.push_back(driver);
    HRESULT hr = driver->QueryInterface(riid, ppv);
    driver->nRefs--;  // the factory's own reference
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

FakeFactory g_factory;

}  // namespace

void FAKEREGISTRY_Begin(const FAKESCRIPT& script) {
  FAKEREGISTRY_SetScript(script);
  CoRegisterClassObject(CLSID_FakeAsio, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &g_cookie);
}

void FAKEREGISTRY_SetScript(const FAKESCRIPT& script) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  g_script = script;
}

std::vector<FakeAsio*> FAKEREGISTRY_Drivers() {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  return g_drivers;
}

void FAKEREGISTRY_End() {
  CoRevokeClassObject(g_cookie);
  std::lock_guard<std::mutex> lock(g_registryMutex);
  for (FakeAsio* driver : g_drivers) delete driver;
  g_drivers.clear();
}
