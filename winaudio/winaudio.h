// WINAUDIO: the process-wide audio environment (1 ms system timer, optional
// system libraries, COM on the user-interface thread) and the inventory of the
// machine's capture and render endpoints, kept as two sorted record lists.
#ifndef MB_WINAUDIO_WINAUDIO_H
#define MB_WINAUDIO_WINAUDIO_H

#include <windows.h>
#include <mmsystem.h>
#include <mmdeviceapi.h>
#include <stdint.h>

#include "winaudio/recarray.h"

enum {
  WINAUDIO_OPT_ENDPOINTS = 0x4,
  WINAUDIO_OPT_TIMER1MS = 0x100000
};

// Property read mask of WINAUDIO_ReadEndpointProperties / WINAUDIO_FindEndpointKey.
enum {
  WINAUDIO_PROP_IDENT = 0x1,
  WINAUDIO_PROP_KEEPKEY = 0x4,
  WINAUDIO_PROP_BYKEY = 0x8,
  WINAUDIO_PROP_PATH = 0x20,
  WINAUDIO_PROP_ENUM = WINAUDIO_PROP_IDENT | WINAUDIO_PROP_BYKEY | WINAUDIO_PROP_PATH
};

enum { WINAUDIO_RENDER = 0, WINAUDIO_CAPTURE = 1 };

enum { WINAUDIO_SOURCE_ENDPOINT = 4 };

// Size of the output buffer of WINAUDIO_ReadRegString, in UTF-16 units.
enum { WINAUDIO_REGSTRING_CCH = 4096 };

// The record of both endpoint lists; plain bytes, copied whole by RECARRAY.
typedef struct WINAUDIO_DEVICE {
  int32_t nDevice;
  char szName[256];
  WCHAR wszName[256];
  WAVEFORMATEX wfxDevice;
  WAVEFORMATEX wfxOem;
  int32_t nChannels;
  uint32_t nSource;
  uint32_t nFormFactor;
  WCHAR wszDescription[128];
  WCHAR wszAdapter[128];
  char szPath[512];
  WCHAR wszPath[512];
  char szIdent[128];
  WCHAR wszIconPath[512];
  WCHAR wszEndpointKey[64];
} WINAUDIO_DEVICE;

static_assert(sizeof(WAVEFORMATEX) == 18, "the endpoint formats are the packed 18-byte wave format head");

typedef struct WINAUDIO_STATE {
  HINSTANCE hInstance;
  RECARRAY captureList;
  RECARRAY renderList;
  int32_t nCaptureEndpoints;
  int32_t nRenderEndpoints;
  HMODULE hKsUser;
  FARPROC pKsCreatePin;
  HMODULE hAvrt;
  HRESULT hrCom;
  uint32_t nOptions;
  // Looked up at start-up; only the presence of CreateEventExA is used (it
  // marks a system with the endpoint API). The multimedia-class entry points
  // are kept for registering a thread; nothing calls them yet.
  FARPROC pCreateEventExA;
  FARPROC pAvRevertMmThreadCharacteristics;
  FARPROC pAvSetMmThreadCharacteristicsA;
} WINAUDIO_STATE;

extern WINAUDIO_STATE WINAUDIO_State;

// The system functions the bootstrap goes through. They point at the real ones;
// tests replace them to count timer calls or to make libraries go missing.
typedef struct WINAUDIO_SYSCALLS {
  HMODULE(WINAPI* pfnLoadLibraryA)(LPCSTR name);
  HMODULE(WINAPI* pfnGetModuleHandleA)(LPCSTR name);
  FARPROC(WINAPI* pfnGetProcAddress)(HMODULE module, LPCSTR name);
  BOOL(WINAPI* pfnFreeLibrary)(HMODULE module);
  MMRESULT(WINAPI* pfnTimeBeginPeriod)(UINT period);
  MMRESULT(WINAPI* pfnTimeEndPeriod)(UINT period);
} WINAUDIO_SYSCALLS;

extern WINAUDIO_SYSCALLS WINAUDIO_SysCalls;

// Bootstrap.
int WINAUDIO_Init(HINSTANCE hInstance);
int WINAUDIO_End(void);
// mode: 1 begins, 0 ends. Returns the whole milliseconds, or the current
// resolution reported by ntdll for periods below 1 ms.
uint32_t WINAUDIO_SetTimerPeriod(float fPeriodMs, int nMode);

// Inventory. A null enumerator means the system's own (CoCreateInstance);
// tests hand in their own to steer the endpoints.
int WINAUDIO_Refresh(IMMDeviceEnumerator* pEnumerator);
int WINAUDIO_EnumEndpoints(IMMDeviceEnumerator* pEnumerator, int nDirection);
int WINAUDIO_FillEndpoint(IMMDeviceCollection* pCollection, UINT nIndex, WINAUDIO_DEVICE* pDevice, int nDirection);
void WINAUDIO_EndpointKeyFromId(WCHAR wszKey[64], const WCHAR* wszId);
int WINAUDIO_FindEndpointKey(WINAUDIO_DEVICE* pDevice, const WCHAR* wszDirection, uint32_t nMask);
int WINAUDIO_ReadEndpointProperties(WINAUDIO_DEVICE* pDevice, const WCHAR* wszDirectionKey, const WCHAR* wszKeyName,
                                    uint32_t nMask);
// wszOut holds at least WINAUDIO_REGSTRING_CCH units.
int WINAUDIO_ReadRegString(const WCHAR* wszSubKey, const WCHAR* wszValue, WCHAR* wszOut);
int WINAUDIO_ToAnsi(char* szOut, const WCHAR* wszIn, int nOutBytes);
int WINAUDIO_CompareDevices(const void* pA, const void* pB);

// Readers of the lists: 1-based positions; 0 or a position past the end gives
// null. Records stay valid until the next refresh.
int WINAUDIO_GetRenderCount(void);
const WINAUDIO_DEVICE* WINAUDIO_GetRenderDevice(int nIndex);
int WINAUDIO_GetCaptureCount(void);
const WINAUDIO_DEVICE* WINAUDIO_GetCaptureDevice(int nIndex);

#endif  // MB_WINAUDIO_WINAUDIO_H
