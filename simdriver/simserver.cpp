// The in-process COM server: class factory, the four exports and the
// registration of the default profiles.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <new>

#include "simdriver/simdriver.h"
#include "simdriver/simreg.h"

namespace {

HMODULE g_hModule = nullptr;
LONG g_nLocks = 0;
LONG g_nFactories = 0;

class SimFactory final : public IClassFactory {
 public:
  explicit SimFactory(REFCLSID clsid) : nRefs_(1), clsid_(clsid) { InterlockedIncrement(&g_nFactories); }
  ~SimFactory() { InterlockedDecrement(&g_nFactories); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&nRefs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&nRefs_);
    if (n == 0) delete this;
    return (ULONG)n;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IASIO* driver = SIMDRIVER_Create(clsid_);
    if (!driver) return E_OUTOFMEMORY;
    HRESULT hr = driver->QueryInterface(riid, ppv);
    driver->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&g_nLocks);
    else
      InterlockedDecrement(&g_nLocks);
    return S_OK;
  }

 private:
  LONG nRefs_;
  CLSID clsid_;
};

// A class is ours when it is a default profile or a profile under
// SOFTWARE\ASIO names it (profiles added with their own fresh CLSID).
int IsOurClass(REFCLSID clsid) {
  char name[SIMREG_KEYNAME_SIZE];
  for (int i = 0; i < SIMREG_DefaultCount; ++i) {
    if (IsEqualGUID(SIMREG_Defaults[i].clsid, clsid)) return 1;
  }
  return SIMREG_FindProfile(clsid, name, sizeof(name));
}

int CountSettings(const char* const* settings) {
  int n = 0;
  while (settings && settings[n]) ++n;
  return n;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_hModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsOurClass(rclsid)) return CLASS_E_CLASSNOTAVAILABLE;
  SimFactory* factory = new (std::nothrow) SimFactory(rclsid);
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow(void) {
  LONG busy = SIMDRIVER_LiveObjects() + InterlockedCompareExchange(&g_nLocks, 0, 0) +
              InterlockedCompareExchange(&g_nFactories, 0, 0);
  return busy == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer(void) {
  WCHAR path[MAX_PATH];
  DWORD n = GetModuleFileNameW(g_hModule, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
  for (int i = 0; i < SIMREG_DefaultCount; ++i) {
    const SIMREG_DEFAULT* d = &SIMREG_Defaults[i];
    if (SIMREG_RegisterClass(d->clsid, d->szDescription, path) != ERROR_SUCCESS ||
        SIMREG_WriteProfile(d->szName, d->clsid, d->szDescription, d->ppSettings, CountSettings(d->ppSettings)) !=
            ERROR_SUCCESS) {
      DllUnregisterServer();
      return SELFREG_E_CLASS;
    }
  }
  return S_OK;
}

STDAPI DllUnregisterServer(void) {
  HRESULT hr = S_OK;
  for (int i = 0; i < SIMREG_DefaultCount; ++i) {
    const SIMREG_DEFAULT* d = &SIMREG_Defaults[i];
    if (SIMREG_DeleteProfile(d->szName, d->clsid) != ERROR_SUCCESS) hr = SELFREG_E_CLASS;
    if (SIMREG_UnregisterClass(d->clsid) != ERROR_SUCCESS) hr = SELFREG_E_CLASS;
  }
  // SOFTWARE\ASIO itself stays: other drivers may live there, and an empty
  // key is what a machine without drivers has anyway.
  return hr;
}
