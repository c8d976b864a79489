#include "test/statistics.h"

#include "test/testrun_fixture.h"

namespace {

// 48 000 Hz, 480 samples, 10 MHz counter: a period of 100 000 ticks with
// thresholds of 10 000, 20 000, 50 000, 80 000 and 100 000 ticks.
class StatisticsTest : public TestRunFixture {
 protected:
  void SetUp() override {
    TestRunFixture::SetUp();
    SetTiming(&timing, 48000, 480);
    ASSERT_EQ(0, STATISTICS_AllocHistory(context));
    context->nPerfFrequency = 10000000;
    context->nPerfPerBuffer = 100000;
  }

  // One buffer switch starting at start; process and megacycles are the
  // previous, completed switch's figures.
  void Switch(int64_t start, int64_t process = 0, float megacycles = 0.0f) {
    switchNumber++;
    timing.nLastSwitch = switchNumber;
    timing.qpcSwitchStart = start;
    timing.qpcProcess = process;
    timing.fMegaCycles = megacycles;
    UpdateStatistics(context, &timing);
  }

  const HISTORYENTRY& Latest() const { return context->pHistory[context->nHistoryWrite]; }
  const HISTORYENTRY& Previous() const {
    int32_t write = context->nHistoryWrite;
    return context->pHistory[write == 0 ? context->nHistorySize - 1 : write - 1];
  }
  std::vector<int32_t> Errors() const {
    return {context->nTimingError10, context->nTimingError20, context->nTimingError50, context->nTimingError100};
  }

  ASIOMAN_TIMING timing;
  int64_t switchNumber = 2;  // the manager hands the client its third switch first
};

TEST_F(StatisticsTest, FirstBufferCountsNothingAndGetsNoTimingError) {
  Switch(5000000);
  EXPECT_EQ(Errors(), std::vector<int32_t>({0, 0, 0, 0}));
  EXPECT_EQ(1, context->nHistoryWrite);
  EXPECT_EQ(3, Latest().nBuffer);
  EXPECT_EQ(5000000, Latest().nTime);
  EXPECT_EQ(0.0f, Latest().fTimingError);
  // The empty entry before it is stamped with the same time.
  EXPECT_EQ(5000000, Previous().nTime);
  EXPECT_EQ(0.0f, Previous().fTimingError);
  EXPECT_EQ(5000000, context->nPreviousCallbackTime);
  EXPECT_EQ(5000000, context->nLastCallbackTime);
}

TEST_F(StatisticsTest, LateAndEarlyIntervalsCountCumulativelyWithSignedPercent) {
  Switch(1000000);
  Switch(1115000);  // 15 % late
  EXPECT_EQ(Errors(), std::vector<int32_t>({1, 0, 0, 0}));
  EXPECT_FLOAT_EQ(15.0f, Latest().fTimingError);
  Switch(1185000);  // 30 % early
  EXPECT_EQ(Errors(), std::vector<int32_t>({2, 1, 0, 0}));
  EXPECT_FLOAT_EQ(-30.0f, Latest().fTimingError);
  Switch(1225000);  // 60 % early
  EXPECT_EQ(Errors(), std::vector<int32_t>({3, 2, 1, 0}));
  EXPECT_FLOAT_EQ(-60.0f, Latest().fTimingError);
  Switch(1450000);  // 125 % late
  EXPECT_EQ(Errors(), std::vector<int32_t>({4, 3, 2, 1}));
  EXPECT_FLOAT_EQ(125.0f, Latest().fTimingError);
}

TEST_F(StatisticsTest, ThresholdItselfIsStillOnTime) {
  Switch(1000000);
  Switch(1110000);  // exactly nominal + 10 %
  EXPECT_EQ(Errors(), std::vector<int32_t>({0, 0, 0, 0}));
  EXPECT_FLOAT_EQ(10.0f, Latest().fTimingError);
  Switch(1220001);  // one tick more
  EXPECT_EQ(Errors(), std::vector<int32_t>({1, 0, 0, 0}));
  Switch(1320001);  // exactly nominal
  EXPECT_EQ(0.0f, Latest().fTimingError);
}

TEST_F(StatisticsTest, NextBufferCompletesThePreviousEntry) {
  Switch(1000000);
  Switch(1100000, 42000, 12.5f);
  EXPECT_EQ(42000, Previous().nProcTicks);
  EXPECT_EQ(12.5f, Previous().fMegacycles);
  EXPECT_EQ(3, Previous().nBuffer);
  EXPECT_EQ(0, Latest().nProcTicks);
  EXPECT_EQ(0.0f, Latest().fMegacycles);
}

TEST_F(StatisticsTest, CopiesTheManagersFiguresAndKeepsLowWordsOfOverloadCounts) {
  timing.qpcStreamStart = 777;
  timing.qpcProcessMin = 11;
  timing.qpcProcessMax = 99;
  timing.fMegaCyclesMin = 0.5f;
  timing.fMegaCyclesMax = 7.5f;
  timing.nOver50 = 0x100000005LL;
  timing.nOver80 = 4;
  timing.nOver100 = 3;
  Switch(1000000);
  EXPECT_EQ(777, context->nFirstCallbackTime);
  EXPECT_EQ(11, context->nProcMin);
  EXPECT_EQ(99, context->nProcMax);
  EXPECT_EQ(0.5f, context->fMegacyclesMin);
  EXPECT_EQ(7.5f, context->fMegacyclesMax);
  EXPECT_EQ(5, context->nLoadOver50);
  EXPECT_EQ(4, context->nLoadOver80);
  EXPECT_EQ(3, context->nLoadOver100);
  EXPECT_EQ(3, context->nBufferNumber);
}

TEST_F(StatisticsTest, TheRunsExtremesAndDistributionsHoldEveryProcessedBufferTheLastOneAtClose) {
  std::unique_ptr<DISTRIBUTION> load(new DISTRIBUTION), interval(new DISTRIBUTION);
  DISTRIBUTION_Clear(load.get());
  DISTRIBUTION_Clear(interval.get());
  context->pLoadDistribution = load.get();
  context->pIntervalDistribution = interval.get();
  timing.qpcProcessMax = 5;        // the relaxed extremes are the panel's, not the run's
  Switch(1000000, 777777, 99.0f);  // the switch before the run's first: not the run's
  Switch(1100000, 30000, 3.0f);
  Switch(1250000, 90000, 9.0f);
  timing.qpcProcess = 20000;  // the last buffer's time, read at close
  timing.fMegaCycles = 2.0f;
  STATISTICS_AddLastBuffer(context, &timing);
  EXPECT_EQ(3, load->nCount);
  EXPECT_EQ(20000, load->nMin);
  EXPECT_EQ(2.0f, context->fMegacyclesAtRunMin);
  EXPECT_EQ(90000, load->nMax);
  EXPECT_EQ(9.0f, context->fMegacyclesAtRunMax);
  EXPECT_EQ(2, interval->nCount);
  EXPECT_EQ(100000, interval->nMin);
  EXPECT_EQ(150000, interval->nMax);
  timing.nLastSwitch = switchNumber + 1;  // a switch the run did not process came after
  STATISTICS_AddLastBuffer(context, &timing);
  EXPECT_EQ(3, load->nCount);
  context->pLoadDistribution = nullptr;
  context->pIntervalDistribution = nullptr;
}

TEST_F(StatisticsTest, RingWrapsToEntryZeroAfterAMillionBuffers) {
  int64_t time = 1000000;
  for (int32_t i = 0; i < APP_HISTORY_ENTRIES - 1; i++, time += 100000) Switch(time);
  EXPECT_EQ(APP_HISTORY_ENTRIES - 1, context->nHistoryWrite);
  Switch(time);
  EXPECT_EQ(0, context->nHistoryWrite);
  EXPECT_EQ(switchNumber, Latest().nBuffer);
  EXPECT_EQ(time, Latest().nTime);
  Switch(time + 100000, 5, 1.0f);
  EXPECT_EQ(1, context->nHistoryWrite);
  EXPECT_EQ(5, context->pHistory[0].nProcTicks);
}

TEST_F(StatisticsTest, IncidentLineForABufferOverEightyPercent) {
  switchNumber = 12344;
  Switch(1000000);  // buffer 12 345
  Switch(1100000, 85000, 25.5f);
  EXPECT_EQ("Incident on frame +000.012.345 DSP PEAK: 85 % - 8.5 ms  / 25.5 megacycles (CPU TIME: +85.000)",
            LastLogLine());
  EXPECT_EQ(1u, LogLines().size());
}

TEST_F(StatisticsTest, NoIncidentAtExactlyTheEightyPercentThreshold) {
  Switch(1000000);
  Switch(1100000, 80000, 1.0f);
  EXPECT_TRUE(LogLines().empty());
  Switch(1200000, 80001, 1.0f);
  EXPECT_EQ(1u, LogLines().size());
}

TEST_F(StatisticsTest, WithoutRingCountersStillRunButNoIncidents) {
  STATISTICS_FreeHistory(context);
  Switch(1000000);
  Switch(1070000, 95000, 3.0f);
  EXPECT_EQ(Errors(), std::vector<int32_t>({1, 1, 0, 0}));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(StatisticsTest, ResetEmptiesTheRingAndTheRunCounters) {
  Switch(1000000);
  Switch(1300000, 5000, 2.0f);
  ResetStatistics(context);
  EXPECT_EQ(Errors(), std::vector<int32_t>({0, 0, 0, 0}));
  EXPECT_EQ(0, context->nHistoryWrite);
  EXPECT_EQ(0, context->nPreviousCallbackTime);
  EXPECT_EQ(0, context->nBufferNumber);
  for (int32_t i = 0; i < 4; i++) {
    EXPECT_EQ(0, context->pHistory[i].nTime);
    EXPECT_EQ(0, context->pHistory[i].nProcTicks);
  }
  // No figure of the previous run stays for a run that never delivers a buffer.
  EXPECT_EQ(0, context->nLastCallbackTime);
  EXPECT_EQ(0, context->nProcMin);
  // The next run's first buffer again counts nothing.
  Switch(9000000);
  EXPECT_EQ(Errors(), std::vector<int32_t>({0, 0, 0, 0}));
}

}  // namespace
