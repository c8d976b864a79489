// MBSimProfile: adds, lists and removes profiles of the simulated ASIO driver.
// Writing HKLM and HKCR needs an administrator on Windows.
#include <windows.h>
#include <objbase.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "simdriver/simprofile.h"
#include "simdriver/simreg.h"

namespace {

const wchar_t kDllName[] = L"MBSimAsio.dll";

void PrintUsage() {
  printf(
      "usage: MBSimProfile add <name> <path of MBSimAsio.dll> [Setting=Value ...]\n"
      "       MBSimProfile remove <name>\n"
      "       MBSimProfile list\n"
      "settings:");
  for (int i = 0; SIMPROFILE_SettingNames[i]; ++i) printf(" %s", SIMPROFILE_SettingNames[i]);
  printf("\n");
}

// 1 when the class's server is a copy of the simulated driver.
int ServedBySimDriver(REFCLSID clsid) {
  char guid[SIMREG_GUID_TEXT_SIZE];
  wchar_t path[96], server[MAX_PATH];
  DWORD size = sizeof(server);
  SIMREG_GuidToText(clsid, guid);
  swprintf(path, 96, L"CLSID\\%hs\\InprocServer32", guid);
  if (RegGetValueW(HKEY_CLASSES_ROOT, path, nullptr, RRF_RT_REG_SZ, nullptr, server, &size) != ERROR_SUCCESS) return 0;
  size_t n = wcslen(server), k = wcslen(kDllName);
  return n >= k && _wcsicmp(server + n - k, kDllName) == 0;
}

int ReadProfileClass(const char* name, CLSID* clsid) {
  char key[SIMREG_KEYNAME_SIZE + 16], text[64];
  DWORD size = sizeof(text);
  snprintf(key, sizeof(key), SIMREG_ASIO_KEY "\\%s", name);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, "CLSID", RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return 0;
  return SIMREG_TextToGuid(text, clsid);
}

int Add(int argc, char** argv) {
  const char* name = argv[2];
  wchar_t given[MAX_PATH], dll[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, argv[3], -1, given, MAX_PATH)) return 2;
  DWORD n = GetFullPathNameW(given, MAX_PATH, dll, nullptr);
  if (n == 0 || n >= MAX_PATH || GetFileAttributesW(dll) == INVALID_FILE_ATTRIBUTES) {
    fprintf(stderr, "no driver DLL at %s\n", argv[3]);
    return 2;
  }
  SIMPROFILE check;
  SIMPROFILE_Defaults(&check, name);
  for (int i = 4; i < argc; ++i) {
    const char* eq = strchr(argv[i], '=');
    char setting[64];
    if (!eq || eq == argv[i] || (size_t)(eq - argv[i]) >= sizeof(setting)) {
      fprintf(stderr, "not a Setting=Value pair: %s\n", argv[i]);
      return 2;
    }
    memcpy(setting, argv[i], (size_t)(eq - argv[i]));
    setting[eq - argv[i]] = 0;
    int rc = SIMPROFILE_Set(&check, setting, eq + 1);
    if (rc <= 0) {
      fprintf(stderr, rc == 0 ? "unknown setting: %s\n" : "bad value: %s\n", argv[i]);
      return 2;
    }
  }
  CLSID clsid;
  if (ReadProfileClass(name, &clsid)) {
    fprintf(stderr, "profile \"%s\" exists already; remove it first\n", name);
    return 1;
  }
  if (FAILED(CoCreateGuid(&clsid))) return 1;
  LONG rc = SIMREG_RegisterClass(clsid, name, dll);
  if (rc == ERROR_SUCCESS) rc = SIMREG_WriteProfile(name, clsid, name, (const char* const*)argv + 4, argc - 4);
  if (rc != ERROR_SUCCESS) {
    SIMREG_DeleteProfile(name, clsid);
    SIMREG_UnregisterClass(clsid);
    fprintf(stderr, "cannot write the registry (error %ld); run as administrator\n", (long)rc);
    return 1;
  }
  char guid[SIMREG_GUID_TEXT_SIZE];
  SIMREG_GuidToText(clsid, guid);
  printf("%s %s\n", guid, name);
  return 0;
}

int Remove(const char* name) {
  CLSID clsid;
  if (!ReadProfileClass(name, &clsid)) {
    fprintf(stderr, "no profile \"%s\"\n", name);
    return 1;
  }
  if (!ServedBySimDriver(clsid)) {
    fprintf(stderr, "\"%s\" is not a profile of the simulated driver\n", name);
    return 1;
  }
  LONG rc = SIMREG_DeleteProfile(name, clsid);
  if (rc == ERROR_SUCCESS) rc = SIMREG_UnregisterClass(clsid);
  if (rc != ERROR_SUCCESS) fprintf(stderr, "cannot write the registry (error %ld)\n", (long)rc);
  return rc == ERROR_SUCCESS ? 0 : 1;
}

int List() {
  HKEY asio;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SIMREG_ASIO_KEY, 0, KEY_READ, &asio) != ERROR_SUCCESS) return 0;
  for (DWORD i = 0;; ++i) {
    char name[SIMREG_KEYNAME_SIZE], guid[SIMREG_GUID_TEXT_SIZE];
    DWORD n = sizeof(name);
    CLSID clsid;
    LONG rc = RegEnumKeyExA(asio, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    if (!ReadProfileClass(name, &clsid) || !ServedBySimDriver(clsid)) continue;
    SIMREG_GuidToText(clsid, guid);
    printf("%s %s\n", guid, name);
  }
  RegCloseKey(asio);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int rc = 2;
  CoInitialize(nullptr);
  if (argc >= 4 && strcmp(argv[1], "add") == 0)
    rc = Add(argc, argv);
  else if (argc == 3 && strcmp(argv[1], "remove") == 0)
    rc = Remove(argv[2]);
  else if (argc == 2 && strcmp(argv[1], "list") == 0)
    rc = List();
  else
    PrintUsage();
  CoUninitialize();
  return rc;
}
