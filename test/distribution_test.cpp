#include "test/distribution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The exact percentile: the smallest value that at least perMille / 1000 of
// the values do not exceed.
int64_t Exact(std::vector<int64_t> values, int32_t perMille) {
  std::sort(values.begin(), values.end());
  size_t rank = (size_t)((perMille * (int64_t)values.size() + 999) / 1000);
  return values[std::max<size_t>(rank, 1) - 1];
}

TEST(Distribution, PercentilesAreWithinOnePercentOfTheExactOnesAtAnyRangeAndTheExtremesAreExact) {
  // Counter ticks of a 10 MHz counter: loads from a few percent to thousands
  // of percent of a 1 ms buffer, intervals from microseconds to seconds.
  std::vector<std::vector<int64_t>> all(3);
  all[0] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  uint32_t x = 2463534242u;
  for (int i = 0; i < 20000; i++) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    all[1].push_back(300 + (int64_t)(x % 2400000));  // 0.3 % to 2 400 % of 10 000 ticks
    all[2].push_back(i % 997 == 0 ? 30000000 + (int64_t)(x % 10000000)
                                  : 9990 + (int64_t)(x % 21));  // seconds now and then
  }
  std::unique_ptr<DISTRIBUTION> d(new DISTRIBUTION);
  for (const std::vector<int64_t>& values : all) {
    DISTRIBUTION_Clear(d.get());
    for (int64_t v : values) DISTRIBUTION_Add(d.get(), v);
    EXPECT_EQ(*std::min_element(values.begin(), values.end()), d->nMin);
    EXPECT_EQ(*std::max_element(values.begin(), values.end()), d->nMax);
    for (int32_t perMille : {1, 500, 990, 999, 1000}) {
      int64_t exact = Exact(values, perMille);
      int64_t got = DISTRIBUTION_Percentile(d.get(), perMille);
      EXPECT_LE(got, exact) << perMille;
      EXPECT_GE((double)got, (double)exact * 0.99) << perMille;
    }
  }
  DISTRIBUTION_Clear(d.get());
  EXPECT_EQ(0, DISTRIBUTION_Percentile(d.get(), 500));
}

}  // namespace
