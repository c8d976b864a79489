// The device manager streaming from the simulated driver on the driver's own
// real-time thread: each test registers a profile under a fresh CLSID, lets
// the manager find it in the registry, and removes it again.
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "asio/asioman.h"
#include "simdriver/simreg.h"

namespace {

std::wstring SimDriverPath() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring s(path, n);
  s = s.substr(0, s.find_last_of(L"\\/"));     // ...\asio
  s = s.substr(0, s.find_last_of(L"\\/") + 1);  // the build tree
  return s + L"simdriver\\MBSimAsio.dll";
}

struct STREAMCLIENT {
  std::mutex mutex;
  std::vector<uint32_t> orders;
  std::atomic<int> nProcessed{0};
  std::atomic<int> nSlowAt{0};  // the processed buffer that takes 300 ms
  std::atomic<int> nSleepMs{0};  // every processed buffer takes this long
  std::atomic<int> bInside{0};
  std::atomic<int> bClosed{0};
  std::atomic<int> nAfterClose{0};
  std::atomic<int> bBlocksGoneWhileInside{0};

  std::vector<uint32_t> Orders() {
    std::lock_guard<std::mutex> lock(mutex);
    return orders;
  }
  int Count(uint32_t nOrder) {
    int n = 0;
    for (uint32_t o : Orders()) n += o == nOrder;
    return n;
  }
};

int StreamClient(void* pContext, ASIOMAN_DEVICE* pDevice, uint32_t nOrder, intptr_t param1, intptr_t param2) {
  STREAMCLIENT* c = (STREAMCLIENT*)pContext;
  if (c->bClosed) c->nAfterClose++;
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    c->orders.push_back(nOrder);
  }
  if (nOrder == ASIOMAN_ORDER_PROCESSBUFFER) {
    int32_t* pIn = (int32_t*)param1;
    int32_t* pOut = (int32_t*)param2;
    int n = ++c->nProcessed;
    c->bInside = 1;
    if (n == c->nSlowAt) Sleep(300);
    if (c->nSleepMs) Sleep(c->nSleepMs);
    if (!pDevice->pInputBlock || !pDevice->pOutputBlock) c->bBlocksGoneWhileInside = 1;
    // Pass-through: the blocks must still be there after the long sleep.
    memcpy(pOut, pIn, sizeof(int32_t) * (size_t)pDevice->nBufferSize);
    c->bInside = 0;
  }
  if (nOrder == ASIOMAN_ORDER_CLOSINGDEVICE) {
    if (c->bInside) c->bBlocksGoneWhileInside = 1;
    c->bClosed = 1;
  }
  return 1;
}

}  // namespace

class SimulatedStream : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(NULL);
    ASSERT_EQ(S_OK, CoCreateGuid(&clsid_));
    ASSERT_EQ(0, GetFileAttributesW(SimDriverPath().c_str()) == INVALID_FILE_ATTRIBUTES);
  }

  void TearDown() override {
    ASIOMAN_End();
    SIMREG_DeleteProfile(name_.c_str(), clsid_);
    SIMREG_UnregisterClass(clsid_);
    CoUninitialize();
  }

  // Registers the profile, starts the manager and returns the profile's index.
  int Install(const char* name, std::vector<const char*> settings) {
    name_ = std::string("MBSimTest ") + name;
    EXPECT_EQ(ERROR_SUCCESS, SIMREG_RegisterClass(clsid_, name_.c_str(), SimDriverPath().c_str()));
    EXPECT_EQ(ERROR_SUCCESS,
              SIMREG_WriteProfile(name_.c_str(), clsid_, name_.c_str(), settings.data(), (int)settings.size()));
    EXPECT_EQ(1, ASIOMAN_Init(GetModuleHandle(NULL)));
    for (int i = 1; i <= ASIOMAN_GetEntryCount(); i++)
      if (name_ == ASIOMAN_GetEntry(i)->szName) return i;
    ADD_FAILURE() << "the profile is not in the driver list";
    return 0;
  }

  int Open(int nIndex) { return ASIOMAN_OpenDevice(nIndex, 0, 0, &client_, StreamClient, NULL); }

  void WaitForProcessed(int n) {
    for (int i = 0; i < 500 && client_.nProcessed < n; i++) Sleep(10);
    ASSERT_GE(client_.nProcessed, n);
  }

  // Waits (bounded) for what the driver's threads recorded, as the GUI
  // thread's tick takes it.
  static ASIOMAN_EVENT TakeEvent(int nIndex) {
    ASIOMAN_EVENT event = {0, 0, 0};
    for (int i = 0; i < 300 && !ASIOMAN_TakeEvent(nIndex, &event); i++) Sleep(10);
    return event;
  }

  CLSID clsid_;
  std::string name_;
  STREAMCLIENT client_;
};

TEST_F(SimulatedStream, OrdersArriveInSequenceAndTheStatisticsMove) {
  int nIndex = Install("Stream", {"PreferredBufferSize=128"});
  ASSERT_NE(0, nIndex);
  ASSERT_EQ(0, Open(nIndex));
  ASSERT_EQ(0, ASIOMAN_StartDevice(nIndex));
  EXPECT_EQ("Device Is Openned. | Device Is Started. | ", std::string(ASIOMAN_GetEntry(nIndex)->device.report));
  WaitForProcessed(20);
  ASIOMAN_DEVICE* d = &ASIOMAN_GetEntry(nIndex)->device;
  int64_t nPosition = d->timing.nSamplePosition;
  int64_t nLast = d->timing.nLastSwitch;
  WaitForProcessed(40);
  EXPECT_GT((int64_t)d->timing.nSamplePosition, nPosition);
  EXPECT_GT((int64_t)d->timing.nLastSwitch, nLast);
  EXPECT_NE(0, (int64_t)d->timing.nsSystemTime);
  EXPECT_GT((int64_t)d->timing.qpcProcessMax, 0);
  EXPECT_LE((int64_t)d->timing.qpcProcessMin, (int64_t)d->timing.qpcProcessMax);
  EXPECT_GT((float)d->timing.fMegaCyclesMax, 0.0f);
  EXPECT_EQ(0, ASIOMAN_StopDevice(nIndex));
  EXPECT_EQ(0, ASIOMAN_CloseDevice(nIndex));

  std::vector<uint32_t> orders = client_.Orders();
  ASSERT_GE(orders.size(), 5u);
  EXPECT_EQ((uint32_t)ASIOMAN_ORDER_OPENEDDEVICE, orders[0]);
  EXPECT_EQ((uint32_t)ASIOMAN_ORDER_PREPAREDDEVICE, orders[1]);
  EXPECT_EQ((uint32_t)ASIOMAN_ORDER_THREADSTART, orders[2]);
  for (size_t i = 3; i + 1 < orders.size(); i++) EXPECT_EQ((uint32_t)ASIOMAN_ORDER_PROCESSBUFFER, orders[i]) << i;
  EXPECT_EQ((uint32_t)ASIOMAN_ORDER_CLOSINGDEVICE, orders.back());
}

TEST_F(SimulatedStream, StopDuringA300msSwitchOnADriverWhoseStopReturnsAtOnce) {
  int nIndex = Install("Slow switch", {"StopNoWait=1", "PreferredBufferSize=64"});
  ASSERT_NE(0, nIndex);
  client_.nSlowAt = 10;
  ASSERT_EQ(0, Open(nIndex));
  ASSERT_EQ(0, ASIOMAN_StartDevice(nIndex));
  WaitForProcessed(10);
  Sleep(20);
  ASSERT_EQ(1, client_.bInside.load()) << "inside the slow switch";
  EXPECT_EQ(0, ASIOMAN_StopDevice(nIndex));
  EXPECT_EQ(0, client_.bInside.load()) << "stop returned before the switch ended";
  EXPECT_EQ(0, ASIOMAN_CloseDevice(nIndex));
  int nOrders = (int)client_.Orders().size();
  Sleep(100);
  EXPECT_EQ(nOrders, (int)client_.Orders().size());
  EXPECT_EQ(0, client_.nAfterClose.load()) << "nothing reaches the client after close";
  EXPECT_EQ(0, client_.bBlocksGoneWhileInside.load());
}

TEST_F(SimulatedStream, AnOverlappingCallbackIsReportedOnceAndTheStreamGoesOn) {
  int nIndex = Install("Reentrance", {"ReentranceAfter=20", "PreferredBufferSize=128"});
  ASSERT_NE(0, nIndex);
  client_.nSleepMs = 10;  // long switches, so the driver's second call surely overlaps one
  ASSERT_EQ(0, Open(nIndex));
  ASSERT_EQ(0, ASIOMAN_StartDevice(nIndex));
  WaitForProcessed(30);
  ASIOMAN_EVENT event = TakeEvent(nIndex);
  EXPECT_EQ((uint32_t)ASIOMAN_ORDER_STREAMERROR, event.nOrder);
  EXPECT_EQ(ASIOMAN_ERROR_REENTRANCE, event.nReason);
  EXPECT_EQ("Driver Callback Re-entrance...\nUnexpected error...",
            std::string(ASIOMAN_GetEntry(nIndex)->device.report));
  ASIOMAN_StopDevice(nIndex);
  ASIOMAN_CloseDevice(nIndex);
}

TEST_F(SimulatedStream, AResetRequestFromTheDriverThreadEndsProcessing) {
  int nIndex = Install("Reset", {"ResetAfter=10", "PreferredBufferSize=128"});
  ASSERT_NE(0, nIndex);
  ASSERT_EQ(0, Open(nIndex));
  ASSERT_EQ(0, ASIOMAN_StartDevice(nIndex));
  ASIOMAN_EVENT event = TakeEvent(nIndex);
  ASSERT_EQ((uint32_t)ASIOMAN_ORDER_DRIVERREQUEST, event.nOrder);
  EXPECT_EQ(ASIOMAN_REQUEST_RESET, event.nReason);
  Sleep(50);
  int nProcessed = client_.nProcessed;
  Sleep(100);
  EXPECT_EQ(nProcessed, client_.nProcessed.load()) << "later switches are ignored";
  EXPECT_EQ(1, (int32_t)ASIOMAN_GetEntry(nIndex)->device.bStopping);
  ASIOMAN_StopDevice(nIndex);
  ASIOMAN_CloseDevice(nIndex);
}

TEST_F(SimulatedStream, TwoHundredOpenStartStopCloseCycles) {
  int nIndex = Install("Cycles", {"PreferredBufferSize=64"});
  ASSERT_NE(0, nIndex);
  for (int i = 0; i < 200; i++) {
    ASSERT_EQ(0, Open(nIndex)) << i;
    ASSERT_EQ(0, ASIOMAN_StartDevice(nIndex)) << i << ASIOMAN_GetEntry(nIndex)->device.report;
    if (i % 40 == 0) WaitForProcessed(client_.nProcessed + 3);
    ASSERT_EQ(0, ASIOMAN_StopDevice(nIndex)) << i;
    ASSERT_EQ(0, ASIOMAN_CloseDevice(nIndex)) << i;
  }
  EXPECT_EQ(200, client_.Count(ASIOMAN_ORDER_CLOSINGDEVICE));
  EXPECT_EQ(200, client_.Count(ASIOMAN_ORDER_OPENEDDEVICE));
}
