// The endpoint inventory against a fake endpoint collection and endpoint keys
// written into the registry by the tests themselves.
#include <propidl.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "winaudio/winaudio.h"

namespace {

const wchar_t kRenderKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Render";
const wchar_t kCaptureKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture";
const wchar_t kPath[] = L"{233164c8-1b2c-4c7d-bc68-b671687a2567},1";
const wchar_t kDescription[] = L"{a45c254e-df1c-4efd-8020-67d146a850e0},2";
const wchar_t kAdapter[] = L"{b3f8fa53-0004-438e-9003-51a46e139bfc},6";
const wchar_t kFormFactor[] = L"{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},0";
const wchar_t kIconPath[] = L"{259abffc-50a7-47ce-af08-68c9a7d73366},12";
const wchar_t kDeviceFormat[] = L"{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},0";
const wchar_t kOemFormat[] = L"{f19f064d-082c-4e27-bc73-6882a1bb8e4c},0";
const wchar_t kIdent[] = L"{83da6326-97a6-4088-9453-a1923f573b29},3";

// Endpoint keys of these tests; no audio service writes such names.
const wchar_t kKeyA[] = L"{5EED0A00-0000-4000-8000-000000000001}";
const wchar_t kKeyB[] = L"{5EED0A00-0000-4000-8000-000000000002}";
const wchar_t kKeyMissing[] = L"{5EED0A00-0000-4000-8000-0000000000FF}";

std::wstring IdFor(const wchar_t* key) { return std::wstring(L"{0.0.0.00000000}.") + key; }

wchar_t* CoString(const std::wstring& s) {
  wchar_t* p = (wchar_t*)CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t));
  memcpy(p, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
  return p;
}

// A property value as the fake store hands it out.
struct FakeValue {
  enum Kind { Absent, String, Number } kind;
  std::wstring text;
};

class FakeStore final : public IPropertyStore {
 public:
  FakeValue name{FakeValue::String, L""};
  FakeValue adapter{FakeValue::String, L""};
  LONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = NULL; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    PropVariantInit(value);
    const FakeValue* v = key.pid == 14 ? &name : key.pid == 2 ? &adapter : NULL;
    if (!v || v->kind == FakeValue::Absent) return E_FAIL;
    if (v->kind == FakeValue::Number) {
      value->vt = VT_UI4;
      value->ulVal = 7;
    } else {
      value->vt = VT_LPWSTR;
      value->pwszVal = CoString(v->text);
    }
    return S_OK;
  }
};

class FakeEndpoint final : public IMMDevice {
 public:
  FakeStore store;
  std::wstring id;
  bool hasId = true;
  bool storeOpens = true;
  LONG refs = 1;

  FakeEndpoint(const std::wstring& friendlyName, const std::wstring& endpointId) : id(endpointId) {
    store.name.text = friendlyName;
    store.adapter.text = friendlyName + L" adapter";
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = NULL; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE Activate(REFIID, DWORD, PROPVARIANT*, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override { *state = DEVICE_STATE_ACTIVE; return S_OK; }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** out) override {
    *out = NULL;
    if (!storeOpens || access != STGM_READ) return E_ACCESSDENIED;
    store.AddRef();
    *out = &store;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* out) override {
    *out = NULL;
    if (!hasId) return E_FAIL;
    *out = CoString(id);
    return S_OK;
  }
};

class FakeCollection final : public IMMDeviceCollection {
 public:
  std::vector<FakeEndpoint*> endpoints;
  UINT claimedCount = 0;  // a lying count when set
  LONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = NULL; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    *count = claimedCount ? claimedCount : (UINT)endpoints.size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** out) override {
    *out = NULL;
    if (index >= endpoints.size() || !endpoints[index]) return E_INVALIDARG;
    endpoints[index]->AddRef();
    *out = endpoints[index];
    return S_OK;
  }
};

class FakeEnumerator final : public IMMDeviceEnumerator {
 public:
  FakeCollection render, capture;
  bool enumerates = true;
  EDataFlow lastFlow = eAll;
  DWORD lastStateMask = 0;
  LONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = NULL; return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask, IMMDeviceCollection** out) override {
    *out = NULL;
    lastFlow = flow;
    lastStateMask = stateMask;
    if (!enumerates) return E_FAIL;
    FakeCollection* c = flow == eCapture ? &capture : &render;
    c->AddRef();
    *out = c;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
};

// 8-byte header, then a wave format with the given channel count, padded to size.
std::vector<BYTE> FormatBlob(size_t size, WORD channels) {
  std::vector<BYTE> blob(size, 0xEE);
  WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, channels, 48000, 48000u * channels * 2, (WORD)(channels * 2), 16, 0};
  if (size >= 8 + sizeof(wfx)) memcpy(blob.data() + 8, &wfx, sizeof(wfx));
  return blob;
}

// Writes endpoint keys under the direction keys and removes them again.
class RegistryFixture : public ::testing::Test {
 protected:
  std::vector<std::wstring> written;

  void TearDown() override {
    for (const std::wstring& key : written) RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  }
  std::wstring Properties(const wchar_t* direction, const wchar_t* key) {
    std::wstring endpoint = std::wstring(direction) + L"\\" + key;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, endpoint.c_str());  // left over from a run that crashed
    written.push_back(endpoint);
    return endpoint + L"\\Properties";
  }
  void Set(const std::wstring& subKey, const wchar_t* value, DWORD type, const void* data, DWORD bytes) {
    HKEY h;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &h, NULL), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, value, 0, type, (const BYTE*)data, bytes), ERROR_SUCCESS);
    RegCloseKey(h);
  }
  void SetString(const std::wstring& subKey, const wchar_t* value, const std::wstring& text) {
    Set(subKey, value, REG_SZ, text.c_str(), (DWORD)((text.size() + 1) * sizeof(wchar_t)));
  }
  void SetDword(const std::wstring& subKey, const wchar_t* value, DWORD v) { Set(subKey, value, REG_DWORD, &v, 4); }
  void SetBlob(const std::wstring& subKey, const wchar_t* value, const std::vector<BYTE>& blob) {
    Set(subKey, value, REG_BINARY, blob.data(), (DWORD)blob.size());
  }
  // Fills record 0 of a one-endpoint render collection.
  int Fill(FakeEndpoint& endpoint, WINAUDIO_DEVICE* device, int direction = WINAUDIO_RENDER) {
    FakeCollection collection;
    collection.endpoints.push_back(&endpoint);
    memset(device, 0x5A, sizeof(*device));
    return WINAUDIO_FillEndpoint(&collection, 0, device, direction);
  }
};

using EndpointRecord = RegistryFixture;

TEST_F(EndpointRecord, TakesEveryPropertyFromTheKeyNamedByTheEndpointId) {
  std::wstring props = Properties(kRenderKey, kKeyA);
  SetString(props, kPath, L"{0.0.0.00000000}.{x}\\\\?\\hdaudio#func_01#speaker");
  SetString(props, kDescription, L"Speakers");
  SetDword(props, kFormFactor, 1);
  SetString(props, kIconPath, L"%windir%\\speaker.ico,-1");
  SetBlob(props, kDeviceFormat, FormatBlob(48, 6));
  SetBlob(props, kOemFormat, FormatBlob(48, 2));
  SetString(props, kIdent, L"HDAUDIO\\FUNC_01:0001:speaker-out");

  FakeEndpoint endpoint(L"Speakers (Fixture Audio)", IdFor(kKeyA));
  endpoint.store.adapter.text = L"Fixture Audio";
  WINAUDIO_DEVICE d;
  ASSERT_EQ(Fill(endpoint, &d), 0);

  EXPECT_EQ(d.nDevice, 0);
  EXPECT_STREQ(d.wszName, L"Speakers (Fixture Audio)");
  EXPECT_STREQ(d.szName, "Speakers (Fixture Audio)");
  EXPECT_STREQ(d.wszAdapter, L"Fixture Audio");
  EXPECT_STREQ(d.wszEndpointKey, kKeyA);
  EXPECT_STREQ(d.wszDescription, L"Speakers");
  EXPECT_STREQ(d.wszPath, L"\\\\?\\hdaudio#func_01#speaker");
  EXPECT_STREQ(d.szPath, "\\\\?\\hdaudio#func_01#speaker");
  EXPECT_STREQ(d.wszIconPath, L"%windir%\\speaker.ico,-1");
  EXPECT_STREQ(d.szIdent, "speaker-out");
  EXPECT_EQ(d.nFormFactor, 1u);
  EXPECT_EQ(d.wfxDevice.nChannels, 6);
  EXPECT_EQ(d.wfxDevice.nSamplesPerSec, 48000u);
  EXPECT_EQ(d.wfxOem.nChannels, 2);
  EXPECT_EQ(d.wfxOem.wBitsPerSample, 16);
  EXPECT_EQ(d.nChannels, 2);
  EXPECT_EQ(d.nSource, 4u);
  EXPECT_EQ(endpoint.refs, 1);
  EXPECT_EQ(endpoint.store.refs, 1);
}

TEST_F(EndpointRecord, WithoutItsPropertiesKeyKeepsNameAdapterIndexAndSourceOnly) {
  FakeEndpoint endpoint(L"Line Out", IdFor(kKeyMissing));
  WINAUDIO_DEVICE d;
  ASSERT_EQ(Fill(endpoint, &d), 0);
  EXPECT_STREQ(d.wszName, L"Line Out");
  EXPECT_STREQ(d.wszAdapter, L"Line Out adapter");
  EXPECT_EQ(d.nDevice, 0);
  EXPECT_EQ(d.nSource, 4u);
  EXPECT_EQ(d.nChannels, 0);
  EXPECT_EQ(d.nFormFactor, 0u);
  WAVEFORMATEX zero = {};
  EXPECT_EQ(memcmp(&d.wfxDevice, &zero, sizeof(zero)), 0);
  EXPECT_EQ(memcmp(&d.wfxOem, &zero, sizeof(zero)), 0);
  EXPECT_STREQ(d.wszDescription, L"");
  EXPECT_STREQ(d.wszPath, L"");
  EXPECT_STREQ(d.szPath, "");
  EXPECT_STREQ(d.wszIconPath, L"");
  EXPECT_STREQ(d.szIdent, "");
}

TEST_F(EndpointRecord, FormatValuesCountOnlyWithHeaderAndAPlausibleSize) {
  struct Case { size_t size; WORD expectChannels; } cases[] = {{40, 0}, {47, 0}, {48, 3}, {255, 3}, {256, 0}, {300, 0}};
  for (const Case& c : cases) {
    std::wstring props = Properties(kRenderKey, kKeyA);
    SetBlob(props, kDeviceFormat, FormatBlob(c.size, 3));
    SetBlob(props, kOemFormat, FormatBlob(c.size, 3));
    FakeEndpoint endpoint(L"Speakers", IdFor(kKeyA));
    WINAUDIO_DEVICE d;
    ASSERT_EQ(Fill(endpoint, &d), 0);
    EXPECT_EQ(d.wfxDevice.nChannels, c.expectChannels) << c.size << " bytes";
    EXPECT_EQ(d.wfxOem.nChannels, c.expectChannels) << c.size << " bytes";
    EXPECT_EQ(d.nChannels, c.expectChannels) << c.size << " bytes";
    if (c.expectChannels) {
      EXPECT_EQ(d.wfxDevice.wFormatTag, WAVE_FORMAT_PCM);
    }
  }
}

TEST_F(EndpointRecord, IdentifierIsTheTextAfterTheLastColon) {
  struct Case { const wchar_t* stored; const char* expect; } cases[] = {
      {L"USB\\VID_1234:PID_5678:in-1", "in-1"}, {L"plain-ident", "plain-ident"}, {L"trailing:", ""}};
  for (const Case& c : cases) {
    SetString(Properties(kCaptureKey, kKeyB), kIdent, c.stored);
    FakeEndpoint endpoint(L"Microphone", IdFor(kKeyB));
    WINAUDIO_DEVICE d;
    ASSERT_EQ(Fill(endpoint, &d, WINAUDIO_CAPTURE), 0);
    EXPECT_STREQ(d.szIdent, c.expect) << c.stored;
  }
}

TEST_F(EndpointRecord, PathStartsAtTheFirstBackslashAndFormFactorMustBeADword) {
  std::wstring props = Properties(kRenderKey, kKeyA);
  SetString(props, kPath, L"{5EED0A00-0000-4000-8000-000000000001}");
  SetString(props, kFormFactor, L"1");
  FakeEndpoint endpoint(L"Speakers", IdFor(kKeyA));
  WINAUDIO_DEVICE d;
  ASSERT_EQ(Fill(endpoint, &d), 0);
  EXPECT_STREQ(d.wszPath, L"");
  EXPECT_STREQ(d.szPath, "");
  EXPECT_EQ(d.nFormFactor, 0u);
}

TEST_F(EndpointRecord, EndpointOfTheOtherDirectionIsNotRead) {
  SetString(Properties(kCaptureKey, kKeyA), kDescription, L"Capture side");
  FakeEndpoint endpoint(L"Speakers", IdFor(kKeyA));
  WINAUDIO_DEVICE d;
  ASSERT_EQ(Fill(endpoint, &d, WINAUDIO_RENDER), 0);
  EXPECT_STREQ(d.wszDescription, L"");
  ASSERT_EQ(Fill(endpoint, &d, WINAUDIO_CAPTURE), 0);
  EXPECT_STREQ(d.wszDescription, L"Capture side");
}

TEST_F(EndpointRecord, IdWithoutBracedTailIsFoundByDescriptionAndAdapterName) {
  std::wstring a = Properties(kRenderKey, kKeyA);
  SetString(a, kDescription, L"Fixture Speakers");
  SetString(a, kAdapter, L"Fixture Card");
  SetDword(a, kFormFactor, 1);
  std::wstring b = Properties(kRenderKey, kKeyB);
  SetString(b, kDescription, L"Fixture Phones");
  SetString(b, kAdapter, L"Fixture Card B");
  SetDword(b, kFormFactor, 3);

  struct Case { const wchar_t* name; const wchar_t* key; DWORD formFactor; } cases[] = {
      {L"Fixture Speakers (Fixture Card)", kKeyA, 1},  // with the blank
      {L"Fixture Phones(Fixture Card B)", kKeyB, 3},   // without it
      {L"Fixture Phones (Fixt", kKeyB, 3},             // a truncated name
  };
  for (const Case& c : cases) {
    FakeEndpoint endpoint(c.name, L"{0.0.0.00000000}.{short}");
    WINAUDIO_DEVICE d;
    ASSERT_EQ(Fill(endpoint, &d), 0);
    EXPECT_STREQ(d.wszEndpointKey, c.key) << c.name;
    EXPECT_EQ(d.nFormFactor, c.formFactor) << c.name;
  }

  FakeEndpoint stranger(L"Nothing Like It (Nowhere)", L"no braces at all");
  WINAUDIO_DEVICE d;
  ASSERT_EQ(Fill(stranger, &d), 0);
  EXPECT_STREQ(d.wszEndpointKey, L"");
  EXPECT_STREQ(d.wszDescription, L"");
  EXPECT_EQ(d.nSource, 4u);
}

TEST_F(EndpointRecord, LongDescriptionAndAdapterStillComposeAndMatch) {
  std::wstring description(2040, L'd'), adapter(2040, L'a');
  std::wstring props = Properties(kRenderKey, kKeyA);
  SetString(props, kDescription, description);
  SetString(props, kAdapter, adapter);
  FakeEndpoint endpoint(description.substr(0, 300), L"{}");
  WINAUDIO_DEVICE d;
  ASSERT_EQ(Fill(endpoint, &d), 0);
  EXPECT_EQ(wcslen(d.wszName), 255u);
  EXPECT_STREQ(d.wszEndpointKey, kKeyA);
  EXPECT_EQ(wcslen(d.wszDescription), 127u);
}

TEST_F(EndpointRecord, IncompleteEndpointsReportWhichStepFailed) {
  WINAUDIO_DEVICE d;
  FakeCollection empty;
  EXPECT_EQ(WINAUDIO_FillEndpoint(&empty, 0, &d, WINAUDIO_RENDER), -1);

  FakeEndpoint closed(L"Closed", IdFor(kKeyMissing));
  closed.storeOpens = false;
  EXPECT_EQ(Fill(closed, &d), -3);

  FakeEndpoint nameless(L"Nameless", IdFor(kKeyMissing));
  nameless.store.name.kind = FakeValue::Absent;
  EXPECT_EQ(Fill(nameless, &d), -4);

  FakeEndpoint noAdapter(L"No Adapter", IdFor(kKeyMissing));
  noAdapter.store.adapter.kind = FakeValue::Absent;
  EXPECT_EQ(Fill(noAdapter, &d), -5);

  for (FakeEndpoint* e : {&closed, &nameless, &noAdapter}) {
    EXPECT_EQ(e->refs, 1);
    EXPECT_EQ(e->store.refs, 1);
  }
}

TEST_F(EndpointRecord, ValuesThatAreNotStringsLeaveTheirFieldsEmpty) {
  FakeEndpoint endpoint(L"", IdFor(kKeyMissing));
  endpoint.store.name.kind = FakeValue::Number;
  endpoint.store.adapter.kind = FakeValue::Number;
  endpoint.hasId = false;
  WINAUDIO_DEVICE d;
  ASSERT_EQ(Fill(endpoint, &d), 0);
  EXPECT_STREQ(d.wszName, L"");
  EXPECT_STREQ(d.szName, "");
  EXPECT_STREQ(d.wszAdapter, L"");
  EXPECT_EQ(d.nSource, 4u);
}

TEST_F(EndpointRecord, RegistryStringWithoutTerminatorIsTerminated) {
  std::wstring props = Properties(kRenderKey, kKeyA);
  // The registry adds a forgotten terminator when the unit after the data is
  // zero, so the data is cut out of a longer text.
  const wchar_t text[] = L"unterminated, and more";
  Set(props, kDescription, REG_SZ, text, 12 * sizeof(wchar_t));
  std::vector<wchar_t> out(WINAUDIO_REGSTRING_CCH, L'#');
  ASSERT_EQ(WINAUDIO_ReadRegString(props.c_str(), kDescription, out.data()), 1);
  EXPECT_STREQ(out.data(), L"unterminated");

  SetDword(props, kIconPath, 5);
  EXPECT_EQ(WINAUDIO_ReadRegString(props.c_str(), kIconPath, out.data()), 0);
  EXPECT_EQ(WINAUDIO_ReadRegString((props + L"\\nothing").c_str(), kDescription, out.data()), 0);

  // A full 4 096-byte value without terminator still ends inside the buffer.
  std::wstring full(2049, L'f');
  Set(props, kPath, REG_SZ, full.c_str(), 4096);
  ASSERT_EQ(WINAUDIO_ReadRegString(props.c_str(), kPath, out.data()), 1);
  EXPECT_EQ(wcslen(out.data()), 2048u);
}

TEST(EndpointKey, IsTheBracedTailOfTheIdWhenLongEnough) {
  WCHAR key[64];
  WINAUDIO_EndpointKeyFromId(key, L"{0.0.0.00000000}.{eea9d561-5cd1-4686-8f5e-64d10a15e77a}");
  EXPECT_STREQ(key, L"{eea9d561-5cd1-4686-8f5e-64d10a15e77a}");
  WINAUDIO_EndpointKeyFromId(key, L"{0.0.0.00000000}.{0123456789abcd}");  // 16 characters
  EXPECT_STREQ(key, L"");
  WINAUDIO_EndpointKeyFromId(key, L"no braces here at all, however long it is");
  EXPECT_STREQ(key, L"");
  WINAUDIO_EndpointKeyFromId(key, NULL);
  EXPECT_STREQ(key, L"");
  std::wstring longTail = L"{" + std::wstring(100, L'9') + L"}";
  WINAUDIO_EndpointKeyFromId(key, longTail.c_str());
  EXPECT_EQ(wcslen(key), 63u);
}

WINAUDIO_DEVICE Named(const wchar_t* name) {
  WINAUDIO_DEVICE d = {};
  wcsncpy(d.wszName, name, 255);
  return d;
}

TEST(DeviceOrder, ComparesNamesByCodeUnit) {
  WINAUDIO_DEVICE upperZ = Named(L"Zulu"), lowerA = Named(L"alpha"), wide = Named(L"\xFF21wide");
  WINAUDIO_DEVICE alpha2 = Named(L"alpha"), alphabet = Named(L"alphabet");
  EXPECT_EQ(WINAUDIO_CompareDevices(&upperZ, &lowerA), -1);
  EXPECT_EQ(WINAUDIO_CompareDevices(&lowerA, &upperZ), 1);
  EXPECT_EQ(WINAUDIO_CompareDevices(&lowerA, &alpha2), 0);
  EXPECT_EQ(WINAUDIO_CompareDevices(&lowerA, &alphabet), -1);
  EXPECT_EQ(WINAUDIO_CompareDevices(&wide, &lowerA), 1);  // units compare unsigned
}

TEST(AnsiText, IsAlwaysTerminatedWithinItsSize) {
  char out[8];
  memset(out, 'x', sizeof(out));
  WINAUDIO_ToAnsi(out, L"Speakers and more", 5);
  EXPECT_EQ(out[4], 0);
  EXPECT_EQ(out[5], 'x');
  EXPECT_GT(WINAUDIO_ToAnsi(out, L"abc", 8), 0);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(WINAUDIO_ToAnsi(out, L"abc", 0), 0);
}

// Refresh over a fake enumerator, with the lists set up as start-up does.
class Inventory : public RegistryFixture {
 protected:
  FakeEnumerator enumerator;
  std::vector<std::unique_ptr<FakeEndpoint>> owned;

  void SetUp() override {
    memset(&WINAUDIO_State, 0, sizeof(WINAUDIO_State));
    WINAUDIO_State.nOptions = WINAUDIO_OPT_ENDPOINTS;
    WINAUDIO_State.pCreateEventExA = GetProcAddress(GetModuleHandleA("Kernel32.dll"), "CreateEventExA");
    RECARRAY_Init(&WINAUDIO_State.captureList, sizeof(WINAUDIO_DEVICE), 8192, 32768);
    RECARRAY_Init(&WINAUDIO_State.renderList, sizeof(WINAUDIO_DEVICE), 8192, 32768);
  }
  void TearDown() override {
    RECARRAY_Free(&WINAUDIO_State.captureList);
    RECARRAY_Free(&WINAUDIO_State.renderList);
    memset(&WINAUDIO_State, 0, sizeof(WINAUDIO_State));
    owned.clear();
    RegistryFixture::TearDown();
  }
  FakeEndpoint* Add(FakeCollection& c, const wchar_t* name, const wchar_t* key) {
    FakeEndpoint* e = new FakeEndpoint(name, IdFor(key));
    owned.emplace_back(e);
    c.endpoints.push_back(e);
    return e;
  }
  std::vector<std::wstring> RenderNames() {
    std::vector<std::wstring> names;
    for (int i = 1; i <= WINAUDIO_GetRenderCount(); i++) names.push_back(WINAUDIO_GetRenderDevice(i)->wszName);
    return names;
  }
};

TEST_F(Inventory, ListsEveryCompleteEndpointSortedByCodeUnit) {
  Add(enumerator.render, L"alpha", kKeyMissing);
  Add(enumerator.render, L"Zulu", kKeyMissing);
  Add(enumerator.render, L"Broken", kKeyMissing)->storeOpens = false;
  Add(enumerator.render, L"Mid", kKeyMissing);
  Add(enumerator.capture, L"Mic", kKeyMissing);

  EXPECT_EQ(WINAUDIO_Refresh(&enumerator), 0);
  EXPECT_EQ(enumerator.lastStateMask, (DWORD)DEVICE_STATE_ACTIVE);
  EXPECT_EQ(RenderNames(), (std::vector<std::wstring>{L"Mid", L"Zulu", L"alpha"}));
  EXPECT_EQ(WINAUDIO_State.nRenderEndpoints, 3);
  EXPECT_EQ(WINAUDIO_State.nCaptureEndpoints, 1);
  ASSERT_EQ(WINAUDIO_GetCaptureCount(), 1);
  EXPECT_STREQ(WINAUDIO_GetCaptureDevice(1)->wszName, L"Mic");
  // Each record keeps its position in the enumeration, not in the sorted list.
  EXPECT_EQ(WINAUDIO_GetRenderDevice(1)->nDevice, 3);
  EXPECT_EQ(WINAUDIO_GetRenderDevice(3)->nDevice, 0);
  EXPECT_EQ(WINAUDIO_GetRenderDevice(0), nullptr);
  EXPECT_EQ(WINAUDIO_GetRenderDevice(4), nullptr);
  EXPECT_EQ(WINAUDIO_GetRenderDevice(-1), nullptr);
  EXPECT_EQ(enumerator.render.refs, 1);
  EXPECT_EQ(enumerator.refs, 1);

  // A second refresh rebuilds rather than appends.
  WINAUDIO_Refresh(&enumerator);
  EXPECT_EQ(WINAUDIO_GetRenderCount(), 3);
}

TEST_F(Inventory, FailedEnumerationOrMissingEndpointApiLeavesListsEmpty) {
  Add(enumerator.render, L"Speakers", kKeyMissing);
  enumerator.enumerates = false;
  WINAUDIO_Refresh(&enumerator);
  EXPECT_EQ(WINAUDIO_GetRenderCount(), 0);
  EXPECT_EQ(WINAUDIO_GetRenderDevice(1), nullptr);

  enumerator.enumerates = true;
  WINAUDIO_State.pCreateEventExA = NULL;
  WINAUDIO_Refresh(&enumerator);
  EXPECT_EQ(WINAUDIO_GetRenderCount(), 0);
}

TEST_F(Inventory, CollectionThatOverstatesItsCountAddsOnlyRealEndpoints) {
  Add(enumerator.render, L"Speakers", kKeyMissing);
  enumerator.render.claimedCount = 0xFFFFFFFFu;
  WINAUDIO_Refresh(&enumerator);
  EXPECT_EQ(WINAUDIO_GetRenderCount(), 1);
}

TEST_F(Inventory, UnmatchedEndpointBorrowsTheKeyOfAListedEndpointWithItsName) {
  std::wstring props = Properties(kRenderKey, kKeyA);
  SetString(props, kDescription, L"Headset earphone");
  SetString(props, kIdent, L"usb:headset-out");
  Add(enumerator.render, L"Headset Earphone (USB)", kKeyA);
  FakeEndpoint* bare = Add(enumerator.render, L"Headset", kKeyA);
  bare->id = L"no key in this id";
  // Only endpoints counted by the refresh before are searched, so the first
  // refresh leaves the bare endpoint without key and the second finds it.
  WINAUDIO_Refresh(&enumerator);
  EXPECT_STREQ(WINAUDIO_GetRenderDevice(1)->wszEndpointKey, L"");
  WINAUDIO_Refresh(&enumerator);
  const WINAUDIO_DEVICE* d = WINAUDIO_GetRenderDevice(1);
  ASSERT_STREQ(d->wszName, L"Headset");
  EXPECT_STREQ(d->wszEndpointKey, kKeyA);
  EXPECT_STREQ(d->wszDescription, L"Headset earphone");
  EXPECT_STREQ(d->szIdent, "headset-out");
}

}  // namespace
