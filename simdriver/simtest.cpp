#include "simdriver/simtest.h"

#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include "simdriver/simreg.h"

std::wstring SIMTEST_DllPath(void) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L"\\/") + 1) + L"MBSimAsio.dll";
}

std::string SIMTEST_TempFile(const char* prefix, const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  char path[MAX_PATH + 128];
  snprintf(path, sizeof(path), "%s%s_%lu_%s", dir, prefix, GetCurrentProcessId(), name);
  return path;
}

std::map<std::string, std::string> SIMTEST_ReadReport(const std::string& path) {
  std::map<std::string, std::string> values;
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return values;
  char line[512];
  while (fgets(line, sizeof(line), f)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t eq = s.find('=');
    if (eq != std::string::npos) values[s.substr(0, eq)] = s.substr(eq + 1);
  }
  fclose(f);
  return values;
}

std::vector<int64_t> SIMTEST_StreamSwitches(REFCLSID clsid) {
  SIMTEST_SHAREDREADER reader(clsid);
  std::vector<int64_t> counts;
  const SIMSHARED* shared = reader.View();
  if (!shared) return counts;
  LONG streams = shared->nStreams;
  for (LONG i = 0; i < streams && i < SIMSHARED_MAX_STREAMS; ++i) counts.push_back((int64_t)shared->nStreamSwitches[i]);
  return counts;
}

SIMTEST_SHAREDREADER::SIMTEST_SHAREDREADER(REFCLSID clsid) : view_(nullptr), section_(SIMSHARED_Open(clsid, &view_)) {}

SIMTEST_SHAREDREADER::~SIMTEST_SHAREDREADER() { SIMSHARED_Close(section_, view_); }

CLSID SIMTEST_PROFILES::Add(const std::string& name, const std::vector<std::string>& settings) {
  CLSID clsid = GUID_NULL;
  if (CoCreateGuid(&clsid) != S_OK) return GUID_NULL;
  std::vector<const char*> texts;
  for (const std::string& s : settings) texts.push_back(s.c_str());
  SIMREG_RegisterClass(clsid, name.c_str(), SIMTEST_DllPath().c_str());
  SIMREG_WriteProfile(name.c_str(), clsid, name.c_str(), texts.data(), (int)texts.size());
  names_.push_back(name);
  classes_.push_back(clsid);
  return clsid;
}

std::string SIMTEST_PROFILES::AddFile(const char* prefix, const char* name) {
  files_.push_back(SIMTEST_TempFile(prefix, name));
  DeleteFileA(files_.back().c_str());
  return files_.back();
}

void SIMTEST_PROFILES::RemoveAll(void) {
  for (size_t i = 0; i < names_.size(); ++i) {
    SIMREG_DeleteProfile(names_[i].c_str(), classes_[i]);
    SIMREG_UnregisterClass(classes_[i]);
  }
  if (!getenv("MB_KEEP_FILES"))
    for (const std::string& f : files_) DeleteFileA(f.c_str());
  names_.clear();
  classes_.clear();
  files_.clear();
}
