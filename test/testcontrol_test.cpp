// Whole test runs through the device manager and the simulated driver,
// registered in the test prefix with profiles of this test's own; the test's
// message pump ticks the test control as the main window's refresh does.
#include "test/testcontrol.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/txtbuffer.h"
#include "asio/asioman.h"
#include "asio/asioman_internal.h"
#include "simdriver/simtest.h"
#include "test/runfigures.h"
#include "test/statistics.h"

namespace {

const char kDashes54[] = "------------------------------------------------------";
const char kDashes59[] = "-----------------------------------------------------------";
const char kPriorityLine[] = "   INFO: callback thread priority: ";

struct LOGLINE {
  int nNumber;
  std::string text;
};

std::string Grouped(int64_t value) {
  char text[FORMATGROUPED_SIZE];
  FormatGroupedInt64(value, text, 0);
  return text;
}

LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class TestRunEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitialize(nullptr);
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = TestWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "MBTestRunWindow";
    RegisterClassA(&wc);
  }
  static void TearDownTestSuite() { CoUninitialize(); }

  void SetUp() override {
    window = CreateWindowExA(0, "MBTestRunWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    APPCONTEXT* context = &g_appContext;
    memset((void*)context, 0, sizeof(*context));
    context->nIOLimit = 512;
    context->fSineFrequency = 440.0f;
    context->hwndMain = window;
    TXTBUFFER_Init(&context->log);
    STATISTICS_AllocHistory(context);
    ticking = true;
  }

  void TearDown() override {
    ticking = false;
    StopTest();
    ASIOMAN_SetStuckBound(0);
    g_appContext.nAsioDriver = 0;
    Pump(50, nullptr);
    if (managerStarted) ASIOMAN_End();
    profiles.RemoveAll();
    DestroyWindow(window);
    STATISTICS_FreeHistory(&g_appContext);
    TXTBUFFER_Free(&g_appContext.log);
  }

  // A profile with a fresh class; returns its name as the driver list shows it.
  std::string AddProfile(const char* name, std::vector<std::string> settings) {
    std::string full = std::string("MBTestRun ") + name;
    EXPECT_NE(profiles.Add(full, settings), GUID_NULL);
    return full;
  }

  std::string AddReportFile(const char* name) { return "ReportFile=" + profiles.AddFile("mbtestrun", name); }

  // A short run of a fresh profile in the given output mode, and what the
  // driver reported having heard.
  std::map<std::string, std::string> RunAndReport(const char* name, const char* inputs, const char* outputs,
                                                  float sineFrequency) {
    Select(AddProfile(name, {inputs, outputs, AddReportFile(name)}));
    g_appContext.fSineFrequency = sineFrequency;
    StartTest();
    Pump(800, nullptr);
    StopTest();
    return SIMTEST_ReadReport(profiles.Files().back());
  }

  // Starts the manager over the registry as it is now and selects the driver.
  void Select(const std::string& name) {
    ASSERT_EQ(1, ASIOMAN_Init(GetModuleHandleA(nullptr)));
    managerStarted = true;
    for (int i = 1; i <= ASIOMAN_GetEntryCount(); ++i)
      if (name == ASIOMAN_GetEntry(i)->szName) g_appContext.nAsioDriver = i;
    ASSERT_GT(g_appContext.nAsioDriver, 0) << name;
  }

  // Dispatches the window's messages and ticks the test control (while
  // ticking) for ms, or until done says so.
  void Pump(int ms, std::function<bool()> done) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while ((int)(end - GetTickCount()) > 0) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      if (ticking) TESTCONTROL_Tick(window);
      if (done && done()) return;
      Sleep(5);
    }
  }

  // The log's lines with their numbers, without prefixes and line ends.
  std::vector<LOGLINE> Lines() const {
    std::vector<LOGLINE> lines;
    const TXTBUFFER* log = &g_appContext.log;
    std::string text(log->pText, log->nUsed);
    size_t start = 0;
    while (start < text.size()) {
      // A text that ends in its own LF gets no CR LF of its own.
      size_t end = text.find("\n#", start);
      std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t blank = line.find(' ');
      lines.push_back(LOGLINE{atoi(line.c_str() + 1), line.substr(blank + 1)});
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return lines;
  }

  int Count(const std::string& text) const {
    int n = 0;
    for (const LOGLINE& l : Lines()) n += l.text == text;
    return n;
  }
  int CountPrefix(const std::string& prefix) const {
    int n = 0;
    for (const LOGLINE& l : Lines()) n += l.text.compare(0, prefix.size(), prefix) == 0;
    return n;
  }

  // The start sequence of a 2 x 2 device at 48 000 Hz and 480 samples.
  std::vector<std::string> StartSequence(const std::string& name) const {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    int64_t frequency = f.QuadPart;
    return {kDashes54,
            "(64Bits) TEST ASIO DEVICE: " + name,
            "PREPARE DEVICE: sr:48000 Hz / buffer: 480 smp / in: 2 / out: 2",
            "Latency: in:480 smp / buffer: 480 smp / out: 960 smp / total: 40.00 ms",
            "Must Call ASIOOutputReady(): YES",
            kDashes59,
            " ASIO Buffer 0 / Input / type:18 /ASIOSTInt32LSB (Input 1)",
            " ASIO Buffer 1 / Input / type:18 /ASIOSTInt32LSB (Input 2)",
            " ASIO Buffer 2 / Output / type:18 /ASIOSTInt32LSB (Output 1)",
            " ASIO Buffer 3 / Output / type:18 /ASIOSTInt32LSB (Output 2)",
            kDashes59,
            "                               Latency: 480 smp",
            "                             I/O Limit: 512 / in: 2 / out: 2",
            "          Performance Counter Frequency: " + Grouped(frequency),
            "     Performance Counter for one buffer: " + Grouped(480 * frequency / 48000) + " (10.0 ms)",
            "            Performance Counter for 10%: " + Grouped((int64_t)((double)frequency * 0.1 * 480 / 48000)),
            kDashes59,
            "GENERATE SINUS: 440 Hz -20 dBfs",
            "DSP LOAD: nothing",
            "START ASIO DEVICE: Running",
            "Report:",
            "Device Is Openned. | Device Is Started. | "};
  }

  // The texts from line `from` on, with the one thread-priority line taken
  // out; it must come after the driver started (after the load line).
  std::vector<std::string> WithoutPriorityLine(size_t from, size_t startedAt) const {
    std::vector<LOGLINE> lines = Lines();
    std::vector<std::string> texts;
    int found = 0;
    for (size_t i = from; i < lines.size(); ++i) {
      if (lines[i].text.compare(0, strlen(kPriorityLine), kPriorityLine) == 0) {
        found++;
        EXPECT_GT(i, from + startedAt) << "thread priority line before the driver started";
        continue;
      }
      texts.push_back(Shape(lines[i].text));
    }
    EXPECT_EQ(1, found) << "thread priority lines";
    return texts;
  }

  // The summary and distribution lines a run ends with, cut to their
  // beginnings: their figures are the run's own, tested where they are made.
  static std::string Shape(const std::string& text) {
    for (const char* prefix : {"RUN SUMMARY: ", "RUN DISTRIBUTION: "})
      if (text.compare(0, strlen(prefix), prefix) == 0) return prefix;
    return text;
  }
  std::vector<std::string> LastShapes(size_t n) const {
    std::vector<LOGLINE> lines = Lines();
    std::vector<std::string> shapes;
    for (size_t i = lines.size() > n ? lines.size() - n : 0; i < lines.size(); ++i)
      shapes.push_back(Shape(lines[i].text));
    return shapes;
  }

  std::string Dump() const {
    std::string all;
    for (const LOGLINE& l : Lines()) all += "[" + l.text + "]\n";
    return all;
  }

  HWND window = nullptr;
  bool ticking = true;
  bool managerStarted = false;
  SIMTEST_PROFILES profiles;
};

const std::vector<std::string> kStereo48k = {"Inputs=2", "Outputs=2", "SampleRate=48000",
                                             "PreferredBufferSize=480", "InputLatency=480", "OutputLatency=960"};

TEST_F(TestRunEndToEnd, ACompleteRunLogsEveryLineOfTheStartAndStopSequences) {
  std::string name = AddProfile("stereo", kStereo48k);
  Select(name);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    size_t from = Lines().size();
    StartTest();
    Pump(300, nullptr);
    StopTest();
    std::vector<std::string> expected = StartSequence(name);
    expected.push_back("STOP ASIO DEVICE: " + name);
    expected.push_back("CLOSE DEVICE");
    expected.push_back("RUN SUMMARY: ");
    expected.push_back("RUN DISTRIBUTION: ");
    // The priority line may come anywhere after the load line (index 18).
    std::vector<std::string> actual = WithoutPriorityLine(from, 18);
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], actual[i]) << "line " << i;
  }
  // Line numbers run on across the runs.
  std::vector<LOGLINE> lines = Lines();
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ((int)i + 1, lines[i].nNumber);
  EXPECT_GT(g_appContext.nBufferNumber, 10);
}

TEST_F(TestRunEndToEnd, WithoutDeviceNothingIsLoggedAndTheStatisticsStay) {
  g_appContext.nTimingError10 = 5;
  StartTest();
  StopTest();
  RestartWithIOLimit(window, 64);  // only stores the limit
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(5, g_appContext.nTimingError10);
  EXPECT_EQ(64, g_appContext.nIOLimit);
}

TEST_F(TestRunEndToEnd, TheDriverHearsTheSineAtEveryOutput) {
  std::map<std::string, std::string> report = RunAndReport("tone", "Inputs=2", "Outputs=4", 1000.0f);
  ASSERT_FALSE(report.empty());
  for (int c = 0; c < 4; ++c) {
    std::string out = "out" + std::to_string(c);
    EXPECT_NEAR(1000.0, atof(report[out + ".frequency"].c_str()), 1.0) << out;
    EXPECT_NEAR(0.1, atof(report[out + ".peak"].c_str()), 0.001) << out;
  }
  EXPECT_EQ(1, Count("GENERATE SINUS: 1000 Hz -20 dBfs"));
}

TEST_F(TestRunEndToEnd, TheDriverHearsItsInputsRepeatedOverTheOutputs) {
  std::map<std::string, std::string> report = RunAndReport("pass", "Inputs=2", "Outputs=6", 0.0f);
  ASSERT_FALSE(report.empty());
  for (int c = 0; c < 6; ++c) {
    std::string out = "out" + std::to_string(c);
    EXPECT_EQ("1", report[out + ".passthrough"]) << out;
    EXPECT_EQ(std::to_string(c % 2), report[out + ".passthrough_source"]) << out;
  }
  // Inputs 0 and 1 carry different tones: the outputs alternate between them.
  EXPECT_NE(report["out0.frequency"], report["out1.frequency"]);
  EXPECT_EQ(report["out0.frequency"], report["out4.frequency"]);
  EXPECT_EQ(report["out1.frequency"], report["out5.frequency"]);
  EXPECT_EQ(1, Count("MODE PASS-THROUGH: all inputs -> all outputs"));
}

TEST_F(TestRunEndToEnd, MoreInputsThanOutputsPassTheFirstOnes) {
  std::map<std::string, std::string> report = RunAndReport("wide", "Inputs=4", "Outputs=2", 0.0f);
  ASSERT_FALSE(report.empty());
  EXPECT_EQ("1", report["out0.passthrough"]);
  EXPECT_EQ("1", report["out1.passthrough"]);
  EXPECT_EQ("0", report["out0.passthrough_source"]);
  EXPECT_EQ("1", report["out1.passthrough_source"]);
}

TEST_F(TestRunEndToEnd, AResetRequestRestartsTheRunWithoutUserAction) {
  std::vector<std::string> settings = kStereo48k;
  settings.push_back("ResetAfter=40");
  std::string name = AddProfile("reset", settings);
  Select(name);
  StartTest();
  // The request is only recorded by the driver's thread; the GUI thread acts
  // at its next tick.
  ticking = false;
  const ASIOMAN_DRIVERENTRY* entry = ASIOMAN_GetEntry(g_appContext.nAsioDriver);
  Pump(3000, [entry] { return entry->nEvent.load() != 0; });
  ASSERT_EQ(0, CountPrefix("DEVICE RESET: "));
  TESTCONTROL_Tick(window);
  Pump(100, nullptr);  // for its thread priority line; the restarted stream would ask again
  std::vector<LOGLINE> lines = Lines();
  size_t reset = 0;
  while (reset < lines.size() && lines[reset].text.compare(0, 14, "DEVICE RESET: ") != 0) ++reset;
  ASSERT_LT(reset, lines.size());
  EXPECT_EQ(
      "DEVICE RESET: (kAsioResetRequest msg) Request From Audio Driver\nAudio Stream needs a complete RESET\n\n"
      "Please Re-Start the Audio Device...",
      lines[reset].text);
  std::vector<std::string> expected = {"STOP ASIO DEVICE: " + name, "CLOSE DEVICE"};
  for (const std::string& s : StartSequence(name)) expected.push_back(s);
  std::vector<std::string> actual = WithoutPriorityLine(reset + 1, 3 + 18);
  ASSERT_GT(actual.size(), 2u);
  EXPECT_EQ("RUN SUMMARY: ", actual[2]) << "the stopped run's summary follows its close line";
  EXPECT_EQ("RUN DISTRIBUTION: ", actual[3]);
  actual.erase(actual.begin() + 2, actual.begin() + 4);
  actual.resize(std::min(actual.size(), expected.size()));
  EXPECT_EQ(expected, actual);
  EXPECT_EQ(2, Count("START ASIO DEVICE: Running"));
}

TEST_F(TestRunEndToEnd, AResetRequestThatComesWithTheStopIsLoggedAsIgnoredAndStartsNothing) {
  std::vector<std::string> settings = kStereo48k;
  settings.push_back("ResetInStop=1");
  Select(AddProfile("reset in stop", settings));
  StartTest();
  Pump(200, nullptr);
  StopTest();
  const std::string ignored = "DEVICE RESET: (kAsioResetRequest msg) ignored, the test was stopped";
  Pump(1000, [&] { return Count(ignored) > 0; });
  Pump(200, nullptr);
  EXPECT_EQ(1, Count(ignored)) << Dump();
  EXPECT_EQ(1, CountPrefix("(64Bits) TEST ASIO DEVICE"));
}

TEST_F(TestRunEndToEnd, ReentranceStopsTheRunWithoutRestart) {
  std::vector<std::string> settings = kStereo48k;
  settings.push_back("ReentranceAfter=10");
  std::string name = AddProfile("reenter", settings);
  Select(name);
  // Copy load beyond the menu's amounts keeps each buffer busy for about half
  // its duration, so that the driver's second call overlaps one even on a
  // busy machine.
  g_appContext.nSingleCopies = 80;
  g_appContext.nPatches = 80;
  g_appContext.nBusCopies = 80;
  StartTest();
  const std::string stopLine = "DEVICE WANT TO STOP: (Re-entrance detected) Driver Callback Re-entrance...\nUnexpected error...";
  Pump(3000, [&] { return Count(stopLine) > 0; });
  Pump(100, nullptr);
  EXPECT_EQ(1, Count(stopLine)) << Dump();
  EXPECT_EQ(
      (std::vector<std::string>{"STOP ASIO DEVICE: " + name, "CLOSE DEVICE", "RUN SUMMARY: ", "RUN DISTRIBUTION: "}),
      LastShapes(4));
  EXPECT_EQ(1, Count("START ASIO DEVICE: Running"));
  EXPECT_EQ(1, CountPrefix(kPriorityLine));
}

TEST_F(TestRunEndToEnd, AnInputWithoutConversionStopsTheRunWithoutRestart) {
  std::string name = AddProfile("float64", {"InputType=ASIOSTFloat64LSB"});
  Select(name);
  StartTest();
  const std::string stopLine =
      "DEVICE WANT TO STOP: (Data conversion missing) No data conversion supplied...\nConversion error nu : 2";
  Pump(3000, [&] { return Count(stopLine) > 0; });
  Pump(100, nullptr);
  EXPECT_EQ(1, Count(stopLine)) << Dump();
  std::string text(g_appContext.log.pText, g_appContext.log.nUsed);
  EXPECT_NE(std::string::npos, text.find("Conversion error nu : 2\n#"));  // no line end added after its LF
  std::vector<LOGLINE> lines = Lines();
  EXPECT_EQ("CLOSE DEVICE", lines[lines.size() - 2].text);
  EXPECT_EQ(0u, lines.back().text.find("RUN SUMMARY: 00:00:00 / buffers: +0 / ")) << "no buffer was processed";
  EXPECT_EQ(1, Count("START ASIO DEVICE: Running"));
}

TEST_F(TestRunEndToEnd, AKeptDeviceGetsItsSummaryAfterTheStopSequenceAndOnlyOnce) {
  // The driver's stop does not wait for its thread, which stays inside one
  // switch longer than the manager's bounds: the device cannot be closed.
  std::vector<std::string> settings = kStereo48k;
  settings.push_back("StopNoWait=1");
  settings.push_back("BlockAt=5");
  settings.push_back("BlockUs=2000000");
  std::string name = AddProfile("kept", settings);
  ASIOMAN_SetStuckBound(300);
  Select(name);
  StartTest();
  const ASIOMAN_DEVICE* device = &ASIOMAN_GetEntry(g_appContext.nAsioDriver)->device;
  // Switch 5 blocks after the two skipped ones and two processed ones.
  Pump(3000, [device] { return device->timing.nLastSwitch >= 5; });
  ASSERT_GT(g_appContext.nBufferNumber, 0);
  StopTest();
  std::vector<std::string> last = LastShapes(5);
  ASSERT_EQ(5u, last.size());
  EXPECT_EQ("STOP ASIO DEVICE: " + name, last[0]) << Dump();
  EXPECT_EQ("Report:", last[1]);
  EXPECT_NE(std::string::npos, last[2].find("Driver Callback Still Running: Device Not Closed..."))
      << "the log says what was kept";
  EXPECT_EQ((std::vector<std::string>{"RUN SUMMARY: ", "RUN DISTRIBUTION: "}),
            std::vector<std::string>(last.begin() + 3, last.end()));
  EXPECT_EQ(0, Count("CLOSE DEVICE"));

  // Once the switch has left, the next stop closes the device: its close line
  // comes, the summary does not come again.
  Pump(20000, [device] { return device->bInCallback == 0; });
  StopTest();
  EXPECT_EQ("CLOSE DEVICE", Lines().back().text) << Dump();
  EXPECT_EQ(1, CountPrefix("RUN SUMMARY: "));
}

TEST_F(TestRunEndToEnd, AnIOLimitRestartsTheSelectedDeviceWithFewerChannels) {
  std::string name = AddProfile("wide16", {"Inputs=24", "Outputs=24"});
  Select(name);
  RestartWithIOLimit(window, 16);
  StopTest();
  EXPECT_EQ(1, Count("                             I/O Limit: 16 / in: 16 / out: 16"));
  EXPECT_EQ(2, Count("STOP ASIO DEVICE: " + name));  // before the restart, and the final stop
  EXPECT_EQ(16, g_appContext.nIOLimit);
}

}  // namespace
