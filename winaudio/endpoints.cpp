// The endpoint inventory: the active endpoints of each direction, enumerated
// through the endpoint API, with what the audio service keeps in the registry
// about each of them.
#include <propidl.h>
#include <string.h>
#include <wchar.h>

#include "winaudio/winaudio.h"

static const CLSID WINAUDIO_CLSID_MMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
static const IID WINAUDIO_IID_IMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
static const PROPERTYKEY WINAUDIO_PKEY_Device_FriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
static const PROPERTYKEY WINAUDIO_PKEY_DeviceInterface_FriendlyName = {
    {0x026e516e, 0xb814, 0x414b, {0x83, 0xcd, 0x85, 0x6d, 0x6f, 0xef, 0x48, 0x22}}, 2};

static const WCHAR WINAUDIO_AUDIO_KEY[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio";
static const WCHAR WINAUDIO_VAL_PATH[] = L"{233164c8-1b2c-4c7d-bc68-b671687a2567},1";
static const WCHAR WINAUDIO_VAL_DESCRIPTION[] = L"{a45c254e-df1c-4efd-8020-67d146a850e0},2";
static const WCHAR WINAUDIO_VAL_ADAPTER[] = L"{b3f8fa53-0004-438e-9003-51a46e139bfc},6";
static const WCHAR WINAUDIO_VAL_FORMFACTOR[] = L"{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},0";
static const WCHAR WINAUDIO_VAL_ICONPATH[] = L"{259abffc-50a7-47ce-af08-68c9a7d73366},12";
static const WCHAR WINAUDIO_VAL_DEVICEFORMAT[] = L"{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},0";
static const WCHAR WINAUDIO_VAL_OEMFORMAT[] = L"{f19f064d-082c-4e27-bc73-6882a1bb8e4c},0";
static const WCHAR WINAUDIO_VAL_IDENT[] = L"{83da6326-97a6-4088-9453-a1923f573b29},3";

enum {
  WINAUDIO_KEYPATH_CCH = 1200,  // direction key, a subkey name of up to 1 000 units, "Properties"
  WINAUDIO_SUBKEY_CCH = 1001,
  WINAUDIO_COMPOSED_CCH = 2 * WINAUDIO_REGSTRING_CCH + 4,
  WINAUDIO_REGBINARY_BYTES = 1024,
  WINAUDIO_WFX_HEADER = 8,
  // A collection that claims more endpoints than this is not believed.
  WINAUDIO_MAX_ENDPOINTS = 4096
};

// Copies at most nMax units and always terminates (dst holds nMax + 1 units).
static void WINAUDIO_CopyW(WCHAR* dst, const WCHAR* src, size_t nMax) {
  size_t n = 0;
  if (src)
    while (n < nMax && src[n]) {
      dst[n] = src[n];
      n++;
    }
  dst[n] = 0;
}

// Appends src to dst (capacity nCch units); 0 when it would not fit.
static int WINAUDIO_AppendW(WCHAR* dst, size_t nCch, const WCHAR* src) {
  size_t nHave = wcslen(dst), nAdd = wcslen(src);
  if (nHave + nAdd >= nCch) return 0;
  memcpy(dst + nHave, src, (nAdd + 1) * sizeof(WCHAR));
  return 1;
}

static int WINAUDIO_JoinKeyPath(WCHAR* dst, size_t nCch, const WCHAR* a, const WCHAR* b, const WCHAR* c) {
  dst[0] = 0;
  if (!WINAUDIO_AppendW(dst, nCch, a) || !WINAUDIO_AppendW(dst, nCch, L"\\") || !WINAUDIO_AppendW(dst, nCch, b))
    return 0;
  if (c && (!WINAUDIO_AppendW(dst, nCch, L"\\") || !WINAUDIO_AppendW(dst, nCch, c))) return 0;
  return 1;
}

static LONG WINAUDIO_OpenKey(const WCHAR* wszSubKey, HKEY* phKey) {
  LONG nResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wszSubKey, 0, KEY_READ, phKey);
  if (nResult != ERROR_SUCCESS)
    nResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wszSubKey, 0, KEY_READ | KEY_WOW64_64KEY, phKey);
  return nResult;
}

// Reads one value into buf; returns its size in bytes and type, or -1.
static long WINAUDIO_QueryRegValue(const WCHAR* wszSubKey, const WCHAR* wszValue, BYTE* buf, DWORD nBufBytes,
                                   DWORD* pType) {
  HKEY hKey;
  if (WINAUDIO_OpenKey(wszSubKey, &hKey) != ERROR_SUCCESS) return -1;
  DWORD nBytes = nBufBytes;
  LONG nResult = RegQueryValueExW(hKey, wszValue, NULL, pType, buf, &nBytes);
  RegCloseKey(hKey);
  if (nResult != ERROR_SUCCESS || nBytes > nBufBytes) return -1;
  return (long)nBytes;
}

int WINAUDIO_ReadRegString(const WCHAR* wszSubKey, const WCHAR* wszValue, WCHAR* wszOut) {
  // Stored strings need not carry their terminator, so the data length bounds the copy.
  WCHAR buf[WINAUDIO_REGSTRING_CCH / 2];
  DWORD nType = REG_NONE;
  long nBytes = WINAUDIO_QueryRegValue(wszSubKey, wszValue, (BYTE*)buf, sizeof(buf), &nType);
  if (nBytes < 0 || nType != REG_SZ) return 0;
  size_t nUnits = (size_t)nBytes / sizeof(WCHAR), n = 0;
  while (n < nUnits && buf[n]) {
    wszOut[n] = buf[n];
    n++;
  }
  wszOut[n] = 0;
  return 1;
}

int WINAUDIO_ToAnsi(char* szOut, const WCHAR* wszIn, int nOutBytes) {
  if (!szOut || nOutBytes <= 0) return 0;
  memset(szOut, 0, (size_t)nOutBytes);
  if (!wszIn) return 0;
  int nResult = WideCharToMultiByte(CP_ACP, 0, wszIn, -1, szOut, nOutBytes, NULL, NULL);
  szOut[nOutBytes - 1] = 0;
  return nResult;
}

int WINAUDIO_CompareDevices(const void* pA, const void* pB) {
  const WCHAR* a = ((const WINAUDIO_DEVICE*)pA)->wszName;
  const WCHAR* b = ((const WINAUDIO_DEVICE*)pB)->wszName;
  const size_t nMax = sizeof(((WINAUDIO_DEVICE*)0)->wszName) / sizeof(WCHAR);
  for (size_t i = 0; i < nMax; i++) {
    uint16_t ua = (uint16_t)a[i], ub = (uint16_t)b[i];
    if (ua != ub) return ua > ub ? 1 : -1;
    if (!ua) break;
  }
  return 0;
}

void WINAUDIO_EndpointKeyFromId(WCHAR wszKey[64], const WCHAR* wszId) {
  memset(wszKey, 0, 64 * sizeof(WCHAR));
  const WCHAR* pBrace = wszId ? wcsrchr(wszId, L'{') : NULL;
  if (pBrace && wcslen(pBrace) > 16) WINAUDIO_CopyW(wszKey, pBrace, 63);
}

static void WINAUDIO_ReadFormat(const WCHAR* wszKeyPath, const WCHAR* wszValue, WAVEFORMATEX* pWfx) {
  // The value is an 8-byte header and a wave format; other sizes are not that layout.
  BYTE buf[WINAUDIO_REGBINARY_BYTES];
  DWORD nType = REG_NONE;
  long nBytes = WINAUDIO_QueryRegValue(wszKeyPath, wszValue, buf, sizeof(buf), &nType);
  if (nType == REG_BINARY && nBytes >= 48 && nBytes < 256)
    memcpy(pWfx, buf + WINAUDIO_WFX_HEADER, sizeof(WAVEFORMATEX));
}

static void WINAUDIO_ReadFormFactor(const WCHAR* wszKeyPath, WINAUDIO_DEVICE* pDevice) {
  DWORD nValue = 0, nType = REG_NONE;
  pDevice->nFormFactor = 0;
  long nBytes = WINAUDIO_QueryRegValue(wszKeyPath, WINAUDIO_VAL_FORMFACTOR, (BYTE*)&nValue, sizeof(nValue), &nType);
  if (nType == REG_DWORD && nBytes == (long)sizeof(nValue)) pDevice->nFormFactor = nValue;
}

static void WINAUDIO_ReadPath(const WCHAR* wszKeyPath, WINAUDIO_DEVICE* pDevice) {
  WCHAR wszValue[WINAUDIO_REGSTRING_CCH];
  if (!WINAUDIO_ReadRegString(wszKeyPath, WINAUDIO_VAL_PATH, wszValue)) return;
  const WCHAR* pBackslash = wcschr(wszValue, L'\\');
  WINAUDIO_CopyW(pDevice->wszPath, pBackslash ? pBackslash : L"", 511);
  if (pDevice->wszPath[0])
    WINAUDIO_ToAnsi(pDevice->szPath, pDevice->wszPath, sizeof(pDevice->szPath));
  else
    pDevice->szPath[0] = 0;
}

static void WINAUDIO_ReadIdent(const WCHAR* wszKeyPath, WINAUDIO_DEVICE* pDevice) {
  WCHAR wszValue[WINAUDIO_REGSTRING_CCH];
  if (!WINAUDIO_ReadRegString(wszKeyPath, WINAUDIO_VAL_IDENT, wszValue)) return;
  const WCHAR* pColon = wcsrchr(wszValue, L':');
  const WCHAR* pIdent = pColon ? pColon + 1 : wszValue;
  if (pIdent[0])
    WINAUDIO_ToAnsi(pDevice->szIdent, pIdent, sizeof(pDevice->szIdent));
  else
    pDevice->szIdent[0] = 0;
}

int WINAUDIO_ReadEndpointProperties(WINAUDIO_DEVICE* pDevice, const WCHAR* wszDirectionKey, const WCHAR* wszKeyName,
                                    uint32_t nMask) {
  WCHAR wszKeyPath[WINAUDIO_KEYPATH_CCH];
  WCHAR wszValue[WINAUDIO_REGSTRING_CCH];
  if (nMask & WINAUDIO_PROP_KEEPKEY) WINAUDIO_CopyW(pDevice->wszEndpointKey, wszKeyName, 63);
  if (!WINAUDIO_JoinKeyPath(wszKeyPath, WINAUDIO_KEYPATH_CCH, wszDirectionKey, wszKeyName, L"Properties")) return 0;
  if (nMask & WINAUDIO_PROP_PATH) WINAUDIO_ReadPath(wszKeyPath, pDevice);
  if (WINAUDIO_ReadRegString(wszKeyPath, WINAUDIO_VAL_DESCRIPTION, wszValue))
    WINAUDIO_CopyW(pDevice->wszDescription, wszValue, 127);
  WINAUDIO_ReadFormFactor(wszKeyPath, pDevice);
  if (WINAUDIO_ReadRegString(wszKeyPath, WINAUDIO_VAL_ICONPATH, wszValue))
    WINAUDIO_CopyW(pDevice->wszIconPath, wszValue, 511);
  WINAUDIO_ReadFormat(wszKeyPath, WINAUDIO_VAL_DEVICEFORMAT, &pDevice->wfxDevice);
  WINAUDIO_ReadFormat(wszKeyPath, WINAUDIO_VAL_OEMFORMAT, &pDevice->wfxOem);
  if (nMask & WINAUDIO_PROP_IDENT) WINAUDIO_ReadIdent(wszKeyPath, pDevice);
  return 0;
}

// "description (adapter)", or "description(adapter)"; cut to the buffer.
static void WINAUDIO_ComposeName(WCHAR* dst, size_t nCch, const WCHAR* wszDescription, const WCHAR* wszAdapter,
                                 int bBlank) {
  size_t n = 0;
  const WCHAR* parts[4] = {wszDescription, bBlank ? L" (" : L"(", wszAdapter, L")"};
  for (int p = 0; p < 4; p++)
    for (const WCHAR* s = parts[p]; *s && n + 1 < nCch; s++) dst[n++] = *s;
  dst[n] = 0;
}

// Does the subkey's description and adapter name, joined either way, begin
// like the record's name? The record's name may be a truncated form.
static int WINAUDIO_SubKeyMatchesName(const WCHAR* wszDirectionKey, const WCHAR* wszSubKey, const WCHAR* wszName) {
  WCHAR wszDescription[WINAUDIO_REGSTRING_CCH], wszAdapter[WINAUDIO_REGSTRING_CCH];
  WCHAR wszComposed[WINAUDIO_COMPOSED_CCH];
  WCHAR wszKeyPath[WINAUDIO_KEYPATH_CCH];
  if (!WINAUDIO_JoinKeyPath(wszKeyPath, WINAUDIO_KEYPATH_CCH, wszDirectionKey, wszSubKey, L"Properties")) return 0;
  if (!WINAUDIO_ReadRegString(wszKeyPath, WINAUDIO_VAL_DESCRIPTION, wszDescription)) return 0;
  if (!WINAUDIO_ReadRegString(wszKeyPath, WINAUDIO_VAL_ADAPTER, wszAdapter)) return 0;
  size_t nLength = wcslen(wszName);
  WINAUDIO_ComposeName(wszComposed, WINAUDIO_COMPOSED_CCH, wszDescription, wszAdapter, 1);
  if (wcsncmp(wszComposed, wszName, nLength) == 0) return 1;
  WINAUDIO_ComposeName(wszComposed, WINAUDIO_COMPOSED_CCH, wszDescription, wszAdapter, 0);
  return wcsncmp(wszComposed, wszName, nLength) == 0;
}

// Walks the subkeys for the first that matches by name. *pnSeen counts them.
static int WINAUDIO_FindSubKeyByName(HKEY hDirection, const WCHAR* wszDirectionKey, const WCHAR* wszName,
                                     WCHAR* wszFound, int* pnSeen) {
  WCHAR wszSubKey[WINAUDIO_SUBKEY_CCH];
  for (DWORD i = 0;; i++) {
    DWORD nCch = WINAUDIO_SUBKEY_CCH;
    LONG nResult = RegEnumKeyExW(hDirection, i, wszSubKey, &nCch, NULL, NULL, NULL, NULL);
    if (nResult == ERROR_MORE_DATA) continue;
    if (nResult != ERROR_SUCCESS) return 0;
    (*pnSeen)++;
    if (WINAUDIO_SubKeyMatchesName(wszDirectionKey, wszSubKey, wszName)) {
      WINAUDIO_CopyW(wszFound, wszSubKey, WINAUDIO_SUBKEY_CCH - 1);
      return 1;
    }
  }
}

// Last resort: an endpoint listed before whose name begins with this one's.
static int WINAUDIO_FindKeyInList(WINAUDIO_DEVICE* pDevice, const WCHAR* wszDirection, WCHAR* wszFound) {
  int bRender = wcscmp(wszDirection, L"Render") == 0;
  RECARRAY* pList = bRender ? &WINAUDIO_State.renderList : &WINAUDIO_State.captureList;
  int nCount = bRender ? WINAUDIO_State.nRenderEndpoints : WINAUDIO_State.nCaptureEndpoints;
  size_t nLength = wcslen(pDevice->wszName);
  for (int i = 1; i <= nCount; i++) {
    const WINAUDIO_DEVICE* pOther = (const WINAUDIO_DEVICE*)RECARRAY_Get(pList, i);
    if (!pOther || wcsncmp(pOther->wszName, pDevice->wszName, nLength) != 0) continue;
    memcpy(pDevice->szIdent, pOther->szIdent, sizeof(pDevice->szIdent));
    pDevice->szIdent[sizeof(pDevice->szIdent) - 1] = 0;
    WINAUDIO_CopyW(wszFound, pOther->wszEndpointKey, 63);
    return 1;
  }
  return 0;
}

int WINAUDIO_FindEndpointKey(WINAUDIO_DEVICE* pDevice, const WCHAR* wszDirection, uint32_t nMask) {
  WCHAR wszDirectionKey[WINAUDIO_KEYPATH_CCH];
  WCHAR wszFound[WINAUDIO_SUBKEY_CCH];
  if (!WINAUDIO_JoinKeyPath(wszDirectionKey, WINAUDIO_KEYPATH_CCH, WINAUDIO_AUDIO_KEY, wszDirection, NULL)) return -1;
  if ((nMask & WINAUDIO_PROP_BYKEY) && pDevice->wszEndpointKey[0]) {
    WINAUDIO_CopyW(wszFound, pDevice->wszEndpointKey, 63);
    WINAUDIO_ReadEndpointProperties(pDevice, wszDirectionKey, wszFound, nMask & ~(uint32_t)WINAUDIO_PROP_KEEPKEY);
    return 0;
  }
  HKEY hDirection;
  int b64View = 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wszDirectionKey, 0, KEY_READ, &hDirection) != ERROR_SUCCESS) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wszDirectionKey, 0, KEY_READ | KEY_WOW64_64KEY, &hDirection) != ERROR_SUCCESS)
      return -1;
    b64View = 1;
  }
  int nSeen = 0;
  int bFound = WINAUDIO_FindSubKeyByName(hDirection, wszDirectionKey, pDevice->wszName, wszFound, &nSeen);
  if (!bFound && nSeen == 0 && !b64View) {
    HKEY h64;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wszDirectionKey, 0, KEY_READ | KEY_WOW64_64KEY, &h64) == ERROR_SUCCESS) {
      RegCloseKey(hDirection);
      hDirection = h64;
      bFound = WINAUDIO_FindSubKeyByName(hDirection, wszDirectionKey, pDevice->wszName, wszFound, &nSeen);
    }
  }
  if (!bFound) bFound = WINAUDIO_FindKeyInList(pDevice, wszDirection, wszFound);
  if (bFound) WINAUDIO_ReadEndpointProperties(pDevice, wszDirectionKey, wszFound, nMask | WINAUDIO_PROP_KEEPKEY);
  RegCloseKey(hDirection);
  return bFound ? 0 : -2;
}

static void WINAUDIO_CopyStringValue(WCHAR* dst, const PROPVARIANT* pValue, size_t nMax) {
  if (pValue->vt == VT_LPWSTR && pValue->pwszVal)
    WINAUDIO_CopyW(dst, pValue->pwszVal, nMax);
  else
    dst[0] = 0;
}

static int WINAUDIO_FillFromStore(IPropertyStore* pStore, UINT nIndex, WINAUDIO_DEVICE* pDevice, int nDirection) {
  PROPVARIANT name, adapter;
  PropVariantInit(&name);
  PropVariantInit(&adapter);
  int nResult = 0;
  if (FAILED(pStore->GetValue(WINAUDIO_PKEY_Device_FriendlyName, &name))) {
    nResult = -4;
  } else {
    WINAUDIO_CopyStringValue(pDevice->wszName, &name, 255);
    if (pDevice->wszName[0]) WINAUDIO_ToAnsi(pDevice->szName, pDevice->wszName, sizeof(pDevice->szName));
    if (FAILED(pStore->GetValue(WINAUDIO_PKEY_DeviceInterface_FriendlyName, &adapter))) nResult = -5;
  }
  if (nResult == 0) {
    WINAUDIO_CopyStringValue(pDevice->wszAdapter, &adapter, 127);
    WINAUDIO_FindEndpointKey(pDevice, nDirection == WINAUDIO_CAPTURE ? L"Capture" : L"Render", WINAUDIO_PROP_ENUM);
    pDevice->nSource = WINAUDIO_SOURCE_ENDPOINT;
    pDevice->nChannels = pDevice->wfxOem.nChannels;
    pDevice->nDevice = (int32_t)nIndex;
  }
  PropVariantClear(&name);
  PropVariantClear(&adapter);
  return nResult;
}

int WINAUDIO_FillEndpoint(IMMDeviceCollection* pCollection, UINT nIndex, WINAUDIO_DEVICE* pDevice, int nDirection) {
  IMMDevice* pEndpoint = NULL;
  if (FAILED(pCollection->Item(nIndex, &pEndpoint)) || !pEndpoint) return -1;
  memset(pDevice, 0, sizeof(*pDevice));
  LPWSTR wszId = NULL;
  if (SUCCEEDED(pEndpoint->GetId(&wszId)) && wszId) WINAUDIO_EndpointKeyFromId(pDevice->wszEndpointKey, wszId);
  IPropertyStore* pStore = NULL;
  int nResult = -3;
  if (SUCCEEDED(pEndpoint->OpenPropertyStore(STGM_READ, &pStore)) && pStore) {
    nResult = WINAUDIO_FillFromStore(pStore, nIndex, pDevice, nDirection);
    pStore->Release();
  }
  CoTaskMemFree(wszId);
  pEndpoint->Release();
  return nResult;
}

int WINAUDIO_EnumEndpoints(IMMDeviceEnumerator* pEnumerator, int nDirection) {
  WINAUDIO_DEVICE work;
  RECARRAY* pList = nDirection == WINAUDIO_CAPTURE ? &WINAUDIO_State.captureList : &WINAUDIO_State.renderList;
  IMMDeviceEnumerator* pOwn = NULL;
  if (!pEnumerator) {
    if (FAILED(CoCreateInstance(WINAUDIO_CLSID_MMDeviceEnumerator, NULL, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                WINAUDIO_IID_IMMDeviceEnumerator, (void**)&pOwn)) ||
        !pOwn)
      return 0;
    pEnumerator = pOwn;
  }
  int nAdded = 0;
  IMMDeviceCollection* pCollection = NULL;
  UINT nCount = 0;
  EDataFlow flow = nDirection == WINAUDIO_CAPTURE ? eCapture : eRender;
  if (SUCCEEDED(pEnumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &pCollection)) && pCollection &&
      SUCCEEDED(pCollection->GetCount(&nCount))) {
    if (nCount > WINAUDIO_MAX_ENDPOINTS) nCount = WINAUDIO_MAX_ENDPOINTS;
    for (UINT i = 0; i < nCount; i++)
      if (WINAUDIO_FillEndpoint(pCollection, i, &work, nDirection) == 0 && RECARRAY_Add(pList, &work)) nAdded++;
  }
  if (pCollection) pCollection->Release();
  if (pOwn) pOwn->Release();
  return nAdded;
}

static void WINAUDIO_EmptyList(RECARRAY* pList) {
  pList->nCount = 0;
  pList->nUsed = 0;
  pList->nCursor = 0;
  pList->nFree = pList->pData ? pList->nAllocated : 0;
}

int WINAUDIO_Refresh(IMMDeviceEnumerator* pEnumerator) {
  WINAUDIO_STATE* s = &WINAUDIO_State;
  WINAUDIO_EmptyList(&s->captureList);
  WINAUDIO_EmptyList(&s->renderList);
  int bEndpointApi = s->pCreateEventExA && (s->nOptions & WINAUDIO_OPT_ENDPOINTS);
  if (bEndpointApi) s->nCaptureEndpoints = WINAUDIO_EnumEndpoints(pEnumerator, WINAUDIO_CAPTURE);
  if (bEndpointApi) s->nRenderEndpoints = WINAUDIO_EnumEndpoints(pEnumerator, WINAUDIO_RENDER);
  RECARRAY_Sort(&s->captureList, WINAUDIO_CompareDevices);
  RECARRAY_Sort(&s->renderList, WINAUDIO_CompareDevices);
  return 0;
}

static int WINAUDIO_ListCount(const RECARRAY* pList) { return pList->pData ? (int)pList->nCount : 0; }

int WINAUDIO_GetRenderCount(void) { return WINAUDIO_ListCount(&WINAUDIO_State.renderList); }

const WINAUDIO_DEVICE* WINAUDIO_GetRenderDevice(int nIndex) {
  return (const WINAUDIO_DEVICE*)RECARRAY_Get(&WINAUDIO_State.renderList, nIndex);
}

int WINAUDIO_GetCaptureCount(void) { return WINAUDIO_ListCount(&WINAUDIO_State.captureList); }

const WINAUDIO_DEVICE* WINAUDIO_GetCaptureDevice(int nIndex) {
  return (const WINAUDIO_DEVICE*)RECARRAY_Get(&WINAUDIO_State.captureList, nIndex);
}
