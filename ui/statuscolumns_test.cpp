#include "ui/statuscolumns.h"

#include <string.h>

#include <memory>
#include <vector>

#include "app/appcontext.h"
#include "gtest/gtest.h"

namespace {

// A context whose ring holds nProcTicks = the entry's own index, so each
// column tells which entry it read. A buffer lasts 1 000 000 ticks.
class StatusColumnsTest : public ::testing::Test {
 protected:
  void MakeRing(int32_t size) {
    ring_.reset(new HISTORYENTRY[size]);
    memset((void*)ring_.get(), 0, sizeof(HISTORYENTRY) * size);
    memset((void*)&context_, 0, sizeof context_);
    context_.pHistory = ring_.get();
    context_.nHistorySize = size;
    context_.nPerfPerBuffer = 1000000;
    context_.nZoom = 7;
  }
  void SetTicks(int32_t index, int64_t ticks) { ring_[index].nProcTicks = ticks; }

  std::vector<STATUSPANEL_BAR> Loads(int32_t width) {
    std::vector<STATUSPANEL_BAR> loads;
    STATUSPANEL_COLUMNS columns;
    if (STATUSPANEL_BeginColumns(&columns, &context_, width) != 0) return loads;
    for (int32_t x = 0; x < width; x++) {
      STATUSPANEL_BAR load, error;
      STATUSPANEL_NextColumn(&columns, x, &load, &error);
      loads.push_back(load);
    }
    return loads;
  }

  std::unique_ptr<HISTORYENTRY[]> ring_;
  APPCONTEXT context_;
};

TEST_F(StatusColumnsTest, AtFullSizeEachColumnIsOneOfTheLastCompletedBuffers) {
  MakeRing(4096);
  context_.nHistoryWrite = 1000;
  for (int32_t k = 600; k < 1000; k++) SetTicks(k, (k - 600) * 2500);  // 0 % .. 99.75 %
  SetTicks(1000, 999999);  // the latest callback: not yet complete, never shown
  std::vector<STATUSPANEL_BAR> loads = Loads(400);
  ASSERT_EQ(loads.size(), 400u);
  for (int32_t x = 0; x < 400; x++) EXPECT_EQ(loads[x].nHeight, x / 4) << "column " << x;
}

TEST_F(StatusColumnsTest, ShortlyAfterTheStartTheBarsAppearAtTheRightEdge) {
  MakeRing(4096);
  context_.nHistoryWrite = 10;
  for (int32_t k = 0; k < 10; k++) SetTicks(k, 500000);
  std::vector<STATUSPANEL_BAR> loads = Loads(400);
  for (int32_t x = 0; x < 390; x++) ASSERT_EQ(loads[x].nHeight, 0) << "column " << x;
  for (int32_t x = 390; x < 400; x++) EXPECT_EQ(loads[x].nHeight, 50) << "column " << x;
}

TEST_F(StatusColumnsTest, AColumnSummarisesItsGroupByTheWorstValues) {
  MakeRing(4096);
  context_.nZoom = 9;  // four entries a column
  context_.nHistoryWrite = 16;
  SetTicks(8, 100000);
  SetTicks(10, 700000);
  ring_[9].fTimingError = -40.0f;
  ring_[11].fTimingError = 35.0f;
  STATUSPANEL_COLUMNS columns;
  ASSERT_EQ(STATUSPANEL_BeginColumns(&columns, &context_, 4), 0);
  STATUSPANEL_BAR load, error;
  for (int32_t x = 0; x < 3; x++) STATUSPANEL_NextColumn(&columns, x, &load, &error);  // entries 0..11
  EXPECT_EQ(load.nHeight, 70);
  EXPECT_EQ(error.nHeight, -40);
  STATUSPANEL_NextColumn(&columns, 3, &load, &error);  // entries 12..15
  EXPECT_EQ(load.nHeight, 0);
  EXPECT_EQ(error.nHeight, 0);
}

// 5 000 columns of 256 entries reach back further than the whole ring; every
// read must stay inside it (the sanitizers watch) and the latest complete
// group must still be at the right edge.
TEST_F(StatusColumnsTest, AWidePanelAtTheWidestZoomWrapsByModulo) {
  MakeRing(APP_HISTORY_ENTRIES);
  context_.nZoom = 15;
  context_.nHistoryWrite = 300000;
  int32_t lastGroupStart = (300000 / 256 - 1) * 256;
  SetTicks(lastGroupStart + 17, 900000);
  std::vector<STATUSPANEL_BAR> loads = Loads(5000);
  ASSERT_EQ(loads.size(), 5000u);
  EXPECT_EQ(loads[4999].nHeight, 90);
  EXPECT_EQ(loads[4998].nHeight, 0);
}

TEST_F(StatusColumnsTest, MagnifiedZoomSpreadsOneBufferOverSeveralColumns) {
  MakeRing(4096);
  context_.nZoom = 5;  // x4
  context_.nHistoryWrite = 100;
  SetTicks(99, 600000);
  SetTicks(98, 200000);
  SetTicks(0, 100000);
  std::vector<STATUSPANEL_BAR> loads = Loads(10);
  for (int32_t x = 6; x < 10; x++) EXPECT_EQ(loads[x].nHeight, 60) << "column " << x;
  for (int32_t x = 2; x < 6; x++) EXPECT_EQ(loads[x].nHeight, 20) << "column " << x;

  context_.nHistoryWrite = 1;  // the latest complete buffer is entry 0; before it the ring's end
  loads = Loads(8);
  for (int32_t x = 4; x < 8; x++) EXPECT_EQ(loads[x].nHeight, 10) << "column " << x;
  for (int32_t x = 0; x < 4; x++) EXPECT_EQ(loads[x].nHeight, 0) << "column " << x;
}

// Buffers written as the processing callback writes them, the remembered
// columns asked at each tick and held to a fresh walk, while the small ring
// goes round several times and a new test clears it.
TEST_F(StatusColumnsTest, RememberedColumnsAreTheWalkedOnesTickAfterTick) {
  MakeRing(4096);
  std::unique_ptr<STATUSPANEL_COLUMNCACHE> cache(new STATUSPANEL_COLUMNCACHE);
  STATUSPANEL_ForgetColumns(cache.get());
  int64_t buffer = 0, time = 1000;  // times go on across tests, buffer numbers start again
  auto record = [&](int count) {
    for (int i = 0; i < count; i++) {
      int32_t write = context_.nHistoryWrite;
      ring_[write].nProcTicks = (buffer * 7919) % 1500000;
      write = (write + 1) % 4096;
      buffer++;
      ring_[write].nBuffer = buffer;
      ring_[write].nTime = ++time;
      ring_[write].fTimingError = (float)((buffer * 104729) % 301 - 150);
      ring_[write].nProcTicks = 0;
      context_.nHistoryWrite = write;
    }
  };
  const int32_t width = 12;
  static const int steps[] = {0, 1, 255, 256, 700, 3000};
  for (int zoom : {15, 9, 5, 15}) {
    context_.nZoom = zoom;
    for (int round = 0; round < 3; round++) {
      for (int step : steps) {
        record(step);
        ASSERT_EQ(STATUSPANEL_UpdateColumns(cache.get(), &context_, width), 0);
        STATUSPANEL_COLUMNS columns;
        ASSERT_EQ(STATUSPANEL_BeginColumns(&columns, &context_, width), 0);
        for (int32_t x = 0; x < width; x++) {
          STATUSPANEL_BAR load, error;
          STATUSPANEL_NextColumn(&columns, x, &load, &error);
          ASSERT_EQ(cache->loads[x].nHeight, load.nHeight) << "zoom " << zoom << " column " << x;
          ASSERT_EQ(cache->loads[x].nPen, load.nPen) << "zoom " << zoom << " column " << x;
          ASSERT_EQ(cache->errors[x].nHeight, error.nHeight) << "zoom " << zoom << " column " << x;
          ASSERT_EQ(cache->errors[x].nPen, error.nPen) << "zoom " << zoom << " column " << x;
        }
      }
      if (round == 1) {
        memset((void*)ring_.get(), 0, sizeof(HISTORYENTRY) * 4096);  // as a new test does
        context_.nHistoryWrite = 0;
        buffer = 0;
      }
    }
  }
}

TEST_F(StatusColumnsTest, NothingIsDrawnWithoutARingOrWidth) {
  MakeRing(16);
  STATUSPANEL_COLUMNS columns;
  EXPECT_EQ(STATUSPANEL_BeginColumns(&columns, &context_, 0), -1);
  context_.nHistorySize = 0;
  EXPECT_EQ(STATUSPANEL_BeginColumns(&columns, &context_, 400), -1);
  context_.nHistorySize = 16;
  context_.pHistory = NULL;
  EXPECT_EQ(STATUSPANEL_BeginColumns(&columns, &context_, 400), -1);
}

TEST(StatusBars, LoadBarsAreCappedAndColouredByThreshold) {
  EXPECT_EQ(STATUSPANEL_LoadBar(150.0).nHeight, 100);
  EXPECT_EQ(STATUSPANEL_LoadBar(150.0).nPen, QZ2CTL_RED);
  EXPECT_EQ(STATUSPANEL_LoadBar(50.0).nPen, QZ2CTL_GREY);
  EXPECT_EQ(STATUSPANEL_LoadBar(50.1).nPen, QZ2CTL_BLACK);
  EXPECT_EQ(STATUSPANEL_LoadBar(80.0).nPen, QZ2CTL_BLACK);
  EXPECT_EQ(STATUSPANEL_LoadBar(80.1).nPen, QZ2CTL_RED);
  EXPECT_EQ(STATUSPANEL_LoadBar(99.9).nHeight, 99);
  EXPECT_EQ(STATUSPANEL_LoadBar(0.0).nHeight, 0);
}

TEST(StatusBars, ErrorBarsKeepTheirSignAndStopAtAHundred) {
  EXPECT_EQ(STATUSPANEL_ErrorBar(-30.0f).nHeight, -30);
  EXPECT_EQ(STATUSPANEL_ErrorBar(-30.0f).nPen, QZ2CTL_GREY);
  EXPECT_EQ(STATUSPANEL_ErrorBar(-100.0f).nHeight, -100);
  EXPECT_EQ(STATUSPANEL_ErrorBar(-250.0f).nHeight, -100);
  EXPECT_EQ(STATUSPANEL_ErrorBar(-250.0f).nPen, QZ2CTL_RED);
  EXPECT_EQ(STATUSPANEL_ErrorBar(60.5f).nHeight, 60);
  EXPECT_EQ(STATUSPANEL_ErrorBar(60.5f).nPen, QZ2CTL_BLACK);
  EXPECT_EQ(STATUSPANEL_ErrorBar(1e30f).nHeight, 100);
}

TEST(StatusTexts, ATextMovesOnlyWhenTheOneBeforeReachesIntoItsPlace) {
  int32_t x[5] = {5, 80, 220, 350, 500};
  const int32_t widths[5] = {75, 141, 130, 20, 10};
  STATUSPANEL_PlaceRow(x, widths, 5);
  EXPECT_EQ(x[1], 80);   // ends where the next begins: no overlap
  EXPECT_EQ(x[2], 229);  // one pixel into it: 8 pixels after its end
  EXPECT_EQ(x[3], 367);  // the moved text reaches into the next in turn
  EXPECT_EQ(x[4], 500);
}

}  // namespace

