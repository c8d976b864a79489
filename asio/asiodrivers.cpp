#include "asio/asiodrivers.h"

#include <objbase.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

enum {
  ASIOMAN_VALUE_SIZE = 256,       // "clsid" and "description" reads
  ASIOMAN_CLSID_WIDE_SIZE = 100,  // the CLSID text handed to the parser
  ASIOMAN_ANSI_WORK_SIZE = 1024,  // a 255-unit name in any ANSI code page
  ASIOMAN_SERVERFILE_SIZE = 1024  // the server's file once expanded or searched
};

static_assert(sizeof(ASIOMAN_GUID) == sizeof(GUID), "the entry's GUID is a Windows GUID");
static_assert(sizeof(ASIOMAN_WCHAR) == sizeof(WCHAR), "the entry's names are WCHAR");

static RECARRAY g_driverList;

RECARRAY* ASIOMAN_DriverList(void) { return &g_driverList; }

static int ASIOMAN_IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// A value longer than the caller's buffer: read it whole, keep the head.
static int ASIOMAN_ReadLongRegString(HKEY key, const char* valueName, char* out, DWORD outSize, DWORD* typeOut) {
  for (int attempt = 0; attempt < 2; attempt++) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, valueName, NULL, &type, NULL, &size) != ERROR_SUCCESS) return 0;
    if (!ASIOMAN_IsStringType(type)) return 0;
    char* whole = (char*)malloc((size_t)size + 1);
    if (!whole) return 0;
    LONG rc = RegQueryValueExA(key, valueName, NULL, &type, (BYTE*)whole, &size);
    if (rc == ERROR_SUCCESS && ASIOMAN_IsStringType(type)) {
      whole[size] = 0;
      lstrcpynA(out, whole, (int)outSize);
      free(whole);
      *typeOut = type;
      return 1;
    }
    free(whole);
    if (rc != ERROR_MORE_DATA) return 0;  // else the value grew in between
  }
  return 0;
}

// Reads a string value into out, cut to outSize - 1 characters and always
// terminated, whatever the stored length; typeOut, when given, receives
// REG_SZ or REG_EXPAND_SZ. Values of other types count as absent.
static int ASIOMAN_ReadRegString(HKEY key, const char* valueName, char* out, DWORD outSize, DWORD* typeOut = NULL) {
  DWORD type = 0, size = outSize - 1;
  DWORD ignoredType = 0;
  if (!typeOut) typeOut = &ignoredType;
  out[0] = 0;
  LONG rc = RegQueryValueExA(key, valueName, NULL, &type, (BYTE*)out, &size);
  if (rc == ERROR_MORE_DATA) {
    if (ASIOMAN_ReadLongRegString(key, valueName, out, outSize, typeOut)) return 1;
    out[0] = 0;
    return 0;
  }
  if (rc != ERROR_SUCCESS || !ASIOMAN_IsStringType(type)) {
    out[0] = 0;
    return 0;
  }
  out[size < outSize ? size : outSize - 1] = 0;
  *typeOut = type;
  return 1;
}

// Whether the registered server text names a file where COM would load it
// from: environment strings expanded for REG_EXPAND_SZ, one pair of
// surrounding quotes dropped, a bare file name searched in the folders
// OpenFile(OF_EXIST) searches. A text that outgrows its buffer on the way
// names no file.
static int ASIOMAN_ServerFileExists(const char* registered, DWORD type) {
  char expanded[ASIOMAN_SERVERFILE_SIZE];
  const char* text = registered;
  if (type == REG_EXPAND_SZ) {
    // One character spare: the ANSI expansion may count one more than it stores.
    DWORD needed = ExpandEnvironmentStringsA(registered, expanded, sizeof(expanded) - 1);
    if (needed == 0 || needed > sizeof(expanded) - 1) return 0;
    expanded[sizeof(expanded) - 1] = 0;
    text = expanded;
  }
  char unquoted[ASIOMAN_SERVERFILE_SIZE];
  size_t len = strnlen(text, sizeof(unquoted) - 1);
  if (len >= 2 && text[0] == '"' && text[len - 1] == '"') {
    memcpy(unquoted, text + 1, len - 2);
    unquoted[len - 2] = 0;
    text = unquoted;
  }
  if (!text[0]) return 0;
  char found[ASIOMAN_SERVERFILE_SIZE];
  if (!strpbrk(text, "\\/:")) {
    DWORD foundLen = SearchPathA(NULL, text, NULL, sizeof(found), found, NULL);
    if (foundLen == 0 || foundLen >= sizeof(found)) return 0;
    text = found;
  }
  // GetFileAttributes rather than OpenFile: it also takes paths beyond the
  // 128 characters that OpenFile accepts.
  DWORD attributes = GetFileAttributesA(text);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int ASIOMAN_FindServerPath(char* clsidText, char* pathOut) {
  if (!clsidText || !pathOut) return -1;
  pathOut[0] = 0;
  size_t len = strlen(clsidText);
  CharLowerBuffA(clsidText, (DWORD)len);
  // The class key is opened by name, so the text must be one key name: an
  // enumeration of class names could never have matched these.
  if (len == 0 || strchr(clsidText, '\\')) return -1;

  HKEY classes = NULL, classKey = NULL, serverKey = NULL;
  DWORD serverType = REG_SZ;
  int result = -1;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "clsid", 0, KEY_READ, &classes) == ERROR_SUCCESS &&
      RegOpenKeyExA(classes, clsidText, 0, KEY_READ, &classKey) == ERROR_SUCCESS &&
      RegOpenKeyExA(classKey, "InprocServer32", 0, KEY_READ, &serverKey) == ERROR_SUCCESS &&
      ASIOMAN_ReadRegString(serverKey, NULL, pathOut, ASIOMAN_SERVERPATH_SIZE, &serverType) && pathOut[0] &&
      ASIOMAN_ServerFileExists(pathOut, serverType)) {
    result = 0;
  }
  if (serverKey) RegCloseKey(serverKey);
  if (classKey) RegCloseKey(classKey);
  if (classes) RegCloseKey(classes);
  return result;
}

static void ASIOMAN_WideToAnsi(const WCHAR* text, char* out, int outSize) {
  char converted[ASIOMAN_ANSI_WORK_SIZE];
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, converted, sizeof(converted), NULL, NULL) <= 0) converted[0] = 0;
  converted[sizeof(converted) - 1] = 0;
  lstrcpynA(out, converted, outSize);
}

static void ASIOMAN_StoreNames(ASIOMAN_DRIVERENTRY* record, const WCHAR* subkeyName) {
  size_t len = wcsnlen(subkeyName, ASIOMAN_NAME_SIZE - 1);
  memcpy(record->wszName, subkeyName, len * sizeof(WCHAR));
  record->wszName[len] = 0;
  ASIOMAN_WideToAnsi((const WCHAR*)record->wszName, record->szName, ASIOMAN_NAME_SIZE);
}

static void ASIOMAN_StoreClsid(ASIOMAN_DRIVERENTRY* record, const char* clsidText) {
  WCHAR wide[ASIOMAN_CLSID_WIDE_SIZE] = {0};
  MultiByteToWideChar(CP_ACP, 0, clsidText, -1, wide, ASIOMAN_CLSID_WIDE_SIZE);
  wide[ASIOMAN_CLSID_WIDE_SIZE - 1] = 0;
  CLSID clsid;
  // A text that does not parse leaves the zero CLSID; opening fails later.
  if (CLSIDFromString(wide, &clsid) == NOERROR) memcpy(&record->clsid, &clsid, sizeof(clsid));
}

int ASIOMAN_ReadDriverKey(HKEY asioKey, const WCHAR* subkeyName, ASIOMAN_DRIVERENTRY* record) {
  if (!subkeyName || !record) return 0;
  HKEY key;
  if (RegOpenKeyExW(asioKey, subkeyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  char clsidText[ASIOMAN_VALUE_SIZE];
  char serverPath[ASIOMAN_SERVERPATH_SIZE];
  if (!ASIOMAN_ReadRegString(key, "clsid", clsidText, sizeof(clsidText)) ||
      ASIOMAN_FindServerPath(clsidText, serverPath) != 0) {
    RegCloseKey(key);
    return 0;
  }
  memset((void*)record, 0, sizeof(*record));
  ASIOMAN_StoreClsid(record, clsidText);
  ASIOMAN_StoreNames(record, subkeyName);
  char description[ASIOMAN_VALUE_SIZE];
  if (ASIOMAN_ReadRegString(key, "description", description, sizeof(description)))
    lstrcpynA(record->szDescription, description, ASIOMAN_DESCRIPTION_SIZE);
  else
    lstrcpynA(record->szDescription, record->szName, ASIOMAN_DESCRIPTION_SIZE);
  lstrcpynA(record->szServerPath, serverPath, ASIOMAN_SERVERPATH_SIZE);
  RegCloseKey(key);
  return 1;
}

// Entries that are not drivers of their own: the control panel's key and
// the wrapper around the system's own audio.
static int ASIOMAN_IsListedDriver(const ASIOMAN_DRIVERENTRY* entry, const WCHAR* subkeyName) {
  if (lstrcmpiW(subkeyName, L"ASIO Multimedia Preferences") == 0) return 0;
  if (lstrcmpiA(entry->szDescription, "ASIO DirectX Full Duplex Driver") == 0) return 0;
  return 1;
}

void ASIOMAN_ScanDrivers(void) {
  RECARRAY* list = &g_driverList;
  if (!list->pData || list->nRecordSize != sizeof(ASIOMAN_DRIVERENTRY)) return;
  HKEY asioKey;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\asio", 0, KEY_READ, &asioKey) != ERROR_SUCCESS) return;
  // Too large for the stack of a window procedure; one block for the scan.
  ASIOMAN_DRIVERENTRY* entry = (ASIOMAN_DRIVERENTRY*)calloc(1, sizeof(*entry));
  if (entry) {
    WCHAR name[ASIOMAN_NAME_SIZE];
    for (DWORD index = 0; RegEnumKeyW(asioKey, index, name, ASIOMAN_NAME_SIZE) == ERROR_SUCCESS; index++) {
      name[ASIOMAN_NAME_SIZE - 1] = 0;
      if (!ASIOMAN_ReadDriverKey(asioKey, name, entry)) continue;
      if (!ASIOMAN_IsListedDriver(entry, name)) continue;
      if (!RECARRAY_Add(list, entry)) break;  // the list lost its storage
    }
    free(entry);
  }
  RegCloseKey(asioKey);
}
