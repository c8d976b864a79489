// End to end: the real MorvaneBrimwell64.exe on simulated driver profiles of
// this test's own, talked to only through mbharness, as a user would; what it
// logs, what the driver heard at its outputs, and what the window shows.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "app/appcontext.h"
#include "app/mainwindow.h"
#include "app/program_fixture.h"

namespace {

// Control library colours that the panel draws with.
const uint32_t kRed = 0xCC2814;   // pen 1
const uint32_t kGrey = 0x6E6E6E;  // pen 11
const uint32_t kWhite = 0xFFFFFF;
// The panel's top-left corner in the client area and its baselines.
const int kPanelX = 10, kPanelY = 50, kLoadBase = 110, kErrorBase = 225;

// The panel spans the client width less 20 pixels, at least 400.
int PanelWidth(const IMAGE& image) { return image.nWidth - 20 < 400 ? 400 : image.nWidth - 20; }

// Pixels of one colour in a rectangle of panel coordinates.
int CountColour(const IMAGE& image, uint32_t colour, int left, int top, int right, int bottom) {
  int n = 0;
  for (int y = top; y < bottom; y++)
    for (int x = left; x < right; x++) n += image.At(kPanelX + x, kPanelY + y) == colour;
  return n;
}

// The menu command of a tone, in the menu's order of frequencies.
int CommandOfFrequency(int hz) {
  const int frequencies[4] = {100, 200, 440, 1000};
  int k = 0;
  while (k < 3 && frequencies[k] != hz) k++;
  return CMD_SINE_FIRST + k;
}

// Both outputs of the stopped run carried the tone that the log last
// announced, which is the one asked for.
void ExpectTone(const std::vector<std::string>& log, const std::string& report, int hz) {
  int announcedHz = 0, announcedDb = 0;
  for (const std::string& line : log) {
    size_t at = line.find("GENERATE SINUS: ");
    if (at != std::string::npos)
      sscanf(line.c_str() + at, "GENERATE SINUS: %d Hz %d dBfs", &announcedHz, &announcedDb);
  }
  EXPECT_EQ(announcedHz, hz);
  std::map<std::string, std::string> values = SIMTEST_ReadReport(report);
  for (const char* out : {"out0", "out1"}) {
    double frequency = atof(values[std::string(out) + ".frequency"].c_str());
    double peak = atof(values[std::string(out) + ".peak"].c_str());
    double level = peak > 0 ? 20.0 * log10(peak) : -200.0;
    printf("  %s: announced %d Hz %d dBFS, driver measured %.3f Hz %.3f dBFS\n", out, announcedHz, announcedDb,
           frequency, level);
    EXPECT_NEAR(frequency, announcedHz, 1.0 + announcedHz / 100.0) << out;
    EXPECT_NEAR(level, announcedDb, 0.2) << out << " peak level";
  }
}

TEST_F(ProgramTest, ARunIsStartedStoppedRestartedAndRetunedFromTheMenu) {
  std::string report = AddFile("report.txt");
  std::string name = AddProfile("Run", {"ReportFile=" + report});
  int command = CommandOf(name);
  Launch();

  // Before the first preparation the panel is a white rectangle with one
  // line of text at its top left, the hint to choose a driver.
  IMAGE before = Shot();
  EXPECT_EQ(CountColour(before, kWhite, 1, 25, 399, 329), 398 * 304);
  EXPECT_GT(398 * 20 - CountColour(before, kWhite, 1, 5, 399, 25), 100) << "the hint";

  Expect(Command(command) + "wait \"^#[0-9]+ START ASIO DEVICE: Running$\" 20");
  Expect("wait \"^#[0-9]+ Device Is Openned. \\| Device Is Started. \\| $\" 5");
  Expect(Switches(name, 100));
  IMAGE running = Shot();
  EXPECT_GT(CountColour(running, kGrey, 0, 10, PanelWidth(running), 110), 0) << "load bars";
  int headerInk = 0;
  for (int x = 10; x < 300; x++)
    for (int y = 10; y < 30; y++) headerInk += running.At(x, y) < 0x404040;
  EXPECT_GT(headerInk, 50) << "the header line names the device";

  Expect(Command(CMD_STOPTEST) + "wait \"^#[0-9]+ STOP ASIO DEVICE: " + name + "$\" 5 wait \"^#[0-9]+ CLOSE DEVICE$\" 5");
  ExpectTone(LogLines(), report, 440);  // the default

  // The other frequencies of the menu, each on a run of its own.
  for (int hz : {1000, 100, 200}) {
    Expect(Command(CommandOfFrequency(hz)) + Command(CMD_RESTARTTEST) + Switches(name, 100) + Command(CMD_STOPTEST) +
           "wait \"^#[0-9]+ CLOSE DEVICE$\" 5");
    ExpectTone(LogLines(), report, hz);
  }
  EXPECT_EQ(Count("START ASIO DEVICE: Running$"), 4);

  Expect(Command(CMD_PASSTHROUGH) + "wait \"^#[0-9]+ MODE PASS-THROUGH: all inputs -> all outputs$\" 5");
  Expect(Command(CMD_RESTARTTEST) + Switches(name, 100) + Command(CMD_STOPTEST) + "wait \"^#[0-9]+ CLOSE DEVICE$\" 5");
  std::map<std::string, std::string> values = SIMTEST_ReadReport(report);
  EXPECT_EQ(values["out0.passthrough"], "1");
  EXPECT_EQ(values["out1.passthrough"], "1");

  Expect(Command(CMD_IOLIMIT_FIRST) + "wait \"I/O Limit: 16 / in: 2 / out: 2$\" 20");
  EXPECT_EQ(Count("START ASIO DEVICE: Running$"), 6);
  Expect(Command(CMD_SINGLECOPY_BASE + 24) + "wait \"^#[0-9]+ DSP LOAD: CPU: 0 / FPU: 0 / SINGLECPY: 3072 / PATCH: 0 / BUSCPY: 0$\" 5");

  Expect(Command(CMD_QUIT) + "gone 30");
  EXPECT_EQ(WaitForSingleObject(program, 20000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(program, &code);
  EXPECT_EQ(code, 0u);
  values = SIMTEST_ReadReport(report);
  EXPECT_GT(atoi(values["switches"].c_str()), 10) << "the last run was stopped and its buffers disposed";
}

TEST_F(ProgramTest, OverloadedBuffersDrawRedBarsToTheTop) {
  std::string name = AddProfile("Load", {"SampleRate=96000", "PreferredBufferSize=128"});
  int command = CommandOf(name);
  Launch();
  // Every load at its largest: far more work than a 1.3 ms buffer holds, even
  // on a quiet machine, where a 5.3 ms buffer holds about as much.
  Expect(Command(CMD_CPULOAD_BASE + 32) + Command(CMD_FPULOAD_BASE + 32) + Command(CMD_SINGLECOPY_BASE + 32) +
         Command(CMD_PATCH_BASE + 32) + Command(CMD_BUSCOPY_BASE + 32) + Command(command) + "wait \"START ASIO DEVICE: Running$\" 30" + Switches(name, 200));
  IMAGE image = Shot();
  int w = PanelWidth(image);
  EXPECT_GT(CountColour(image, kRed, 0, 10, w, 110), 100) << "red load bars";
  // LineTo leaves out its end point: 100 pixels reach from y 110 up to y 11.
  EXPECT_GT(CountColour(image, kRed, 0, 11, w, 12), 0) << "a bar of 100 pixels";
  EXPECT_EQ(CountColour(image, kRed, 0, 10, w, 11), 0) << "never more than 100 pixels";
  Expect("wait \"Incident on frame\" 10");
}

// The window answers a round trip from another process within one refresh
// period while every buffer logs an incident, until the log is full. The idle
// window's answers, timed first, show what the machine itself adds.
TEST_F(ProgramTest, TheWindowAnswersWithinOneRefreshPeriodWhileAnOverloadFillsTheLog) {
  std::string name = AddProfile("Answer", {"SampleRate=96000", "PreferredBufferSize=128"});
  int command = CommandOf(name);
  Launch();
  RESULT idle = Harness("answer 3");
  // Every load at its largest is more work than a 1.3 ms buffer holds, even on
  // a quiet machine: every buffer logs an incident.
  Expect(Command(CMD_CPULOAD_BASE + 32) + Command(CMD_FPULOAD_BASE + 32) + Command(CMD_SINGLECOPY_BASE + 32) +
         Command(CMD_PATCH_BASE + 32) + Command(CMD_BUSCOPY_BASE + 32) + Command(command) +
         "wait \"START ASIO DEVICE: Running$\" 30");
  RESULT loaded = Harness("answer 500");
  ASSERT_EQ(loaded.nExit, 0u) << loaded.out;
  int count = 0, late = 0;
  char full[16] = "";
  ASSERT_EQ(sscanf(loaded.out.c_str(), "%d round trips, slowest %*f ms, mean %*f ms, %d over 100 ms, log %15s", &count,
                   &late, full),
            3)
      << loaded.out;
  EXPECT_STREQ(full, "full") << loaded.out;
  // A shared machine may hold the GUI thread off its processor now and then.
  EXPECT_LE(late * 100, count) << "loaded: " << loaded.out << "idle: " << idle.out;
  printf("idle: %sloaded: %s", idle.out.c_str(), loaded.out.c_str());
}

TEST_F(ProgramTest, AStallDrawsALateBarAndThenAnEarlyOne) {
  // 48 000 Hz / 480 samples: 10 ms buffers; a 9 ms stall every 40 buffers
  // makes one callback 90 % late, a red bar up, that scheduling noise on a
  // busy machine rarely reaches.
  std::string name = AddProfile("Stall", {"SampleRate=48000", "PreferredBufferSize=480", "StallUs=9000",
                                          "StallEvery=40"});
  int command = CommandOf(name);
  Launch();
  // About ten stalls within the panel's width of single-buffer columns.
  Expect(Command(command) + "wait \"START ASIO DEVICE: Running$\" 30" + Switches(name, 480));
  IMAGE image = Shot();
  int w = PanelWidth(image);
  int lateColumns = 0, pairedColumns = 0;
  for (int x = 0; x + 2 < w; x++) {
    if (image.At(kPanelX + x, kPanelY + kErrorBase - 85) != kRed) continue;
    lateColumns++;
    // The next callback keeps its deadline, so it comes early by as much.
    for (int dx = 1; dx <= 2; dx++)
      if (image.At(kPanelX + x + dx, kPanelY + kErrorBase + 85) == kRed) {
        pairedColumns++;
        break;
      }
  }
  EXPECT_GE(lateColumns, 5);
  EXPECT_GE(pairedColumns, lateColumns * 3 / 4);
}

TEST_F(ProgramTest, ALoadTakesNoMorePageCrossingIncidentsInItsFirstPassThroughTheTablesThanInItsThird) {
  // 96 kHz / 32 samples (0.33 ms) and 512 integer filters: every filter
  // moves 128 samples a buffer, so all of them cross into a new page of their
  // tables together on every 8th buffer, and 128 first touches in one buffer
  // take longer than the buffer lasts. A pass is 4096 buffers (1.4 s).
  const int kBufferSize = 32, kUnits = 4, kBuffersAPage = 8;
  const int64_t pass = LOADFILTER_TABLE_SAMPLES / (kUnits * kBufferSize);
  std::string report = AddFile("report.txt");
  std::string name = AddProfile("Pass", {"SampleRate=96000", "PreferredBufferSize=" + std::to_string(kBufferSize),
                                         "ReportFile=" + report});
  int command = CommandOf(name);
  Launch();
  Expect(Command(CMD_CPULOAD_BASE + kUnits) + Command(command) + "wait \"START ASIO DEVICE: Running$\" 30" +
         Switches(name, (int)(3 * pass + 2)) + Command(CMD_STOPTEST) + "wait \"^#[0-9]+ CLOSE DEVICE$\" 10");
  std::map<std::string, std::string> values = SIMTEST_ReadReport(report);
  ASSERT_GE(atoll(values["switches"].c_str()), 3 * pass + 2) << "the third pass is complete";

  // Incidents by pass and by the buffer's place between page crossings; the
  // frame is the buffer number in digit groups.
  int64_t incidents[3][kBuffersAPage] = {};
  std::string log = Harness("log").out;
  const std::string marker = "Incident on frame ";
  for (size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
    int64_t frame = 0;
    for (size_t i = at + marker.size(); i < log.size() && log[i] != ' '; i++)
      if (log[i] >= '0' && log[i] <= '9') frame = frame * 10 + (log[i] - '0');
    int64_t p = (frame - 1) / pass;
    if (p < 3) incidents[p][frame % kBuffersAPage]++;
  }
  // Scheduling noise on a busy machine reaches every place alike and any
  // pass; first touches would add an incident at one place on all 512 page
  // crossings of the first pass alone. So the place with the most incidents
  // may lead the mean of the others by no more in the first pass than in the
  // third, give or take 1/4 of the crossings.
  int64_t lead[3];
  for (int p = 0; p < 3; p++) {
    int64_t most = 0, all = 0;
    for (int64_t n : incidents[p]) {
      most = std::max(most, n);
      all += n;
    }
    lead[p] = most - (all - most) / (kBuffersAPage - 1);
  }
  EXPECT_LE(lead[0], lead[2] + pass / kBuffersAPage / 4)
      << "lead in the second pass: " << lead[1];
}

TEST_F(ProgramTest, AZoomChangeShowsAtTheNextTick) {
  std::string name = AddProfile("Zoom", {"SampleRate=48000", "PreferredBufferSize=480", "StallUs=7000",
                                         "StallEvery=25"});
  int command = CommandOf(name);
  Launch();
  // More than 256 buffers of 10 ms, so the widest zoom has a whole column.
  Expect(Command(command) + "wait \"START ASIO DEVICE: Running$\" 30" + Switches(name, 300));
  // At 100 % every stall has a column of its own.
  IMAGE single = Shot();
  Expect(Command(CMD_ZOOM_LAST) + "sleep 400");  // 0.35 %: 256 buffers a column
  IMAGE grouped = Shot();
  int w = PanelWidth(single);
  int singleInk = w * 200 - CountColour(single, kWhite, 0, 115, w, 315);
  int groupedInk = w * 200 - CountColour(grouped, kWhite, 0, 115, w, 315);
  EXPECT_NE(singleInk, groupedInk);
}

}  // namespace
