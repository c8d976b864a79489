#include "simdriver/simreg.h"

#include <objbase.h>

#include <stdio.h>
#include <string.h>

namespace {

const char* const kStereo[] = {nullptr};
const char* const kFloat[] = {"Inputs=8", "Outputs=8", "InputType=ASIOSTFloat32LSB", "OutputType=ASIOSTFloat32LSB",
                              nullptr};
const char* const kInt16[] = {"InputType=ASIOSTInt16LSB", "OutputType=ASIOSTInt16LSB", "SampleRate=44100",
                              "PreferredBufferSize=512", "OutputReady=0", "TimeInfo=0", nullptr};
const char* const kInt24[] = {"Inputs=4", "Outputs=4", "InputType=ASIOSTInt24LSB", "OutputType=ASIOSTInt32LSB24",
                              "SampleRate=96000", "PreferredBufferSize=128", nullptr};

LONG DeleteTree(HKEY root, const char* path) {
  LONG rc = RegDeleteTreeA(root, path);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

LONG SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)strlen(text) + 1);
}

void ClassKeyPath(REFCLSID clsid, char* path, size_t size) {
  char guid[SIMREG_GUID_TEXT_SIZE];
  SIMREG_GuidToText(clsid, guid);
  snprintf(path, size, "CLSID\\%s", guid);
}

// The value as text: strings as they are, DWORDs as signed decimal.
int ReadValueText(HKEY key, DWORD index, char* name, DWORD nameSize, char* text, DWORD textSize) {
  DWORD type = 0, dataSize = textSize - 1, n = nameSize;
  LONG rc = RegEnumValueA(key, index, name, &n, nullptr, &type, (BYTE*)text, &dataSize);
  if (rc == ERROR_MORE_DATA) {
    text[0] = 0;  // too long for any setting: skip it, keep enumerating
    return 0;
  }
  if (rc != ERROR_SUCCESS) return -1;
  if (type == REG_DWORD && dataSize == sizeof(DWORD)) {
    DWORD v;
    memcpy(&v, text, sizeof(v));
    snprintf(text, textSize, "%ld", (long)(LONG)v);
    return 1;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return 0;
  text[dataSize < textSize ? dataSize : textSize - 1] = 0;
  return 1;
}

void ApplySettings(SIMPROFILE* profile, const char* const* settings) {
  for (; settings && *settings; ++settings) {
    char name[64];
    const char* eq = strchr(*settings, '=');
    if (!eq || (size_t)(eq - *settings) >= sizeof(name)) continue;
    memcpy(name, *settings, (size_t)(eq - *settings));
    name[eq - *settings] = 0;
    SIMPROFILE_Set(profile, name, eq + 1);
  }
}

}  // namespace

const SIMREG_DEFAULT SIMREG_Defaults[] = {
    {"MBSim Stereo",
     {0xE9DD93DA, 0xD70E, 0x4945, {0xA0, 0x9E, 0x0E, 0x74, 0x1C, 0x11, 0xA6, 0xB7}},
     "MBSim Stereo (2 in, 2 out, 32-bit, 48 kHz)",
     kStereo},
    {"MBSim Float 8x8",
     {0xED06820A, 0xB887, 0x4D1E, {0xAF, 0x0D, 0xF7, 0x45, 0xB9, 0xCF, 0xB3, 0x59}},
     "MBSim Float 8x8 (8 in, 8 out, float, 48 kHz)",
     kFloat},
    {"MBSim 16-bit 44.1 kHz",
     {0x0294EA9D, 0x2180, 0x4369, {0xA9, 0x6A, 0x82, 0x16, 0x4D, 0x0F, 0x43, 0x04}},
     "MBSim 16-bit 44.1 kHz (bufferSwitch, no outputReady)",
     kInt16},
    {"MBSim 24-bit 96 kHz",
     {0xF2B6B150, 0x1FEB, 0x440A, {0x9B, 0x4F, 0x00, 0xFA, 0xB0, 0x95, 0x42, 0x6D}},
     "MBSim 24-bit 96 kHz (4 in, 4 out)",
     kInt24},
};
const int SIMREG_DefaultCount = (int)(sizeof(SIMREG_Defaults) / sizeof(SIMREG_Defaults[0]));

void SIMREG_GuidToText(REFCLSID g, char* text) {
  snprintf(text, SIMREG_GUID_TEXT_SIZE, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)g.Data1,
           g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
           g.Data4[7]);
}

int SIMREG_TextToGuid(const char* text, CLSID* clsid) {
  WCHAR wide[SIMREG_GUID_TEXT_SIZE + 1];
  if (!text || strlen(text) != SIMREG_GUID_TEXT_SIZE - 1) return 0;
  if (!MultiByteToWideChar(CP_ACP, 0, text, -1, wide, SIMREG_GUID_TEXT_SIZE + 1)) return 0;
  return SUCCEEDED(CLSIDFromString(wide, clsid));
}

LONG SIMREG_RegisterClass(REFCLSID clsid, const char* description, const wchar_t* dllPath) {
  char path[80];
  HKEY key = nullptr, server = nullptr;
  ClassKeyPath(clsid, path, sizeof(path));
  LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = SetText(key, nullptr, description);
  if (rc == ERROR_SUCCESS)
    rc = RegCreateKeyExA(key, "InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExW(server, nullptr, 0, REG_SZ, (const BYTE*)dllPath,
                        (DWORD)((wcslen(dllPath) + 1) * sizeof(wchar_t)));
    if (rc == ERROR_SUCCESS) rc = SetText(server, "ThreadingModel", "Both");
    RegCloseKey(server);
  }
  RegCloseKey(key);
  return rc;
}

LONG SIMREG_UnregisterClass(REFCLSID clsid) {
  char path[80];
  ClassKeyPath(clsid, path, sizeof(path));
  return DeleteTree(HKEY_CLASSES_ROOT, path);
}

LONG SIMREG_WriteProfile(const char* name, REFCLSID clsid, const char* description, const char* const* settings,
                         int count) {
  char path[SIMREG_KEYNAME_SIZE + 16], guid[SIMREG_GUID_TEXT_SIZE];
  HKEY key = nullptr;
  if (!name || !name[0] || strlen(name) >= SIMREG_KEYNAME_SIZE || strchr(name, '\\')) return ERROR_INVALID_PARAMETER;
  snprintf(path, sizeof(path), SIMREG_ASIO_KEY "\\%s", name);
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  SIMREG_GuidToText(clsid, guid);
  rc = SetText(key, "CLSID", guid);
  if (rc == ERROR_SUCCESS) rc = SetText(key, "Description", description ? description : name);
  for (int i = 0; rc == ERROR_SUCCESS && i < count && settings[i]; ++i) {
    char valueName[64];
    const char* eq = strchr(settings[i], '=');
    if (!eq || eq == settings[i] || (size_t)(eq - settings[i]) >= sizeof(valueName)) {
      rc = ERROR_INVALID_PARAMETER;
      break;
    }
    memcpy(valueName, settings[i], (size_t)(eq - settings[i]));
    valueName[eq - settings[i]] = 0;
    rc = SetText(key, valueName, eq + 1);
  }
  RegCloseKey(key);
  return rc;
}

LONG SIMREG_DeleteProfile(const char* name, REFCLSID clsid) {
  char path[SIMREG_KEYNAME_SIZE + 16], text[64];
  DWORD size = sizeof(text) - 1, type = 0;
  HKEY key = nullptr;
  CLSID found;
  if (!name || strlen(name) >= SIMREG_KEYNAME_SIZE) return ERROR_INVALID_PARAMETER;
  snprintf(path, sizeof(path), SIMREG_ASIO_KEY "\\%s", name);
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegQueryValueExA(key, "CLSID", nullptr, &type, (BYTE*)text, &size);
  RegCloseKey(key);
  text[rc == ERROR_SUCCESS && size < sizeof(text) ? size : 0] = 0;
  // Someone else's key of the same name is left alone.
  if (rc != ERROR_SUCCESS || !SIMREG_TextToGuid(text, &found) || !IsEqualGUID(found, clsid)) return ERROR_SUCCESS;
  return DeleteTree(HKEY_LOCAL_MACHINE, path);
}

int SIMREG_FindProfile(REFCLSID clsid, char* keyName, DWORD size) {
  HKEY asio = nullptr;
  int found = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SIMREG_ASIO_KEY, 0, KEY_READ, &asio) != ERROR_SUCCESS) return 0;
  for (DWORD i = 0; !found; ++i) {
    char name[SIMREG_KEYNAME_SIZE], text[64];
    DWORD n = sizeof(name), textSize = sizeof(text) - 1;
    HKEY key = nullptr;
    CLSID value;
    LONG rc = RegEnumKeyExA(asio, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    if (RegOpenKeyExA(asio, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    DWORD type = 0;
    if (RegQueryValueExA(key, "CLSID", nullptr, &type, (BYTE*)text, &textSize) == ERROR_SUCCESS &&
        type == REG_SZ && textSize < sizeof(text)) {
      text[textSize] = 0;
      if (SIMREG_TextToGuid(text, &value) && IsEqualGUID(value, clsid) && strlen(name) < size) {
        memcpy(keyName, name, strlen(name) + 1);
        found = 1;
      }
    }
    RegCloseKey(key);
  }
  RegCloseKey(asio);
  return found;
}

void SIMREG_LoadProfile(REFCLSID clsid, SIMPROFILE* profile) {
  char keyName[SIMREG_KEYNAME_SIZE];
  const SIMREG_DEFAULT* builtIn = nullptr;
  for (int i = 0; i < SIMREG_DefaultCount; ++i) {
    if (IsEqualGUID(SIMREG_Defaults[i].clsid, clsid)) builtIn = &SIMREG_Defaults[i];
  }
  int found = SIMREG_FindProfile(clsid, keyName, sizeof(keyName));
  SIMPROFILE_Defaults(profile, found ? keyName : builtIn ? builtIn->szName : "MBSim");
  if (builtIn) ApplySettings(profile, builtIn->ppSettings);
  if (!found) return;

  char path[SIMREG_KEYNAME_SIZE + 16];
  HKEY key = nullptr;
  snprintf(path, sizeof(path), SIMREG_ASIO_KEY "\\%s", keyName);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  for (DWORD i = 0;; ++i) {
    char name[64], text[SIMPROFILE_PATH_SIZE + 8];
    int rc = ReadValueText(key, i, name, sizeof(name), text, sizeof(text));
    if (rc < 0) break;
    if (rc > 0) SIMPROFILE_Set(profile, name, text);
  }
  RegCloseKey(key);
}
