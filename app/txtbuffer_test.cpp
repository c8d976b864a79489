#include "app/txtbuffer.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace {

class TextLog : public ::testing::Test {
 protected:
  TXTBUFFER log;
  void SetUp() override { TXTBUFFER_Init(&log); }
  void TearDown() override { TXTBUFFER_Free(&log); }

  std::string Text() const { return std::string(log.pText); }
  int Add(const char* text) { return TXTBUFFER_AddLine(&log, text, "\r\n"); }
  std::string Notice(int used) const {
    char notice[128];
    snprintf(notice, sizeof(notice), "****** Not Enough Memory in TXT Buffer (%i char / %i max)*******", used,
             TXTBUFFER_CAPACITY);
    return notice;
  }
  // Fills the buffer with 1 000-character lines until the next one is refused.
  void FillUntilRefused() {
    std::string line(1000, 'f');
    while (Add(line.c_str()) == 0) {
    }
  }
};

TEST_F(TextLog, StartsEmptyWithItsBlockZeroed) {
  ASSERT_NE(log.pText, nullptr);
  EXPECT_EQ(log.nMax, 1048576);
  EXPECT_EQ(log.nUsed, 0);
  EXPECT_EQ(log.nLines, 0);
  EXPECT_EQ(log.bChanged, 0);
  EXPECT_EQ(log.bFull, 0);
  for (int i = 0; i < log.nMax + TXTBUFFER_HEADROOM; i++) ASSERT_EQ(log.pText[i], 0) << i;
}

TEST_F(TextLog, NumbersEachLineAndEndsItWithCrLf) {
  EXPECT_EQ(Add("Test started"), 0);
  EXPECT_EQ(Text(), "#0001 Test started\r\n");
  EXPECT_EQ(log.bChanged, 1);
  EXPECT_EQ(log.nLines, 1);
  EXPECT_EQ(log.nUsed, int(Text().size()));
  EXPECT_EQ(TXTBUFFER_GetLength(&log), log.nUsed);
  EXPECT_EQ(Add(""), 0);
  EXPECT_EQ(Text(), "#0001 Test started\r\n#0002 \r\n");
}

TEST_F(TextLog, NumbersWidenBeyondFourDigits) {
  for (int i = 1; i < 10000; i++) ASSERT_EQ(Add("x"), 0);
  size_t before = log.nUsed;
  EXPECT_EQ(Add("ten thousand"), 0);
  EXPECT_EQ(Text().substr(before), "#10000 ten thousand\r\n");
  EXPECT_EQ(Text().substr(0, 8), "#0001 x\r");
  EXPECT_NE(Text().find("#0123 x\r\n"), std::string::npos);
}

TEST_F(TextLog, TextEndingInLfKeepsItsOwnLineEnd) {
  Add("crlf\r\n");
  Add("bare\n");
  Add("multi\nline");
  EXPECT_EQ(Text(), "#0001 crlf\r\n#0002 bare\n#0003 multi\nline\r\n");
}

TEST_F(TextLog, TextEndingInCrThenAnotherCharacterStillGetsALineEnd) {
  Add("odd\rX");
  Add("next");
  EXPECT_EQ(Text(), "#0001 odd\rX\r\n#0002 next\r\n");
}

TEST_F(TextLog, TextEndingInBareCrGetsALineEndToo) {
  Add("cr\r");
  Add("next");
  EXPECT_EQ(Text(), "#0001 cr\r\r\n#0002 next\r\n");
}

TEST_F(TextLog, OverflowWritesTheNoticeOnceAndRefusesEveryLaterLine) {
  FillUntilRefused();
  int used = log.nUsed;
  int lines = log.nLines;
  EXPECT_EQ(log.bFull, 1);
  EXPECT_EQ(log.bChanged, 1);
  EXPECT_EQ(std::string(log.pText + used), Notice(used));
  EXPECT_EQ(TXTBUFFER_GetLength(&log), used + int(Notice(used).size())) << "the notice belongs to the text";
  EXPECT_LE(used + Notice(used).size() + 1, size_t(log.nMax + TXTBUFFER_HEADROOM));
  // The refused line took no number.
  char next[32];
  snprintf(next, sizeof(next), "#%04i ", lines + 1);
  EXPECT_EQ(Text().find(next), std::string::npos);

  log.bChanged = 0;
  EXPECT_EQ(Add("short"), -1);  // would fit the room test, but the log is full
  EXPECT_EQ(Add(""), -1);
  EXPECT_EQ(log.nUsed, used);
  EXPECT_EQ(log.nLines, lines);
  EXPECT_EQ(log.bChanged, 0);
  EXPECT_EQ(std::string(log.pText + used), Notice(used));
}

TEST_F(TextLog, ALineAsLongAsTheRoomLeftStillFitsWithItsPrefix) {
  std::string line(1048576 - 100, 'a');
  ASSERT_EQ(Add(line.c_str()), 0);
  std::string rest(1048576 - log.nUsed, 'b');
  EXPECT_EQ(Add(rest.c_str()), 0);  // prefix and line end run into the headroom
  EXPECT_GT(log.nUsed, log.nMax);
  EXPECT_EQ(log.pText[log.nUsed], 0);
  EXPECT_EQ(Add(""), -1);  // past nMax, every text is refused
  EXPECT_EQ(std::string(log.pText + log.nUsed), Notice(log.nUsed));
}

TEST(TextLogWithoutBlock, RefusesEveryLineAndNeverSignalsAChange) {
  TXTBUFFER log;
  TXTBUFFER_Init(&log);
  free(log.pText);
  log.pText = nullptr;  // as after a failed allocation
  EXPECT_EQ(TXTBUFFER_Reset(&log), -2);
  EXPECT_EQ(TXTBUFFER_AddLine(&log, "lost", "\r\n"), -2);
  EXPECT_EQ(log.bChanged, 0);
  EXPECT_EQ(log.nLines, 0);
  EXPECT_EQ(TXTBUFFER_GetLength(&log), 0);
  TXTBUFFER_Free(&log);
  EXPECT_EQ(TXTBUFFER_Reset(nullptr), -1);
}

TEST(TextLogFree, ClearsEveryField) {
  TXTBUFFER log;
  TXTBUFFER_Init(&log);
  TXTBUFFER_AddLine(&log, "one", "\r\n");
  TXTBUFFER_Free(&log);
  EXPECT_EQ(log.pText, nullptr);
  EXPECT_EQ(log.nMax, 0);
  EXPECT_EQ(log.nUsed, 0);
  EXPECT_EQ(log.nLines, 0);
  EXPECT_EQ(log.bChanged, 0);
  EXPECT_EQ(log.bFull, 0);
  EXPECT_EQ(TXTBUFFER_AddLine(&log, "after", "\r\n"), -2);
}

// Both threads of the program append at once; no line may be lost, torn,
// or numbered twice.
TEST_F(TextLog, TwoThreadsAppendingAtOnceKeepEveryLineWhole) {
  const int perThread = 20000;
  std::atomic<int> ready(0);
  auto writer = [this, &ready](char tag) {
    char line[64];
    ready++;
    while (ready.load() < 2) {
    }
    for (int i = 0; i < perThread; i++) {
      snprintf(line, sizeof(line), "%c%05d-payload-%c", tag, i, tag);
      ASSERT_EQ(Add(line), 0);
    }
  };
  std::thread gui(writer, 'G');
  std::thread audio(writer, 'A');
  gui.join();
  audio.join();

  EXPECT_EQ(log.nLines, 2 * perThread);
  std::vector<int> numberSeen(2 * perThread + 1, 0);
  int nextIndex[2] = {0, 0};
  const char* p = log.pText;
  int lines = 0;
  while (*p) {
    const char* end = p;
    while (*end && *end != '\r') end++;
    ASSERT_EQ(end[0], '\r');
    ASSERT_EQ(end[1], '\n');
    std::string line(p, end);
    int number = 0, index = 0;
    char tag = 0, tagAgain = 0;
    ASSERT_EQ(sscanf(line.c_str(), "#%d %c%5d-payload-%c", &number, &tag, &index, &tagAgain), 4) << line;
    ASSERT_EQ(tag, tagAgain) << line;
    ASSERT_TRUE(number >= 1 && number <= 2 * perThread) << line;
    ASSERT_EQ(numberSeen[number]++, 0) << "number used twice: " << line;
    int& next = nextIndex[tag == 'A'];
    ASSERT_EQ(index, next) << "lost or reordered: " << line;  // each thread's lines keep their order
    next++;
    lines++;
    p = end + 2;
  }
  EXPECT_EQ(lines, 2 * perThread);
  EXPECT_EQ(p - log.pText, log.nUsed);
}

std::string Grouped(int64_t value, int minDigits = 0) {
  char out[FORMATGROUPED_SIZE];
  memset(out, '#', sizeof(out));
  FormatGroupedInt64(value, out, minDigits);
  EXPECT_NE(memchr(out, 0, sizeof(out)), nullptr);
  return out;
}

TEST(FormatGroupedInt64, GroupsDigitsInThreesWithAlwaysASign) {
  EXPECT_EQ(Grouped(0), "+0");
  EXPECT_EQ(Grouped(7), "+7");
  EXPECT_EQ(Grouped(999), "+999");
  EXPECT_EQ(Grouped(1000), "+1.000");
  EXPECT_EQ(Grouped(-1234567), "-1.234.567");
  EXPECT_EQ(Grouped(10000000), "+10.000.000");
  EXPECT_EQ(Grouped(-1), "-1");
}

TEST(FormatGroupedInt64, PadsWithGroupedZerosToMinDigits) {
  EXPECT_EQ(Grouped(12345, 9), "+000.012.345");
  EXPECT_EQ(Grouped(42, 9), "+000.000.042");
  EXPECT_EQ(Grouped(0, 1), "+0");
  EXPECT_EQ(Grouped(0, 4), "+0.000");
  EXPECT_EQ(Grouped(123456, 2), "+123.456");
  EXPECT_EQ(Grouped(5, -3), "+5");
}

TEST(FormatGroupedInt64, HandlesTheExtremes) {
  EXPECT_EQ(Grouped(INT64_MAX), "+9.223.372.036.854.775.807");
  EXPECT_EQ(Grouped(INT64_MIN), "-9.223.372.036.854.775.808");
  EXPECT_EQ(Grouped(INT64_MIN, 19), "-9.223.372.036.854.775.808");
}

TEST(FormatGroupedInt64, NeverWritesPastTheCallersFortyCharacters) {
  char out[FORMATGROUPED_SIZE + 8];
  memset(out, '#', sizeof(out));
  FormatGroupedInt64(INT64_MIN, out, 1000);
  EXPECT_EQ(strlen(out), size_t(FORMATGROUPED_SIZE - 1));
  EXPECT_EQ(out[0], '-');
  for (size_t i = FORMATGROUPED_SIZE; i < sizeof(out); i++) EXPECT_EQ(out[i], '#');
  EXPECT_EQ(std::string(out).substr(FORMATGROUPED_SIZE - 1 - 25), "9.223.372.036.854.775.808");
}

}  // namespace
