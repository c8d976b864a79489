#include "test/stallwatch.h"

#include "test/runfigures.h"
#include "test/testrun_fixture.h"

namespace {

// A 10 MHz counter; buffers of 10 ms, so the bound is one second.
const int64_t kSecond = 10000000;

class StallWatchTest : public TestRunFixture {
 protected:
  void SetUp() override {
    TestRunFixture::SetUp();
    context->nPerfFrequency = kSecond;
    context->nPerfPerBuffer = kSecond / 100;
    STALLWATCH_Start(context, kRunning);
  }
  const int64_t kRunning = 50 * kSecond;
};

TEST_F(StallWatchTest, AStallIsNamedOnceWhenItPassesTheBoundAndAgainWhenBuffersReturn) {
  int64_t last = kRunning + kSecond / 2;
  STALLWATCH_Tick(context, last + kSecond, last);  // exactly the bound: not yet
  EXPECT_TRUE(LogLines().empty());
  STALLWATCH_Tick(context, last + kSecond + 1000000, last);
  STALLWATCH_Tick(context, last + 2 * kSecond, last);
  EXPECT_EQ(std::vector<std::string>{"DRIVER STALL: no buffer for 1.1 s"}, LogLines());
  STALLWATCH_Tick(context, last + 4 * kSecond, last + 3 * kSecond);
  EXPECT_EQ("DRIVER STALL: buffers again after 3.0 s", LastLogLine());
  EXPECT_EQ(1, context->stall.nStalls);
  EXPECT_EQ(3 * kSecond, context->stall.qpcLongest);
}

TEST_F(StallWatchTest, ARunWithoutAnyBufferStallsFromItsRunningLineAndCountsUpToTheStop) {
  context->nPerfPerBuffer = kSecond / 2;  // four periods outlast a second
  STALLWATCH_Tick(context, kRunning + 2 * kSecond, 0);
  EXPECT_TRUE(LogLines().empty());
  STALLWATCH_Tick(context, kRunning + 2 * kSecond + 1, 0);
  EXPECT_EQ("DRIVER STALL: no buffer for 2.0 s", LastLogLine());
  STALLWATCH_Stop(context, kRunning + 7 * kSecond);
  char line[512];
  RUNFIGURES_FormatSummary(line, sizeof line, context);
  EXPECT_NE(nullptr, strstr(line, " / STALLS: 1 (longest 7.0 s)")) << line;
}

}  // namespace
