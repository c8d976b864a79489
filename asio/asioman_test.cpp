// The device manager driven through an in-process fake driver with scripted
// answers: exact order sequences and report texts.
#include "asio/asioman.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "asio/asiodrivers.h"
#include "asio/asioman_test_fakedriver.h"
#include "asio/asioman_internal.h"
#include "winaudio/recarray.h"

namespace {

struct ORDER {
  uint32_t nOrder;
  intptr_t param1, param2;
};

bool operator==(const ORDER& a, const ORDER& b) {
  return a.nOrder == b.nOrder && a.param1 == b.param1 && a.param2 == b.param2;
}

std::ostream& operator<<(std::ostream& os, const ORDER& o) {
  return os << "{0x" << std::hex << o.nOrder << std::dec << ", " << o.param1 << ", " << o.param2 << "}";
}

// The client side of the contract: records every order, answers as told.
struct CLIENT {
  std::mutex mutex;
  std::vector<ORDER> orders;
  int nAnswerOpened = 1;
  int nAnswerPrepared = 1;
  std::function<void(ASIOMAN_DEVICE*)> onProcess;
  std::function<void()> onClosing;

  std::vector<ORDER> Orders() {
    std::lock_guard<std::mutex> lock(mutex);
    return orders;
  }
  std::vector<uint32_t> Codes() {
    std::vector<uint32_t> codes;
    for (const ORDER& o : Orders()) codes.push_back(o.nOrder);
    return codes;
  }
  int Count(uint32_t nOrder) {
    int n = 0;
    for (const ORDER& o : Orders()) n += o.nOrder == nOrder;
    return n;
  }
};

int ClientCallback(void* pContext, ASIOMAN_DEVICE* pDevice, uint32_t nOrder, intptr_t param1, intptr_t param2) {
  CLIENT* client = (CLIENT*)pContext;
  {
    std::lock_guard<std::mutex> lock(client->mutex);
    // Blocks are recorded as present or absent: their addresses vary.
    if (nOrder == ASIOMAN_ORDER_PROCESSBUFFER)
      client->orders.push_back(ORDER{nOrder, param1 != 0, param2 != 0});
    else
      client->orders.push_back(ORDER{nOrder, param1, param2});
  }
  if (nOrder == ASIOMAN_ORDER_OPENEDDEVICE) return client->nAnswerOpened;
  if (nOrder == ASIOMAN_ORDER_PREPAREDDEVICE) return client->nAnswerPrepared;
  if (nOrder == ASIOMAN_ORDER_PROCESSBUFFER && client->onProcess) client->onProcess(pDevice);
  if (nOrder == ASIOMAN_ORDER_CLOSINGDEVICE && client->onClosing) client->onClosing();
  return 1;
}

const uint32_t kOpened = ASIOMAN_ORDER_OPENEDDEVICE;
const uint32_t kPrepared = ASIOMAN_ORDER_PREPAREDDEVICE;
const uint32_t kThreadStart = ASIOMAN_ORDER_THREADSTART;
const uint32_t kProcess = ASIOMAN_ORDER_PROCESSBUFFER;
const uint32_t kClosing = ASIOMAN_ORDER_CLOSINGDEVICE;
const uint32_t kStreamError = ASIOMAN_ORDER_STREAMERROR;
const uint32_t kRequest = ASIOMAN_ORDER_DRIVERREQUEST;

// Polls until done, at most the bound: false when it never happened.
bool WaitFor(const std::function<bool()>& done, int nMilliseconds = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(1);
  }
  return true;
}

}  // namespace

class DeviceManager : public ::testing::Test {
 protected:
  void SetUp() override {
    // Switches run on this thread raise its priority; each test starts at normal.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    ASSERT_EQ(1, ASIOMAN_Init(GetModuleHandle(NULL)));
    FAKEREGISTRY_Begin(FAKESCRIPT());
    // Installed drivers may already be listed; the fakes come after them.
    nFirst_ = ASIOMAN_GetEntryCount() + 1;
    for (int i = 0; i < 10; i++) AddEntry(CLSID_FakeAsio);
    nUnknown_ = AddEntry(GUID{0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}});
  }

  void TearDown() override {
    ASIOMAN_SetStuckBound(0);
    for (int i = nFirst_; i <= ASIOMAN_GetEntryCount(); i++) ASIOMAN_CloseDevice(i);
    EXPECT_EQ(0, ASIOMAN_End());
    for (FakeAsio* driver : FAKEREGISTRY_Drivers()) {
      EXPECT_TRUE(driver->bReleased) << "every driver object is released by close";
      for (const std::string& call : driver->Calls())
        EXPECT_EQ(std::string::npos, call.find("after-release")) << call;
    }
    FAKEREGISTRY_End();
  }

  int AddEntry(const GUID& clsid) {
    ASIOMAN_DRIVERENTRY* entry = (ASIOMAN_DRIVERENTRY*)calloc(1, sizeof(ASIOMAN_DRIVERENTRY));
    memcpy(&entry->clsid, &clsid, sizeof(clsid));
    strcpy(entry->szName, "Fake");
    RECARRAY_Add(ASIOMAN_DriverList(), entry);
    free(entry);
    return ASIOMAN_GetEntryCount();
  }

  void Script(const FAKESCRIPT& script) { FAKEREGISTRY_SetScript(script); }
  int Dev(int i) const { return nFirst_ + i; }
  int Open(int nIndex, int nMaxInputs = 0, int nMaxOutputs = 0) {
    return ASIOMAN_OpenDevice(nIndex, nMaxInputs, nMaxOutputs, &client_, ClientCallback, NULL);
  }
  ASIOMAN_DEVICE* Device(int nIndex) { return &ASIOMAN_GetEntry(nIndex)->device; }
  FakeAsio* Driver(int nIndex) { return static_cast<FakeAsio*>(Device(nIndex)->pDriver); }
  std::string Report(int nIndex) { return Device(nIndex)->report; }
  // Opens and starts the first fake device.
  FakeAsio* Streaming(const FAKESCRIPT& script = FAKESCRIPT(), int i = 0) {
    Script(script);
    EXPECT_EQ(0, Open(Dev(i)));
    EXPECT_EQ(0, ASIOMAN_StartDevice(Dev(i)));
    return Driver(Dev(i));
  }
  // Past the two signalling switches, a processed one on its own thread,
  // held by the driver inside outputReady until the test lets it go.
  std::thread HeldSwitch(FakeAsio* driver) {
    for (int i = 0; i < 2; i++) driver->Switch(i);
    driver->bHoldOutputReady = true;
    std::thread audio([driver] { driver->Switch(0); });
    EXPECT_TRUE(WaitFor([driver] { return driver->bInOutputReady.load(); }));
    return audio;
  }

  // The event the driver's threads recorded for the device, or {0, 0, 0}.
  ASIOMAN_EVENT Event(int nIndex) {
    ASIOMAN_EVENT event = {0, 0, 0};
    ASIOMAN_TakeEvent(nIndex, &event);
    return event;
  }

  CLIENT client_;
  int nFirst_ = 0;
  int nUnknown_ = 0;
};

TEST_F(DeviceManager, OpenQueriesTheDriverAndTellsTheClient) {
  ASSERT_EQ(0, Open(Dev(0)));
  ASIOMAN_DEVICE* d = Device(Dev(0));
  EXPECT_EQ("Device Is Openned. | ", Report(Dev(0)));
  EXPECT_EQ((std::vector<uint32_t>{kOpened}), client_.Codes());
  EXPECT_EQ(1, d->bOpen);
  EXPECT_EQ(Dev(0), d->nDeviceIndex);
  EXPECT_EQ(7, d->nDriverVersion);
  EXPECT_EQ(2, d->nInputs);
  EXPECT_EQ(256, d->nBufferSize);
  EXPECT_EQ(64, d->nMinBufferSize);
  EXPECT_EQ(2048, d->nMaxBufferSize);
  EXPECT_EQ(-1, d->nGranularity);
  EXPECT_EQ(48000u, (uint32_t)d->nSampleRate);
  EXPECT_EQ(1, d->bOutputReady);
  EXPECT_EQ((std::vector<std::string>{"init", "getDriverName", "getDriverVersion", "getChannels", "getBufferSize",
                                      "getSampleRate", "outputReady"}),
            Driver(Dev(0))->Calls());
}

TEST_F(DeviceManager, OpeningAnOpenDeviceFailsAndLeavesTheReport) {
  ASSERT_EQ(0, Open(Dev(0)));
  EXPECT_EQ(-1, Open(Dev(0)));
  EXPECT_EQ("Device Is Openned. | ", Report(Dev(0)));
  EXPECT_EQ(1u, FAKEREGISTRY_Drivers().size());
}

TEST_F(DeviceManager, EveryOperationRejectsIndexesOutsideTheList) {
  for (int nIndex : {0, -1, ASIOMAN_GetEntryCount() + 1}) {
    EXPECT_EQ(-1, Open(nIndex));
    EXPECT_EQ(-1, ASIOMAN_StartDevice(nIndex));
    EXPECT_EQ(-1, ASIOMAN_StopDevice(nIndex));
    EXPECT_EQ(-1, ASIOMAN_CloseDevice(nIndex));
    EXPECT_EQ(-1, ASIOMAN_ShowControlPanel(nIndex, NULL, NULL, 0));
    EXPECT_EQ(NULL, ASIOMAN_GetEntry(nIndex));
  }
}

TEST_F(DeviceManager, DriverFailuresAtOpenAreReportedWithTheDriverText) {
  EXPECT_EQ(-1, Open(nUnknown_));
  EXPECT_EQ("Driver not found | ", Report(nUnknown_));
  EXPECT_EQ(NULL, Device(nUnknown_)->pDriver);

  FAKESCRIPT script;
  script.nInit = 0;
  Script(script);
  EXPECT_EQ(-1, Open(Dev(0)));
  EXPECT_EQ("Failed to init ASIO Driver | ", Report(Dev(0)));
  EXPECT_NE(nullptr, Driver(Dev(0))) << "kept until close";
  EXPECT_EQ(1, Driver(Dev(0))->CountCalls("getErrorMessage"));

  script = FAKESCRIPT();
  script.errSampleRate = ASE_HWMalfunction;
  Script(script);
  EXPECT_EQ(-1, Open(Dev(1)));
  EXPECT_EQ("Failed to Get Current SampleRate:fake error | ", Report(Dev(1)));
  EXPECT_EQ(0, Device(Dev(1))->bOpen);

  script = FAKESCRIPT();
  script.errChannels = ASE_NotPresent;
  Script(script);
  EXPECT_EQ(-1, Open(Dev(2)));
  EXPECT_EQ("Failed to Get Channels information: fake error | ", Report(Dev(2)));
  EXPECT_EQ(NULL, Device(Dev(2))->pDriver) << "closed at once";

  script = FAKESCRIPT();
  script.nInputs = script.nOutputs = 0;
  Script(script);
  EXPECT_EQ(-1, Open(Dev(3)));
  EXPECT_EQ("No Channel found / Device possibly not connected... | ", Report(Dev(3)));

  script = FAKESCRIPT();
  script.errBufferSize = ASE_InvalidMode;
  Script(script);
  EXPECT_EQ(-1, Open(Dev(4)));
  EXPECT_EQ("Failed to Get Buffer information: fake error | ", Report(Dev(4)));
  EXPECT_EQ(0, client_.Count(kOpened));
}

TEST_F(DeviceManager, AClientRefusingTheOpenGetsMinus100WithTheDeviceLeftOpen) {
  client_.nAnswerOpened = 0;
  EXPECT_EQ(-100, Open(Dev(0)));
  EXPECT_EQ(1, Device(Dev(0))->bOpen);
  EXPECT_EQ("", Report(Dev(0)));
}

TEST_F(DeviceManager, SampleRatesBelow1000AreReplacedAtOpenAndRefusedAtStart) {
  FAKESCRIPT script;
  script.fSampleRate = 0.0;
  Script(script);
  ASSERT_EQ(0, Open(Dev(0)));
  EXPECT_EQ("SampleRate < 1000: set it to 44100 Hz | Device Is Openned. | ", Report(Dev(0)));
  EXPECT_EQ(44100u, (uint32_t)Device(Dev(0))->nSampleRate);
  EXPECT_EQ(-2, ASIOMAN_StartDevice(Dev(0)));
  EXPECT_EQ("SampleRate < 1000: set it to 44100 Hz | Device Is Openned. | Unsupported Samplerate: 0 Hz | ",
            Report(Dev(0)));

  script.fSampleRate = 22050.0;
  Script(script);
  ASSERT_EQ(0, Open(Dev(1)));
  EXPECT_EQ(22050u, (uint32_t)Device(Dev(1))->nSampleRate);
  EXPECT_EQ(-2, ASIOMAN_StartDevice(Dev(1)));
  EXPECT_EQ("Device Is Openned. | Unsupported Samplerate: 22050 Hz | ", Report(Dev(1)));
  EXPECT_EQ(0, Driver(Dev(1))->CountCalls("start"));
}

TEST_F(DeviceManager, RatesThatAreNotNumbersCountAsZero) {
  FAKESCRIPT script;
  for (double rate : {-48000.0, 1e12, (double)NAN}) {
    script.fSampleRate = rate;
    Script(script);
    ASSERT_EQ(0, Open(Dev(0)));
    EXPECT_EQ("SampleRate < 1000: set it to 44100 Hz | Device Is Openned. | ", Report(Dev(0))) << rate;
    EXPECT_EQ(-2, ASIOMAN_StartDevice(Dev(0)));
    EXPECT_NE(std::string::npos, Report(Dev(0)).find("Unsupported Samplerate: 0 Hz | ")) << rate;
    ASIOMAN_CloseDevice(Dev(0));
  }
}

TEST_F(DeviceManager, ChannelLimitsLowerTheCountsAndTheCapIs256) {
  FAKESCRIPT script;
  script.nInputs = script.nOutputs = 64;
  Script(script);
  ASSERT_EQ(0, Open(Dev(0), 16, 16));
  EXPECT_EQ(16, Device(Dev(0))->nInputs);
  EXPECT_EQ(16, Device(Dev(0))->nOutputs);
  ASSERT_EQ(0, ASIOMAN_StartDevice(Dev(0)));
  EXPECT_EQ(32, Driver(Dev(0))->nCreatedChannels);

  script.nInputs = script.nOutputs = 300;
  Script(script);
  ASSERT_EQ(0, Open(Dev(1)));
  EXPECT_EQ(256, Device(Dev(1))->nInputs);
  EXPECT_EQ(256, Device(Dev(1))->nOutputs);
  ASSERT_EQ(0, ASIOMAN_StartDevice(Dev(1)));
  EXPECT_EQ(512, Driver(Dev(1))->nCreatedChannels);
  ASIOMAN_DEVICE* d = Device(Dev(1));
  EXPECT_EQ(1, d->bufferInfos[255].isInput);
  EXPECT_EQ(255, d->bufferInfos[255].channelNum);
  EXPECT_EQ(0, d->bufferInfos[256].isInput);
  EXPECT_EQ(0, d->bufferInfos[256].channelNum);
  EXPECT_EQ(255, d->channelInfos[511].channel);
  EXPECT_EQ('\0', d->channelInfos[511].name[31]) << "driver names are terminated";

  script.nInputs = 0;
  script.nOutputs = 3;
  Script(script);
  ASSERT_EQ(0, Open(Dev(2), 1, 1));
  EXPECT_EQ(0, Device(Dev(2))->nInputs);
  EXPECT_EQ(1, Device(Dev(2))->nOutputs);
}

TEST_F(DeviceManager, BufferSizesBelow4OrAbove65536AreUndefined) {
  FAKESCRIPT script;
  struct {
    int32_t nSize;
    int nResult;
  } cases[] = {{2, -3}, {4, 0}, {65536, 0}, {65537, -3}, {-256, -3}};
  for (auto c : cases) {
    script.nPreferredSize = c.nSize;
    Script(script);
    ASSERT_EQ(0, Open(Dev(0)));
    EXPECT_EQ(c.nResult, ASIOMAN_StartDevice(Dev(0))) << c.nSize;
    const char* expected = c.nResult == 0 ? "Device Is Openned. | Device Is Started. | "
                                          : "Device Is Openned. | Undefined Buffer Size... | ";
    EXPECT_EQ(expected, Report(Dev(0)));
    ASIOMAN_CloseDevice(Dev(0));
  }
}

TEST_F(DeviceManager, StartPreparesTheBuffersAndStartsTheDriver) {
  FakeAsio* driver = Streaming();
  ASIOMAN_DEVICE* d = Device(Dev(0));
  EXPECT_EQ("Device Is Openned. | Device Is Started. | ", Report(Dev(0)));
  EXPECT_EQ((std::vector<uint32_t>{kOpened, kPrepared}), client_.Codes());
  EXPECT_EQ(1, d->bPrepared);
  EXPECT_EQ(1, d->bPlaying);
  EXPECT_EQ(256, d->nInputLatency);
  EXPECT_EQ(512, d->nOutputLatency);
  EXPECT_EQ(256, driver->nCreatedSize);
  EXPECT_EQ(0, (uintptr_t)d->pInputBlock % 16);
  EXPECT_EQ(0, (uintptr_t)d->pOutputBlock % 16);
  std::vector<std::string> calls = driver->Calls();
  std::vector<std::string> tail(calls.begin() + 7, calls.end());
  EXPECT_EQ((std::vector<std::string>{"getChannels", "getBufferSize", "getSampleRate", "createBuffers",
                                      "getChannelInfo", "getChannelInfo", "getChannelInfo", "getChannelInfo",
                                      "getLatencies", "start"}),
            tail);
  EXPECT_EQ(ASIOMAN_GetCounterFrequency(), d->timing.qpcFrequency);
  EXPECT_EQ(256 * ASIOMAN_GetCounterFrequency() / 48000, d->timing.qpcPeriod);
  EXPECT_EQ((int64_t)(ASIOMAN_GetCounterFrequency() * 0.5 * 256 / 48000), d->timing.qpcThreshold50);
  EXPECT_EQ(ASIOMAN_GetCounterFrequency(), d->timing.qpcProcessMin);
  EXPECT_EQ(10000.0f, (float)d->timing.fMegaCyclesMin);

  EXPECT_EQ(-1, ASIOMAN_StartDevice(Dev(0)));
  EXPECT_EQ("Device Is Openned. | Device Is Started. | ASIO Device Already Playing... | ", Report(Dev(0)));
}

TEST_F(DeviceManager, ARefusedPreparationLeavesTheBuffersAndNeverStartsTheDriver) {
  client_.nAnswerPrepared = 0;
  ASSERT_EQ(0, Open(Dev(0)));
  EXPECT_EQ(-101, ASIOMAN_StartDevice(Dev(0)));
  EXPECT_EQ(1, ASIOMAN_StartDevice(Dev(0)));
  EXPECT_EQ(
      "Device Is Openned. | Failure on ASIOMAN_ORDER_PREPAREDDEVICE callback | Device is Already prepared... | ",
      Report(Dev(0)));
  EXPECT_EQ(0, Driver(Dev(0))->CountCalls("start"));
  EXPECT_EQ(0, ASIOMAN_StopDevice(Dev(0)));
  EXPECT_EQ(1, Driver(Dev(0))->CountCalls("disposeBuffers"));
  EXPECT_EQ(0, Driver(Dev(0))->CountCalls("stop"));
}

TEST_F(DeviceManager, StopUnpreparesOnceAndReportsTheSecondTime) {
  FakeAsio* driver = Streaming();
  EXPECT_EQ(0, ASIOMAN_StopDevice(Dev(0)));
  EXPECT_EQ(NULL, Device(Dev(0))->pInputBlock);
  EXPECT_EQ(1, Device(Dev(0))->bStopping);
  EXPECT_EQ(1, ASIOMAN_StopDevice(Dev(0)));
  EXPECT_EQ("Device Is Openned. | Device Is Started. | Device is Already unprepared... | ", Report(Dev(0)));
  std::vector<std::string> calls = driver->Calls();
  EXPECT_EQ((std::vector<std::string>{"stop", "disposeBuffers"}), std::vector<std::string>(calls.end() - 2, calls.end()));

  ASSERT_EQ(0, Open(Dev(1)));
  EXPECT_EQ(1, ASIOMAN_StopDevice(Dev(1)));
  EXPECT_EQ("Device Is Openned. | Device is Already unprepared... | ", Report(Dev(1)));
}

TEST_F(DeviceManager, DriverErrorsOfTheStreamCallsBecomeTheResults) {
  FAKESCRIPT script;
  script.errCreateBuffers = ASE_NoMemory;
  Script(script);
  ASSERT_EQ(0, Open(Dev(0)));
  EXPECT_EQ(ASE_NoMemory, ASIOMAN_StartDevice(Dev(0)));
  EXPECT_EQ("Device Is Openned. | Failed to prepare buffers: fake error | ", Report(Dev(0)));
  EXPECT_EQ(0, Driver(Dev(0))->CountCalls("getChannelInfo"));
  EXPECT_EQ(0, Driver(Dev(0))->CountCalls("getLatencies"));

  script = FAKESCRIPT();
  script.errLatencies = ASE_InvalidMode;
  script.errChannelInfo = ASE_InvalidParameter;
  Script(script);
  ASSERT_EQ(0, Open(Dev(1)));
  EXPECT_EQ(ASE_InvalidMode, ASIOMAN_StartDevice(Dev(1)));
  EXPECT_EQ("Device Is Openned. | Failed to Get Channel information: fake error | ", Report(Dev(1)));
  EXPECT_EQ(1, Driver(Dev(1))->CountCalls("getChannelInfo"));

  script = FAKESCRIPT();
  script.errStart = ASE_HWMalfunction;
  Script(script);
  ASSERT_EQ(0, Open(Dev(2)));
  EXPECT_EQ(-2, ASIOMAN_StartDevice(Dev(2)));
  EXPECT_EQ("Device Is Openned. | Device Not Started:fake error | ", Report(Dev(2)));
  EXPECT_EQ(0, Device(Dev(2))->bPlaying);

  script = FAKESCRIPT();
  script.errDispose = ASE_InvalidMode;
  Script(script);
  ASSERT_EQ(0, Open(Dev(3)));
  ASSERT_EQ(0, ASIOMAN_StartDevice(Dev(3)));
  EXPECT_EQ(ASE_InvalidMode, ASIOMAN_StopDevice(Dev(3)));
}

TEST_F(DeviceManager, ADriverThatLeavesAHalfBufferEmptyFailsThePreparation) {
  FAKESCRIPT script;
  script.nNullBuffer = 3;
  Script(script);
  ASSERT_EQ(0, Open(Dev(0)));
  EXPECT_NE(0, ASIOMAN_StartDevice(Dev(0)));
  EXPECT_EQ("Device Is Openned. | Driver left a buffer pointer empty: buffer 3 | ", Report(Dev(0)));
  EXPECT_EQ(0, Driver(Dev(0))->CountCalls("start"));
}

TEST_F(DeviceManager, CloseTellsTheClientAndReleasesTheDriverAfterStopping) {
  FakeAsio* driver = Streaming();
  EXPECT_EQ(0, ASIOMAN_CloseDevice(Dev(0)));
  EXPECT_EQ((std::vector<uint32_t>{kOpened, kPrepared, kClosing}), client_.Codes());
  std::vector<std::string> calls = driver->Calls();
  EXPECT_EQ((std::vector<std::string>{"stop", "disposeBuffers", "Release"}),
            std::vector<std::string>(calls.end() - 3, calls.end()));
  EXPECT_TRUE(driver->bReleased);
  ASIOMAN_DEVICE* d = Device(Dev(0));
  EXPECT_EQ(NULL, d->pDriver);
  EXPECT_EQ(0, d->bOpen);
  EXPECT_EQ(0, d->nDeviceIndex);
  EXPECT_EQ('\0', d->report[0]);
  EXPECT_EQ(NULL, d->pfnClient);
  EXPECT_EQ(0, ASIOMAN_CloseDevice(Dev(0))) << "close of a closed device";
}

TEST_F(DeviceManager, NineDevicesShareEightSlots) {
  for (int i = 0; i < 8; i++) ASSERT_EQ(0, Open(Dev(i))) << i;
  for (int i = 0; i < 8; i++)
    EXPECT_EQ(ASIOMAN_SlotCallbacks(i + 1)->bufferSwitch, Device(Dev(i))->callbacks.bufferSwitch) << i;
  EXPECT_EQ(-1, Open(Dev(8)));
  EXPECT_EQ("No Callback Available | ", Report(Dev(8)));
  EXPECT_EQ(NULL, Device(Dev(8))->pDriver);
  EXPECT_TRUE(FAKEREGISTRY_Drivers()[8]->bReleased);

  ASIOMAN_CloseDevice(Dev(0));
  ASSERT_EQ(0, Open(Dev(8)));
  EXPECT_EQ(ASIOMAN_SlotCallbacks(1)->bufferSwitchTimeInfo, Device(Dev(8))->callbacks.bufferSwitchTimeInfo);
  EXPECT_EQ(ASIOMAN_SlotCallbacks(1)->asioMessage, Device(Dev(8))->callbacks.asioMessage);
  EXPECT_EQ(ASIOMAN_SlotCallbacks(1)->sampleRateDidChange, Device(Dev(8))->callbacks.sampleRateDidChange);
  EXPECT_EQ(Dev(8), (int)ASIOMAN_GetSlot(1)->nDeviceIndex);
}

TEST_F(DeviceManager, ACallbackOnAFreedSlotDoesNothing) {
  FakeAsio* driver = Streaming();
  ASIOCallbacks callbacks = driver->callbacks;
  ASIOMAN_CloseDevice(Dev(0));
  size_t nOrders = client_.Orders().size();
  int nCalls = (int)driver->Calls().size();
  ASIOTime time = {};
  for (int i = 0; i < 4; i++) {
    callbacks.bufferSwitch(0, ASIOTrue);
    EXPECT_EQ(NULL, callbacks.bufferSwitchTimeInfo(&time, 1, ASIOTrue));
  }
  callbacks.sampleRateDidChange(96000.0);
  EXPECT_EQ(-1, callbacks.asioMessage(kAsioResetRequest, 0, NULL, NULL));
  EXPECT_EQ(-1, callbacks.asioMessage(kAsioResyncRequest, 0, NULL, NULL));
  EXPECT_EQ(0, callbacks.asioMessage(kAsioEngineVersion, 0, NULL, NULL));
  EXPECT_EQ(nOrders, client_.Orders().size());
  EXPECT_EQ(nCalls, (int)driver->Calls().size());
  EXPECT_EQ(0, (int64_t)ASIOMAN_GetEntry(Dev(0))->nSwitchCount);
}

TEST_F(DeviceManager, TheClientSeesItsFirstBufferAtTheThirdSwitch) {
  FakeAsio* driver = Streaming();
  int nReady = driver->CountCalls("outputReady");
  driver->Switch(0);
  // This thread started the manager: it is the GUI thread, whose priority a
  // driver that switches inside start must not change.
  EXPECT_EQ((std::vector<ORDER>{{kOpened, 0, 0}, {kPrepared, 0, 0}}), client_.Orders());
  EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));
  EXPECT_NE(0, (int64_t)Device(Dev(0))->timing.qpcStreamStart);
  driver->Switch(1);
  EXPECT_EQ(2u, client_.Orders().size());
  EXPECT_EQ(nReady + 2, driver->CountCalls("outputReady")) << "the first two switches only signal the driver";
  driver->Switch(0);
  EXPECT_EQ((std::vector<uint32_t>{kOpened, kPrepared, kProcess}), client_.Codes());
  EXPECT_EQ((ORDER{kProcess, 1, 1}), client_.Orders()[2]);
  EXPECT_EQ(nReady + 3, driver->CountCalls("outputReady"));
  EXPECT_EQ(3, (int64_t)ASIOMAN_GetEntry(Dev(0))->nSwitchCount);
  EXPECT_EQ(3, (int64_t)Device(Dev(0))->timing.nLastSwitch);
}

TEST_F(DeviceManager, ThreadStartCarriesThePriorityBeforeItWasRaised) {
  FakeAsio* driver = Streaming();
  driver->Switch(1);  // on the GUI thread: the first switch on the driver's own thread raises it
  BOOL bSet = FALSE;
  int nBefore = 0, nAfter = 0;
  std::thread audio([&] {
    bSet = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    nBefore = GetThreadPriority(GetCurrentThread());
    driver->Switch(0);
    nAfter = GetThreadPriority(GetCurrentThread());
  });
  audio.join();
  ASSERT_TRUE(bSet);
  EXPECT_EQ(THREAD_PRIORITY_ABOVE_NORMAL, nBefore);
  EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, nAfter);
  EXPECT_EQ((ORDER{kThreadStart, 0, THREAD_PRIORITY_ABOVE_NORMAL}), client_.Orders()[2]);
  EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));
}

TEST_F(DeviceManager, NoOutputReadyForADriverThatRefusedTheProbe) {
  FAKESCRIPT script;
  script.errOutputReady = ASE_NotPresent;
  FakeAsio* driver = Streaming(script);
  EXPECT_EQ(0, Device(Dev(0))->bOutputReady);
  for (int i = 0; i < 4; i++) driver->Switch(i & 1);
  EXPECT_EQ(1, driver->CountCalls("outputReady")) << "the probe at open only";
  EXPECT_EQ(2, client_.Count(kProcess));
}

TEST_F(DeviceManager, TheSwitchConvertsInputsAndSendsThePreviousOutputs) {
  FakeAsio* driver = Streaming();
  ASIOMAN_DEVICE* d = Device(Dev(0));
  client_.onProcess = [](ASIOMAN_DEVICE* pDevice) {
    for (int i = 0; i < pDevice->nOutputs * pDevice->nBufferSize; i++) pDevice->pOutputBlock[i] = i + 1;
  };
  for (int i = 0; i < 2; i++) driver->Switch(i);
  memset(driver->Buffer(0, 1), 0, driver->BufferBytes());
  int32_t in[2] = {0x100, -0x100};
  memcpy(driver->Buffer(1, 1), in, sizeof(in));
  driver->Switch(1);
  EXPECT_EQ(0, d->pInputBlock[0]);
  EXPECT_EQ(1, d->pInputBlock[256]);
  EXPECT_EQ(-1, d->pInputBlock[257]);
  int32_t out[2];
  memcpy(out, driver->Buffer(3, 1), sizeof(out));
  EXPECT_EQ(0, out[0]) << "the outputs carry the previous switch's block";
  driver->Switch(0);
  memcpy(out, driver->Buffer(3, 0), sizeof(out));
  EXPECT_EQ(257 * 256, out[0]);
  EXPECT_EQ(258 * 256, out[1]);
}

TEST_F(DeviceManager, TimeInformationComesFromTheDriverOnlyWhenValid) {
  FakeAsio* driver = Streaming();
  ASIOMAN_TIMING* t = &Device(Dev(0))->timing;
  ASIOTime time = {};
  time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
  time.timeInfo.systemTime.hi = 1;
  time.timeInfo.systemTime.lo = 5;
  time.timeInfo.samplePosition.hi = 0;
  time.timeInfo.samplePosition.lo = 0xFFFFFFFFu;
  for (int i = 0; i < 3; i++) driver->Switch(i & 1, &time);
  EXPECT_EQ(4294967301LL, (int64_t)t->nsSystemTime);
  EXPECT_EQ(4294967295LL, (int64_t)t->nSamplePosition);

  time.timeInfo.flags = kSamplePositionValid;
  driver->Switch(1, &time);
  EXPECT_EQ(0, (int64_t)t->nsSystemTime);
  EXPECT_EQ(4294967295LL, (int64_t)t->nSamplePosition);

  time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
  driver->Switch(0, &time);
  driver->SwitchWithoutTimeInfo(1);
  EXPECT_EQ(0, (int64_t)t->nsSystemTime);
  EXPECT_EQ(0, (int64_t)t->nSamplePosition);
  EXPECT_EQ(4, client_.Count(kProcess));
}

TEST_F(DeviceManager, RelaxStepFollowsTheBufferRate) {
  FAKESCRIPT script;
  script.nPreferredSize = 480;
  FakeAsio* driver = Streaming(script);
  driver->Switch(0);
  EXPECT_EQ(ASIOMAN_GetCounterFrequency() / 200000, (int64_t)Device(Dev(0))->timing.qpcRelaxStep);
  ASIOMAN_CloseDevice(Dev(0));

  script.nPreferredSize = 1024;
  script.fSampleRate = 44100.0;
  driver = Streaming(script);
  driver->Switch(0);
  EXPECT_EQ(ASIOMAN_GetCounterFrequency() / (20 * 43 * 43), (int64_t)Device(Dev(0))->timing.qpcRelaxStep);
  EXPECT_NE(0, (int64_t)Device(Dev(0))->timing.qpcStreamStart);
}

TEST_F(DeviceManager, StatisticsMoveWithEveryProcessedSwitch) {
  FakeAsio* driver = Streaming();
  client_.onProcess = [](ASIOMAN_DEVICE*) { Sleep(12); };
  for (int i = 0; i < 6; i++) driver->Switch(i & 1);
  ASIOMAN_TIMING* t = &Device(Dev(0))->timing;
  int64_t freq = ASIOMAN_GetCounterFrequency();
  EXPECT_GE((int64_t)t->qpcProcess, freq * 12 / 1000);
  EXPECT_LE((int64_t)t->qpcProcessMin, (int64_t)t->qpcProcess);
  EXPECT_GE((int64_t)t->qpcProcessMax, (int64_t)t->qpcProcess);
  EXPECT_GT((float)t->fMegaCycles, 0.0f);
  EXPECT_EQ(4, (int64_t)t->nOver50) << "12 ms is over a whole 5.3 ms buffer";
  EXPECT_EQ(4, (int64_t)t->nOver80);
  EXPECT_EQ(4, (int64_t)t->nOver100);
}

TEST_F(DeviceManager, AResetRequestStopsProcessingAndIsRecordedOnce) {
  FakeAsio* driver = Streaming();
  int32_t nStream = ASIOMAN_GetStream(Dev(0));
  for (int i = 0; i < 3; i++) driver->Switch(i & 1);
  EXPECT_EQ(1, driver->callbacks.asioMessage(kAsioResetRequest, 0, NULL, NULL));
  EXPECT_EQ(1, driver->callbacks.asioMessage(kAsioResyncRequest, 0, NULL, NULL));
  EXPECT_EQ(1, driver->callbacks.asioMessage(kAsioResetRequest, 0, NULL, NULL));
  EXPECT_EQ("Device Is Openned. | Device Is Started. | ", Report(Dev(0))) << "the GUI thread writes it";
  for (int i = 0; i < 3; i++) driver->Switch(i & 1);
  EXPECT_EQ((std::vector<uint32_t>{kOpened, kPrepared, kProcess}), client_.Codes());
  ASIOMAN_EVENT event = Event(Dev(0));
  EXPECT_EQ(kRequest, event.nOrder);
  EXPECT_EQ(ASIOMAN_REQUEST_RESET, event.nReason);
  EXPECT_EQ(nStream, event.nStream);
  EXPECT_EQ("Request From Audio Driver\nAudio Stream needs a complete RESET\n\nPlease Re-Start the Audio Device...",
            Report(Dev(0)));
  EXPECT_EQ(0u, Event(Dev(0)).nOrder) << "taken once";

  // A new start is a new stream and clears the latch.
  ASIOMAN_StopDevice(Dev(0));
  ASSERT_EQ(0, ASIOMAN_StartDevice(Dev(0)));
  EXPECT_GT(ASIOMAN_GetStream(Dev(0)), nStream);
  EXPECT_EQ(1, driver->callbacks.asioMessage(kAsioResyncRequest, 0, NULL, NULL));
  event = Event(Dev(0));
  EXPECT_EQ(ASIOMAN_REQUEST_RESYNC, event.nReason);
  EXPECT_EQ(ASIOMAN_GetStream(Dev(0)), event.nStream);
  EXPECT_EQ(
      "Request From Audio Driver re-synchronization\nAudio Stream needs a complete RESET\n\nPlease Re-Start the "
      "Audio Device...",
      Report(Dev(0)));
}

TEST_F(DeviceManager, RequestsFromAnotherThreadReturnAtOnceEvenWhileASwitchIsHeld) {
  FakeAsio* driver = Streaming();
  std::thread audio = HeldSwitch(driver);
  std::thread requests([driver] {
    driver->callbacks.sampleRateDidChange(96000.0);
    driver->callbacks.asioMessage(kAsioResetRequest, 0, NULL, NULL);
  });
  requests.join();
  EXPECT_TRUE(driver->bInOutputReady) << "returned without waiting for the switch";
  EXPECT_EQ(1, Device(Dev(0))->bStopping) << "the switches stand aside at once";
  driver->bHoldOutputReady = false;
  audio.join();
  EXPECT_EQ(0, client_.Count(kProcess)) << "the held switch, past its outputReady, is not processed";
  EXPECT_EQ(ASIOMAN_REQUEST_SAMPLERATE, Event(Dev(0)).nReason);
}

TEST_F(DeviceManager, AReleasedDriversLateCallsFindAFreeSlot) {
  FakeAsio* late = Streaming();
  ASIOCallbacks* pGiven = late->pGivenCallbacks;
  ASSERT_EQ(ASIOMAN_SlotCallbacks(1), pGiven) << "the slot's own record, which outlives the device";
  ASIOMAN_CloseDevice(Dev(0));
  FakeAsio* next = Streaming(FAKESCRIPT(), 1);
  EXPECT_EQ(2, Device(Dev(1))->nSlot) << "slot 1, released, is handed on last";
  size_t nOrders = client_.Orders().size();
  for (int i = 0; i < 4; i++) pGiven->bufferSwitch(i & 1, ASIOTrue);
  EXPECT_EQ(-1, pGiven->asioMessage(kAsioResetRequest, 0, NULL, NULL));
  EXPECT_EQ(nOrders, client_.Orders().size());
  EXPECT_EQ(0, (int64_t)ASIOMAN_GetEntry(Dev(1))->nSwitchCount);
  EXPECT_EQ(0u, Event(Dev(1)).nOrder);
  EXPECT_EQ(0, Device(Dev(1))->bStopping);
  EXPECT_NE(nullptr, next->pGivenCallbacks);
}

TEST_F(DeviceManager, AsioMessagesAreAnsweredAsTheHostSupportsThem) {
  FakeAsio* driver = Streaming();
  auto message = driver->callbacks.asioMessage;
  for (int v = 0; v < 20; v++) {
    bool supported = v == 2 || v == 3 || v == 5 || v == 6 || v == 7 || v == 8;
    EXPECT_EQ(supported ? 1 : 0, message(kAsioSelectorSupported, v, NULL, NULL)) << v;
  }
  EXPECT_EQ(2, message(kAsioEngineVersion, 0, NULL, NULL));
  EXPECT_EQ(0, message(kAsioBufferSizeChange, 512, NULL, NULL));
  EXPECT_EQ(1, message(kAsioLatenciesChanged, 0, NULL, NULL));
  EXPECT_EQ(1, message(kAsioSupportsTimeInfo, 0, NULL, NULL));
  EXPECT_EQ(1, message(kAsioSupportsTimeCode, 0, NULL, NULL));
  EXPECT_EQ(0, message(kAsioOverload, 0, NULL, NULL));
  EXPECT_EQ(0, message(12345, 0, NULL, NULL));
  EXPECT_EQ((std::vector<uint32_t>{kOpened, kPrepared}), client_.Codes());
  EXPECT_EQ(0, Device(Dev(0))->bStopping);
  EXPECT_EQ(0u, Event(Dev(0)).nOrder);
}

TEST_F(DeviceManager, ASampleRateChangeIsStoredAndRecordedOnceAndEndsProcessing) {
  FakeAsio* driver = Streaming();
  driver->callbacks.sampleRateDidChange(48000.7);
  EXPECT_EQ(0u, Event(Dev(0)).nOrder) << "same whole Hz";
  EXPECT_EQ(0, Device(Dev(0))->bStopping);
  driver->callbacks.sampleRateDidChange(96000.0);
  EXPECT_EQ(96000u, (uint32_t)Device(Dev(0))->nSampleRate);
  driver->callbacks.sampleRateDidChange(44100.0);
  EXPECT_EQ(44100u, (uint32_t)Device(Dev(0))->nSampleRate);
  ASIOMAN_EVENT event = Event(Dev(0));
  EXPECT_EQ(kRequest, event.nOrder);
  EXPECT_EQ(ASIOMAN_REQUEST_SAMPLERATE, event.nReason);
  EXPECT_EQ(
      "Request From Audio Driver\nSampling rate has been Changed,\nAudio Stream needs a complete RESET\n\nPlease "
      "Re-Start the Audio Device...",
      Report(Dev(0)));
  EXPECT_EQ(0u, Event(Dev(0)).nOrder) << "the second change is not recorded";
  for (int i = 0; i < 3; i++) driver->Switch(i & 1);
  EXPECT_EQ(0, client_.Count(kProcess));
  EXPECT_EQ((std::vector<uint32_t>{kOpened, kPrepared}), client_.Codes());
}

TEST_F(DeviceManager, AReenteredSwitchLeavesTheRunningOneAloneAndIsReportedOnce) {
  FakeAsio* driver = Streaming();
  for (int i = 0; i < 2; i++) driver->Switch(i);
  int nNested = 0;
  client_.onProcess = [&](ASIOMAN_DEVICE*) {
    driver->Switch(1);
    driver->SwitchWithoutTimeInfo(0);
    nNested++;
  };
  ASIOTime time = {};
  time.timeInfo.flags = kSamplePositionValid;
  time.timeInfo.samplePosition.lo = 77;
  driver->Switch(0, &time);
  driver->Switch(1, &time);
  EXPECT_EQ(2, nNested);
  EXPECT_EQ(4, (int64_t)ASIOMAN_GetEntry(Dev(0))->nSwitchCount) << "nested switches count nothing";
  EXPECT_EQ(4, (int64_t)Device(Dev(0))->timing.nLastSwitch);
  EXPECT_EQ(77, (int64_t)Device(Dev(0))->timing.nSamplePosition);
  EXPECT_EQ((std::vector<uint32_t>{kOpened, kPrepared, kProcess, kProcess}), client_.Codes());
  EXPECT_EQ(0, Device(Dev(0))->bInCallback);
  ASIOMAN_EVENT event = Event(Dev(0));
  EXPECT_EQ(kStreamError, event.nOrder);
  EXPECT_EQ(ASIOMAN_ERROR_REENTRANCE, event.nReason);
  EXPECT_EQ("Driver Callback Re-entrance...\nUnexpected error...", Report(Dev(0)));
  EXPECT_EQ(0u, Event(Dev(0)).nOrder) << "recorded once";
}

TEST_F(DeviceManager, InputsWithoutConversionSkipTheClientAndReportOnce) {
  FAKESCRIPT script;
  script.inputType = ASIOSTFloat64LSB;
  script.outputType = ASIOSTInt32MSB;
  FakeAsio* driver = Streaming(script);
  for (int i = 0; i < 6; i++) {
    memset(driver->Buffer(2, i & 1), 0x55, driver->BufferBytes());
    driver->Switch(i & 1);
    if (i >= 2) {
      EXPECT_EQ(0, driver->Buffer(2, i & 1)[1023]) << "outputs zero-filled at switch " << i + 1;
    }
    EXPECT_EQ(0x55, driver->Buffer(2, i & 1)[1024]);
  }
  EXPECT_EQ((std::vector<uint32_t>{kOpened, kPrepared}), client_.Codes());
  ASIOMAN_EVENT event = Event(Dev(0));
  EXPECT_EQ(kStreamError, event.nOrder);
  EXPECT_EQ(ASIOMAN_ERROR_CONVERSION, event.nReason);
  EXPECT_EQ("No data conversion supplied...\nConversion error nu : 2\n", Report(Dev(0)));
  EXPECT_EQ(3, driver->CountCalls("outputReady")) << "the probe and the first two switches only";
}

TEST_F(DeviceManager, DsdChannelsStreamWithoutError) {
  FAKESCRIPT script;
  script.inputType = ASIOSTDSDInt8LSB1;
  script.outputType = ASIOSTDSDInt8MSB1;
  FakeAsio* driver = Streaming(script);
  client_.onProcess = [](ASIOMAN_DEVICE* pDevice) {
    EXPECT_EQ(0, pDevice->pInputBlock[0]);
    pDevice->pOutputBlock[0] = 12345;
  };
  for (int i = 0; i < 5; i++) driver->Switch(i & 1);
  EXPECT_EQ(3, client_.Count(kProcess));
  EXPECT_EQ(0xEE, driver->Buffer(2, 0)[0]);
  EXPECT_EQ(0xEE, driver->Buffer(3, 1)[0]);
}

TEST_F(DeviceManager, TheReportIsCutAtItsSizeAndStaysTerminated) {
  ASSERT_EQ(0, Open(Dev(0)));
  for (int i = 0; i < 200; i++) ASIOMAN_StopDevice(Dev(0));
  ASIOMAN_DEVICE* d = Device(Dev(0));
  EXPECT_EQ((size_t)ASIOMAN_REPORT_SIZE - 1, strlen(d->report));
  std::string expected = "Device Is Openned. | ";
  while (expected.size() < ASIOMAN_REPORT_SIZE - 1) expected += "Device is Already unprepared... | ";
  EXPECT_EQ(expected.substr(0, ASIOMAN_REPORT_SIZE - 1), Report(Dev(0)));
  EXPECT_EQ(" | ", std::string(d->separator));
}

TEST_F(DeviceManager, TheControlPanelOpensAClosedDeviceForItsDuration) {
  char text[64] = "x";
  EXPECT_EQ(0, ASIOMAN_ShowControlPanel(Dev(0), NULL, text, sizeof text));
  EXPECT_STREQ("", text);
  FakeAsio* driver = FAKEREGISTRY_Drivers().back();
  EXPECT_EQ(1, driver->CountCalls("controlPanel"));
  EXPECT_TRUE(driver->bReleased);
  EXPECT_EQ(0, Device(Dev(0))->bOpen);

  ASSERT_EQ(0, Open(Dev(1)));
  EXPECT_EQ(0, ASIOMAN_ShowControlPanel(Dev(1), NULL, text, sizeof text));
  EXPECT_EQ(1, Driver(Dev(1))->CountCalls("controlPanel"));
  EXPECT_EQ(1, Device(Dev(1))->bOpen) << "left open when it was open";
  EXPECT_EQ((std::vector<uint32_t>{kOpened}), client_.Codes());
}

TEST_F(DeviceManager, AControlPanelTheDriverDidNotShowGivesItsResultAndPrintableText) {
  FAKESCRIPT script;
  script.errControlPanel = ASE_NotPresent;
  script.szError = "no\x1b[2Jpanel\r\n";
  Script(script);
  char text[64];
  EXPECT_EQ(ASE_NotPresent, ASIOMAN_ShowControlPanel(Dev(0), NULL, text, sizeof text));
  EXPECT_STREQ("no?[2Jpanel??", text);
}

TEST_F(DeviceManager, InitAndEndAreReferenceCounted) {
  EXPECT_EQ(1, ASIOMAN_Init(GetModuleHandle(NULL)));
  int nCount = ASIOMAN_GetEntryCount();
  EXPECT_EQ(1, ASIOMAN_End());
  EXPECT_EQ(nCount, ASIOMAN_GetEntryCount()) << "the list survives an inner End";
  EXPECT_NE(0, ASIOMAN_GetCounterFrequency());
}

TEST_F(DeviceManager, EndClosesEveryOpenDevice) {
  FakeAsio* driver = Streaming();
  ASSERT_EQ(0, Open(Dev(1)));
  EXPECT_EQ(0, ASIOMAN_End());
  EXPECT_TRUE(driver->bReleased);
  EXPECT_TRUE(FAKEREGISTRY_Drivers()[1]->bReleased);
  EXPECT_EQ(2, client_.Count(kClosing));
  ASSERT_EQ(1, ASIOMAN_Init(GetModuleHandle(NULL)));  // for TearDown
}

/* ---- streaming on a driver thread ---- */

TEST_F(DeviceManager, StopDuringA300msSwitchWaitsBeforeFreeingAnything) {
  FAKESCRIPT script;
  script.nStreamPeriodMs = 1;
  std::atomic<int> nInside{0};
  std::atomic<bool> bFreedWhileInside{false};
  std::atomic<bool> bSlow{false};
  client_.onProcess = [&](ASIOMAN_DEVICE* pDevice) {
    nInside = 1;
    if (bSlow) Sleep(300);
    // Touch both blocks after the sleep: they must still be ours.
    pDevice->pOutputBlock[0] = pDevice->pInputBlock[0] + 1;
    nInside = 0;
  };
  client_.onClosing = [&] {
    if (nInside) bFreedWhileInside = true;
  };
  FakeAsio* driver = Streaming(script);
  while (client_.Count(kProcess) < 3) Sleep(1);
  bSlow = true;
  while (!nInside) Sleep(0);
  Sleep(50);  // now well inside a slow switch
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(0, ASIOMAN_StopDevice(Dev(0)));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(0, nInside.load()) << "stop returned while the switch was running";
  EXPECT_GE(ms, 200);
  std::vector<std::string> calls = driver->Calls();
  EXPECT_EQ((std::vector<std::string>{"stop", "disposeBuffers"}),
            std::vector<std::string>(calls.end() - 2, calls.end()));
  EXPECT_EQ(0, ASIOMAN_CloseDevice(Dev(0)));
  EXPECT_FALSE(bFreedWhileInside);
  EXPECT_EQ(kClosing, client_.Codes().back());
}

TEST_F(DeviceManager, TwoHundredCyclesOnAStreamingDriver) {
  FAKESCRIPT script;
  script.nStreamPeriodMs = 1;
  Script(script);
  for (int i = 0; i < 200; i++) {
    ASSERT_EQ(0, Open(Dev(0))) << i;
    ASSERT_EQ(0, ASIOMAN_StartDevice(Dev(0))) << i;
    if (i % 50 == 0) {  // now and then let the stream really run
      while (client_.Count(kThreadStart) <= i / 50) Sleep(1);
    }
    ASSERT_EQ(0, ASIOMAN_StopDevice(Dev(0))) << i;
    ASSERT_EQ(0, ASIOMAN_CloseDevice(Dev(0))) << i;
  }
  EXPECT_EQ(200, client_.Count(kClosing));
  EXPECT_EQ(200u, FAKEREGISTRY_Drivers().size());
}

TEST_F(DeviceManager, ASwitchThatNeverEndsInTimeLeavesTheDeviceOpenRatherThanFreeIt) {
  ASIOMAN_SetStuckBound(100);
  FakeAsio* driver = Streaming();
  for (int i = 0; i < 2; i++) driver->Switch(i);
  std::atomic<int> bInside{0};
  // The switch runs until close has given up on it (bounded, should close never return).
  HANDLE hRelease = CreateEventA(NULL, TRUE, FALSE, NULL);
  ASSERT_NE(nullptr, hRelease);
  client_.onProcess = [&](ASIOMAN_DEVICE* pDevice) {
    bInside = 1;
    WaitForSingleObject(hRelease, 60000);
    pDevice->pOutputBlock[0] = pDevice->pInputBlock[0];
    bInside = 0;
  };
  std::thread audio([driver] { driver->Switch(0); });
  ASSERT_TRUE(WaitFor([&] { return bInside.load() == 1; }));
  EXPECT_EQ(0, ASIOMAN_CloseDevice(Dev(0)));
  ASIOMAN_DEVICE* d = Device(Dev(0));
  EXPECT_EQ(
      "Device Is Openned. | Device Is Started. | Buffer Switch Still Running: Buffers Kept... | Driver Callback Still "
      "Running: Device Not Closed... | ",
      Report(Dev(0)));
  EXPECT_EQ(1, bInside.load());
  EXPECT_EQ(1, d->bOpen);
  EXPECT_EQ(0, ASIOMAN_IsDeviceClosed(Dev(0)));
  EXPECT_NE(nullptr, d->pInputBlock);
  EXPECT_EQ(0, driver->CountCalls("disposeBuffers"));
  EXPECT_FALSE(driver->bReleased);
  EXPECT_EQ(0, client_.Count(kClosing));
  SetEvent(hRelease);
  audio.join();
  CloseHandle(hRelease);
  EXPECT_EQ(0, ASIOMAN_CloseDevice(Dev(0))) << "a later close finishes the job";
  EXPECT_EQ(1, ASIOMAN_IsDeviceClosed(Dev(0)));
  EXPECT_TRUE(driver->bReleased);
  EXPECT_EQ(1, client_.Count(kClosing));
}

TEST_F(DeviceManager, ALateSwitchOnAReopenedDeviceFindsNothingToProcess) {
  FakeAsio* driver = Streaming();
  for (int i = 0; i < 5; i++) driver->Switch(i & 1);
  ASIOCallbacks late = driver->callbacks;
  ASIOMAN_StopDevice(Dev(0));
  ASIOMAN_CloseDevice(Dev(0));
  EXPECT_EQ(0, (int64_t)ASIOMAN_GetEntry(Dev(0))->nSwitchCount);
  ASSERT_EQ(0, Open(Dev(0)));
  size_t nOrders = client_.Orders().size();
  late.bufferSwitch(0, ASIOTrue);
  EXPECT_EQ(nOrders, client_.Orders().size()) << "the device stands aside until it is started";
  EXPECT_EQ(0, (int64_t)ASIOMAN_GetEntry(Dev(0))->nSwitchCount);
}

TEST_F(DeviceManager, AKeptDeviceKeepsItsSlotAndItsBlocksWhileAnotherOneRuns) {
  const int kBoundMs = 1500;
  ASIOMAN_SetStuckBound(kBoundMs);
  FakeAsio* driver = Streaming();
  ASIOCallbacks kept = driver->callbacks;
  std::thread audio = HeldSwitch(driver);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, ASIOMAN_StopDevice(Dev(0)));
  EXPECT_EQ(0, ASIOMAN_CloseDevice(Dev(0)));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, kBoundMs);
  EXPECT_LT(ms, 2 * kBoundMs) << "once found stuck, the close does not wait again";
  EXPECT_EQ(
      "Device Is Openned. | Device Is Started. | Buffer Switch Still Running: Buffers Kept... | Driver Callback Still "
      "Running: Device Not Closed... | ",
      Report(Dev(0)));
  EXPECT_EQ(Dev(0), (int)ASIOMAN_GetSlot(1)->nDeviceIndex);

  FakeAsio* next = Streaming(FAKESCRIPT(), 1);
  EXPECT_EQ(ASIOMAN_SlotCallbacks(2)->bufferSwitch, next->callbacks.bufferSwitch);
  kept.bufferSwitch(1, ASIOTrue);
  EXPECT_EQ(0, (int64_t)ASIOMAN_GetEntry(Dev(1))->nSwitchCount) << "the kept driver reaches only its own device";
  EXPECT_NE(nullptr, Device(Dev(0))->pOutputBlock);
  EXPECT_EQ(0, driver->CountCalls("disposeBuffers"));

  driver->bHoldOutputReady = false;
  audio.join();
  EXPECT_EQ(0, client_.Count(kProcess)) << "the client has moved on";
  EXPECT_FALSE(driver->bReleased);
  EXPECT_EQ(0, ASIOMAN_CloseDevice(Dev(0)));
  EXPECT_TRUE(driver->bReleased);
  EXPECT_EQ(0, (int)ASIOMAN_GetSlot(1)->nDeviceIndex);
}

TEST_F(DeviceManager, EndReleasesKeptDevicesWhoseSwitchLeftAndLeaksTheOthersSayingSo) {
  ASIOMAN_SetStuckBound(100);
  FakeAsio* left = Streaming(FAKESCRIPT(), 0);
  FakeAsio* stuck = Streaming(FAKESCRIPT(), 1);
  std::thread leftAudio = HeldSwitch(left);
  std::thread stuckAudio = HeldSwitch(stuck);
  ASIOMAN_CloseDevice(Dev(0));
  ASIOMAN_CloseDevice(Dev(1));
  left->bHoldOutputReady = false;
  leftAudio.join();
  ASIOMAN_DEVICE* pStuck = Device(Dev(1));
  EXPECT_EQ(0, ASIOMAN_End());
  EXPECT_EQ(1, ASIOMAN_LeftDriverRunning());
  EXPECT_TRUE(left->bReleased);
  EXPECT_EQ(1, client_.Count(kClosing));
  EXPECT_FALSE(stuck->bReleased);
  const std::string kLeaked = "Device Not Closed... | Driver Callback Still Running: Driver Not Released... | ";
  std::string report = pStuck->report;
  ASSERT_GT(report.size(), kLeaked.size());
  EXPECT_EQ(kLeaked, report.substr(report.size() - kLeaked.size()));

  stuck->bHoldOutputReady = false;
  stuckAudio.join();
  stuck->Release();  // End left it on purpose; the test gives it back
  ASSERT_EQ(1, ASIOMAN_Init(GetModuleHandle(NULL)));  // for TearDown
}
