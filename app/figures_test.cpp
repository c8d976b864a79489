// End to end: the figures a run ends with are what the driver did. Each case
// runs the real program on a simulated driver that reports its own count of
// the same events; the two may differ by the buffer at each end of the run
// that only one side saw.
#include <stdio.h>
#include <stdlib.h>

#include "app/mainwindow.h"
#include "app/program_fixture.h"

namespace {

class FiguresTest : public ProgramTest {
 protected:
  // Runs the profile for `buffers` switches, stops it and gives its summary;
  // the driver's report is written by then.
  SUMMARY Run(const std::string& name, int buffers, const std::string& before = std::string()) {
    Expect(before + Command(CommandOf(name)) + "wait \"START ASIO DEVICE: Running$\" 30" + Switches(name, buffers));
    Expect(Command(CMD_STOPTEST) + "wait \"^#[0-9]+ RUN SUMMARY: \" 20");
    return ParseLastSummary(LogLines());
  }

  static int64_t Value(const std::string& report, const char* key) {
    std::map<std::string, std::string> values = SIMTEST_ReadReport(report);
    return _atoi64(values[key].c_str());
  }

  static void Print(const char* what, int64_t program, int64_t driver) {
    printf("  %-30s program %8lld   driver %8lld\n", what, (long long)program, (long long)driver);
  }
};

TEST_F(FiguresTest, EveryStallBeyondABufferIsOneHundredPercentTimingError) {
  // 5.33 ms buffers, an 8 ms stall every 50: each stalled interval is 2.5
  // periods, far beyond the 100 % threshold of 2.
  std::string report = AddFile("stall.txt");
  std::string name = AddProfile("Stall", {"SampleRate=48000", "PreferredBufferSize=256", "StallUs=8000",
                                          "StallEvery=50", "ReportFile=" + report});
  Launch();
  SUMMARY s = Run(name, 1200);
  ASSERT_TRUE(s.bFound);
  int64_t stalls = Value(report, "stalls"), late = Value(report, "timing_error_100");
  printf("  stalls by the driver %lld\n", (long long)stalls);
  Print("timing error 100 %", s.nTiming[3], late);
  EXPECT_GE(stalls, 20);
  EXPECT_GE(late, stalls - 1) << "every stall after the first switches is late beyond a buffer";
  EXPECT_NEAR(s.nTiming[3], late, 2);
  ASSERT_TRUE(s.bDistribution);
  printf("  interval MAX %.2f ms, load p99.9 %.1f %% against MAX %.1f %%\n", s.fIntervalMax, s.fLoadP999, s.fMax);
  EXPECT_GE(s.fIntervalMax, 256 * 1000.0 / 48000 + 8.0) << "a period and the stall";
  EXPECT_LE(s.fLoadP999, s.fMax);
}

TEST_F(FiguresTest, UndisturbedTimingErrorsAndBuffersAreTheDriversOwn) {
  std::string report = AddFile("plain.txt");
  std::string name = AddProfile("Plain", {"SampleRate=48000", "PreferredBufferSize=256", "ReportFile=" + report});
  Launch();
  SUMMARY s = Run(name, 1875);  // 10 s
  ASSERT_TRUE(s.bFound);
  const char* keys[4] = {"timing_error_10", "timing_error_20", "timing_error_50", "timing_error_100"};
  for (int i = 0; i < 4; i++) {
    int64_t driver = Value(report, keys[i]);
    Print(keys[i], s.nTiming[i], driver);
    EXPECT_NEAR(s.nTiming[i], driver, 2) << keys[i];
  }
  int64_t delivered = Value(report, "switches_before_stop");
  Print("buffers / switches before stop", s.nBuffers, delivered);
  EXPECT_NEAR((double)s.nBuffers, (double)delivered, 3.0);
  ASSERT_TRUE(s.bDistribution);
  const double period = 256 * 1000.0 / 48000;
  printf("  interval p50 %.2f ms against a period of %.2f ms\n", s.fIntervalP50, period);
  EXPECT_NEAR(s.fIntervalP50, period, period * 0.02);
  EXPECT_LE(s.fLoadP999, s.fMax);
}

TEST_F(FiguresTest, EveryOverloadedBufferLogsOneIncident) {
  // 0.33 ms buffers with every load at its largest: the loads' work per
  // buffer comes on top of their cost per sample.
  std::string name = AddProfile("Overload", {"SampleRate=96000", "PreferredBufferSize=32"});
  Launch();
  SUMMARY s = Run(name, 300,
                  Command(CMD_CPULOAD_BASE + 32) + Command(CMD_FPULOAD_BASE + 32) + Command(CMD_SINGLECOPY_BASE + 32) +
                      Command(CMD_PATCH_BASE + 32) + Command(CMD_BUSCOPY_BASE + 32));
  ASSERT_TRUE(s.bFound);
  int incidents = Count("^#[0-9]+ Incident on frame ");
  printf("  incident lines %d, summary's DSP LOAD > 80 %% %d, buffers %lld\n", incidents, s.nLoad80,
         (long long)s.nBuffers);
  EXPECT_EQ(Count("Not Enough Memory in TXT Buffer"), 0);
  EXPECT_GE(s.nLoad80, s.nBuffers / 2) << "most buffers overloaded";
  EXPECT_EQ(incidents, s.nLoad80);
}

}  // namespace
