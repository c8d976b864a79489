// An in-process IASIO driver with scripted answers, for the manager's tests.
// Its class factory is registered in the test process, so the manager creates
// it through CoCreateInstance like any installed driver.
#ifndef MB_ASIO_ASIOMAN_TEST_FAKEDRIVER_H
#define MB_ASIO_ASIOMAN_TEST_FAKEDRIVER_H

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "asio/asio_interface.h"

// {6D1F3A52-0B7E-4C1D-9A41-2E635B7011A4}
static const CLSID CLSID_FakeAsio = {0x6d1f3a52, 0x0b7e, 0x4c1d, {0x9a, 0x41, 0x2e, 0x63, 0x5b, 0x70, 0x11, 0xa4}};

struct FAKESCRIPT {
  ASIOBool nInit = 1;
  ASIOError errChannels = ASE_OK;
  int32_t nInputs = 2, nOutputs = 2;
  ASIOError errBufferSize = ASE_OK;
  int32_t nMinSize = 64, nMaxSize = 2048, nPreferredSize = 256, nGranularity = -1;
  ASIOError errSampleRate = ASE_OK;
  double fSampleRate = 48000.0;
  ASIOError errOutputReady = ASE_OK;
  ASIOError errCreateBuffers = ASE_OK;
  int nNullBuffer = -1;  // buffer entry whose second half is left null
  ASIOError errChannelInfo = ASE_OK;
  ASIOSampleType inputType = ASIOSTInt32LSB, outputType = ASIOSTInt32LSB;
  ASIOError errLatencies = ASE_OK;
  int32_t nInputLatency = 256, nOutputLatency = 512;
  ASIOError errStart = ASE_OK, errStop = ASE_OK, errDispose = ASE_OK;
  ASIOError errControlPanel = ASE_OK;
  const char* szError = "fake error";
  int nStreamPeriodMs = 0;  // > 0: start runs a thread calling bufferSwitchTimeInfo
};

class FakeAsio : public IASIO {
 public:
  explicit FakeAsio(const FAKESCRIPT& script);
  virtual ~FakeAsio();

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

  // Test side: one driver buffer switch on the calling thread.
  void Switch(int32_t nHalf, const ASIOTime* pTime = NULL);
  void SwitchWithoutTimeInfo(int32_t nHalf);
  uint8_t* Buffer(int nEntry, int nHalf) { return buffers_[2 * nEntry + nHalf].data(); }
  size_t BufferBytes() const { return buffers_.empty() ? 0 : buffers_[0].size(); }
  std::vector<std::string> Calls();
  int CountCalls(const std::string& name);
  void StopStreamThread();

  FAKESCRIPT script;
  ASIOCallbacks callbacks = {};
  ASIOCallbacks* pGivenCallbacks = nullptr;  // what the host handed to createBuffers
  std::atomic<int> nRefs{1};
  std::atomic<bool> bReleased{false};
  int32_t nCreatedChannels = 0;
  int32_t nCreatedSize = 0;
  // While set, outputReady holds its caller until it is cleared, as a driver
  // that blocks inside a switch does; bInOutputReady tells one is held.
  std::atomic<bool> bHoldOutputReady{false};
  std::atomic<bool> bInOutputReady{false};

 private:
  void Log(const char* name);
  void StreamThread();

  std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<std::vector<uint8_t>> buffers_;
  std::thread thread_;
  std::atomic<bool> bStreaming_{false};
};

// Registers the factory for CLSID_FakeAsio; every driver it creates is kept
// (never deleted before FAKEREGISTRY_End) so tests can inspect it after close.
void FAKEREGISTRY_Begin(const FAKESCRIPT& script);
void FAKEREGISTRY_SetScript(const FAKESCRIPT& script);
std::vector<FakeAsio*> FAKEREGISTRY_Drivers();
void FAKEREGISTRY_End();

#endif  // MB_ASIO_ASIOMAN_TEST_FAKEDRIVER_H
