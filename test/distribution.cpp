#include "test/distribution.h"

#include <string.h>

namespace {

// Position of the highest set bit of a positive value.
int HighestBit(uint64_t v) {
  int bit = 0;
  for (int shift = 32; shift > 0; shift /= 2) {
    if (v >> shift) {
      v >>= shift;
      bit += shift;
    }
  }
  return bit;
}

int32_t BinOf(int64_t value) {
  if (value < 256) return (int32_t)value;
  int e = HighestBit((uint64_t)value);  // 8 .. 62
  int32_t sub = (int32_t)(((uint64_t)value >> (e - 7)) - 128);
  return 256 + (e - 8) * 128 + sub;
}

int64_t LowestOf(int32_t bin) {
  if (bin < 256) return bin;
  int e = 8 + (bin - 256) / 128;
  int64_t sub = (bin - 256) % 128;
  return (128 + sub) << (e - 7);
}

}  // namespace

void DISTRIBUTION_Clear(DISTRIBUTION* distribution) { memset(distribution, 0, sizeof(*distribution)); }

void DISTRIBUTION_Add(DISTRIBUTION* distribution, int64_t value) {
  if (value < 0) value = 0;
  if (distribution->nCount == 0 || value < distribution->nMin) distribution->nMin = value;
  if (distribution->nCount == 0 || value > distribution->nMax) distribution->nMax = value;
  distribution->nCount += 1;
  distribution->nBins[BinOf(value)] += 1;
}

int64_t DISTRIBUTION_Percentile(const DISTRIBUTION* distribution, int32_t perMille) {
  int64_t count = distribution->nCount;
  if (count <= 0) return 0;
  // The rank of the value: ceil(perMille * count / 1000), at least the first.
  int64_t rank = (perMille * count + 999) / 1000;
  if (rank <= 1) return distribution->nMin;
  if (rank >= count) return distribution->nMax;
  int64_t seen = 0;
  for (int32_t bin = 0; bin < DISTRIBUTION_BINS; bin++) {
    seen += distribution->nBins[bin];
    if (seen < rank) continue;
    int64_t value = LowestOf(bin);
    if (value < distribution->nMin) value = distribution->nMin;
    if (value > distribution->nMax) value = distribution->nMax;
    return value;
  }
  return distribution->nMax;
}
