#include "winaudio/recarray.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <vector>

#include "gtest/gtest.h"

namespace {

struct Item {
  int32_t key;
  int32_t id;
};

int CompareItems(const void* a, const void* b) {
  int32_t ka = static_cast<const Item*>(a)->key;
  int32_t kb = static_cast<const Item*>(b)->key;
  return ka > kb ? 1 : (ka < kb ? -1 : 0);
}

class RecordArray : public ::testing::Test {
 protected:
  RECARRAY array;
  void SetUp() override { memset(&array, 0xA5, sizeof(array)); }
  void TearDown() override { RECARRAY_Free(&array); }

  void AddItems(const std::vector<Item>& items) {
    for (const Item& item : items) ASSERT_NE(RECARRAY_Add(&array, &item), nullptr);
  }
  std::vector<Item> Contents() {
    std::vector<Item> items;
    for (int64_t i = 1; i <= array.nCount; i++) items.push_back(*static_cast<Item*>(RECARRAY_Get(&array, i)));
    return items;
  }
};

TEST_F(RecordArray, InitClearsTheHeaderAndTakesTheInitialBlock) {
  RECARRAY_Init(&array, 24, 8192, 32768);
  EXPECT_NE(array.pData, nullptr);
  EXPECT_EQ(array.nAllocated, 8192u);
  EXPECT_EQ(array.nFree, 8192u);
  EXPECT_EQ(array.nRecordSize, 24u);
  EXPECT_EQ(array.nGrowStep, 32768u);
  EXPECT_EQ(array.nCount, 0u);
  EXPECT_EQ(array.nUsed, 0u);
  EXPECT_EQ(array.nCursor, 0u);
  EXPECT_EQ(array.pSortBuffer, nullptr);
  EXPECT_EQ(array.nSortBufferSize, 0u);
}

TEST_F(RecordArray, FirstDriverSizedRecordGrowsAnEightKilobyteBlockToFiftySixKilobytes) {
  RECARRAY_Init(&array, 48504, 8192, 8192);
  std::vector<char> record(48504, 'x');
  record.back() = 'z';
  char* copy = static_cast<char*>(RECARRAY_Add(&array, record.data()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(array.nAllocated, 57344u);
  EXPECT_EQ(array.nFree, 57344u - 48504u);
  EXPECT_EQ(array.nUsed, 48504u);
  EXPECT_EQ(0, memcmp(copy, record.data(), record.size()));
}

TEST_F(RecordArray, GrowsByTheSmallestStepMultipleLargerThanOneRecord) {
  // 4 168-byte records into 8 192 bytes: two fit, leaving 4 024 free.
  RECARRAY_Init(&array, 4168, 8192, 32768);
  std::vector<char> record(4168, 1);
  ASSERT_NE(RECARRAY_Add(&array, record.data()), nullptr);
  EXPECT_EQ(array.nFree, 4024u);
  ASSERT_NE(RECARRAY_Add(&array, record.data()), nullptr);
  EXPECT_EQ(array.nAllocated, 8192u + 32768u);
  EXPECT_EQ(array.nFree, 8192u + 32768u - 2 * 4168u);
}

TEST_F(RecordArray, RecordOfExactlyOneStepGrowsByTwoSteps) {
  RECARRAY_Init(&array, 4096, 0, 4096);
  std::vector<char> record(4096, 2);
  ASSERT_NE(RECARRAY_Add(&array, record.data()), nullptr);
  EXPECT_EQ(array.nAllocated, 8192u);
}

TEST_F(RecordArray, KeepsRecordsAcrossGrowthInInsertionOrder) {
  RECARRAY_Init(&array, sizeof(Item), 16, 16);
  std::vector<Item> items;
  for (int i = 0; i < 1000; i++) items.push_back({i * 7, i});
  AddItems(items);
  ASSERT_EQ(array.nCount, 1000u);
  EXPECT_EQ(array.nUsed + array.nFree, array.nAllocated);
  std::vector<Item> stored = Contents();
  for (int i = 0; i < 1000; i++) EXPECT_EQ(stored[i].id, i);
}

TEST_F(RecordArray, OddSizedRecordsAreCopiedWhole) {
  RECARRAY_Init(&array, 7, 8, 8);
  const char a[7] = {1, 2, 3, 4, 5, 6, 7};
  const char b[7] = {9, 8, 7, 6, 5, 4, 3};
  ASSERT_NE(RECARRAY_Add(&array, a), nullptr);
  ASSERT_NE(RECARRAY_Add(&array, b), nullptr);
  EXPECT_EQ(0, memcmp(RECARRAY_Get(&array, 1), a, 7));
  EXPECT_EQ(0, memcmp(RECARRAY_Get(&array, 2), b, 7));
}

TEST_F(RecordArray, GetOutsideOneToCountYieldsNullAndKeepsTheCursor) {
  RECARRAY_Init(&array, sizeof(Item), 64, 64);
  EXPECT_EQ(RECARRAY_Get(&array, 1), nullptr);  // empty
  AddItems({{10, 1}, {20, 2}, {30, 3}});
  ASSERT_NE(RECARRAY_Get(&array, 2), nullptr);
  EXPECT_EQ(array.nCursor, 2u);
  EXPECT_EQ(RECARRAY_Get(&array, 0), nullptr);
  EXPECT_EQ(RECARRAY_Get(&array, -1), nullptr);
  EXPECT_EQ(RECARRAY_Get(&array, 4), nullptr);
  EXPECT_EQ(RECARRAY_Get(&array, INT64_MIN), nullptr);
  EXPECT_EQ(RECARRAY_Get(&array, int64_t(1) << 32 | 1), nullptr);  // not index 1 after truncation
  EXPECT_EQ(array.nCursor, 2u);
  EXPECT_EQ(static_cast<Item*>(RECARRAY_Get(&array, 3))->key, 30);
  EXPECT_EQ(array.nCursor, 3u);
}

TEST_F(RecordArray, GrowthBeyondThirtyTwoBitsDropsTheStorage) {
  RECARRAY_Init(&array, 0xC0000000u, 16, 0x80000000u);
  char record[16] = {};
  // The copy would never happen; the size is refused before any allocation.
  EXPECT_EQ(RECARRAY_Add(&array, record), nullptr);
  EXPECT_EQ(array.pData, nullptr);
  EXPECT_EQ(array.nCount, 0u);
  EXPECT_EQ(RECARRAY_Get(&array, 1), nullptr);
  EXPECT_EQ(RECARRAY_Add(&array, record), nullptr);
}

TEST_F(RecordArray, ArrayWithoutStorageRefusesEverything) {
  memset(&array, 0, sizeof(array));
  Item item = {1, 1};
  EXPECT_EQ(RECARRAY_Add(&array, &item), nullptr);
  EXPECT_EQ(RECARRAY_Get(&array, 1), nullptr);
  EXPECT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
}

TEST_F(RecordArray, FreeReleasesBothBlocksAndClearsTheHeader) {
  RECARRAY_Init(&array, sizeof(Item), 64, 64);
  AddItems({{3, 1}, {2, 2}, {1, 3}});
  ASSERT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
  RECARRAY_Free(&array);
  RECARRAY zero;
  memset(&zero, 0, sizeof(zero));
  EXPECT_EQ(0, memcmp(&array, &zero, sizeof(array)));
}

TEST_F(RecordArray, SortingNoneOrOneRecordSucceedsWithoutScratch) {
  RECARRAY_Init(&array, sizeof(Item), 64, 64);
  EXPECT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
  AddItems({{5, 1}});
  EXPECT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
  EXPECT_EQ(array.pSortBuffer, nullptr);
  EXPECT_EQ(Contents()[0].key, 5);
}

TEST_F(RecordArray, SortingTwoRecordsNeedsOnlyThePairPass) {
  RECARRAY_Init(&array, sizeof(Item), 64, 64);
  AddItems({{9, 1}, {4, 2}});
  EXPECT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
  EXPECT_EQ(array.pSortBuffer, nullptr);
  EXPECT_EQ(Contents()[0].key, 4);
  EXPECT_EQ(Contents()[1].key, 9);
}

TEST_F(RecordArray, SortingThreeRecordsMergesTheOrderedPairWithTheThird) {
  const int orders[6][3] = {{1, 2, 3}, {1, 3, 2}, {2, 1, 3}, {2, 3, 1}, {3, 1, 2}, {3, 2, 1}};
  for (const auto& order : orders) {
    RECARRAY_Init(&array, sizeof(Item), 64, 64);
    AddItems({{order[0], 0}, {order[1], 1}, {order[2], 2}});
    ASSERT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
    std::vector<Item> sorted = Contents();
    EXPECT_EQ(sorted[0].key, 1);
    EXPECT_EQ(sorted[1].key, 2);
    EXPECT_EQ(sorted[2].key, 3);
    EXPECT_EQ(array.nSortBufferSize, 2 * sizeof(Item));  // one run of two
    RECARRAY_Free(&array);
  }
}

// Sorted keys agree with std::stable_sort, and no record is lost, doubled or
// torn (each id keeps its key).
void ExpectSortedLike(std::vector<Item> original, const std::vector<Item>& sorted) {
  auto byKey = [](const Item& a, const Item& b) { return a.key < b.key; };
  auto byKeyThenId = [](const Item& a, const Item& b) { return a.key != b.key ? a.key < b.key : a.id < b.id; };
  std::stable_sort(original.begin(), original.end(), byKey);
  ASSERT_EQ(sorted.size(), original.size());
  for (size_t i = 0; i < sorted.size(); i++) ASSERT_EQ(sorted[i].key, original[i].key) << "at " << i;
  std::vector<Item> a = original, b = sorted;
  std::sort(a.begin(), a.end(), byKeyThenId);
  std::sort(b.begin(), b.end(), byKeyThenId);
  for (size_t i = 0; i < a.size(); i++) ASSERT_EQ(a[i].id, b[i].id) << "at " << i;
}

TEST_F(RecordArray, SortsManyRandomRecordsOfEveryCountLikeAStableSort) {
  std::mt19937 random(12345);
  const int counts[] = {4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 100, 127, 129, 1000, 4097};
  for (int count : counts) {
    for (int keyRange : {3, 1000000}) {  // many ties, then nearly none
      RECARRAY_Init(&array, sizeof(Item), 8192, 8192);
      std::vector<Item> items;
      for (int i = 0; i < count; i++) items.push_back({int32_t(random() % keyRange), i});
      AddItems(items);
      ASSERT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
      SCOPED_TRACE(count);
      ExpectSortedLike(items, Contents());
      RECARRAY_Free(&array);
    }
  }
}

TEST_F(RecordArray, SortsAlreadyOrderedAndReversedRecords) {
  for (bool reversed : {false, true}) {
    RECARRAY_Init(&array, sizeof(Item), 8192, 8192);
    std::vector<Item> items;
    for (int i = 0; i < 777; i++) items.push_back({reversed ? 777 - i : i, i});
    AddItems(items);
    ASSERT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
    ExpectSortedLike(items, Contents());
    RECARRAY_Free(&array);
  }
}

TEST_F(RecordArray, SortsLargeRecordsWhole) {
  struct Big {
    int32_t key;
    char fill[300];
  };
  auto compareBig = [](const void* a, const void* b) {
    int32_t ka = static_cast<const Big*>(a)->key, kb = static_cast<const Big*>(b)->key;
    return ka > kb ? 1 : (ka < kb ? -1 : 0);
  };
  RECARRAY_Init(&array, sizeof(Big), 8192, 8192);
  for (int i = 0; i < 50; i++) {
    Big big;
    big.key = (i * 37) % 50;
    memset(big.fill, big.key, sizeof(big.fill));
    ASSERT_NE(RECARRAY_Add(&array, &big), nullptr);
  }
  ASSERT_EQ(RECARRAY_Sort(&array, compareBig), 1);
  for (int i = 1; i <= 50; i++) {
    Big* big = static_cast<Big*>(RECARRAY_Get(&array, i));
    ASSERT_EQ(big->key, i - 1);
    for (char c : big->fill) ASSERT_EQ(c, char(i - 1));
  }
}

TEST_F(RecordArray, ScratchBlockIsKeptBetweenSortsAndNeverShrinks) {
  RECARRAY_Init(&array, sizeof(Item), 8192, 8192);
  std::mt19937 random(7);
  for (int i = 0; i < 100; i++) {
    Item item = {int32_t(random() % 50), i};
    RECARRAY_Add(&array, &item);
  }
  ASSERT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
  void* scratch = array.pSortBuffer;
  uint32_t scratchSize = array.nSortBufferSize;
  EXPECT_EQ(scratchSize, 64 * sizeof(Item));  // the longest run merged for 100 records
  ASSERT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
  EXPECT_EQ(array.pSortBuffer, scratch);
  EXPECT_EQ(array.nSortBufferSize, scratchSize);

  // A shorter list sorted with the same header keeps the larger block.
  array.nCount = 10;
  array.nUsed = 10 * sizeof(Item);
  ASSERT_EQ(RECARRAY_Sort(&array, CompareItems), 1);
  EXPECT_EQ(array.pSortBuffer, scratch);
  EXPECT_EQ(array.nSortBufferSize, scratchSize);
}

}  // namespace
