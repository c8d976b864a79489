// Every one of the 2^32 float bit patterns through the Float32LSB input loops
// of both sets, against the double product loop. Built optimised and without
// the sanitizers (their cost would make the sweep take an hour), on its own
// copy of the loops. Each pattern is swept twice: in order, where nearly every
// vector holds only inputs below 2 or only inputs from 2 up, and with a NaN in
// every fourth sample, so that each vector takes the loops' path for any input.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <vector>

#include "asio/asioconv.h"
#include "asio/asioconv_reference.h"

namespace {

const uint64_t kPatterns = 1ull << 32;
const size_t kChunk = 3u << 18;  // a multiple of three: three patterns and a NaN per group of four
const uint32_t kNan = 0x7FC00000u;

struct SWEEP {
  std::vector<uint32_t> inOrder, withNans;
  std::vector<int32_t> expected, got, gotWithNans;
  SWEEP() : inOrder(kChunk), withNans(kChunk / 3 * 4), expected(kChunk), got(kChunk), gotWithNans(kChunk / 3 * 4) {}
};

// Counts, per loop set, the patterns whose value differs; reports the first few.
std::vector<uint64_t> SweepAllPatterns(const std::vector<ASIOMAN_LOOPS>& loopSets) {
  SWEEP w;
  std::vector<uint64_t> nWrong(loopSets.size(), 0);
  for (uint64_t first = 0; first < kPatterns; first += kChunk) {
    size_t n = (size_t)(kPatterns - first < kChunk ? kPatterns - first : kChunk);
    size_t nGroups = (n + 2) / 3;
    for (size_t k = 0; k < n; k++) w.inOrder[k] = (uint32_t)(first + k);
    for (size_t g = 0; g < nGroups; g++) {
      for (size_t k = 0; k < 3; k++) w.withNans[4 * g + k] = 3 * g + k < n ? w.inOrder[3 * g + k] : kNan;
      w.withNans[4 * g + 3] = kNan;
    }
    ReferenceInFloat32LSB(w.inOrder.data(), w.expected.data(), n);
    for (size_t j = 0; j < loopSets.size(); j++) {
      ASIOMAN_CONVERTFN pfnConvert = ASIOMAN_GetInputConversionOf(loopSets[j], ASIOSTFloat32LSB);
      pfnConvert(w.inOrder.data(), w.got.data(), n);
      pfnConvert(w.withNans.data(), w.gotWithNans.data(), nGroups * 4);
      bool bAllRight = std::equal(w.got.begin(), w.got.begin() + n, w.expected.begin());
      for (size_t g = 0; g < nGroups && bAllRight; g++)
        for (size_t k = 0; k < 3 && 3 * g + k < n; k++) bAllRight &= w.gotWithNans[4 * g + k] == w.expected[3 * g + k];
      if (bAllRight) continue;
      for (size_t k = 0; k < n; k++) {
        int32_t withNans = w.gotWithNans[k / 3 * 4 + k % 3];
        if (w.got[k] == w.expected[k] && withNans == w.expected[k]) continue;
        if (nWrong[j]++ < 10)
          ADD_FAILURE() << "loops " << loopSets[j] << std::hex << ", pattern 0x" << w.inOrder[k] << std::dec << ": "
                        << w.expected[k] << " expected, " << w.got[k] << " in order, " << withNans << " among NaNs";
      }
    }
  }
  return nWrong;
}

}  // namespace

TEST(SampleConversionSweep, FloatInputEqualsTheDoubleProductForEveryPatternInBothLoopSets) {
  std::vector<ASIOMAN_LOOPS> loopSets = {ASIOMAN_LOOPS_BASELINE};
  if (ASIOMAN_CanRunAvx2Loops()) loopSets.push_back(ASIOMAN_LOOPS_AVX2);
  std::vector<uint64_t> nWrong = SweepAllPatterns(loopSets);
  for (size_t j = 0; j < loopSets.size(); j++) EXPECT_EQ(0u, nWrong[j]) << "loops " << loopSets[j];
  if (loopSets.size() == 1) printf("no AVX2 loops on this CPU or in this build: the baseline loops alone swept\n");
}
