// RECARRAY: a growable array of fixed-size records in one heap block, with
// 1-based access and an in-place merge sort. Platform-free.
#ifndef MB_WINAUDIO_RECARRAY_H
#define MB_WINAUDIO_RECARRAY_H

#include <stdint.h>

typedef struct RECARRAY {
  void* pData;
  uint32_t nCount;
  uint32_t nAllocated;
  uint32_t nRecordSize;
  uint32_t nUsed;
  uint32_t nFree;
  uint32_t nGrowStep;
  uint32_t nCursor;
  void* pSortBuffer;
  uint32_t nSortBufferSize;
} RECARRAY;

// Returns 1 when a must come after b, -1 when before, 0 when equal.
typedef int (*RECARRAY_COMPARE)(const void* a, const void* b);

void RECARRAY_Init(RECARRAY* array, uint32_t nRecordSize, uint32_t nInitialBytes, uint32_t nGrowStep);
void* RECARRAY_Add(RECARRAY* array, const void* record);
void* RECARRAY_Get(RECARRAY* array, int64_t index);
int RECARRAY_Sort(RECARRAY* array, RECARRAY_COMPARE compare);
void RECARRAY_Free(RECARRAY* array);

#endif  // MB_WINAUDIO_RECARRAY_H
