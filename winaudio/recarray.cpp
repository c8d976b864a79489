#include "winaudio/recarray.h"

#include <stdlib.h>
#include <string.h>

enum { RECARRAY_MAX_SORTED = 0x0FFFFFFF };

static char* RECARRAY_At(const RECARRAY* array, uint32_t zeroBasedIndex) {
  return (char*)array->pData + (size_t)zeroBasedIndex * array->nRecordSize;
}

void RECARRAY_Init(RECARRAY* array, uint32_t nRecordSize, uint32_t nInitialBytes, uint32_t nGrowStep) {
  if (!array) return;
  memset(array, 0, sizeof(*array));
  array->nRecordSize = nRecordSize;
  array->nGrowStep = nGrowStep;
  array->pData = malloc(nInitialBytes ? nInitialBytes : 1);
  if (array->pData) {
    array->nAllocated = nInitialBytes;
    array->nFree = nInitialBytes;
  }
}

// Grows by the smallest multiple of the step strictly larger than one record.
// A size that no longer fits 32 bits counts as a failed allocation.
static int RECARRAY_Grow(RECARRAY* array) {
  uint64_t step = array->nGrowStep ? array->nGrowStep : array->nRecordSize;
  uint64_t newSize = (uint64_t)array->nAllocated + step * (array->nRecordSize / step + 1);
  void* grown = newSize <= UINT32_MAX ? realloc(array->pData, (size_t)newSize) : NULL;
  if (!grown) {
    // The list reads as empty from now on, and every later add fails.
    free(array->pData);
    array->pData = NULL;
    array->nCount = array->nAllocated = array->nUsed = array->nFree = array->nCursor = 0;
    return 0;
  }
  array->pData = grown;
  array->nAllocated = (uint32_t)newSize;
  array->nFree = array->nAllocated - array->nUsed;
  return 1;
}

void* RECARRAY_Add(RECARRAY* array, const void* record) {
  if (!array || !array->pData || !record) return NULL;
  if (array->nRecordSize > array->nFree && !RECARRAY_Grow(array)) return NULL;
  char* copy = RECARRAY_At(array, array->nCount);
  memcpy(copy, record, array->nRecordSize);
  array->nCount += 1;
  array->nFree -= array->nRecordSize;
  array->nUsed += array->nRecordSize;
  return copy;
}

void* RECARRAY_Get(RECARRAY* array, int64_t index) {
  if (!array || !array->pData || array->nCount == 0) return NULL;
  if (index < 1 || index > (int64_t)array->nCount) return NULL;
  array->nCursor = (uint32_t)index;
  return RECARRAY_At(array, (uint32_t)(index - 1));
}

// Swaps two records without a scratch block, in stack-sized pieces.
static void RECARRAY_Swap(char* a, char* b, uint32_t size) {
  char piece[256];
  while (size > 0) {
    uint32_t n = size < sizeof(piece) ? size : (uint32_t)sizeof(piece);
    memcpy(piece, a, n);
    memcpy(a, b, n);
    memcpy(b, piece, n);
    a += n;
    b += n;
    size -= n;
  }
}

static int RECARRAY_EnsureSortBuffer(RECARRAY* array, uint32_t runLength) {
  uint64_t needed = (uint64_t)runLength * array->nRecordSize;
  if (needed <= array->nSortBufferSize) return 1;
  free(array->pSortBuffer);
  array->pSortBuffer = needed <= UINT32_MAX ? malloc((size_t)needed) : NULL;
  if (!array->pSortBuffer) {
    array->nSortBufferSize = 0;
    return 0;
  }
  array->nSortBufferSize = (uint32_t)needed;
  return 1;
}

// FIFO of first-run records that gave way, a ring in the scratch block that
// holds one whole run.
typedef struct RECARRAY_QUEUE {
  char* pSlots;
  uint32_t nRecordSize;
  uint32_t nCapacity;
  uint32_t nHead;
  uint32_t nLength;
} RECARRAY_QUEUE;

static char* RECARRAY_QueueHead(RECARRAY_QUEUE* queue) {
  return queue->pSlots + (size_t)queue->nHead * queue->nRecordSize;
}

static void RECARRAY_QueuePush(RECARRAY_QUEUE* queue, const char* record) {
  uint32_t tail = (queue->nHead + queue->nLength) % queue->nCapacity;
  memcpy(queue->pSlots + (size_t)tail * queue->nRecordSize, record, queue->nRecordSize);
  queue->nLength += 1;
}

static void RECARRAY_QueuePop(RECARRAY_QUEUE* queue, char* out) {
  memcpy(out, RECARRAY_QueueHead(queue), queue->nRecordSize);
  queue->nHead = (queue->nHead + 1) % queue->nCapacity;
  queue->nLength -= 1;
}

// Merges the sorted runs [lo, mid) and [mid, hi) in place. The output never
// overtakes the second run's head, so only displaced first-run records need
// the queue. Ties go to the first run.
static void RECARRAY_MergeRuns(RECARRAY* array, RECARRAY_COMPARE compare, uint32_t lo, uint32_t mid, uint32_t hi,
                               RECARRAY_QUEUE* queue) {
  uint32_t size = array->nRecordSize;
  uint32_t out = lo;
  uint32_t second = mid;
  queue->nHead = queue->nLength = 0;
  for (; out < mid; out++) {
    char* current = RECARRAY_At(array, out);
    const char* firstHead = queue->nLength ? RECARRAY_QueueHead(queue) : current;
    if (second < hi && compare(firstHead, RECARRAY_At(array, second)) == 1) {
      RECARRAY_QueuePush(queue, current);
      memcpy(current, RECARRAY_At(array, second), size);
      second++;
    } else if (queue->nLength) {
      RECARRAY_QueuePush(queue, current);
      RECARRAY_QueuePop(queue, current);
    }
  }
  // What is left of the first run is all queued; the second run's rest is
  // already in place once the queue is empty.
  for (; queue->nLength; out++) {
    if (second < hi && compare(RECARRAY_QueueHead(queue), RECARRAY_At(array, second)) == 1) {
      memcpy(RECARRAY_At(array, out), RECARRAY_At(array, second), size);
      second++;
    } else {
      RECARRAY_QueuePop(queue, RECARRAY_At(array, out));
    }
  }
}

int RECARRAY_Sort(RECARRAY* array, RECARRAY_COMPARE compare) {
  if (!array || !compare) return 0;
  if (!array->pData || array->nCount < 2 || array->nRecordSize == 0) return 1;
  uint32_t count = array->nCount > RECARRAY_MAX_SORTED ? (uint32_t)RECARRAY_MAX_SORTED : array->nCount;
  for (uint32_t i = 0; i + 1 < count; i += 2) {
    char* first = RECARRAY_At(array, i);
    char* second = RECARRAY_At(array, i + 1);
    if (compare(first, second) == 1) RECARRAY_Swap(first, second, array->nRecordSize);
  }
  for (uint32_t run = 2; run < count; run *= 2) {
    if (!RECARRAY_EnsureSortBuffer(array, run)) return 0;
    RECARRAY_QUEUE queue = {(char*)array->pSortBuffer, array->nRecordSize, run, 0, 0};
    for (uint32_t lo = 0; lo + run < count; lo += 2 * run) {
      uint32_t mid = lo + run;
      uint32_t hi = count - mid > run ? mid + run : count;
      RECARRAY_MergeRuns(array, compare, lo, mid, hi, &queue);
    }
  }
  return 1;
}

void RECARRAY_Free(RECARRAY* array) {
  if (!array) return;
  free(array->pData);
  free(array->pSortBuffer);
  memset(array, 0, sizeof(*array));
}
