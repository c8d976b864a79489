#include "ui/statuspanel.h"

#include <math.h>
#include <string.h>

#include <memory>
#include <vector>

#include "gtest/gtest.h"
#include "test/statistics.h"
#include "ui/qz2ctl.h"

namespace {

const int kHeight = 330;
const int kMaxWidth = 4200;
const int64_t kPerBuffer = 100000;

// Records histories as the processing callback writes them, and paints the
// graphs of each tick twice into a 32-bit bitmap: frame, baselines and the
// bars walked afresh with MoveToEx and LineTo, and the graphs kept from the
// previous tick.
class StatusPixelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QZ2CTL_InitModule(GetModuleHandleA(NULL)), 1);
    context_.reset(new APPCONTEXT);
    memset((void*)context_.get(), 0, sizeof(APPCONTEXT));
    ASSERT_EQ(STATISTICS_AllocHistory(context_.get()), 0);
    context_->nPerfPerBuffer = kPerBuffer;
    graphs_.reset(new STATUSPANEL_GRAPHS);
    memset((void*)graphs_.get(), 0, sizeof(STATUSPANEL_GRAPHS));

    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kMaxWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    memory_ = CreateCompatibleDC(NULL);
    ASSERT_TRUE(memory_ != NULL);
    bitmap_ = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, (void**)&bits_, NULL, 0);
    ASSERT_TRUE(bitmap_ != NULL);
    old_ = SelectObject(memory_, bitmap_);
  }
  void TearDown() override {
    if (memory_) {
      SelectObject(memory_, old_);
      DeleteDC(memory_);
    }
    if (bitmap_) DeleteObject(bitmap_);
    STATUSPANEL_ReleaseGraphs(graphs_.get());
    STATISTICS_FreeHistory(context_.get());
    QZ2CTL_EndModule();
  }

  // One buffer: completes the entry at the write index and starts the next,
  // loads up to 150 % of the buffer and errors of either sign, some NaN.
  void Record(int count) {
    HISTORYENTRY* ring = context_->pHistory;
    for (int i = 0; i < count; i++) {
      seed_ = seed_ * 1103515245u + 12345u;
      uint32_t r = seed_ >> 8;
      int32_t write = context_->nHistoryWrite;
      ring[write].nProcTicks = (int64_t)(r % 1500) * kPerBuffer / 1000;
      if (ring[write].nTime == 0) ring[write].nTime = time_;
      write = write + 1 == context_->nHistorySize ? 0 : write + 1;
      buffer_++;
      time_ += kPerBuffer;
      ring[write].nBuffer = buffer_;
      ring[write].nTime = time_;
      ring[write].fTimingError = r % 97 == 0 ? NAN : (float)((int32_t)(r % 3001) - 1500) / 10.0f;
      ring[write].nProcTicks = 0;
      context_->nHistoryWrite = write;
    }
  }

  std::vector<uint32_t> Render(int width, bool walked) {
    PatBlt(memory_, 0, 0, kMaxWidth, kHeight, BLACKNESS);
    if (walked) {
      HGDIOBJ pen = SelectObject(memory_, QZ2CTL_GetPen(QZ2CTL_GREY));
      HGDIOBJ brush = SelectObject(memory_, QZ2CTL_GetBrush(QZ2CTL_WHITE));
      Rectangle(memory_, 0, 0, width, kHeight);
      MoveToEx(memory_, 0, 110, NULL);
      LineTo(memory_, width, 110);
      MoveToEx(memory_, 0, 225, NULL);
      LineTo(memory_, width, 225);
      STATUSPANEL_DrawWalkedColumns(memory_, context_.get(), width);
      SelectObject(memory_, pen);
      SelectObject(memory_, brush);
    } else {
      EXPECT_EQ(STATUSPANEL_DrawGraphs(graphs_.get(), memory_, context_.get(), width, kHeight), 0);
    }
    GdiFlush();
    return std::vector<uint32_t>(bits_, bits_ + kMaxWidth * kHeight);
  }

  // Paints the tick both ways; returns how many pixels the bars cover inside
  // the frame, off the baselines.
  int ExpectSamePixels(int width) {
    std::vector<uint32_t> walked = Render(width, true);
    std::vector<uint32_t> kept = Render(width, false);
    int painted = 0;
    for (size_t k = 0; k < walked.size(); k++) {
      int x = (int)(k % kMaxWidth), y = (int)(k / kMaxWidth);
      if (walked[k] != kept[k]) {
        ADD_FAILURE() << "zoom index " << context_->nZoom << ", width " << width << ", write "
                      << (int)context_->nHistoryWrite << ": first difference at x " << x << ", y " << y;
        return painted;
      }
      bool inside = x > 0 && x < width - 1 && y > 0 && y < kHeight - 1 && y != 110 && y != 225;
      if (inside && (walked[k] & 0xFFFFFF) != 0xFFFFFF) painted++;
    }
    return painted;
  }

  // Ticks at every zoom with the ring moving between them by steps that
  // complete no column, exactly one, and several.
  void TickThroughEveryZoom(int width) {
    static const int steps[] = {0, 1, 255, 256, 700};
    for (int zoom = 0; zoom < STATUSPANEL_ZOOM_ENTRIES; zoom++) {
      context_->nZoom = zoom;
      for (int step : steps) {
        Record(step);
        EXPECT_GT(ExpectSamePixels(width), 0);
      }
    }
  }

  std::unique_ptr<APPCONTEXT> context_;
  std::unique_ptr<STATUSPANEL_GRAPHS> graphs_;
  HDC memory_ = NULL;
  HBITMAP bitmap_ = NULL;
  HGDIOBJ old_ = NULL;
  uint32_t* bits_ = NULL;
  uint32_t seed_ = 1;
  int64_t buffer_ = 0;
  int64_t time_ = 1000000;
};

TEST_F(StatusPixelsTest, ShortlyAfterTheStartTheWindowReachesIntoTheEmptyEndOfTheRing) {
  Record(600);
  TickThroughEveryZoom(1900);
}

TEST_F(StatusPixelsTest, AFullRingAcrossItsEndAtEveryZoom) {
  Record(APP_HISTORY_ENTRIES - 6000);
  TickThroughEveryZoom(1900);  // the write index passes the end of the ring
}

TEST_F(StatusPixelsTest, WiderThanTheRingHoldsAtTheWidestZoom) {
  context_->nZoom = 15;  // no column is remembered
  Record(APP_HISTORY_ENTRIES - 300);
  for (int step : {0, 1, 256, 700}) {
    Record(step);
    EXPECT_GT(ExpectSamePixels(kMaxWidth), 0);
  }
}

TEST_F(StatusPixelsTest, ColumnsRememberedOneLapAgoAreReadAgain) {
  context_->nZoom = 15;
  for (int tick = 0; tick < 12; tick++) {
    Record(APP_HISTORY_ENTRIES / 10);
    ExpectSamePixels(1900);
  }
}

TEST_F(StatusPixelsTest, ANewTestBetweenTwoTicksStartsTheGraphAfresh) {
  context_->nZoom = 15;
  Record(APP_HISTORY_ENTRIES + 1000);
  EXPECT_GT(ExpectSamePixels(1900), 0);
  // The new test's write index passes the old one: only the ring's own
  // entries tell that the columns behind it were cleared.
  ResetStatistics(context_.get());
  buffer_ = 0;
  Record(1200);
  EXPECT_GT(ExpectSamePixels(1900), 0);
}

TEST_F(StatusPixelsTest, WithoutARingOnlyFrameAndBaselinesRemain) {
  context_->nZoom = 15;
  Record(5000);
  EXPECT_GT(ExpectSamePixels(1900), 0);
  HISTORYENTRY* ring = context_->pHistory;
  context_->pHistory = NULL;
  EXPECT_EQ(ExpectSamePixels(1900), 0);
  context_->pHistory = ring;
}

// Ten-digit counters and grouped values: in the panel's font no text of a
// row reaches into the next, whatever the panel's width cuts off.
TEST(StatusTexts, TenDigitValuesNeverOverlap) {
  ASSERT_EQ(QZ2CTL_InitModule(GetModuleHandleA(NULL)), 1);
  std::unique_ptr<APPCONTEXT> context(new APPCONTEXT);
  memset((void*)context.get(), 0, sizeof(APPCONTEXT));
  context->nPerfFrequency = 1000;
  context->nLastCallbackTime = 2147483647LL * 1000;  // the longest running time, 596523:14:07
  context->nBufferNumber = 9999999999LL;
  context->nPerfPerBuffer = 1;
  for (Relaxed<int32_t>* counter : {&context->nLoadOver50, &context->nLoadOver80, &context->nLoadOver100,
                                    &context->nTimingError10, &context->nTimingError20, &context->nTimingError50,
                                    &context->nTimingError100})
    *counter = 2147483647;
  for (Relaxed<int64_t>* value : {&context->nProcMin, &context->nProcMax})
    *value = 99999999;  // 9999999900.0 %
  for (Relaxed<float>* value : {&context->fMegacyclesMin, &context->fMegacyclesMax}) *value = 9999999.0f;
  for (Relaxed<int64_t>* value : {&context->nDriverSamplePosition, &context->nDriverSystemTime})
    *value = -9999999999LL;

  HDC memory = CreateCompatibleDC(NULL);
  ASSERT_TRUE(memory != NULL);
  STATUSPANEL_TEXT texts[STATUSPANEL_TEXTS];
  int count = STATUSPANEL_LayOutTexts(memory, context.get(), texts);
  HGDIOBJ old = SelectObject(memory, QZ2CTL_GetFont(QZ2CTL_FONT_14));
  for (int i = 0; i + 1 < count; i++) {
    if (texts[i + 1].y != texts[i].y) continue;
    SIZE size;
    GetTextExtentPoint32A(memory, texts[i].szText, (int)strlen(texts[i].szText), &size);
    EXPECT_LE(texts[i].x + size.cx, texts[i + 1].x) << texts[i].szText << " / " << texts[i + 1].szText;
  }
  SelectObject(memory, old);
  DeleteDC(memory);
  QZ2CTL_EndModule();
}

}  // namespace
