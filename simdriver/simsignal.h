// Signals of the simulated driver: encoding and decoding of every ASIO sample
// type, the known per-channel input signal, and the meter that observes what a
// host writes into an output channel. Platform-free.
#ifndef MB_SIMDRIVER_SIMSIGNAL_H
#define MB_SIMDRIVER_SIMSIGNAL_H

#include <stdint.h>

#include "asio/asio_types.h"

enum { SIMSIGNAL_MAX_SAMPLE_BYTES = 8 };

// Bytes one sample takes in a driver buffer; DSD types take one byte, unknown
// types are given the widest container so a careless host cannot overrun them.
int SIMSIGNAL_BytesPerSample(ASIOSampleType type);
// 1 for the PCM types the driver can write and read, 0 for DSD and unknown.
int SIMSIGNAL_IsPcm(ASIOSampleType type);
// The published name ("ASIOSTInt32LSB"), or null for an unknown value.
const char* SIMSIGNAL_TypeName(ASIOSampleType type);
// A type from its published name (case-insensitive), -1 when unknown.
int SIMSIGNAL_TypeFromName(const char* name);

// Full scale is [-1, 1); values outside are saturated. Nothing is written or
// read for non-PCM types (Decode then returns 0 and fills zeros).
void SIMSIGNAL_Encode(ASIOSampleType type, const double* in, void* out, int count);
int SIMSIGNAL_Decode(ASIOSampleType type, const void* in, double* out, int count);

// The input signal of channel c: a sine of SIMSIGNAL_InputFrequency(c) at
// SIMSIGNAL_InputAmplitude(c), plus a quiet deterministic noise that makes
// every buffer unique, so a delayed copy can never pass for the original.
enum { SIMSIGNAL_FREQUENCY_STEPS = 20 };
double SIMSIGNAL_InputFrequency(int channel);
double SIMSIGNAL_InputAmplitude(int channel);
#define SIMSIGNAL_NOISE_AMPLITUDE (1.0 / 4096.0)

typedef struct SIMSIGNAL_OSC {
  double fCos, fSin;          // current phasor
  double fStepCos, fStepSin;  // rotation per sample
  double fAmplitude;
  uint32_t nNoise;  // xorshift state
} SIMSIGNAL_OSC;

void SIMSIGNAL_InitInput(SIMSIGNAL_OSC* osc, int channel, double sampleRate);
void SIMSIGNAL_Generate(SIMSIGNAL_OSC* osc, double* out, int count);

// Observation of one output channel over a run.
typedef struct SIMSIGNAL_METER {
  double fPeak;
  double fSumSquares;
  int64_t nLevelSamples;   // samples of non-silent buffers
  int64_t nPosition;       // samples seen, silent ones included
  int bBelow;              // zero-crossing detector armed
  int64_t nCrossings;      // rising crossings
  int64_t nFirstCrossing, nLastCrossing;
  int64_t nBuffers, nSilentBuffers;
  int64_t nComparedBuffers, nMatchedBuffers;
} SIMSIGNAL_METER;

void SIMSIGNAL_MeterReset(SIMSIGNAL_METER* meter);
void SIMSIGNAL_MeterAdd(SIMSIGNAL_METER* meter, const double* x, int count);
// Pass-through check of one buffer against the input it should copy.
void SIMSIGNAL_MeterCompare(SIMSIGNAL_METER* meter, const double* out, const float* source, int count);
double SIMSIGNAL_MeterRms(const SIMSIGNAL_METER* meter);
double SIMSIGNAL_MeterFrequency(const SIMSIGNAL_METER* meter, double sampleRate);
// 1 when at least 90 % of the non-silent compared buffers matched.
int SIMSIGNAL_MeterPassThrough(const SIMSIGNAL_METER* meter);

// Hysteresis of the zero-crossing detector, above the input noise.
#define SIMSIGNAL_CROSSING_THRESHOLD (1.0 / 2048.0)
// Largest difference still counted as the same sample (16-bit rounding and
// float conversions fit well inside, the input noise does not).
#define SIMSIGNAL_MATCH_TOLERANCE (1.0 / 16384.0)

// 1 when the two texts are equal ignoring ASCII letter case (setting and
// type names are matched that way).
int SIMSIGNAL_EqualsNoCase(const char* a, const char* b);

#endif  // MB_SIMDRIVER_SIMSIGNAL_H
