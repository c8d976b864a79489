// Registry side of the simulated driver: its COM classes under HKCR\CLSID and
// its profiles under HKLM\SOFTWARE\ASIO. Shared by the DLL, the profile tool
// and the tests.
#ifndef MB_SIMDRIVER_SIMREG_H
#define MB_SIMDRIVER_SIMREG_H

#include <windows.h>

#include "simdriver/simprofile.h"

#define SIMREG_ASIO_KEY "SOFTWARE\\ASIO"
enum { SIMREG_KEYNAME_SIZE = 256, SIMREG_GUID_TEXT_SIZE = 39 };

// One built-in profile that DllRegisterServer writes.
typedef struct SIMREG_DEFAULT {
  const char* szName;
  CLSID clsid;
  const char* szDescription;
  const char* const* ppSettings;  // "Name=Value", null-terminated
} SIMREG_DEFAULT;

extern const SIMREG_DEFAULT SIMREG_Defaults[];
extern const int SIMREG_DefaultCount;

void SIMREG_GuidToText(REFCLSID clsid, char* text);  // SIMREG_GUID_TEXT_SIZE bytes
int SIMREG_TextToGuid(const char* text, CLSID* clsid);

// HKCR\CLSID\{clsid}: description, InprocServer32 = dllPath, ThreadingModel Both.
LONG SIMREG_RegisterClass(REFCLSID clsid, const char* description, const wchar_t* dllPath);
LONG SIMREG_UnregisterClass(REFCLSID clsid);
// HKLM\SOFTWARE\ASIO\<name> with CLSID, Description and "Name=Value" settings.
LONG SIMREG_WriteProfile(const char* name, REFCLSID clsid, const char* description,
                         const char* const* settings, int count);
// Removes the profile key, but only when its CLSID value is `clsid`.
LONG SIMREG_DeleteProfile(const char* name, REFCLSID clsid);
// The key name of the profile whose CLSID value is `clsid`; 1 when found.
int SIMREG_FindProfile(REFCLSID clsid, char* keyName, DWORD size);
// The profile's settings: defaults, then the built-in ones of a default
// profile, then every value under its key.
void SIMREG_LoadProfile(REFCLSID clsid, SIMPROFILE* profile);

#endif  // MB_SIMDRIVER_SIMREG_H
