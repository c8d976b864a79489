// Test support for hosts of the simulated driver: profiles with fresh
// classes registered for one test and removed after it, temporary report
// files, and the report's key=value lines. Windows, tests only.
#ifndef MB_SIMDRIVER_SIMTEST_H
#define MB_SIMDRIVER_SIMTEST_H

#include <windows.h>

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "simdriver/simshared.h"

// MBSimAsio.dll beside the running program (the tests copy it there).
std::wstring SIMTEST_DllPath(void);
// A file name in the temporary folder, unique to this process; not created.
std::string SIMTEST_TempFile(const char* prefix, const char* name);
// The report file as key -> value; empty when it cannot be read.
std::map<std::string, std::string> SIMTEST_ReadReport(const std::string& path);

// The switches of each stream of the class so far, in the order the streams
// started; empty when no driver object or reader holds the class's section.
std::vector<int64_t> SIMTEST_StreamSwitches(REFCLSID clsid);

// Holds the class's section open, so that its counts go on from one driver
// object to the next instead of starting again from zero.
class SIMTEST_SHAREDREADER {
 public:
  explicit SIMTEST_SHAREDREADER(REFCLSID clsid);
  ~SIMTEST_SHAREDREADER();
  SIMTEST_SHAREDREADER(const SIMTEST_SHAREDREADER&) = delete;
  SIMTEST_SHAREDREADER& operator=(const SIMTEST_SHAREDREADER&) = delete;
  // Null when the section could not be opened.
  const SIMSHARED* View(void) const { return view_; }

 private:
  SIMSHARED* view_;
  HANDLE section_;
};

// What one test registered and wrote; RemoveAll (or the destructor) takes it
// all away again.
class SIMTEST_PROFILES {
 public:
  ~SIMTEST_PROFILES() { RemoveAll(); }
  // HKCR class and HKLM profile under `name`, with "Name=Value" settings.
  CLSID Add(const std::string& name, const std::vector<std::string>& settings);
  // A temporary file removed at the end (kept when MB_KEEP_FILES is set).
  std::string AddFile(const char* prefix, const char* name);
  void RemoveAll(void);
  const std::vector<std::string>& Files(void) const { return files_; }

 private:
  std::vector<std::string> names_;
  std::vector<CLSID> classes_;
  std::vector<std::string> files_;
};

#endif  // MB_SIMDRIVER_SIMTEST_H
