// An in-process host for the simulated driver: registers it in the test
// prefix, creates profiles, and drives the driver through CoCreateInstance as
// a real host does.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "asio/asio_interface.h"
#include "simdriver/simreg.h"
#include "simdriver/simshared.h"
#include "simdriver/simtest.h"
#include "simdriver/simsignal.h"

namespace {

enum { kMaxChannels = 16, kMaxSize = 4096, kMaxCalls = 8192 };
enum HostMode { HOST_SILENT, HOST_TONE, HOST_PASS, HOST_PASS_LATE, HOST_PASS_DIRECT };

// What the host's callbacks see. One driver at a time.
struct TestHost {
  IASIO* driver;
  int32_t nIn, nOut, size;
  double rate;
  ASIOBufferInfo infos[2 * kMaxChannels];
  ASIOChannelInfo chans[2 * kMaxChannels];
  int mode;
  double toneHz;
  int64_t toneSample;
  int spinUs;
  int callOutputReady;
  std::atomic<int> inCallback, reentered, timeInfoCalls, plainCalls;
  std::atomic<int64_t> calls;
  int64_t qpc[kMaxCalls], sysNs[kMaxCalls], pos[kMaxCalls];
  uint32_t flags[kMaxCalls];
  int index[kMaxCalls];
  std::atomic<DWORD> switchThread, messageThread;
  std::atomic<int> resets, resyncs, rateChanges;
  std::atomic<int64_t> resetAt;  // switches done when the last reset request came
  int resetSpinUs;               // how long the host takes over a reset request
  int lateCallsExpected;
  std::atomic<int> lateCalls;  // switches from a thread other than the stream's
  std::atomic<int> rerouted;   // switches that reached the record's second function
  std::atomic<double> newRate;
  double history[3][kMaxChannels][kMaxSize];
  SIMSIGNAL_METER inMeters[kMaxChannels];
  double scratch[kMaxSize];
};

TestHost g_host;
ASIOCallbacks g_callbacks;

int64_t Qpc() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

int64_t Frequency() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return f.QuadPart;
}

void Spin(int us) {
  int64_t end = Qpc() + Frequency() * us / 1000000;
  while (Qpc() < end) {
  }
}

void WriteOutputs(TestHost* h, int index, int64_t n) {
  double(*cur)[kMaxSize] = h->history[n % 3];
  for (int c = 0; c < h->nOut; ++c) {
    ASIOBufferInfo* info = &h->infos[h->nIn + c];
    void* buffer = info->buffers[index];
    if (!buffer) continue;
    const double* src = nullptr;
    int s = h->nIn ? c % h->nIn : 0;
    switch (h->mode) {
      case HOST_TONE:
        for (int i = 0; i < h->size; ++i)
          h->scratch[i] = 0.1 * sin(2.0 * 3.14159265358979 * h->toneHz * (double)(h->toneSample + i) / h->rate);
        src = h->scratch;
        break;
      case HOST_PASS:
        src = h->history[(n + 2) % 3][s];  // one switch earlier
        break;
      case HOST_PASS_LATE:
        src = h->history[(n + 1) % 3][s];  // two switches earlier
        break;
      case HOST_PASS_DIRECT:
        src = cur[s];
        break;
      default:
        memset(h->scratch, 0, sizeof(double) * (size_t)h->size);
        src = h->scratch;
    }
    if (h->nIn == 0 && h->mode != HOST_TONE) continue;
    SIMSIGNAL_Encode(h->chans[h->nIn + c].type, src, buffer, h->size);
  }
  h->toneSample += h->size;
}

void OnSwitch(ASIOTime* time, int index) {
  TestHost* h = &g_host;
  if (h->inCallback.exchange(1)) {
    h->reentered++;
    return;
  }
  int64_t n = h->calls.load();
  if (n < kMaxCalls) {
    h->qpc[n] = Qpc();
    h->index[n] = index;
    h->flags[n] = time ? time->timeInfo.flags : 0;
    h->sysNs[n] = time ? ASIO_Join64(time->timeInfo.systemTime.hi, time->timeInfo.systemTime.lo) : 0;
    h->pos[n] = time ? ASIO_Join64(time->timeInfo.samplePosition.hi, time->timeInfo.samplePosition.lo) : 0;
  }
  h->switchThread = GetCurrentThreadId();
  for (int c = 0; c < h->nIn; ++c) {
    double* row = h->history[n % 3][c];
    void* buffer = h->infos[c].buffers[index];
    SIMSIGNAL_Decode(h->chans[c].type, buffer, row, buffer ? h->size : 0);
    if (buffer) SIMSIGNAL_MeterAdd(&h->inMeters[c], row, h->size);
  }
  WriteOutputs(h, index, n);
  if (h->callOutputReady) h->driver->outputReady();
  if (h->spinUs) Spin(h->spinUs);
  h->calls = n + 1;
  h->inCallback = 0;
}

// A switch after the stream's thread has delivered and been stopped comes
// from another thread, and the buffers may be gone: count it, touch nothing.
bool IsLateCall() {
  DWORD stream = g_host.switchThread.load();
  if (!g_host.lateCallsExpected || stream == 0 || stream == GetCurrentThreadId()) return false;
  g_host.lateCalls++;
  return true;
}

void HostBufferSwitch(int32_t index, ASIOBool) {
  if (IsLateCall()) return;
  g_host.plainCalls++;
  OnSwitch(nullptr, index);
}

ASIOTime* HostBufferSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool) {
  if (IsLateCall()) return nullptr;
  g_host.timeInfoCalls++;
  OnSwitch(time, index);
  return nullptr;
}

// What a host puts in its record when it reuses it.
ASIOTime* HostReroutedSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool direct) {
  g_host.rerouted++;
  return HostBufferSwitchTimeInfo(time, index, direct);
}

void HostSampleRateDidChange(ASIOSampleRate rate) {
  g_host.messageThread = GetCurrentThreadId();
  g_host.newRate = rate;
  g_host.rateChanges++;
}

int32_t HostAsioMessage(int32_t selector, int32_t value, void*, double*) {
  switch (selector) {
    case kAsioSelectorSupported:
      return value == kAsioResetRequest || value == kAsioResyncRequest || value == kAsioSupportsTimeInfo;
    case kAsioEngineVersion:
      return 2;
    case kAsioResetRequest:
      g_host.messageThread = GetCurrentThreadId();
      g_host.resetAt = g_host.calls.load();
      g_host.resets++;
      if (g_host.resetSpinUs) Spin(g_host.resetSpinUs);
      return 1;
    case kAsioResyncRequest:
      g_host.messageThread = GetCurrentThreadId();
      g_host.resyncs++;
      return 1;
    case kAsioSupportsTimeInfo:
      return 1;
  }
  return 0;
}

void ResetHost(IASIO* driver) {
  TestHost* h = &g_host;
  h->driver = driver;
  h->nIn = h->nOut = h->size = 0;
  h->rate = 0;
  memset(h->infos, 0, sizeof(h->infos));
  memset(h->chans, 0, sizeof(h->chans));
  h->mode = HOST_SILENT;
  h->toneHz = 440.0;
  h->toneSample = 0;
  h->spinUs = 0;
  h->callOutputReady = 1;
  h->inCallback = 0;
  h->reentered = 0;
  h->timeInfoCalls = 0;
  h->plainCalls = 0;
  h->calls = 0;
  h->switchThread = 0;
  h->messageThread = 0;
  h->resets = h->resyncs = h->rateChanges = 0;
  h->resetAt = -1;
  h->resetSpinUs = 0;
  h->lateCallsExpected = 0;
  h->lateCalls = 0;
  h->rerouted = 0;
  h->newRate = 0;
  memset(h->history, 0, sizeof(h->history));
  for (SIMSIGNAL_METER& m : h->inMeters) SIMSIGNAL_MeterReset(&m);
  g_callbacks.bufferSwitch = HostBufferSwitch;
  g_callbacks.sampleRateDidChange = HostSampleRateDidChange;
  g_callbacks.asioMessage = HostAsioMessage;
  g_callbacks.bufferSwitchTimeInfo = HostBufferSwitchTimeInfo;
}

std::wstring ModuleDirectory() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L"\\/") + 1);
}

std::string ErrorText(IASIO* driver) {
  char text[ASIO_ERRORMESSAGE_SIZE + 8];
  memset(text, 0x55, sizeof(text));
  driver->getErrorMessage(text);
  return std::string(text, strnlen(text, ASIO_ERRORMESSAGE_SIZE));
}

double Number(std::map<std::string, std::string>& report, const char* key) {
  EXPECT_TRUE(report.count(key)) << key;
  return report.count(key) ? atof(report[key].c_str()) : NAN;
}

// Lists SOFTWARE\ASIO as "name=CLSID" lines, to compare before and after.
std::vector<std::string> AsioKeySnapshot() {
  std::vector<std::string> keys;
  HKEY asio;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SIMREG_ASIO_KEY, 0, KEY_READ, &asio) != ERROR_SUCCESS) return keys;
  for (DWORD i = 0;; ++i) {
    char name[256], clsid[64] = "";
    DWORD n = sizeof(name), size = sizeof(clsid) - 1;
    if (RegEnumKeyExA(asio, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    RegGetValueA(asio, name, "CLSID", RRF_RT_REG_SZ, nullptr, clsid, &size);
    keys.push_back(std::string(name) + "=" + clsid);
  }
  RegCloseKey(asio);
  return keys;
}

std::string ClassServer(REFCLSID clsid, const char* value) {
  char guid[SIMREG_GUID_TEXT_SIZE], path[128];
  wchar_t data[MAX_PATH] = L"";
  DWORD size = sizeof(data);
  SIMREG_GuidToText(clsid, guid);
  snprintf(path, sizeof(path), "CLSID\\%s\\InprocServer32", guid);
  if (!value) {
    if (RegGetValueW(HKEY_CLASSES_ROOT, std::wstring(path, path + strlen(path)).c_str(), nullptr, RRF_RT_REG_SZ,
                     nullptr, data, &size) != ERROR_SUCCESS)
      return "";
    std::wstring w(data);
    return std::string(w.begin(), w.end());
  }
  char text[64] = "";
  DWORD textSize = sizeof(text);
  RegGetValueA(HKEY_CLASSES_ROOT, path, value, RRF_RT_REG_SZ, nullptr, text, &textSize);
  return text;
}

int RunProgram(const std::wstring& command_) {
  std::wstring command = command_;
  STARTUPINFOW si;
  PROCESS_INFORMATION pi;
  memset(&si, 0, sizeof(si));
  si.cb = sizeof(si);
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return (int)code;
}

int RunRegsvr(const std::wstring& args) { return RunProgram(L"regsvr32.exe " + args); }

// A prefix where someone registered the driver before the tests gets it back.
bool DefaultsRegistered() {
  std::vector<std::string> keys = AsioKeySnapshot();
  char guid[SIMREG_GUID_TEXT_SIZE];
  SIMREG_GuidToText(SIMREG_Defaults[0].clsid, guid);
  return std::find(keys.begin(), keys.end(), std::string(SIMREG_Defaults[0].szName) + "=" + guid) != keys.end();
}

TEST(SimDriverRegistration, RegsvrListsTheDefaultProfilesAndUnregisteringRestoresTheRegistry) {
  std::wstring dll = L"\"" + SIMTEST_DllPath() + L"\"";
  bool registered = DefaultsRegistered();
  if (registered) {
    ASSERT_EQ(0, RunRegsvr(L"/u /s " + dll));
  }
  std::vector<std::string> before = AsioKeySnapshot();
  ASSERT_EQ(0, RunRegsvr(L"/s " + dll));
  std::vector<std::string> during = AsioKeySnapshot();
  std::wstring server = SIMTEST_DllPath();
  std::string expectedServer(server.begin(), server.end());
  for (int i = 0; i < SIMREG_DefaultCount; ++i) {
    const SIMREG_DEFAULT* d = &SIMREG_Defaults[i];
    char guid[SIMREG_GUID_TEXT_SIZE], description[256] = "";
    DWORD size = sizeof(description);
    SIMREG_GuidToText(d->clsid, guid);
    SCOPED_TRACE(d->szName);
    EXPECT_NE(during.end(), std::find(during.begin(), during.end(), std::string(d->szName) + "=" + guid));
    std::string key = std::string(SIMREG_ASIO_KEY "\\") + d->szName;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "Description", RRF_RT_REG_SZ, nullptr,
                                          description, &size));
    EXPECT_STREQ(d->szDescription, description);
    EXPECT_EQ(0, _stricmp(expectedServer.c_str(), ClassServer(d->clsid, nullptr).c_str()));
    EXPECT_EQ("Both", ClassServer(d->clsid, "ThreadingModel"));
  }
  ASSERT_EQ(0, RunRegsvr(L"/u /s " + dll));
  EXPECT_EQ(before, AsioKeySnapshot());
  for (int i = 0; i < SIMREG_DefaultCount; ++i) EXPECT_EQ("", ClassServer(SIMREG_Defaults[i].clsid, nullptr));
  if (registered) {
    EXPECT_EQ(0, RunRegsvr(L"/s " + dll));
  }
}

// Registers the DLL for each test and removes it, and every profile the test
// added, afterwards.
class SimDriverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitialize(nullptr);
    wasRegistered_ = DefaultsRegistered();
    module_ = LoadLibraryW(SIMTEST_DllPath().c_str());
    ASSERT_NE(nullptr, module_);
  }
  static void TearDownTestSuite() {
    auto reg = (HRESULT(STDAPICALLTYPE*)(void))(void*)GetProcAddress(module_, "DllRegisterServer");
    if (wasRegistered_ && reg) reg();
    FreeLibrary(module_);
    CoUninitialize();
  }
  void SetUp() override {
    auto reg = (HRESULT(STDAPICALLTYPE*)(void))(void*)GetProcAddress(module_, "DllRegisterServer");
    ASSERT_NE(nullptr, reg);
    ASSERT_EQ(S_OK, reg());
  }
  void TearDown() override {
    for (IASIO* d : drivers_) d->Release();
    drivers_.clear();
    for (size_t i = 0; i < profiles_.size(); ++i) {
      SIMREG_DeleteProfile(profiles_[i].c_str(), classes_[i]);
      SIMREG_UnregisterClass(classes_[i]);
    }
    for (const std::string& f : files_) DeleteFileA(f.c_str());
    auto unreg = (HRESULT(STDAPICALLTYPE*)(void))(void*)GetProcAddress(module_, "DllUnregisterServer");
    EXPECT_EQ(S_OK, unreg());
  }

  // A profile with a fresh CLSID, as the profile tool makes one.
  CLSID AddProfile(const char* name, std::vector<const char*> settings) {
    CLSID clsid;
    EXPECT_EQ(S_OK, CoCreateGuid(&clsid));
    std::string full = std::string("MBSimTest ") + name;
    EXPECT_EQ(ERROR_SUCCESS, SIMREG_RegisterClass(clsid, full.c_str(), SIMTEST_DllPath().c_str()));
    EXPECT_EQ(ERROR_SUCCESS, SIMREG_WriteProfile(full.c_str(), clsid, full.c_str(), settings.data(),
                                                 (int)settings.size()));
    profiles_.push_back(full);
    classes_.push_back(clsid);
    return clsid;
  }

  std::string AddReportFile(const char* name) {
    files_.push_back(SIMTEST_TempFile("mbsim", name));
    DeleteFileA(files_.back().c_str());
    return files_.back();
  }

  IASIO* Create(REFCLSID clsid) {
    IASIO* driver = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, (void**)&driver);
    EXPECT_EQ(S_OK, hr);
    if (driver) drivers_.push_back(driver);
    return driver;
  }

  // Open and prepare as the program's device manager does.
  IASIO* OpenAndPrepare(REFCLSID clsid) {
    IASIO* d = Create(clsid);
    if (!d) return nullptr;
    ResetHost(d);
    char name[ASIO_DRIVERNAME_SIZE + 1] = "";
    int32_t in = 0, out = 0, mn = 0, mx = 0, pref = 0, gran = 0, il = 0, ol = 0;
    double rate = 0;
    EXPECT_EQ(ASIOTrue, d->init(nullptr));
    d->getDriverName(name);
    EXPECT_EQ(ASE_OK, d->getChannels(&in, &out));
    EXPECT_EQ(ASE_OK, d->getBufferSize(&mn, &mx, &pref, &gran));
    EXPECT_EQ(ASE_OK, d->getSampleRate(&rate));
    EXPECT_LE(in, kMaxChannels);
    EXPECT_LE(out, kMaxChannels);
    if (in > kMaxChannels || out > kMaxChannels || pref > kMaxSize) return nullptr;
    TestHost* h = &g_host;
    h->nIn = in;
    h->nOut = out;
    h->size = pref;
    h->rate = rate;
    for (int i = 0; i < in + out; ++i) {
      h->infos[i].isInput = i < in;
      h->infos[i].channelNum = i < in ? i : i - in;
    }
    EXPECT_EQ(ASE_OK, d->createBuffers(h->infos, in + out, pref, &g_callbacks)) << ErrorText(d);
    for (int i = 0; i < in + out; ++i) {
      h->chans[i].channel = h->infos[i].channelNum;
      h->chans[i].isInput = h->infos[i].isInput;
      EXPECT_EQ(ASE_OK, d->getChannelInfo(&h->chans[i]));
    }
    EXPECT_EQ(ASE_OK, d->getLatencies(&il, &ol));
    return d;
  }

  // Streams for about `ms` and stops.
  void Stream(IASIO* d, int ms) {
    ASSERT_EQ(ASE_OK, d->start()) << ErrorText(d);
    Sleep((DWORD)ms);
    ASSERT_EQ(ASE_OK, d->stop());
  }

  static HMODULE module_;
  static bool wasRegistered_;
  std::vector<IASIO*> drivers_;
  std::vector<std::string> profiles_;
  std::vector<CLSID> classes_;
  std::vector<std::string> files_;
};

HMODULE SimDriverTest::module_ = nullptr;
bool SimDriverTest::wasRegistered_ = false;

TEST_F(SimDriverTest, TheStereoProfileAnswersEveryCallAsPublished) {
  IASIO* d = Create(SIMREG_Defaults[0].clsid);
  ASSERT_NE(nullptr, d);
  int32_t in = 0, out = 0, mn, mx, pref, gran;
  EXPECT_EQ(ASE_NotPresent, d->getChannels(&in, &out));  // before init
  ASSERT_EQ(ASIOTrue, d->init(nullptr));

  char name[ASIO_DRIVERNAME_SIZE];
  d->getDriverName(name);
  EXPECT_STREQ("MBSim Stereo", name);
  EXPECT_EQ(1, d->getDriverVersion());
  EXPECT_EQ(ASE_OK, d->getChannels(&in, &out));
  EXPECT_EQ(2, in);
  EXPECT_EQ(2, out);
  EXPECT_EQ(ASE_OK, d->getBufferSize(&mn, &mx, &pref, &gran));
  EXPECT_EQ(32, mn);
  EXPECT_EQ(4096, mx);
  EXPECT_EQ(256, pref);
  EXPECT_EQ(32, gran);
  double rate = 0;
  EXPECT_EQ(ASE_OK, d->getSampleRate(&rate));
  EXPECT_EQ(48000.0, rate);
  EXPECT_EQ(ASE_OK, d->canSampleRate(48000.0));
  EXPECT_EQ(ASE_NoClock, d->canSampleRate(44100.0));
  EXPECT_EQ(ASE_NoClock, d->setSampleRate(96000.0));
  EXPECT_NE(std::string::npos, ErrorText(d).find("96000"));
  EXPECT_EQ(ASE_OK, d->setSampleRate(48000.0));

  ASIOSamples position;
  ASIOTimeStamp stamp;
  EXPECT_EQ(ASE_SPNotAdvancing, d->getSamplePosition(&position, &stamp));
  EXPECT_EQ(ASE_NotPresent, d->start());
  EXPECT_NE(std::string::npos, ErrorText(d).find("createBuffers"));

  ASIOChannelInfo info;
  memset(&info, 0, sizeof(info));
  info.channel = 2;
  info.isInput = ASIOTrue;
  EXPECT_EQ(ASE_InvalidParameter, d->getChannelInfo(&info));
  EXPECT_EQ("No input channel 2 (the driver has 2)", ErrorText(d));

  ResetHost(d);
  ASIOBufferInfo infos[4] = {{1, 0, {}}, {1, 1, {}}, {0, 0, {}}, {0, 1, {}}};
  EXPECT_EQ(ASE_InvalidMode, d->createBuffers(infos, 4, 100, &g_callbacks));
  EXPECT_EQ("Buffer size 100 not supported (32..4096, granularity 32)", ErrorText(d));
  EXPECT_EQ(ASE_InvalidMode, d->createBuffers(infos, 4, 4128, &g_callbacks));
  ASIOBufferInfo bad[2] = {{0, 0, {}}, {0, 2, {}}};
  EXPECT_EQ(ASE_InvalidParameter, d->createBuffers(bad, 2, 256, &g_callbacks));
  ASIOBufferInfo twice[2] = {{0, 1, {}}, {0, 1, {}}};
  EXPECT_EQ(ASE_InvalidParameter, d->createBuffers(twice, 2, 256, &g_callbacks));
  EXPECT_EQ(ASE_InvalidParameter, d->createBuffers(infos, 4, 256, nullptr));
  ASSERT_EQ(ASE_OK, d->createBuffers(infos, 4, 256, &g_callbacks));
  for (const ASIOBufferInfo& b : infos) {
    EXPECT_NE(nullptr, b.buffers[0]);
    EXPECT_NE(nullptr, b.buffers[1]);
  }
  EXPECT_EQ(ASE_InvalidMode, d->createBuffers(infos, 4, 256, &g_callbacks));
  EXPECT_NE(std::string::npos, ErrorText(d).find("already"));

  info.channel = 1;
  info.isInput = ASIOFalse;
  EXPECT_EQ(ASE_OK, d->getChannelInfo(&info));
  EXPECT_EQ(ASIOSTInt32LSB, info.type);
  EXPECT_EQ(ASIOTrue, info.isActive);
  EXPECT_STREQ("Output 2", info.name);
  int32_t il = 0, ol = 0;
  EXPECT_EQ(ASE_OK, d->getLatencies(&il, &ol));
  EXPECT_EQ(256, il);
  EXPECT_EQ(512, ol);
  ASIOClockSource clocks[2];
  int32_t count = 2;
  EXPECT_EQ(ASE_OK, d->getClockSources(clocks, &count));
  EXPECT_EQ(1, count);
  EXPECT_EQ(ASIOTrue, clocks[0].isCurrentSource);
  EXPECT_EQ(ASE_OK, d->setClockSource(0));
  EXPECT_EQ(ASE_InvalidParameter, d->setClockSource(1));
  EXPECT_EQ(ASE_OK, d->outputReady());
  EXPECT_EQ(ASE_NotPresent, d->controlPanel());
  EXPECT_EQ(ASE_InvalidParameter, d->future(1, nullptr));

  IUnknown* unknown = nullptr;
  EXPECT_EQ(S_OK, d->QueryInterface(IID_IUnknown, (void**)&unknown));
  unknown->Release();
  EXPECT_EQ(E_NOINTERFACE, d->QueryInterface(IID_IClassFactory, (void**)&unknown));

  EXPECT_EQ(ASE_OK, d->disposeBuffers());
  EXPECT_EQ(ASE_InvalidMode, d->disposeBuffers());
  EXPECT_EQ(ASE_NotPresent, d->start());
}

TEST_F(SimDriverTest, ProfileSettingsShapeWhatTheDriverReports) {
  CLSID wide = AddProfile("wide", {"Inputs=301", "Outputs=0", "InputType=ASIOSTDSDInt8LSB1", "InputName=Mic",
                                   "DriverName=Wide Driver", "DriverVersion=7", "SampleRate=22050",
                                   "InputLatency=17", "OutputLatency=23", "Granularity=-1"});
  IASIO* d = Create(wide);
  ASSERT_NE(nullptr, d);
  ASSERT_EQ(ASIOTrue, d->init(nullptr));
  char name[ASIO_DRIVERNAME_SIZE];
  d->getDriverName(name);
  EXPECT_STREQ("Wide Driver", name);
  EXPECT_EQ(7, d->getDriverVersion());
  int32_t in = 0, out = 0, il = 0, ol = 0;
  EXPECT_EQ(ASE_OK, d->getChannels(&in, &out));
  EXPECT_EQ(300, in);
  EXPECT_EQ(0, out);
  double rate = 0;
  EXPECT_EQ(ASE_OK, d->getSampleRate(&rate));
  EXPECT_EQ(22050.0, rate);
  EXPECT_EQ(ASE_OK, d->getLatencies(&il, &ol));
  EXPECT_EQ(17, il);
  EXPECT_EQ(23, ol);
  ASIOChannelInfo info;
  memset(&info, 0, sizeof(info));
  info.channel = 299;
  info.isInput = ASIOTrue;
  EXPECT_EQ(ASE_OK, d->getChannelInfo(&info));
  EXPECT_STREQ("Mic 300", info.name);
  EXPECT_EQ(ASIOSTDSDInt8LSB1, info.type);
  EXPECT_EQ(ASIOFalse, info.isActive);

  // DSD inputs stream without being filled; power-of-two sizes only.
  ResetHost(d);
  ASIOBufferInfo infos[1] = {{1, 299, {}}};
  EXPECT_EQ(ASE_InvalidMode, d->createBuffers(infos, 1, 96, &g_callbacks));
  ASSERT_EQ(ASE_OK, d->createBuffers(infos, 1, 128, &g_callbacks));
  Stream(d, 100);
  EXPECT_GT(g_host.calls.load(), 5);
  EXPECT_EQ(ASE_OK, d->disposeBuffers());

  CLSID zero = AddProfile("zero rate", {"SampleRate=0", "Inputs=0", "Outputs=1"});
  IASIO* z = Create(zero);
  ASSERT_EQ(ASIOTrue, z->init(nullptr));
  EXPECT_EQ(ASE_OK, z->getSampleRate(&rate));
  EXPECT_EQ(0.0, rate);
  ASIOBufferInfo one[1] = {{0, 0, {}}};
  ASSERT_EQ(ASE_OK, z->createBuffers(one, 1, 256, &g_callbacks));
  EXPECT_EQ(ASE_NoClock, z->start());  // nothing to clock a stream with
  EXPECT_EQ(ASE_OK, z->disposeBuffers());
}

// Streams a 2-in/2-out profile of one sample type for 2 s and checks the
// callback rate, time information and the inputs the host receives.
class SimDriverStreamTest : public SimDriverTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SimDriverStreamTest, StreamsInRealTimeWithValidTimeInfoAndRecognisableInputs) {
  std::string type = std::string("InputType=") + GetParam(), otype = std::string("OutputType=") + GetParam();
  std::string report = AddReportFile(GetParam());
  std::string file = "ReportFile=" + report;
  CLSID clsid = AddProfile(GetParam(), {type.c_str(), otype.c_str(), file.c_str()});
  IASIO* d = OpenAndPrepare(clsid);
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(SIMSIGNAL_TypeFromName(GetParam()), g_host.chans[0].type);
  g_host.mode = HOST_TONE;
  Stream(d, 2000);
  TestHost* h = &g_host;
  int64_t n = h->calls.load();
  ASSERT_GT(n, 300);
  ASSERT_LT(n, kMaxCalls);

  // Mean rate over the run, from the first to the last callback.
  double seconds = (double)(h->qpc[n - 1] - h->qpc[0]) / (double)Frequency();
  double perSecond = (double)(n - 1) / seconds;
  EXPECT_GE(perSecond, 187.0);
  EXPECT_LE(perSecond, 188.0);
  double meanInterval = seconds / (double)(n - 1);
  EXPECT_NEAR(256.0 / 48000.0, meanInterval, 0.02 * 256.0 / 48000.0);
  EXPECT_NEAR(375, n, 20);  // 2 s at 187.5 per second; the sleep of a loaded machine may overshoot

  EXPECT_EQ(0, h->reentered.load());
  EXPECT_EQ(0, h->plainCalls.load());
  for (int64_t i = 0; i < n; ++i) {
    ASSERT_EQ(i & 1, h->index[i]) << i;
    ASSERT_EQ(i * 256, h->pos[i]) << i;
    ASSERT_EQ(7u, h->flags[i] & 7u);
    if (i > 0) {
      ASSERT_GT(h->sysNs[i], h->sysNs[i - 1]) << i;
    }
  }
  // System time is the driver's clock at the call, in nanoseconds.
  double elapsedNs = (double)(h->sysNs[n - 1] - h->sysNs[0]);
  EXPECT_NEAR(seconds * 1e9, elapsedNs, 0.02 * seconds * 1e9);

  EXPECT_NEAR(100.0, SIMSIGNAL_MeterFrequency(&h->inMeters[0], 48000.0), 1.0);
  EXPECT_NEAR(200.0, SIMSIGNAL_MeterFrequency(&h->inMeters[1], 48000.0), 1.0);
  EXPECT_NEAR(0.5, h->inMeters[0].fPeak, 0.01);

  ASSERT_EQ(ASE_OK, d->disposeBuffers());
  auto r = SIMTEST_ReadReport(report);
  EXPECT_EQ((double)n, Number(r, "switches"));
  EXPECT_EQ((double)n, Number(r, "output_ready_calls"));
  EXPECT_NEAR(5333.333, Number(r, "period_us"), 0.01);
  EXPECT_NEAR(5333.333, Number(r, "interval_mean_us"), 0.02 * 5333.333);
  EXPECT_NEAR(440.0, Number(r, "out0.frequency"), 1.0);
  EXPECT_NEAR(0.1, Number(r, "out1.peak"), 0.001);
}

INSTANTIATE_TEST_SUITE_P(SampleTypes, SimDriverStreamTest,
                         ::testing::Values("ASIOSTInt32LSB", "ASIOSTFloat32LSB", "ASIOSTInt16LSB", "ASIOSTInt24LSB",
                                           "ASIOSTInt32LSB24"));

TEST_F(SimDriverTest, TheReportTellsATrueToneAndPassThroughFromWrongOnes) {
  struct CASE {
    const char* name;
    int mode;
    double toneHz;
  };
  const CASE cases[] = {{"tone440", HOST_TONE, 440.0},       {"tone445", HOST_TONE, 445.0},
                        {"pass", HOST_PASS, 0},              {"late", HOST_PASS_LATE, 0},
                        {"direct", HOST_PASS_DIRECT, 0}};
  std::map<std::string, std::map<std::string, std::string>> reports;
  for (const CASE& c : cases) {
    std::string report = AddReportFile(c.name);
    std::string file = "ReportFile=" + report;
    CLSID clsid = AddProfile(c.name, {"Inputs=2", "Outputs=3", "InputType=ASIOSTInt24LSB", "OutputType=ASIOSTInt32LSB",
                                      file.c_str()});
    IASIO* d = OpenAndPrepare(clsid);
    ASSERT_NE(nullptr, d);
    g_host.mode = c.mode;
    g_host.toneHz = c.toneHz;
    Stream(d, 600);
    ASSERT_EQ(ASE_OK, d->disposeBuffers());
    reports[c.name] = SIMTEST_ReadReport(report);
  }
  EXPECT_NEAR(440.0, Number(reports["tone440"], "out2.frequency"), 1.0);
  EXPECT_NEAR(0.1, Number(reports["tone440"], "out2.peak"), 0.001);
  EXPECT_NEAR(0.0707, Number(reports["tone440"], "out2.rms"), 0.001);
  EXPECT_NEAR(445.0, Number(reports["tone445"], "out0.frequency"), 1.0);
  EXPECT_EQ(0, Number(reports["tone440"], "out0.passthrough"));
  for (const char* key : {"out0.passthrough", "out1.passthrough", "out2.passthrough"}) {
    EXPECT_EQ(1, Number(reports["pass"], key)) << key;
    EXPECT_EQ(0, Number(reports["late"], key)) << key;
    EXPECT_EQ(0, Number(reports["direct"], key)) << key;
  }
  EXPECT_EQ(0, Number(reports["pass"], "out2.passthrough_source"));  // output 2 copies input 2 mod 2
  EXPECT_NEAR(100.0, Number(reports["pass"], "out0.frequency"), 1.0);
  EXPECT_NEAR(200.0, Number(reports["pass"], "out1.frequency"), 1.0);
}

TEST_F(SimDriverTest, ADriverWithoutTimeInfoOrOutputReadyCallsBufferSwitch) {
  std::string report = AddReportFile("plain");
  std::string file = "ReportFile=" + report;
  CLSID clsid = AddProfile("plain", {"TimeInfo=0", "OutputReady=0", file.c_str()});
  IASIO* d = OpenAndPrepare(clsid);
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(ASE_NotPresent, d->outputReady());
  g_host.callOutputReady = 0;
  Stream(d, 300);
  EXPECT_GT(g_host.plainCalls.load(), 20);
  EXPECT_EQ(0, g_host.timeInfoCalls.load());
  ASSERT_EQ(ASE_OK, d->disposeBuffers());
  auto r = SIMTEST_ReadReport(report);
  EXPECT_EQ(0, Number(r, "time_info"));
  EXPECT_EQ(0, Number(r, "output_ready_calls"));

  CLSID flags = AddProfile("flags", {"TimeInfoFlags=0"});
  d = OpenAndPrepare(flags);
  ASSERT_NE(nullptr, d);
  Stream(d, 100);
  EXPECT_GT(g_host.timeInfoCalls.load(), 5);
  EXPECT_EQ(0u, g_host.flags[1]);
}

// Faults a profile can request, each observed from the host's side.

// Polls until `done` holds, for at most `ms`.
template <typename F>
bool WaitFor(F done, int ms = 10000) {
  int64_t end = Qpc() + Frequency() * ms / 1000;
  while (!done()) {
    if (Qpc() > end) return false;
    Sleep(1);
  }
  return true;
}

double IntervalsMs(int64_t n, double* stddev) {
  double sum = 0, squares = 0, f = (double)Frequency();
  for (int64_t i = 1; i < n; ++i) {
    double ms = (double)(g_host.qpc[i] - g_host.qpc[i - 1]) * 1000.0 / f;
    sum += ms;
    squares += ms * ms;
  }
  double mean = sum / (double)(n - 1);
  *stddev = sqrt(squares / (double)(n - 1) - mean * mean);
  return mean;
}

TEST_F(SimDriverTest, JitterSpreadsCallbacksAroundDeadlinesThatDoNotDrift) {
  CLSID clsid = AddProfile("jitter", {"JitterUs=1500"});
  IASIO* d = OpenAndPrepare(clsid);
  ASSERT_NE(nullptr, d);
  Stream(d, 1500);
  int64_t n = g_host.calls.load();
  ASSERT_GT(n, 200);
  double stddev = 0, mean = IntervalsMs(n, &stddev);
  // Uniform +-1.5 ms on both ends of an interval gives a spread of about 1.2 ms.
  EXPECT_GT(stddev, 0.8);
  EXPECT_NEAR(256000.0 / 48000.0, mean, 0.02 * 256000.0 / 48000.0);
}

TEST_F(SimDriverTest, AStallDelaysEveryNthCallback) {
  std::string report = AddReportFile("stall");
  std::string file = "ReportFile=" + report;
  CLSID clsid = AddProfile("stall", {"StallUs=20000", "StallEvery=40", file.c_str()});
  IASIO* d = OpenAndPrepare(clsid);
  ASSERT_NE(nullptr, d);
  Stream(d, 1000);
  int64_t n = g_host.calls.load();
  ASSERT_EQ(ASE_OK, d->disposeBuffers());
  double f = (double)Frequency();
  int stalled = 0;
  for (int64_t k = 39; k < n; k += 40) {
    double ms = (double)(g_host.qpc[k] - g_host.qpc[k - 1]) * 1000.0 / f;
    EXPECT_GE(ms, 15.0) << "callback " << k;  // about 25 ms, less a late predecessor
    ++stalled;
  }
  EXPECT_GE(stalled, 3);
  auto r = SIMTEST_ReadReport(report);
  EXPECT_LE(stalled, Number(r, "stalls"));
  EXPECT_GE(Number(r, "interval_max_us"), 20000.0);
  // The histogram covers what a host that skips two switches times: from the
  // third switch on. Off by more than 100 % means later than two periods.
  EXPECT_EQ(n, Number(r, "switches_before_stop"));
  EXPECT_EQ(n - 3, Number(r, "timing_error_intervals"));
  int hostOff100 = 0;
  for (int64_t k = 3; k < n; ++k) hostOff100 += (double)(g_host.qpc[k] - g_host.qpc[k - 1]) * 1000.0 / f > 2 * 5.3334;
  EXPECT_NEAR(hostOff100, Number(r, "timing_error_100"), 1.0);
  EXPECT_GE(Number(r, "timing_error_100"), stalled);
  EXPECT_GE(Number(r, "timing_error_10"), Number(r, "timing_error_20"));
  EXPECT_GE(Number(r, "timing_error_20"), Number(r, "timing_error_50"));
  EXPECT_GE(Number(r, "timing_error_50"), Number(r, "timing_error_100"));
}

TEST_F(SimDriverTest, ResetResyncAndRateChangeRequestsArriveOnceFromAnotherThread) {
  const char* const kinds[] = {"ResetAfter=20", "ResyncAfter=20", "RateChangeAfter=20"};
  for (const char* kind : kinds) {
    SCOPED_TRACE(kind);
    std::string report = AddReportFile(kind + 12);
    std::string file = "ReportFile=" + report;
    CLSID clsid = AddProfile(kind, {kind, "RateChangeTo=96000", file.c_str()});
    IASIO* d = OpenAndPrepare(clsid);
    ASSERT_NE(nullptr, d);
    Stream(d, 400);
    EXPECT_GT(g_host.calls.load(), 40);
    EXPECT_NE(0u, g_host.messageThread.load());
    EXPECT_NE(g_host.switchThread.load(), g_host.messageThread.load());
    EXPECT_NE(GetCurrentThreadId(), g_host.messageThread.load());
    double rate = 0;
    EXPECT_EQ(ASE_OK, d->getSampleRate(&rate));
    ASSERT_EQ(ASE_OK, d->disposeBuffers());
    auto r = SIMTEST_ReadReport(report);
    if (strncmp(kind, "Reset", 5) == 0) {
      EXPECT_EQ(1, g_host.resets.load());
      EXPECT_EQ(1, Number(r, "reset_requests"));
      EXPECT_EQ(1, Number(r, "reset_answer"));
    } else if (strncmp(kind, "Resync", 6) == 0) {
      EXPECT_EQ(1, g_host.resyncs.load());
      EXPECT_EQ(1, Number(r, "resync_requests"));
      EXPECT_EQ(1, Number(r, "resync_answer"));
    } else {
      EXPECT_EQ(1, g_host.rateChanges.load());
      EXPECT_EQ(96000.0, g_host.newRate.load());
      EXPECT_EQ(96000.0, rate);
      EXPECT_EQ(1, Number(r, "rate_changes"));
    }
  }
}

TEST_F(SimDriverTest, AResetRequestCanComeFromInsideStopOrInsideOutputReady) {
  std::string stopReport = AddReportFile("reset in stop");
  std::string file = "ReportFile=" + stopReport;
  IASIO* d = OpenAndPrepare(AddProfile("reset in stop", {"ResetInStop=1", file.c_str()}));
  ASSERT_NE(nullptr, d);
  ASSERT_EQ(ASE_OK, d->start());
  ASSERT_TRUE(WaitFor([] { return g_host.calls.load() >= 2; }));
  EXPECT_EQ(0, g_host.resets.load());
  ASSERT_EQ(ASE_OK, d->stop());
  EXPECT_EQ(1, g_host.resets.load());
  EXPECT_EQ(GetCurrentThreadId(), g_host.messageThread.load());
  ASSERT_EQ(ASE_OK, d->disposeBuffers());  // its stop finds nothing running
  auto r = SIMTEST_ReadReport(stopReport);
  EXPECT_EQ(1, Number(r, "reset_requests"));

  std::string readyReport = AddReportFile("reset in outputReady");
  file = "ReportFile=" + readyReport;
  d = OpenAndPrepare(AddProfile("reset in outputReady", {"ResetInOutputReady=5", file.c_str()}));
  ASSERT_NE(nullptr, d);
  g_host.resetSpinUs = 2000;
  ASSERT_EQ(ASE_OK, d->start());
  ASSERT_TRUE(WaitFor([] { return g_host.calls.load() >= 8; }));
  ASSERT_EQ(ASE_OK, d->stop());
  ASSERT_EQ(ASE_OK, d->disposeBuffers());
  EXPECT_EQ(1, g_host.resets.load());
  EXPECT_EQ(4, g_host.resetAt.load());  // inside the fifth switch
  EXPECT_EQ(g_host.switchThread.load(), g_host.messageThread.load());
  r = SIMTEST_ReadReport(readyReport);
  EXPECT_GE(Number(r, "reset_in_output_ready_us"), 2000.0);
  EXPECT_EQ(1, Number(r, "reset_in_output_ready_answer"));
}

TEST_F(SimDriverTest, AReentrantCallbackOverlapsTheRunningOne) {
  std::string report = AddReportFile("reentrance");
  std::string file = "ReportFile=" + report;
  CLSID clsid = AddProfile("reentrance", {"ReentranceAfter=20", file.c_str()});
  IASIO* d = OpenAndPrepare(clsid);
  ASSERT_NE(nullptr, d);
  g_host.spinUs = 1500;  // long enough for the second call to land inside
  Stream(d, 400);
  EXPECT_EQ(1, g_host.reentered.load());
  ASSERT_EQ(ASE_OK, d->disposeBuffers());
  auto r = SIMTEST_ReadReport(report);
  EXPECT_LE(1, Number(r, "reentrant_calls"));  // a call that missed is retried
  EXPECT_EQ(1, Number(r, "reentrant_overlaps"));
}

TEST_F(SimDriverTest, LateCallsOutliveStopDisposeAndReleaseAndTheSectionCountsThem) {
  CLSID clsid = AddProfile("late calls", {"LateCalls=4", "PreferredBufferSize=4096"});  // 85 ms apart
  SIMSHARED* shared = nullptr;
  HANDLE section = SIMSHARED_Open(clsid, &shared);
  ASSERT_NE(nullptr, shared);
  IASIO* d = OpenAndPrepare(clsid);
  ASSERT_NE(nullptr, d);
  g_host.lateCallsExpected = 1;
  ASSERT_EQ(ASE_OK, d->start());
  ASSERT_TRUE(WaitFor([] { return g_host.calls.load() >= 2; }));
  ASSERT_EQ(ASE_OK, d->stop());
  int64_t delivered = g_host.calls.load();
  EXPECT_EQ(delivered, shared->nSwitches);
  EXPECT_TRUE(WaitFor([] { return g_host.lateCalls.load() >= 1; }));
  ASSERT_EQ(ASE_OK, d->disposeBuffers());
  // The driver holds the host's record, not a copy: what the host writes there now is what it calls next.
  g_callbacks.bufferSwitchTimeInfo = HostReroutedSwitchTimeInfo;
  int afterDispose = g_host.lateCalls.load();
  EXPECT_TRUE(WaitFor([&] { return g_host.lateCalls.load() > afterDispose; }));
  EXPECT_TRUE(WaitFor([] { return g_host.rerouted.load() >= 1; }));
  drivers_.clear();
  EXPECT_EQ(0u, d->Release());
  EXPECT_LT(g_host.lateCalls.load(), 4) << "a call is left for after Release";
  EXPECT_TRUE(WaitFor([&] { return shared->nLateThreads == 0; }));
  EXPECT_EQ(4, g_host.lateCalls.load());
  EXPECT_EQ(4, shared->nLateCalls);
  EXPECT_EQ(1, g_host.resets.load());
  EXPECT_EQ(delivered, g_host.calls.load());
  SIMSHARED_Close(section, shared);
}

TEST_F(SimDriverTest, EachStartOfTheClassCountsItsSwitchesUnderTheNextNumber) {
  CLSID clsid = AddProfile("streams", {});
  SIMTEST_SHAREDREADER reader(clsid);  // the counts go on from one object to the next
  std::vector<int64_t> delivered;
  for (int object = 0; object < 2; ++object) {
    IASIO* d = OpenAndPrepare(clsid);
    ASSERT_NE(nullptr, d);
    ASSERT_EQ(ASE_OK, d->start());
    ASSERT_TRUE(WaitFor([] { return g_host.calls.load() >= 3; }));
    ASSERT_EQ(ASE_OK, d->stop());
    delivered.push_back(g_host.calls.load());
    drivers_.clear();
    EXPECT_EQ(0u, d->Release());
  }
  EXPECT_EQ(delivered, SIMTEST_StreamSwitches(clsid));
}

TEST_F(SimDriverTest, StartMakesTheFirstSwitchesItselfAndTheStreamGoesOnFromThem) {
  CLSID clsid = AddProfile("switches in start", {"SwitchesInStart=20"});
  IASIO* d = OpenAndPrepare(clsid);
  ASSERT_NE(nullptr, d);
  ASSERT_EQ(ASE_OK, d->start());
  EXPECT_LE(20, g_host.calls.load());
  ASSERT_TRUE(WaitFor([] { return g_host.calls.load() >= 30; }));
  ASSERT_EQ(ASE_OK, d->stop());
  int64_t n = g_host.calls.load();
  for (int64_t i = 0; i < n; ++i) {
    ASSERT_EQ(i & 1, g_host.index[i]) << i;
    ASSERT_EQ(i * 256, g_host.pos[i]) << i;
  }
  // The streaming thread's first deadline is a period after it begins, not twenty-one.
  EXPECT_LT((double)(g_host.qpc[20] - g_host.qpc[19]) / (double)Frequency(), 15 * 256 / 48000.0);
  EXPECT_EQ(std::vector<int64_t>{n}, SIMTEST_StreamSwitches(clsid));
}

TEST_F(SimDriverTest, ABlockHoldsOneSwitchInsideOutputReady) {
  std::string report = AddReportFile("block");
  std::string file = "ReportFile=" + report;
  CLSID clsid = AddProfile("block", {"BlockUs=300000", "BlockAt=5", file.c_str()});
  IASIO* d = OpenAndPrepare(clsid);
  ASSERT_NE(nullptr, d);
  ASSERT_EQ(ASE_OK, d->start());
  EXPECT_TRUE(WaitFor([] { return g_host.calls.load() >= 8; }));
  ASSERT_EQ(ASE_OK, d->stop());
  ASSERT_EQ(ASE_OK, d->disposeBuffers());
  // Switch 5 (call 4) returned from outputReady 300 ms after it began.
  EXPECT_GE((double)(g_host.qpc[5] - g_host.qpc[4]) * 1000.0 / (double)Frequency(), 300.0);
  EXPECT_LT((double)(g_host.qpc[4] - g_host.qpc[3]) * 1000.0 / (double)Frequency(), 300.0);
  auto r = SIMTEST_ReadReport(report);
  EXPECT_EQ(1, Number(r, "blocks"));
}

// The host's calls in the order the program makes them: open, then prepare
// and start. Returns "name#occurrence" of the first failure and its text.
std::string FirstFailure(IASIO* d, std::string* text) {
  int32_t a, b, c, e;
  double rate;
  int counts[16] = {0};
  auto failed = [&](const char* name, int slot, bool bad) {
    ++counts[slot];
    if (!bad) return false;
    *text = ErrorText(d);
    return true;
  };
  auto tag = [&](const char* name, int slot) { return std::string(name) + "#" + std::to_string(counts[slot]); };
  if (failed("init", 0, d->init(nullptr) != ASIOTrue)) return tag("init", 0);
  for (int round = 0; round < 2; ++round) {
    if (failed("getChannels", 1, d->getChannels(&a, &b) != ASE_OK)) return tag("getChannels", 1);
    if (failed("getBufferSize", 2, d->getBufferSize(&a, &b, &c, &e) != ASE_OK)) return tag("getBufferSize", 2);
    if (failed("getSampleRate", 3, d->getSampleRate(&rate) != ASE_OK)) return tag("getSampleRate", 3);
  }
  ResetHost(d);
  ASIOBufferInfo infos[4] = {{1, 0, {}}, {1, 1, {}}, {0, 0, {}}, {0, 1, {}}};
  if (failed("createBuffers", 4, d->createBuffers(infos, 4, 256, &g_callbacks) != ASE_OK))
    return tag("createBuffers", 4);
  for (int i = 0; i < 4; ++i) {
    ASIOChannelInfo info;
    memset(&info, 0, sizeof(info));
    info.channel = infos[i].channelNum;
    info.isInput = infos[i].isInput;
    if (failed("getChannelInfo", 5, d->getChannelInfo(&info) != ASE_OK)) return tag("getChannelInfo", 5);
  }
  if (failed("getLatencies", 6, d->getLatencies(&a, &b) != ASE_OK)) return tag("getLatencies", 6);
  if (failed("start", 7, d->start() != ASE_OK)) return tag("start", 7);
  d->stop();
  d->disposeBuffers();
  return "";
}

TEST_F(SimDriverTest, ARequestedCallFailsAtItsOccurrenceWithATextSayingWhat) {
  const char* const cases[][2] = {{"init", "1"},          {"getChannels", "2"},    {"getBufferSize", "1"},
                                  {"getSampleRate", "2"}, {"createBuffers", "1"},  {"getChannelInfo", "3"},
                                  {"getLatencies", "1"},  {"start", "1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    std::string call = std::string("FailCall=") + c[0], occurrence = std::string("FailOccurrence=") + c[1];
    CLSID clsid = AddProfile(c[0], {call.c_str(), occurrence.c_str()});
    IASIO* d = Create(clsid);
    ASSERT_NE(nullptr, d);
    std::string text;
    EXPECT_EQ(std::string(c[0]) + "#" + c[1], FirstFailure(d, &text));
    EXPECT_EQ(std::string("Simulated failure of ") + c[0] + " (call " + c[1] + ")", text);
  }
  CLSID none = AddProfile("no failure", {});
  std::string text;
  EXPECT_EQ("", FirstFailure(Create(none), &text));
}

TEST_F(SimDriverTest, TheLiesOfRealDriversCanBeRequested) {
  CLSID names = AddProfile("long names", {"LongNames=1", "DriverName=Short"});
  IASIO* d = Create(names);
  ASSERT_NE(nullptr, d);
  ASSERT_EQ(ASIOTrue, d->init(nullptr));
  char name[40];
  memset(name, 0x55, sizeof(name));
  d->getDriverName(name);
  for (int i = 0; i < 32; ++i) EXPECT_NE(0, name[i]) << i;
  EXPECT_EQ(0x55, name[32]);  // 32 bytes, not one more
  ASIOChannelInfo info;
  memset(&info, 0, sizeof(info));
  EXPECT_EQ(ASE_OK, d->getChannelInfo(&info));
  for (int i = 0; i < 32; ++i) EXPECT_NE(0, info.name[i]) << i;

  CLSID control = AddProfile("control names", {"ControlNames=1"});
  d = Create(control);
  ASSERT_NE(nullptr, d);
  ASSERT_EQ(ASIOTrue, d->init(nullptr));
  EXPECT_EQ(ASE_OK, d->getChannelInfo(&info));
  EXPECT_STREQ("Out\r\n1\x1b[0m\t\b\x7f", info.name);
  info.isInput = ASIOTrue;
  EXPECT_EQ(ASE_OK, d->getChannelInfo(&info));
  EXPECT_STREQ("In\r\n1\x1b[31m\x7f", info.name);

  std::string report = AddReportFile("null");
  std::string file = "ReportFile=" + report;
  CLSID null = AddProfile("null buffer", {"NullBuffer=1", file.c_str()});
  d = OpenAndPrepare(null);
  ASSERT_NE(nullptr, d);
  EXPECT_NE(nullptr, g_host.infos[3].buffers[0]);
  EXPECT_EQ(nullptr, g_host.infos[3].buffers[1]);
  EXPECT_NE(nullptr, g_host.infos[2].buffers[1]);
  g_host.mode = HOST_TONE;
  Stream(d, 200);
  ASSERT_EQ(ASE_OK, d->disposeBuffers());
  auto r = SIMTEST_ReadReport(report);
  EXPECT_EQ(3, Number(r, "null_buffer_channel"));

  for (const char* rate : {"SampleRate=nan", "SampleRate=-48000"}) {
    SCOPED_TRACE(rate);
    CLSID clsid = AddProfile(rate + 11, {rate});
    d = Create(clsid);
    ASSERT_EQ(ASIOTrue, d->init(nullptr));
    double value = 0;
    EXPECT_EQ(ASE_OK, d->getSampleRate(&value));
    EXPECT_FALSE(value > 0);
    ResetHost(d);
    ASIOBufferInfo infos[1] = {{0, 0, {}}};
    ASSERT_EQ(ASE_OK, d->createBuffers(infos, 1, 256, &g_callbacks));
    EXPECT_EQ(ASE_NoClock, d->start());
    EXPECT_EQ(ASE_OK, d->disposeBuffers());
  }

  CLSID million = AddProfile("million", {"PreferredBufferSize=1000000"});
  d = Create(million);
  ASSERT_EQ(ASIOTrue, d->init(nullptr));
  int32_t mn, mx, pref, gran;
  EXPECT_EQ(ASE_OK, d->getBufferSize(&mn, &mx, &pref, &gran));
  EXPECT_EQ(1000000, pref);
  ResetHost(d);
  ASIOBufferInfo infos[1] = {{0, 0, {}}};
  EXPECT_EQ(ASE_InvalidMode, d->createBuffers(infos, 1, pref, &g_callbacks));
  EXPECT_NE(std::string::npos, ErrorText(d).find("1000000"));
}

TEST_F(SimDriverTest, StopWaitsForARunningCallbackUnlessTheProfileSaysOtherwise) {
  for (int noWait = 0; noWait < 2; ++noWait) {
    SCOPED_TRACE(noWait);
    CLSID clsid = AddProfile(noWait ? "stop no wait" : "stop waits", {noWait ? "StopNoWait=1" : "StopNoWait=0"});
    IASIO* d = OpenAndPrepare(clsid);
    ASSERT_NE(nullptr, d);
    g_host.spinUs = 40000;
    ASSERT_EQ(ASE_OK, d->start());
    while (!g_host.inCallback.load()) Sleep(1);
    ASSERT_EQ(ASE_OK, d->stop());
    int inside = g_host.inCallback.load();
    EXPECT_EQ(noWait, inside);
    int64_t calls = g_host.calls.load() + inside;
    Sleep(100);
    EXPECT_EQ(calls, g_host.calls.load());  // the stop holds: nothing after the running call
    EXPECT_EQ(ASE_OK, d->disposeBuffers());
    EXPECT_EQ(0, g_host.inCallback.load());
  }
}

TEST_F(SimDriverTest, TheProfileToolAddsAProfileWithAFreshClassAndRemovesIt) {
  std::wstring tool = L"\"" + ModuleDirectory() + L"MBSimProfile.exe\" ";
  std::wstring dll = L"\"" + SIMTEST_DllPath() + L"\"";
  const char* name = "MBSimTest tool";
  profiles_.push_back(name);  // cleaned up even when the tool fails
  classes_.push_back(GUID_NULL);
  ASSERT_EQ(0, RunProgram(tool + L"add \"MBSimTest tool\" " + dll + L" Inputs=6 OutputType=ASIOSTInt16LSB"));
  EXPECT_NE(0, RunProgram(tool + L"add \"MBSimTest tool\" " + dll));  // exists already
  EXPECT_NE(0, RunProgram(tool + L"add \"MBSimTest other\" " + dll + L" Inptus=6"));  // misspelt

  char text[64] = "";
  DWORD size = sizeof(text);
  ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, SIMREG_ASIO_KEY "\\MBSimTest tool", "CLSID",
                                        RRF_RT_REG_SZ, nullptr, text, &size));
  CLSID clsid;
  ASSERT_TRUE(SIMREG_TextToGuid(text, &clsid));
  classes_.back() = clsid;
  for (int i = 0; i < SIMREG_DefaultCount; ++i) EXPECT_FALSE(IsEqualGUID(SIMREG_Defaults[i].clsid, clsid));
  IASIO* d = Create(clsid);
  ASSERT_NE(nullptr, d);
  ASSERT_EQ(ASIOTrue, d->init(nullptr));
  int32_t in = 0, out = 0;
  EXPECT_EQ(ASE_OK, d->getChannels(&in, &out));
  EXPECT_EQ(6, in);
  ASIOChannelInfo info;
  memset(&info, 0, sizeof(info));
  EXPECT_EQ(ASE_OK, d->getChannelInfo(&info));
  EXPECT_EQ(ASIOSTInt16LSB, info.type);
  char driverName[ASIO_DRIVERNAME_SIZE];
  d->getDriverName(driverName);
  EXPECT_STREQ(name, driverName);

  EXPECT_EQ(0, RunProgram(tool + L"remove \"MBSimTest tool\""));
  EXPECT_EQ("", ClassServer(clsid, nullptr));
  EXPECT_NE(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, SIMREG_ASIO_KEY "\\MBSimTest tool", "CLSID",
                                        RRF_RT_REG_SZ, nullptr, text, &size));
}

TEST_F(SimDriverTest, TheServerServesOnlyItsOwnClassesAndUnloadsWhenIdle) {
  auto getClass = (HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**))(void*)GetProcAddress(module_,
                                                                                            "DllGetClassObject");
  auto canUnload = (HRESULT(STDAPICALLTYPE*)(void))(void*)GetProcAddress(module_, "DllCanUnloadNow");
  ASSERT_NE(nullptr, getClass);
  ASSERT_NE(nullptr, canUnload);
  CLSID stranger;
  ASSERT_EQ(S_OK, CoCreateGuid(&stranger));
  void* factory = &stranger;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClass(stranger, IID_IClassFactory, &factory));
  EXPECT_EQ(nullptr, factory);

  IClassFactory* cf = nullptr;
  ASSERT_EQ(S_OK, getClass(SIMREG_Defaults[1].clsid, IID_IClassFactory, (void**)&cf));
  IUnknown* outer = cf;
  void* object = nullptr;
  EXPECT_EQ(CLASS_E_NOAGGREGATION, cf->CreateInstance(outer, SIMREG_Defaults[1].clsid, &object));
  EXPECT_EQ(E_NOINTERFACE, cf->CreateInstance(nullptr, IID_IClassFactory, &object));
  IASIO* d = nullptr;
  ASSERT_EQ(S_OK, cf->CreateInstance(nullptr, SIMREG_Defaults[1].clsid, (void**)&d));
  cf->Release();
  EXPECT_EQ(S_FALSE, canUnload());
  ASSERT_EQ(ASIOTrue, d->init(nullptr));
  int32_t in = 0, out = 0;
  EXPECT_EQ(ASE_OK, d->getChannels(&in, &out));
  EXPECT_EQ(8, in);  // the float 8x8 default profile
  d->Release();
  EXPECT_EQ(S_OK, canUnload());
}

}  // namespace
