#include "simdriver/simshared.h"

#include <stdio.h>

#include "simdriver/simreg.h"

void SIMSHARED_Name(REFCLSID clsid, char* name, size_t size) {
  char guid[SIMREG_GUID_TEXT_SIZE];
  SIMREG_GuidToText(clsid, guid);
  snprintf(name, size, "Local\\MBSimAsio%s", guid);
}

HANDLE SIMSHARED_Open(REFCLSID clsid, SIMSHARED** view) {
  char name[SIMSHARED_NAME_SIZE];
  SIMSHARED_Name(clsid, name, sizeof(name));
  *view = nullptr;
  HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SIMSHARED), name);
  if (!section) return nullptr;
  *view = (SIMSHARED*)MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SIMSHARED));
  if (!*view) {
    CloseHandle(section);
    return nullptr;
  }
  return section;
}

void SIMSHARED_Close(HANDLE section, SIMSHARED* view) {
  if (view) UnmapViewOfFile((void*)view);
  if (section) CloseHandle(section);
}
