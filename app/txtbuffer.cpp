#include "app/txtbuffer.h"

#include <stdlib.h>
#include <string.h>

#include "app/textline.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <chrono>
#include <thread>
#endif

enum { LOCK_SPINS = 64, LOCK_SWITCHES = 64 };

// Spin first; then give the processor to any thread ready on it, whatever its
// priority (a plain yield passes it only to equals, and the audio thread
// outranks the GUI thread); after that sleep, so that a holder waiting for
// another processor gets one too.
static void TXTBUFFER_BackOff(int attempt) {
  if (attempt < LOCK_SPINS) return;
#if defined(_WIN32)
  if (attempt < LOCK_SPINS + LOCK_SWITCHES)
    SwitchToThread();
  else
    Sleep(1);
#else
  if (attempt < LOCK_SPINS + LOCK_SWITCHES)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
}

// Held only around one append's copy (a few hundred bytes), so the audio
// thread never waits for long.
static void TXTBUFFER_Lock(TXTBUFFER* buffer) {
  for (int attempt = 0; buffer->lock.test_and_set(std::memory_order_acquire); attempt++) TXTBUFFER_BackOff(attempt);
}

static void TXTBUFFER_Unlock(TXTBUFFER* buffer) { buffer->lock.clear(std::memory_order_release); }

void TXTBUFFER_Init(TXTBUFFER* buffer) {
  if (!buffer) return;
  buffer->nMax = TXTBUFFER_CAPACITY;
  buffer->pText = NULL;
  buffer->nUsed = 0;
  buffer->bChanged.store(0);
  buffer->nLines = 0;
  buffer->bFull = 0;
  buffer->lock.clear();
  buffer->pText = (char*)malloc((size_t)buffer->nMax + TXTBUFFER_HEADROOM);
  if (buffer->pText) TXTBUFFER_Reset(buffer);
}

int TXTBUFFER_Reset(TXTBUFFER* buffer) {
  if (!buffer) return -1;
  buffer->nUsed = 0;
  buffer->bChanged.store(0);
  buffer->nLines = 0;
  buffer->bFull = 0;
  if (!buffer->pText) return -2;
  memset(buffer->pText, 0, (size_t)buffer->nMax + TXTBUFFER_HEADROOM);
  return 0;
}

// Written once at the end of the text when a line does not fit; nUsed stays,
// so the notice remains the last text of the block.
static void TXTBUFFER_WriteOverflowNotice(TXTBUFFER* buffer) {
  size_t room = (size_t)buffer->nMax + TXTBUFFER_HEADROOM - (size_t)buffer->nUsed;
  TEXTLINE notice;
  TEXTLINE_Init(&notice, buffer->pText + buffer->nUsed, room);
  TEXTLINE_Text(&notice, "****** Not Enough Memory in TXT Buffer (");
  TEXTLINE_Int(&notice, buffer->nUsed, 1);
  TEXTLINE_Text(&notice, " char / ");
  TEXTLINE_Int(&notice, buffer->nMax, 1);
  TEXTLINE_Text(&notice, " max)*******");
  buffer->bFull = 1;
  buffer->bChanged.store(1);
}

static int TXTBUFFER_StoreLine(TXTBUFFER* buffer, const char* text, size_t len, const char* lineEnd) {
  if (!buffer->pText) return -2;
  // Once full, the buffer stays full: a shorter later line must not
  // overwrite the notice.
  if (buffer->bFull) return -1;
  if ((int64_t)len > (int64_t)buffer->nMax - buffer->nUsed) {
    TXTBUFFER_WriteOverflowNotice(buffer);
    return -1;
  }
  buffer->nLines += 1;
  char prefix[16];
  TEXTLINE number;
  TEXTLINE_Init(&number, prefix, sizeof(prefix));
  TEXTLINE_Text(&number, "#");
  TEXTLINE_Int(&number, buffer->nLines, 4);
  TEXTLINE_Text(&number, " ");
  char* at = buffer->pText + buffer->nUsed;
  memcpy(at, prefix, number.nLength);
  memcpy(at + number.nLength, text, len);
  at += number.nLength + len;
  // A text ending in LF (bare or after CR) already ends its line.
  if (at[-1] != '\n') {
    size_t endLen = strnlen(lineEnd, 2);
    memcpy(at, lineEnd, endLen);
    at += endLen;
  }
  *at = 0;
  buffer->nUsed = (int32_t)(at - buffer->pText);
  buffer->bChanged.store(1);
  return 0;
}

int TXTBUFFER_AddLine(TXTBUFFER* buffer, const char* text, const char* lineEnd) {
  if (!buffer) return -2;
  if (!text) text = "";
  if (!lineEnd) lineEnd = "\r\n";
  size_t len = strlen(text);
  TXTBUFFER_Lock(buffer);
  int result = TXTBUFFER_StoreLine(buffer, text, len, lineEnd);
  TXTBUFFER_Unlock(buffer);
  return result;
}

void TXTBUFFER_Free(TXTBUFFER* buffer) {
  if (!buffer) return;
  TXTBUFFER_Lock(buffer);
  TXTBUFFER_Reset(buffer);
  free(buffer->pText);
  buffer->pText = NULL;
  buffer->nMax = 0;
  TXTBUFFER_Unlock(buffer);
}

int32_t TXTBUFFER_GetLength(TXTBUFFER* buffer) {
  if (!buffer) return 0;
  TXTBUFFER_Lock(buffer);
  int32_t length = 0;
  if (buffer->pText) {
    // The notice lies past nUsed, ended by its own zero.
    size_t room = (size_t)buffer->nMax + TXTBUFFER_HEADROOM - (size_t)buffer->nUsed;
    length = buffer->nUsed + (buffer->bFull ? (int32_t)strnlen(buffer->pText + buffer->nUsed, room) : 0);
  }
  TXTBUFFER_Unlock(buffer);
  return length;
}

enum { FORMAT_WORK_SIZE = 200 };

void FormatGroupedInt64(int64_t value, char* out, int minDigits) {
  if (!out) return;
  // Sign, digits and separators must fit the caller's 40 characters with the
  // zero: 29 digits take 9 separators.
  if (minDigits > FORMATGROUPED_MAX_DIGITS) minDigits = FORMATGROUPED_MAX_DIGITS;
  // Negating in unsigned arithmetic keeps INT64_MIN right.
  uint64_t rest = value < 0 ? 0 - (uint64_t)value : (uint64_t)value;
  char work[FORMAT_WORK_SIZE];
  int pos = FORMAT_WORK_SIZE;
  work[--pos] = 0;
  int digits = 0;
  do {
    if (digits > 0 && digits % 3 == 0) work[--pos] = '.';
    work[--pos] = (char)('0' + rest % 10);
    rest /= 10;
    digits++;
  } while ((rest != 0 || digits < minDigits) && pos > 2);
  work[--pos] = value < 0 ? '-' : '+';
  memcpy(out, work + pos, (size_t)(FORMAT_WORK_SIZE - pos));
}
