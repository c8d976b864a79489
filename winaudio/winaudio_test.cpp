// Start-up and shutdown of the audio environment, and the inventory of the
// endpoints that Wine's audio driver finds on the tests' own sound server
// (PULSE_SERVER points at it).
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "winaudio/winaudio.h"

namespace {

// Records the system calls that the bootstrap makes through its seam.
struct SysCallLog {
  std::vector<std::string> calls;
  std::set<std::string> missingLibraries;
  std::set<std::string> missingProcs;
  bool fakeNtdll = false;
  ULONG finest = 0;
  ULONG current = 0;
  int ntdllLoads = 0;
  int ntdllFrees = 0;
};
SysCallLog g_log;
HMODULE const kFakeNtdll = (HMODULE)(uintptr_t)0x7E570000;

HMODULE WINAPI FakeLoadLibraryA(LPCSTR name) {
  if (g_log.fakeNtdll && _stricmp(name, "ntdll.dll") == 0) {
    g_log.ntdllLoads++;
    return kFakeNtdll;
  }
  if (g_log.missingLibraries.count(name)) return NULL;
  return LoadLibraryA(name);
}

LONG NTAPI FakeNtQueryTimerResolution(PULONG coarsest, PULONG finest, PULONG current) {
  *coarsest = 156250;
  *finest = g_log.finest;
  *current = g_log.current;
  return 0;
}

LONG NTAPI FakeNtSetTimerResolution(ULONG desired, BOOLEAN set, PULONG current) {
  g_log.calls.push_back("ntset " + std::to_string(desired) + (set ? " on" : " off"));
  *current = desired;
  return 0;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
  if (module == kFakeNtdll) {
    if (strcmp(name, "NtQueryTimerResolution") == 0) return (FARPROC)(void*)FakeNtQueryTimerResolution;
    if (strcmp(name, "NtSetTimerResolution") == 0) return (FARPROC)(void*)FakeNtSetTimerResolution;
    return NULL;
  }
  if (g_log.missingProcs.count(name)) return NULL;
  return GetProcAddress(module, name);
}

BOOL WINAPI FakeFreeLibrary(HMODULE module) {
  if (module == kFakeNtdll) {
    g_log.ntdllFrees++;
    return TRUE;
  }
  return FreeLibrary(module);
}

MMRESULT WINAPI FakeTimeBeginPeriod(UINT ms) {
  g_log.calls.push_back("begin " + std::to_string(ms));
  return TIMERR_NOERROR;
}

MMRESULT WINAPI FakeTimeEndPeriod(UINT ms) {
  g_log.calls.push_back("end " + std::to_string(ms));
  return TIMERR_NOERROR;
}

typedef std::vector<std::string> Calls;

class Bootstrap : public ::testing::Test {
 protected:
  WINAUDIO_SYSCALLS saved;

  void SetUp() override {
    saved = WINAUDIO_SysCalls;
    g_log = SysCallLog();
    WINAUDIO_SysCalls.pfnLoadLibraryA = FakeLoadLibraryA;
    WINAUDIO_SysCalls.pfnGetProcAddress = FakeGetProcAddress;
    WINAUDIO_SysCalls.pfnFreeLibrary = FakeFreeLibrary;
    WINAUDIO_SysCalls.pfnTimeBeginPeriod = FakeTimeBeginPeriod;
    WINAUDIO_SysCalls.pfnTimeEndPeriod = FakeTimeEndPeriod;
  }
  void TearDown() override {
    WINAUDIO_SetTimerPeriod(1.0f, 0);  // the period memory is process-wide
    WINAUDIO_SysCalls = saved;
  }
};

using TimerPeriod = Bootstrap;

TEST_F(TimerPeriod, BeginsOnceAndEndsOnce) {
  WINAUDIO_SetTimerPeriod(1.0f, 1);
  WINAUDIO_SetTimerPeriod(1.0f, 1);
  EXPECT_EQ(g_log.calls, (Calls{"begin 1"}));
  WINAUDIO_SetTimerPeriod(1.0f, 0);
  WINAUDIO_SetTimerPeriod(1.0f, 0);
  EXPECT_EQ(g_log.calls, (Calls{"begin 1", "end 1"}));
  EXPECT_EQ(g_log.ntdllLoads, 0);
}

TEST_F(TimerPeriod, EndMatchesTheBeginWhateverPeriodItIsGiven) {
  EXPECT_EQ(WINAUDIO_SetTimerPeriod(2.7f, 1), 2u);
  WINAUDIO_SetTimerPeriod(9.0f, 0);
  EXPECT_EQ(g_log.calls, (Calls{"begin 2", "end 2"}));
}

TEST_F(TimerPeriod, BelowOneMillisecondAlsoAsksTheKernelNoFinerThanItCan) {
  g_log.fakeNtdll = true;
  g_log.finest = 5000;
  g_log.current = 156250;
  EXPECT_EQ(WINAUDIO_SetTimerPeriod(0.3f, 1), 5000u);
  WINAUDIO_SetTimerPeriod(1.0f, 0);
  EXPECT_EQ(g_log.calls, (Calls{"begin 1", "ntset 5000 on", "end 1", "ntset 5000 off"}));
  EXPECT_EQ(g_log.ntdllLoads, 2);
  EXPECT_EQ(g_log.ntdllFrees, 2);

  g_log.calls.clear();
  g_log.finest = 1000;
  WINAUDIO_SetTimerPeriod(0.3f, 1);
  EXPECT_EQ(g_log.calls, (Calls{"begin 1", "ntset 3000 on"}));
}

void ExpectStateCleared() {
  WINAUDIO_STATE zero;
  memset(&zero, 0, sizeof(zero));
  EXPECT_EQ(memcmp(&WINAUDIO_State, &zero, sizeof(zero)), 0);
}

TEST_F(Bootstrap, StartUpHoldsOneMillisecondAndShutdownReleasesEverything) {
  HINSTANCE instance = GetModuleHandleA(NULL);
  ASSERT_EQ(WINAUDIO_Init(instance), 0);
  EXPECT_EQ(g_log.calls, (Calls{"begin 1"}));
  EXPECT_EQ(WINAUDIO_State.hInstance, instance);
  EXPECT_EQ(WINAUDIO_State.nOptions, 0x100004u);
  EXPECT_NE(WINAUDIO_State.hKsUser, nullptr);
  EXPECT_NE(WINAUDIO_State.pKsCreatePin, nullptr);
  EXPECT_NE(WINAUDIO_State.hAvrt, nullptr);
  EXPECT_NE(WINAUDIO_State.pAvSetMmThreadCharacteristicsA, nullptr);
  EXPECT_NE(WINAUDIO_State.pCreateEventExA, nullptr);
  EXPECT_EQ(WINAUDIO_State.captureList.nRecordSize, sizeof(WINAUDIO_DEVICE));
  EXPECT_EQ(WINAUDIO_State.renderList.nGrowStep, 32768u);
  ASSERT_EQ(WINAUDIO_End(), 0);
  EXPECT_EQ(g_log.calls, (Calls{"begin 1", "end 1"}));
  ExpectStateCleared();
}

TEST_F(Bootstrap, MissingOptionalLibrariesStillFillTheLists) {
  g_log.missingLibraries = {"ksuser.dll", "Avrt.dll"};
  WINAUDIO_Init(GetModuleHandleA(NULL));
  EXPECT_EQ(WINAUDIO_State.hKsUser, nullptr);
  EXPECT_EQ(WINAUDIO_State.pKsCreatePin, nullptr);
  EXPECT_EQ(WINAUDIO_State.hAvrt, nullptr);
  EXPECT_EQ(WINAUDIO_State.pAvRevertMmThreadCharacteristics, nullptr);
  EXPECT_EQ(WINAUDIO_GetRenderCount(), 2);
  EXPECT_EQ(WINAUDIO_GetCaptureCount(), 3);
  WINAUDIO_End();
  EXPECT_EQ(g_log.calls, (Calls{"begin 1", "end 1"}));
  ExpectStateCleared();
}

TEST_F(Bootstrap, SystemWithoutTheEndpointApiListsNothing) {
  g_log.missingProcs = {"CreateEventExA"};
  WINAUDIO_Init(GetModuleHandleA(NULL));
  EXPECT_EQ(WINAUDIO_GetRenderCount(), 0);
  EXPECT_EQ(WINAUDIO_GetCaptureCount(), 0);
  EXPECT_EQ(WINAUDIO_GetRenderDevice(1), nullptr);
  WINAUDIO_End();
}

TEST_F(Bootstrap, ShutdownUndoesOnlyItsOwnComInitialisation) {
  ASSERT_EQ(CoInitialize(NULL), S_OK);
  WINAUDIO_Init(GetModuleHandleA(NULL));
  EXPECT_EQ(WINAUDIO_State.hrCom, S_FALSE);
  WINAUDIO_End();
  CoUninitialize();
  // Balanced: COM is off again, so initialising it now is a first time.
  EXPECT_EQ(CoInitialize(NULL), S_OK);
  CoUninitialize();
}

DWORD WINAPI InitOnMultithreadedApartment(void* param) {
  HRESULT* results = (HRESULT*)param;
  results[0] = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  WINAUDIO_Init(GetModuleHandleA(NULL));
  results[1] = WINAUDIO_State.hrCom;
  WINAUDIO_End();
  // Still initialised once by this thread: a second initialisation says so.
  results[2] = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  CoUninitialize();
  CoUninitialize();
  return 0;
}

TEST_F(Bootstrap, FailedComInitialisationIsNotUndone) {
  HRESULT results[3] = {E_FAIL, E_FAIL, E_FAIL};
  HANDLE thread = CreateThread(NULL, 0, InitOnMultithreadedApartment, results, 0, NULL);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(results[0], S_OK);
  EXPECT_EQ(results[1], RPC_E_CHANGED_MODE);
  EXPECT_EQ(results[2], S_FALSE);
}

// What the tests' sound server offers: one null sink and one null source, plus
// Wine's default endpoint of each direction.
struct ExpectedEndpoint {
  const wchar_t* name;
  uint32_t formFactor;
};

// The endpoints as the enumeration itself reports them, by index.
std::map<int, std::pair<std::wstring, std::wstring>> EnumerateDirectly(EDataFlow flow) {
  std::map<int, std::pair<std::wstring, std::wstring>> found;
  const CLSID clsid = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
  const IID iid = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
  const PROPERTYKEY friendlyName = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
  IMMDeviceEnumerator* enumerator = NULL;
  IMMDeviceCollection* collection = NULL;
  UINT count = 0;
  if (FAILED(CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, iid, (void**)&enumerator))) return found;
  if (SUCCEEDED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &collection)) &&
      SUCCEEDED(collection->GetCount(&count))) {
    for (UINT i = 0; i < count; i++) {
      IMMDevice* device = NULL;
      IPropertyStore* store = NULL;
      LPWSTR id = NULL;
      PROPVARIANT value;
      PropVariantInit(&value);
      if (FAILED(collection->Item(i, &device))) continue;
      device->GetId(&id);
      if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, &store))) {
        store->GetValue(friendlyName, &value);
        store->Release();
      }
      std::wstring tail = id && wcsrchr(id, L'{') ? wcsrchr(id, L'{') : L"";
      found[(int)i] = {value.vt == VT_LPWSTR ? value.pwszVal : L"", tail};
      PropVariantClear(&value);
      CoTaskMemFree(id);
      device->Release();
    }
    collection->Release();
  }
  enumerator->Release();
  return found;
}

bool EndpointKeyExists(const wchar_t* direction, const wchar_t* key) {
  std::wstring path = std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\") + direction +
                      L"\\" + key + L"\\Properties";
  HKEY h;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

void ExpectList(const wchar_t* direction, EDataFlow flow, int count, const WINAUDIO_DEVICE* (*get)(int),
                const std::vector<ExpectedEndpoint>& expected) {
  std::map<int, std::pair<std::wstring, std::wstring>> direct = EnumerateDirectly(flow);
  ASSERT_EQ(count, (int)expected.size()) << direction;
  ASSERT_EQ(direct.size(), expected.size()) << direction;
  std::set<int> indices;
  for (int i = 1; i <= count; i++) {
    const WINAUDIO_DEVICE* d = get(i);
    ASSERT_NE(d, nullptr);
    const ExpectedEndpoint& e = expected[i - 1];
    SCOPED_TRACE(testing::Message() << direction << " entry " << i);
    EXPECT_STREQ(d->wszName, e.name);
    std::string ansi(e.name, e.name + wcslen(e.name));
    EXPECT_STREQ(d->szName, ansi.c_str());
    EXPECT_EQ(d->nSource, 4u);
    indices.insert(d->nDevice);
    ASSERT_TRUE(direct.count(d->nDevice));
    EXPECT_EQ(direct[d->nDevice].first, d->wszName);
    EXPECT_EQ(direct[d->nDevice].second, d->wszEndpointKey);
    EXPECT_TRUE(EndpointKeyExists(direction, d->wszEndpointKey));
    // Wine's service stores the name as adapter and description, keeps the
    // device format under another value and the wave format without header,
    // and has no path, identifier or icon.
    EXPECT_STREQ(d->wszAdapter, e.name);
    EXPECT_STREQ(d->wszDescription, e.name);
    EXPECT_EQ(d->nFormFactor, e.formFactor);
    EXPECT_EQ(d->wfxDevice.wFormatTag, 0);
    EXPECT_EQ(d->wfxOem.wFormatTag, 0);
    EXPECT_EQ(d->nChannels, 0);
    EXPECT_STREQ(d->wszPath, L"");
    EXPECT_STREQ(d->szIdent, "");
    EXPECT_STREQ(d->wszIconPath, L"");
  }
  EXPECT_EQ(indices.size(), expected.size()) << "every endpoint index once";
  EXPECT_EQ(get(0), nullptr);
  EXPECT_EQ(get(count + 1), nullptr);
}

class SoundServerInventory : public Bootstrap {
 protected:
  void SetUp() override {
    Bootstrap::SetUp();
    ASSERT_NE(getenv("PULSE_SERVER"), nullptr) << "run through ctest, which starts the tests' sound server";
  }
};

TEST_F(SoundServerInventory, ListsTheServersEndpointsSortedWithTheirRegistryProperties) {
  WINAUDIO_Init(GetModuleHandleA(NULL));
  EXPECT_EQ(WINAUDIO_State.nRenderEndpoints, 2);
  EXPECT_EQ(WINAUDIO_State.nCaptureEndpoints, 3);
  ExpectList(L"Render", eRender, WINAUDIO_GetRenderCount(), WINAUDIO_GetRenderDevice,
             {{L"Null Output", 1}, {L"PulseAudio", 1}});
  ExpectList(L"Capture", eCapture, WINAUDIO_GetCaptureCount(), WINAUDIO_GetCaptureDevice,
             {{L"Monitor of Null Output", 2}, {L"Null Input", 4}, {L"PulseAudio", 4}});

  // A second refresh finds the same endpoints again.
  WINAUDIO_Refresh(NULL);
  ASSERT_EQ(WINAUDIO_GetRenderCount(), 2);
  EXPECT_STREQ(WINAUDIO_GetRenderDevice(2)->wszName, L"PulseAudio");
  WINAUDIO_End();
}

}  // namespace
