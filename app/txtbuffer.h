// TXTBUFFER: the in-memory text log. Every line gets a running "#%04i "
// number; appends come from the GUI thread and the driver's audio thread.
// Platform-free.
#ifndef MB_APP_TXTBUFFER_H
#define MB_APP_TXTBUFFER_H

#include <stdint.h>

#include <atomic>

enum { TXTBUFFER_CAPACITY = 0x100000, TXTBUFFER_HEADROOM = 512 };

typedef struct TXTBUFFER {
  int32_t nMax;
  char* pText;
  int32_t nUsed;
  std::atomic<int32_t> bChanged;  // set by both threads, cleared by the viewer
  int32_t nLines;
  int32_t bFull;
  std::atomic_flag lock;  // held only around one append's copy
} TXTBUFFER;

void TXTBUFFER_Init(TXTBUFFER* buffer);
int TXTBUFFER_Reset(TXTBUFFER* buffer);
int TXTBUFFER_AddLine(TXTBUFFER* buffer, const char* text, const char* lineEnd);
void TXTBUFFER_Free(TXTBUFFER* buffer);
// Characters of the terminated text: every stored line and, once the buffer
// is full, the overflow notice after them. Every character below it is
// written and never changes again, so a reader may copy them.
int32_t TXTBUFFER_GetLength(TXTBUFFER* buffer);

// Sign and digit groups of three separated by '.', padded with zeros to
// minDigits digits (at most FORMATGROUPED_MAX_DIGITS, so the text always fits).
// out must hold at least FORMATGROUPED_SIZE characters.
enum { FORMATGROUPED_SIZE = 40, FORMATGROUPED_MAX_DIGITS = 29 };
void FormatGroupedInt64(int64_t value, char* out, int minDigits);

#endif  // MB_APP_TXTBUFFER_H
