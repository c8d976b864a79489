#include "test/sinegen.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

static const double kPi = 3.14159265358979323846;

int SINEGEN_Init(SINEGEN* generator, int32_t length, float tableFrequency, float amplitude) {
  if (generator == NULL) return -1;
  generator->fTableFrequency = 0.0f;
  generator->fFrequency = 0.0f;
  generator->pTable = NULL;
  generator->nLength = 0;
  generator->fPhase = 0.0f;
  if (length < 1) return -2;
  // Zero-filled: a table refused below is played as silence, not garbage.
  generator->pTable = (int32_t*)calloc((size_t)length, sizeof(int32_t));
  if (generator->pTable == NULL) return -2;

  generator->fTableFrequency = tableFrequency;
  generator->nLength = length;
  double step = (double)tableFrequency * 2.0 * kPi / (double)length;
  if (tableFrequency < 0.01f) return -10;
  if (tableFrequency > length * 0.5) return -11;
  double scale = (double)amplitude * 8388607.0;
  for (int32_t i = 0; i < length; i++) generator->pTable[i] = (int32_t)(sin(i * step) * scale);
  generator->fFrequency = 440.0f;
  generator->fPhase = 0.0f;
  return 0;
}

// The step as the table can play it: a frequency outside 0 .. length would
// read outside the table after the one wrap per sample.
static float UsableStep(float frequency, int32_t length) {
  float fLength = (float)length;
  if (frequency >= 0.0f && frequency < fLength) return frequency;
  if (!(frequency == frequency) || fabsf(frequency) > 1.0e9f) return 0.0f;
  float step = fmodf(frequency, fLength);
  if (step < 0.0f) step += fLength;
  return step < fLength ? step : 0.0f;
}

int SINEGEN_Render(SINEGEN* generator, int32_t* out, int32_t count, int32_t channels) {
  if (generator == NULL) return -1;
  if (generator->pTable == NULL || generator->nLength < 1) return -2;
  if (out == NULL || count <= 0 || channels <= 0) return 0;

  const int32_t* table = generator->pTable;
  float length = (float)generator->nLength;
  float step = UsableStep(generator->fFrequency, generator->nLength);
  float phase = generator->fPhase;
  if (!(phase >= 0.0f && phase < length)) phase = 0.0f;
  for (int32_t i = 0; i < count; i++) {
    out[i] = table[(int32_t)phase];
    phase += step;
    if (phase >= length) phase -= length;
    if (phase >= length) phase = 0.0f;  // rounding at the very top of the table
  }
  generator->fPhase = phase;

  for (int32_t c = 1; c < channels; c++)
    memcpy(out + (size_t)c * count, out, (size_t)count * sizeof(int32_t));
  return 0;
}

int SINEGEN_Free(SINEGEN* generator) {
  if (generator == NULL) return -1;
  free(generator->pTable);
  generator->pTable = NULL;
  return 0;
}
