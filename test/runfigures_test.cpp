#include "test/runfigures.h"

#include <stdlib.h>

#include "test/statistics.h"
#include "test/testrun_fixture.h"

namespace {

TEST(RunFigures, RunningTimeCountsHoursBeyondTwoDigits) {
  char text[64];
  const int64_t f = 10000000;
  RUNFIGURES_FormatRunningTime(text, sizeof text, 5 * f, 5 * f + (3 * 3600 + 5 * 60 + 9) * f, f);
  EXPECT_STREQ(text, "03:05:09");
  RUNFIGURES_FormatRunningTime(text, sizeof text, 0, 100 * 3600 * f, f);
  EXPECT_STREQ(text, "100:00:00");
  RUNFIGURES_FormatRunningTime(text, sizeof text, 10 * f, 0, f);
  EXPECT_STREQ(text, "00:00:00");
}

class RunSummaryTest : public TestRunFixture {
 protected:
  void SetUp() override {
    TestRunFixture::SetUp();
    ResetStatistics(context);
    context->nPerfFrequency = 10000000;
    context->nPerfPerBuffer = 100000;
    context->pLoadDistribution = (DISTRIBUTION*)malloc(sizeof(DISTRIBUTION));
    context->pIntervalDistribution = (DISTRIBUTION*)malloc(sizeof(DISTRIBUTION));
    DISTRIBUTION_Clear(context->pLoadDistribution);
    DISTRIBUTION_Clear(context->pIntervalDistribution);
  }
};

TEST_F(RunSummaryTest, TheLineHoldsThePanelsFigures) {
  context->nFirstCallbackTime = 50000000;
  context->nLastCallbackTime = 50000000 + 65 * 10000000LL + 9999999;
  context->nBufferNumber = 12188;
  context->nLoadOver50 = 3;
  context->nLoadOver80 = 1;
  context->nProcMin = 7;  // the panel's relaxed extremes are not the run's
  context->nProcMax = 8;
  STATISTICS_AddLoad(context, 91000, 17.2f);
  STATISTICS_AddLoad(context, 2100, 0.4f);
  STATISTICS_AddLoad(context, 5000, 1.0f);
  context->nTimingError10 = 4;
  context->nTimingError20 = 2;
  char line[512];
  RUNFIGURES_FormatSummary(line, sizeof line, context);
  EXPECT_STREQ(line,
               "RUN SUMMARY: 00:01:05 / buffers: +12.188 / DSP LOAD >50%: 3 >80%: 1 >100%: 0 / MIN: 2.1 % (0.4 mc) "
               "MAX: 91.0 % (17.2 mc) / TIMING ERROR 10%: 4 20%: 2 50%: 0 100%: 0 / STALLS: 0 (longest 0.0 s)");
}

TEST_F(RunSummaryTest, OnlyARunThatWasRunningLogsItAndOnlyOnceEvenWithoutABuffer) {
  RUNFIGURES_LogSummary(context);  // a close of a run that never ran
  EXPECT_TRUE(LogLines().empty());
  context->bSummaryDue = 1;  // its running line
  RUNFIGURES_LogSummary(context);
  RUNFIGURES_LogSummary(context);  // a kept device's close, later
  ASSERT_EQ(1u, LogLines().size()) << "no buffer: no distribution line";
  EXPECT_EQ(
      "RUN SUMMARY: 00:00:00 / buffers: +0 / DSP LOAD >50%: 0 >80%: 0 >100%: 0 / MIN: 0.0 % (0.0 mc) MAX: 0.0 % "
      "(0.0 mc) / TIMING ERROR 10%: 0 20%: 0 50%: 0 100%: 0 / STALLS: 0 (longest 0.0 s)",
      LastLogLine());
}

TEST_F(RunSummaryTest, TheDistributionLineFollowsTheSummaryOfARunThatProcessedABuffer) {
  context->bSummaryDue = 1;
  context->nBufferNumber = 4;
  context->nPerfFrequency = 10000;  // a coarse counter: every figure has a bin of its own
  context->nPerfPerBuffer = 100;
  for (int64_t ticks : {20, 30, 40, 250}) STATISTICS_AddLoad(context, ticks, 1.0f);
  for (int64_t ticks : {99, 100, 101}) DISTRIBUTION_Add(context->pIntervalDistribution, ticks);
  RUNFIGURES_LogSummary(context);
  ASSERT_EQ(2u, LogLines().size());
  EXPECT_EQ(
      "RUN DISTRIBUTION: DSP LOAD p50: 30.0 % p99: 250.0 % p99.9: 250.0 % / CALLBACK INTERVAL MIN: 9.90 ms p0.1: "
      "9.90 ms p50: 10.00 ms p99.9: 10.10 ms MAX: 10.10 ms",
      LastLogLine());
}

}  // namespace
