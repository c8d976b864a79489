// End-to-end test support: the real MorvaneBrimwell64.exe started beside the
// test, driven only through mbharness as a user would, on simulated driver
// profiles registered for one test. Windows, tests only.
#ifndef MB_APP_PROGRAM_FIXTURE_H
#define MB_APP_PROGRAM_FIXTURE_H

#include <windows.h>

#include <gtest/gtest.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "simdriver/simtest.h"

struct RESULT {
  DWORD nExit;
  std::string out;
};

// Runs a program to its end and collects what it printed.
RESULT RunProgram(const std::string& commandLine, DWORD timeoutMs);

// A decoded window image from the harness's PNG (stored deflate blocks).
struct IMAGE {
  int nWidth = 0, nHeight = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB
  uint32_t At(int x, int y) const {
    if (x < 0 || y < 0 || x >= nWidth || y >= nHeight) return 0xFFFFFFFFu;
    return pixels[(size_t)y * nWidth + x];
  }
};

bool DecodePng(const std::string& path, IMAGE* image);

// The numbers of one "RUN SUMMARY: " line, in the order it prints them.
struct SUMMARY {
  bool bFound = false;
  int64_t nBuffers = 0;
  int nLoad50 = 0, nLoad80 = 0, nLoad100 = 0;
  int nTiming[4] = {0, 0, 0, 0};  // 10, 20, 50, 100 %
  double fMax = 0;                // MAX, percent
  // The "RUN DISTRIBUTION: " line that follows it.
  bool bDistribution = false;
  double fLoadP999 = 0;                       // percent
  double fIntervalP50 = 0, fIntervalMax = 0;  // ms
};

// The last summary among the log's lines.
SUMMARY ParseLastSummary(const std::vector<std::string>& lines);

class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void TearDown() override;

  std::string AddProfile(const char* name, std::vector<std::string> settings);
  std::string AddFile(const char* name);
  // The driver's Devices menu command.
  int CommandOf(const std::string& name);
  void Launch();
  RESULT Harness(const std::string& verbs);
  void Expect(const std::string& verbs);
  static std::string Command(int identifier) { return " command " + std::to_string(identifier) + " "; }
  // Waits until the profile's driver has begun n more buffer switches.
  static std::string Switches(const std::string& name, int n) {
    return " switches \"" + name + "\" " + std::to_string(n) + " 30 ";
  }
  int Count(const std::string& pattern);
  // The log view's text, line by line.
  std::vector<std::string> LogLines();
  IMAGE Shot();
  // Waits for the program to end after a quit and gives its exit code.
  DWORD ExitCode(DWORD timeoutMs);

  HANDLE program = nullptr;
  SIMTEST_PROFILES profiles;
};

#endif  // MB_APP_PROGRAM_FIXTURE_H
