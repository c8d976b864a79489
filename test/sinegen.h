// SINEGEN: a tabled sine of one period played at any frequency up to half the
// table length by stepping through it with a fractional phase. Platform-free.
#ifndef MB_TEST_SINEGEN_H
#define MB_TEST_SINEGEN_H

#include <stdint.h>

#include "asio/relaxed.h"

typedef struct SINEGEN {
  float fTableFrequency;
  Relaxed<float> fFrequency;  // set by the menu, read per buffer
  int32_t* pTable;            // exactly one period, nLength samples
  int32_t nLength;
  float fPhase;  // audio thread only
} SINEGEN;

// 0 on success; -1 null generator, -2 no table, -10 table frequency below
// 0.01, -11 above half the length (the table stays allocated, silent).
int SINEGEN_Init(SINEGEN* generator, int32_t length, float tableFrequency, float amplitude);
// Writes count samples into each of channels planar channels of out.
int SINEGEN_Render(SINEGEN* generator, int32_t* out, int32_t count, int32_t channels);
int SINEGEN_Free(SINEGEN* generator);

#endif  // MB_TEST_SINEGEN_H
