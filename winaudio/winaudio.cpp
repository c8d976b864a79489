#include "winaudio/winaudio.h"

#include <string.h>

WINAUDIO_STATE WINAUDIO_State;

static HMODULE WINAPI WINAUDIO_RealLoadLibraryA(LPCSTR name) { return LoadLibraryA(name); }
static HMODULE WINAPI WINAUDIO_RealGetModuleHandleA(LPCSTR name) { return GetModuleHandleA(name); }
static FARPROC WINAPI WINAUDIO_RealGetProcAddress(HMODULE module, LPCSTR name) { return GetProcAddress(module, name); }
static BOOL WINAPI WINAUDIO_RealFreeLibrary(HMODULE module) { return FreeLibrary(module); }
static MMRESULT WINAPI WINAUDIO_RealTimeBeginPeriod(UINT period) { return timeBeginPeriod(period); }
static MMRESULT WINAPI WINAUDIO_RealTimeEndPeriod(UINT period) { return timeEndPeriod(period); }

WINAUDIO_SYSCALLS WINAUDIO_SysCalls = {
    WINAUDIO_RealLoadLibraryA,   WINAUDIO_RealGetModuleHandleA, WINAUDIO_RealGetProcAddress,
    WINAUDIO_RealFreeLibrary,    WINAUDIO_RealTimeBeginPeriod,  WINAUDIO_RealTimeEndPeriod,
};

// Timer period memory: process-wide and never cleared, so that an end always
// matches the begin that came before it.
static int g_nTimerMode;
static float g_fTimerPeriod;

typedef LONG(NTAPI* WINAUDIO_NTQUERYTIMERRESOLUTION)(PULONG pCoarsest, PULONG pFinest, PULONG pCurrent);
typedef LONG(NTAPI* WINAUDIO_NTSETTIMERRESOLUTION)(ULONG nDesired, BOOLEAN bSet, PULONG pCurrent);

// Below 1 ms the multimedia timer cannot help; ask the kernel directly, never
// for less than its finest resolution.
static ULONG WINAUDIO_SetFineTimerResolution(float fPeriodMs, int nMode, ULONG nWholeMs) {
  ULONG nCoarsest = 0, nFinest = 0, nCurrent = 0;
  HMODULE hNtdll = WINAUDIO_SysCalls.pfnLoadLibraryA("ntdll.dll");
  if (!hNtdll) return nWholeMs;
  WINAUDIO_NTQUERYTIMERRESOLUTION pQuery =
      (WINAUDIO_NTQUERYTIMERRESOLUTION)(void*)WINAUDIO_SysCalls.pfnGetProcAddress(hNtdll, "NtQueryTimerResolution");
  WINAUDIO_NTSETTIMERRESOLUTION pSet =
      (WINAUDIO_NTSETTIMERRESOLUTION)(void*)WINAUDIO_SysCalls.pfnGetProcAddress(hNtdll, "NtSetTimerResolution");
  ULONG nUnits = fPeriodMs > 0.0f ? (ULONG)(fPeriodMs * 10000.0f) : 0;
  if (pQuery) {
    pQuery(&nCoarsest, &nFinest, &nCurrent);
    if (nUnits < nFinest) nUnits = nFinest;
  }
  if (pSet && nUnits < 10000) pSet(nUnits, (BOOLEAN)(nMode ? TRUE : FALSE), &nCurrent);
  WINAUDIO_SysCalls.pfnFreeLibrary(hNtdll);
  return nCurrent;
}

uint32_t WINAUDIO_SetTimerPeriod(float fPeriodMs, int nMode) {
  if (nMode == g_nTimerMode) return 0;
  if (nMode)
    g_fTimerPeriod = fPeriodMs;
  else if (g_fTimerPeriod > 0.0f)
    fPeriodMs = g_fTimerPeriod;
  UINT nWholeMs = fPeriodMs >= 1.0f ? (UINT)fPeriodMs : 1;
  if (nMode)
    WINAUDIO_SysCalls.pfnTimeBeginPeriod(nWholeMs);
  else
    WINAUDIO_SysCalls.pfnTimeEndPeriod(nWholeMs);
  uint32_t nResult = nWholeMs;
  if (fPeriodMs < 1.0f) nResult = WINAUDIO_SetFineTimerResolution(fPeriodMs, nMode, nWholeMs);
  g_nTimerMode = nMode;
  return nResult;
}

static void WINAUDIO_LoadOptionalLibraries(void) {
  WINAUDIO_STATE* s = &WINAUDIO_State;
  s->hKsUser = WINAUDIO_SysCalls.pfnLoadLibraryA("ksuser.dll");
  if (s->hKsUser) s->pKsCreatePin = WINAUDIO_SysCalls.pfnGetProcAddress(s->hKsUser, "KsCreatePin");
}

static void WINAUDIO_LookUpSystemEntryPoints(void) {
  WINAUDIO_STATE* s = &WINAUDIO_State;
  HMODULE hKernel = WINAUDIO_SysCalls.pfnGetModuleHandleA("Kernel32.dll");
  if (hKernel) s->pCreateEventExA = WINAUDIO_SysCalls.pfnGetProcAddress(hKernel, "CreateEventExA");
  s->hAvrt = WINAUDIO_SysCalls.pfnLoadLibraryA("Avrt.dll");
  if (s->hAvrt) {
    s->pAvRevertMmThreadCharacteristics = WINAUDIO_SysCalls.pfnGetProcAddress(s->hAvrt, "AvRevertMmThreadCharacteristics");
    s->pAvSetMmThreadCharacteristicsA = WINAUDIO_SysCalls.pfnGetProcAddress(s->hAvrt, "AvSetMmThreadCharacteristicsA");
  }
}

int WINAUDIO_Init(HINSTANCE hInstance) {
  WINAUDIO_STATE* s = &WINAUDIO_State;
  memset(s, 0, sizeof(*s));
  WINAUDIO_SetTimerPeriod(1.0f, 1);
  s->nOptions = WINAUDIO_OPT_ENDPOINTS | WINAUDIO_OPT_TIMER1MS;
  s->hInstance = hInstance;
  WINAUDIO_LoadOptionalLibraries();
  s->hrCom = CoInitialize(NULL);
  WINAUDIO_LookUpSystemEntryPoints();
  RECARRAY_Init(&s->captureList, sizeof(WINAUDIO_DEVICE), 8192, 32768);
  RECARRAY_Init(&s->renderList, sizeof(WINAUDIO_DEVICE), 8192, 32768);
  WINAUDIO_Refresh(NULL);
  return 0;
}

int WINAUDIO_End(void) {
  WINAUDIO_STATE* s = &WINAUDIO_State;
  if (s->nOptions & WINAUDIO_OPT_TIMER1MS) WINAUDIO_SetTimerPeriod(1.0f, 0);
  if (s->hKsUser) WINAUDIO_SysCalls.pfnFreeLibrary(s->hKsUser);
  s->hKsUser = NULL;
  s->pKsCreatePin = NULL;
  if (s->hAvrt) WINAUDIO_SysCalls.pfnFreeLibrary(s->hAvrt);
  s->hAvrt = NULL;
  s->pAvRevertMmThreadCharacteristics = NULL;
  s->pAvSetMmThreadCharacteristicsA = NULL;
  if (s->hrCom == S_OK || s->hrCom == S_FALSE) CoUninitialize();
  RECARRAY_Free(&s->captureList);
  RECARRAY_Free(&s->renderList);
  memset(s, 0, sizeof(*s));
  return 0;
}
