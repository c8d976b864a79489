#include "asio/asiodrivers.h"

#include <objbase.h>
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

// Writes driver registrations (and server files) into this test's prefix
// and removes them again; other registrations under SOFTWARE\ASIO are left
// alone.
class DriverScan : public ::testing::Test {
 protected:
  std::vector<std::wstring> drivers;
  std::vector<std::string> classes;
  std::vector<std::string> files, folders;
  char exePath[MAX_PATH];
  DWORD pid;

  void SetUp() override {
    ASSERT_GT(GetModuleFileNameA(NULL, exePath, MAX_PATH), 0u);
    pid = GetCurrentProcessId();
    memset(ASIOMAN_DriverList(), 0, sizeof(RECARRAY));
  }

  void TearDown() override {
    RECARRAY_Free(ASIOMAN_DriverList());
    for (const std::wstring& name : drivers)
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\ASIO\\" + name).c_str());
    for (const std::string& clsid : classes) RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid).c_str());
    for (const std::string& file : files) DeleteFileA(file.c_str());
    for (const std::string& folder : folders) RemoveDirectoryA(folder.c_str());
  }

  std::wstring UniqueName(const wchar_t* what) { return std::wstring(L"MB scan ") + what + L" " + std::to_wstring(pid); }

  // A class id text that no other test uses, in upper case.
  std::string ClassText(unsigned serial) {
    char text[64];
    snprintf(text, sizeof(text), "{%08lX-5CA1-4E00-8D1E-%012X}", (unsigned long)pid, serial);
    return text;
  }

  static std::string Lower(std::string text) {
    for (char& c : text) c = (char)tolower((unsigned char)c);
    return text;
  }

  void SetString(HKEY key, const char* name, const std::string& value, DWORD type = REG_SZ) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, (const BYTE*)value.c_str(), (DWORD)value.size() + 1),
              ERROR_SUCCESS);
  }

  // HKCR\CLSID\<key name>\InprocServer32 with the given server path.
  void RegisterServer(const std::string& keyName, const std::string& serverPath, DWORD type = REG_SZ) {
    classes.push_back(keyName.substr(0, keyName.find('\\')));  // the whole class key goes
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\" + keyName + "\\InprocServer32").c_str(), 0, NULL, 0,
                              KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    SetString(key, NULL, serverPath, type);
    RegCloseKey(key);
  }

  // HKLM\SOFTWARE\ASIO\<name>; a null value is not written.
  HKEY AddDriverKey(const std::wstring& name) {
    drivers.push_back(name);
    HKEY key = NULL;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\ASIO\\" + name).c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                              NULL, &key, NULL),
              ERROR_SUCCESS);
    return key;
  }
  void AddDriver(const std::wstring& name, const char* clsid, const char* description) {
    HKEY key = AddDriverKey(name);
    if (clsid) SetString(key, "CLSID", clsid);
    if (description) SetString(key, "Description", description);
    RegCloseKey(key);
  }

  void Scan() {
    RECARRAY_Init(ASIOMAN_DriverList(), sizeof(ASIOMAN_DRIVERENTRY), 8192, 8192);
    ASIOMAN_ScanDrivers();
  }
  std::vector<ASIOMAN_DRIVERENTRY*> EntriesNamed(const std::wstring& name) {
    std::vector<ASIOMAN_DRIVERENTRY*> found;
    RECARRAY* list = ASIOMAN_DriverList();
    for (int64_t i = 1; i <= list->nCount; i++) {
      ASIOMAN_DRIVERENTRY* entry = (ASIOMAN_DRIVERENTRY*)RECARRAY_Get(list, i);
      if (name == (const wchar_t*)entry->wszName) found.push_back(entry);
    }
    return found;
  }
  ASIOMAN_DRIVERENTRY* EntryNamed(const std::wstring& name) {
    std::vector<ASIOMAN_DRIVERENTRY*> found = EntriesNamed(name);
    EXPECT_EQ(found.size(), 1u);
    return found.size() == 1 ? found[0] : NULL;
  }
  static std::string Ansi(const std::wstring& text) { return std::string(text.begin(), text.end()); }
};

TEST_F(DriverScan, UpperCaseClsidMatchesItsLowerCaseRegistration) {
  std::string clsid = ClassText(1);
  RegisterServer(Lower(clsid), exePath);
  std::wstring name = UniqueName(L"upper");
  AddDriver(name, clsid.c_str(), "Scan Test Driver");
  Scan();
  ASIOMAN_DRIVERENTRY* entry = EntryNamed(name);
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->szName, Ansi(name).c_str());
  EXPECT_STREQ(entry->szDescription, "Scan Test Driver");
  EXPECT_STREQ(entry->szServerPath, exePath);
  EXPECT_EQ(entry->clsid.Data1, pid);
  EXPECT_EQ(entry->clsid.Data2, 0x5CA1);
  EXPECT_EQ(entry->clsid.Data4[7], 1);
  EXPECT_EQ(entry->nSwitchCount, 0);
  EXPECT_EQ(entry->device.pDriver, nullptr);
  EXPECT_EQ(entry->device.bOpen, 0);
}

TEST_F(DriverScan, DriverWithoutDescriptionIsListedUnderItsKeyName) {
  std::string clsid = ClassText(2);
  RegisterServer(clsid, exePath);
  std::wstring name = UniqueName(L"nameless");
  AddDriver(name, clsid.c_str(), NULL);
  // A description of another type is no description either.
  std::wstring dwordName = UniqueName(L"dword description");
  HKEY key = AddDriverKey(dwordName);
  SetString(key, "clsid", clsid);
  DWORD number = 7;
  RegSetValueExA(key, "description", 0, REG_DWORD, (const BYTE*)&number, sizeof(number));
  RegCloseKey(key);
  Scan();
  ASIOMAN_DRIVERENTRY* entry = EntryNamed(name);
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->szDescription, Ansi(name).c_str());
  entry = EntryNamed(dwordName);
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->szDescription, Ansi(dwordName).c_str());
}

TEST_F(DriverScan, LeavesOutThePreferencesKeyAndTheFullDuplexWrapper) {
  std::string clsid = ClassText(3);
  RegisterServer(clsid, exePath);
  const std::wstring preferences = L"asio MULTIMEDIA Preferences";
  HKEY existing;
  bool preferencesExisted =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\ASIO\\" + preferences).c_str(), 0, KEY_READ, &existing) ==
      ERROR_SUCCESS;
  if (preferencesExisted)
    RegCloseKey(existing);
  else
    AddDriver(preferences, clsid.c_str(), "Preferences");
  std::wstring wrapper = UniqueName(L"wrapper");
  AddDriver(wrapper, clsid.c_str(), "asio directx FULL duplex driver");
  std::wstring kept = UniqueName(L"kept");
  AddDriver(kept, clsid.c_str(), "ASIO DirectX Full Duplex Driver 2");
  Scan();
  RECARRAY* list = ASIOMAN_DriverList();
  for (int64_t i = 1; i <= list->nCount; i++) {
    ASIOMAN_DRIVERENTRY* entry = (ASIOMAN_DRIVERENTRY*)RECARRAY_Get(list, i);
    EXPECT_NE(lstrcmpiW((const wchar_t*)entry->wszName, L"ASIO Multimedia Preferences"), 0);
    EXPECT_NE(lstrcmpiA(entry->szDescription, "ASIO DirectX Full Duplex Driver"), 0);
  }
  EXPECT_TRUE(EntriesNamed(wrapper).empty());
  EXPECT_NE(EntryNamed(kept), nullptr);
}

TEST_F(DriverScan, LeavesOutDriversWithoutAServerFileAClassOrAClsid) {
  std::string missingFile = ClassText(4);
  RegisterServer(missingFile, std::string(exePath) + ".missing.dll");
  std::string directory = ClassText(5);
  RegisterServer(directory, "C:\\windows");
  std::string emptyPath = ClassText(6);
  RegisterServer(emptyPath, "");
  std::string binaryClsid = ClassText(7);
  RegisterServer(binaryClsid, exePath);

  std::wstring noFile = UniqueName(L"no file"), noDir = UniqueName(L"directory"),
               noPath = UniqueName(L"empty path"), noClass = UniqueName(L"no class"),
               noClsid = UniqueName(L"no clsid"), emptyClsid = UniqueName(L"empty clsid"),
               binary = UniqueName(L"binary clsid");
  AddDriver(noFile, missingFile.c_str(), "x");
  AddDriver(noDir, directory.c_str(), "x");
  AddDriver(noPath, emptyPath.c_str(), "x");
  AddDriver(noClass, ClassText(99).c_str(), "x");
  AddDriver(noClsid, NULL, "x");
  AddDriver(emptyClsid, "", "x");
  HKEY key = AddDriverKey(binary);
  RegSetValueExA(key, "clsid", 0, REG_BINARY, (const BYTE*)binaryClsid.c_str(), (DWORD)binaryClsid.size() + 1);
  RegCloseKey(key);
  Scan();
  for (const std::wstring& name : {noFile, noDir, noPath, noClass, noClsid, emptyClsid, binary})
    EXPECT_TRUE(EntriesNamed(name).empty()) << Ansi(name);
}

TEST_F(DriverScan, UnparsableClsidIsKeptWithAZeroClsid) {
  std::string text = "{not-a-class-id-" + std::to_string(pid) + "}";
  RegisterServer(text, exePath);
  std::wstring name = UniqueName(L"unparsable");
  AddDriver(name, text.c_str(), "Odd");
  Scan();
  ASIOMAN_DRIVERENTRY* entry = EntryNamed(name);
  ASSERT_NE(entry, nullptr);
  ASIOMAN_GUID zero;
  memset(&zero, 0, sizeof(zero));
  EXPECT_EQ(0, memcmp(&entry->clsid, &zero, sizeof(zero)));
  EXPECT_STREQ(entry->szServerPath, exePath);
}

TEST_F(DriverScan, TwoKeysNamingOneClsidGiveTwoEntries) {
  std::string clsid = ClassText(8);
  RegisterServer(clsid, exePath);
  std::wstring first = UniqueName(L"twin A"), second = UniqueName(L"twin B");
  AddDriver(first, clsid.c_str(), "Twin");
  AddDriver(second, Lower(clsid).c_str(), "Twin");
  Scan();
  ASIOMAN_DRIVERENTRY* a = EntryNamed(first);
  ASIOMAN_DRIVERENTRY* b = EntryNamed(second);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(0, memcmp(&a->clsid, &b->clsid, sizeof(a->clsid)));
}

TEST_F(DriverScan, OverlongNamesAndValuesAreCutAndTerminated) {
  std::string clsid = ClassText(9);
  RegisterServer(clsid, exePath);
  std::wstring longName = UniqueName(L"long");
  longName += std::wstring(255 - longName.size(), L'n');  // the longest key name
  AddDriver(longName, clsid.c_str(), NULL);
  std::wstring longDescription = UniqueName(L"long description");
  AddDriver(longDescription, clsid.c_str(), std::string(400, 'd').c_str());
  std::wstring longClsid = UniqueName(L"long clsid");
  AddDriver(longClsid, (clsid + std::string(300, ' ')).c_str(), "x");
  Scan();

  ASIOMAN_DRIVERENTRY* entry = EntryNamed(longName);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(wcslen((const wchar_t*)entry->wszName), 255u);
  EXPECT_EQ(strlen(entry->szName), 255u);
  EXPECT_EQ(std::string(entry->szDescription), Ansi(longName).substr(0, 127));
  entry = EntryNamed(longDescription);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(std::string(entry->szDescription), std::string(127, 'd'));
  EXPECT_TRUE(EntriesNamed(longClsid).empty());  // cut to 255, it names no class
}

TEST_F(DriverScan, NothingIsScannedIntoAListThatIsNotSetUp) {
  std::string clsid = ClassText(10);
  RegisterServer(clsid, exePath);
  AddDriver(UniqueName(L"unlisted"), clsid.c_str(), "x");
  ASIOMAN_ScanDrivers();
  EXPECT_EQ(ASIOMAN_DriverList()->nCount, 0u);
  EXPECT_EQ(ASIOMAN_DriverList()->pData, nullptr);
}

class ServerLookup : public DriverScan {};

TEST_F(ServerLookup, LowerCasesTheTextInPlaceAndFillsThePath) {
  std::string clsid = ClassText(11);
  RegisterServer(clsid, exePath);
  char text[256];
  lstrcpynA(text, clsid.c_str(), sizeof(text));
  char path[ASIOMAN_SERVERPATH_SIZE];
  EXPECT_EQ(ASIOMAN_FindServerPath(text, path), 0);
  EXPECT_EQ(std::string(text), Lower(clsid));
  EXPECT_STREQ(path, exePath);
}

TEST_F(ServerLookup, RefusesAnEmptyTextAndOneThatWouldNameADeeperKey) {
  std::string clsid = ClassText(12);
  RegisterServer(clsid + "\\nested", exePath);
  char path[ASIOMAN_SERVERPATH_SIZE];
  char empty[1] = "";
  EXPECT_EQ(ASIOMAN_FindServerPath(empty, path), -1);
  char nested[256];
  lstrcpynA(nested, (clsid + "\\nested").c_str(), sizeof(nested));
  EXPECT_EQ(ASIOMAN_FindServerPath(nested, path), -1);
  EXPECT_EQ(path[0], 0);
}

TEST_F(ServerLookup, OverlongServerPathIsCutWithinThePathBuffer) {
  std::string clsid = ClassText(13);
  RegisterServer(clsid, std::string(exePath) + std::string(600, 'p'));
  char text[256];
  lstrcpynA(text, clsid.c_str(), sizeof(text));
  char path[ASIOMAN_SERVERPATH_SIZE + 64];
  memset(path, '#', sizeof(path));
  EXPECT_EQ(ASIOMAN_FindServerPath(text, path), -1);  // the cut path names no file
  EXPECT_LT(strnlen(path, sizeof(path)), size_t(ASIOMAN_SERVERPATH_SIZE));
  for (size_t i = ASIOMAN_SERVERPATH_SIZE; i < sizeof(path); i++) ASSERT_EQ(path[i], '#') << i;
}

TEST_F(ServerLookup, FindsTheServerWhereComLoadsItAndKeepsTheRegisteredText) {
  char systemDir[MAX_PATH], tempDir[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(systemDir, MAX_PATH), 0u);
  ASSERT_GT(GetTempPathA(MAX_PATH, tempDir), 0u);
  std::string file = "mbscan" + std::to_string(pid) + ".dll";
  std::string inSystem = std::string(systemDir) + "\\" + file;
  ASSERT_TRUE(CopyFileA(exePath, inSystem.c_str(), FALSE));
  files.push_back(inSystem);
  std::string folder = tempDir + file + std::string(130, 'f');
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
  folders.push_back(folder);
  std::string longPath = folder + "\\" + file;
  ASSERT_TRUE(CopyFileA(exePath, longPath.c_str(), FALSE));
  files.push_back(longPath);
  // Expands to more than any path buffer holds.
  std::string longVariable = "MBSCAN" + std::to_string(pid);
  ASSERT_TRUE(SetEnvironmentVariableA(longVariable.c_str(), (std::string(systemDir) + std::string(600, '\\')).c_str()));

  struct Case {
    std::string text;
    DWORD type;
    int result;
  } cases[] = {
      {file, REG_SZ, 0},
      {"%SystemRoot%\\System32\\" + file, REG_EXPAND_SZ, 0},
      {"\"" + inSystem + "\"", REG_SZ, 0},
      {"\"" + longPath + "\"", REG_SZ, 0},
      {"nowhere" + file, REG_SZ, -1},
      {"%" + longVariable + "%%" + longVariable + "%" + file, REG_EXPAND_SZ, -1},
  };
  unsigned serial = 14;
  for (const Case& c : cases) {
    std::string clsid = ClassText(serial++);
    RegisterServer(clsid, c.text, c.type);
    char text[256], path[ASIOMAN_SERVERPATH_SIZE];
    lstrcpynA(text, clsid.c_str(), sizeof(text));
    EXPECT_EQ(ASIOMAN_FindServerPath(text, path), c.result) << c.text;
    EXPECT_EQ(std::string(path), c.text);
  }
  SetEnvironmentVariableA(longVariable.c_str(), NULL);
}

}  // namespace
