#include "simdriver/simsignal.h"

#include <math.h>
#include <string.h>

namespace {

const double kPi = 3.14159265358979323846;

struct TYPEDESC {
  ASIOSampleType type;
  const char* name;
  int bytes;      // container size
  int bits;       // significant bits of an integer type, 0 for float
  int bigEndian;
  int isFloat;
};

const TYPEDESC kTypes[] = {
    {ASIOSTInt16MSB, "ASIOSTInt16MSB", 2, 16, 1, 0},
    {ASIOSTInt24MSB, "ASIOSTInt24MSB", 3, 24, 1, 0},
    {ASIOSTInt32MSB, "ASIOSTInt32MSB", 4, 32, 1, 0},
    {ASIOSTFloat32MSB, "ASIOSTFloat32MSB", 4, 0, 1, 1},
    {ASIOSTFloat64MSB, "ASIOSTFloat64MSB", 8, 0, 1, 1},
    {ASIOSTInt32MSB16, "ASIOSTInt32MSB16", 4, 16, 1, 0},
    {ASIOSTInt32MSB18, "ASIOSTInt32MSB18", 4, 18, 1, 0},
    {ASIOSTInt32MSB20, "ASIOSTInt32MSB20", 4, 20, 1, 0},
    {ASIOSTInt32MSB24, "ASIOSTInt32MSB24", 4, 24, 1, 0},
    {ASIOSTInt16LSB, "ASIOSTInt16LSB", 2, 16, 0, 0},
    {ASIOSTInt24LSB, "ASIOSTInt24LSB", 3, 24, 0, 0},
    {ASIOSTInt32LSB, "ASIOSTInt32LSB", 4, 32, 0, 0},
    {ASIOSTFloat32LSB, "ASIOSTFloat32LSB", 4, 0, 0, 1},
    {ASIOSTFloat64LSB, "ASIOSTFloat64LSB", 8, 0, 0, 1},
    {ASIOSTInt32LSB16, "ASIOSTInt32LSB16", 4, 16, 0, 0},
    {ASIOSTInt32LSB18, "ASIOSTInt32LSB18", 4, 18, 0, 0},
    {ASIOSTInt32LSB20, "ASIOSTInt32LSB20", 4, 20, 0, 0},
    {ASIOSTInt32LSB24, "ASIOSTInt32LSB24", 4, 24, 0, 0},
    {ASIOSTDSDInt8LSB1, "ASIOSTDSDInt8LSB1", 1, 0, 0, 0},
    {ASIOSTDSDInt8MSB1, "ASIOSTDSDInt8MSB1", 1, 0, 0, 0},
    {ASIOSTDSDInt8NER8, "ASIOSTDSDInt8NER8", 1, 0, 0, 0},
};

const TYPEDESC* FindType(ASIOSampleType type) {
  for (const TYPEDESC& d : kTypes) {
    if (d.type == type) return &d;
  }
  return nullptr;
}

const TYPEDESC* FindPcm(ASIOSampleType type) {
  const TYPEDESC* d = FindType(type);
  return (d && (d->bits || d->isFloat)) ? d : nullptr;
}

// Container bytes in little-endian order, whatever the type's byte order.
void StoreBytes(uint8_t* p, uint64_t v, int bytes, int bigEndian) {
  for (int i = 0; i < bytes; ++i) p[bigEndian ? bytes - 1 - i : i] = (uint8_t)(v >> (8 * i));
}

uint64_t LoadBytes(const uint8_t* p, int bytes, int bigEndian) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= (uint64_t)p[bigEndian ? bytes - 1 - i : i] << (8 * i);
  return v;
}

int64_t QuantiseInt(double x, int bits) {
  double scale = ldexp(1.0, bits - 1);
  double v = floor(x * scale + 0.5);
  if (!(v >= -scale)) v = -scale;  // also catches NaN
  if (v > scale - 1.0) v = scale - 1.0;
  return (int64_t)v;
}

// Sign-extends the low `bits` of a container; bits above are ignored, so a
// host that writes only the significant bytes still reads back correctly.
int64_t SignExtend(uint64_t v, int bits) {
  uint64_t mask = (bits >= 64) ? ~0ull : ((1ull << bits) - 1);
  v &= mask;
  uint64_t sign = 1ull << (bits - 1);
  return (int64_t)(v ^ sign) - (int64_t)sign;
}

double Saturate(double x) {
  if (!(x >= -1.0)) return -1.0;
  return x > 1.0 ? 1.0 : x;
}

uint32_t NextNoise(uint32_t* state) {
  uint32_t x = *state;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  *state = x;
  return x;
}

}  // namespace

int SIMSIGNAL_EqualsNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int ca = (unsigned char)*a, cb = (unsigned char)*b;
    if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
    if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
    if (ca != cb) return 0;
    if (!ca) return 1;
  }
}


int SIMSIGNAL_BytesPerSample(ASIOSampleType type) {
  const TYPEDESC* d = FindType(type);
  return d ? d->bytes : SIMSIGNAL_MAX_SAMPLE_BYTES;
}

int SIMSIGNAL_IsPcm(ASIOSampleType type) { return FindPcm(type) != nullptr; }

const char* SIMSIGNAL_TypeName(ASIOSampleType type) {
  const TYPEDESC* d = FindType(type);
  return d ? d->name : nullptr;
}

int SIMSIGNAL_TypeFromName(const char* name) {
  if (!name) return -1;
  for (const TYPEDESC& d : kTypes) {
    if (SIMSIGNAL_EqualsNoCase(d.name, name)) return d.type;
  }
  return -1;
}

void SIMSIGNAL_Encode(ASIOSampleType type, const double* in, void* out, int count) {
  const TYPEDESC* d = FindPcm(type);
  if (!d || !in || !out) return;
  uint8_t* p = (uint8_t*)out;
  if (d->isFloat && d->bytes == 4) {
    for (int i = 0; i < count; ++i, p += 4) {
      float f = (float)Saturate(in[i]);
      uint32_t u;
      memcpy(&u, &f, 4);
      StoreBytes(p, u, 4, d->bigEndian);
    }
  } else if (d->isFloat) {
    for (int i = 0; i < count; ++i, p += 8) {
      double f = Saturate(in[i]);
      uint64_t u;
      memcpy(&u, &f, 8);
      StoreBytes(p, u, 8, d->bigEndian);
    }
  } else {
    for (int i = 0; i < count; ++i, p += d->bytes) {
      StoreBytes(p, (uint64_t)QuantiseInt(in[i], d->bits), d->bytes, d->bigEndian);
    }
  }
}

int SIMSIGNAL_Decode(ASIOSampleType type, const void* in, double* out, int count) {
  const TYPEDESC* d = FindPcm(type);
  if (!out) return 0;
  if (!d || !in) {
    for (int i = 0; i < count; ++i) out[i] = 0.0;
    return 0;
  }
  const uint8_t* p = (const uint8_t*)in;
  if (d->isFloat && d->bytes == 4) {
    for (int i = 0; i < count; ++i, p += 4) {
      uint32_t u = (uint32_t)LoadBytes(p, 4, d->bigEndian);
      float f;
      memcpy(&f, &u, 4);
      out[i] = f;
    }
  } else if (d->isFloat) {
    for (int i = 0; i < count; ++i, p += 8) {
      uint64_t u = LoadBytes(p, 8, d->bigEndian);
      memcpy(&out[i], &u, 8);
    }
  } else {
    double scale = ldexp(1.0, -(d->bits - 1));
    for (int i = 0; i < count; ++i, p += d->bytes) {
      out[i] = (double)SignExtend(LoadBytes(p, d->bytes, d->bigEndian), d->bits) * scale;
    }
  }
  return 1;
}

double SIMSIGNAL_InputFrequency(int channel) {
  if (channel < 0) channel = 0;
  return 100.0 * (double)(channel % SIMSIGNAL_FREQUENCY_STEPS + 1);
}

double SIMSIGNAL_InputAmplitude(int channel) {
  if (channel < 0) channel = 0;
  if (channel > 300) channel = 300;
  return 0.5 - 0.001 * channel;
}

void SIMSIGNAL_InitInput(SIMSIGNAL_OSC* osc, int channel, double sampleRate) {
  // A rate the driver cannot clock still needs a harmless rotation.
  if (!(sampleRate >= 1000.0) || !(sampleRate < 1e7)) sampleRate = 48000.0;
  double w = 2.0 * kPi * SIMSIGNAL_InputFrequency(channel) / sampleRate;
  osc->fCos = 1.0;
  osc->fSin = 0.0;
  osc->fStepCos = cos(w);
  osc->fStepSin = sin(w);
  osc->fAmplitude = SIMSIGNAL_InputAmplitude(channel);
  osc->nNoise = 0x9E3779B9u ^ (uint32_t)(channel * 2654435761u);
  if (osc->nNoise == 0) osc->nNoise = 1;
}

void SIMSIGNAL_Generate(SIMSIGNAL_OSC* osc, double* out, int count) {
  double c = osc->fCos, s = osc->fSin;
  for (int i = 0; i < count; ++i) {
    double noise = ((double)NextNoise(&osc->nNoise) / 2147483648.0 - 1.0) * SIMSIGNAL_NOISE_AMPLITUDE;
    out[i] = osc->fAmplitude * s + noise;
    double nc = c * osc->fStepCos - s * osc->fStepSin;
    s = s * osc->fStepCos + c * osc->fStepSin;
    c = nc;
  }
  // Keep the phasor on the unit circle against rounding drift.
  double r = sqrt(c * c + s * s);
  if (r > 0.0) {
    c /= r;
    s /= r;
  }
  osc->fCos = c;
  osc->fSin = s;
}

void SIMSIGNAL_MeterReset(SIMSIGNAL_METER* meter) {
  memset(meter, 0, sizeof(*meter));
  meter->nFirstCrossing = -1;
  meter->nLastCrossing = -1;
}

void SIMSIGNAL_MeterAdd(SIMSIGNAL_METER* meter, const double* x, int count) {
  int silent = 1;
  double peak = meter->fPeak, sum = 0.0;
  for (int i = 0; i < count; ++i) {
    double v = x[i];
    double a = fabs(v);
    if (a > 1e-9) silent = 0;
    if (a > peak) peak = a;
    sum += v * v;
    if (v < -SIMSIGNAL_CROSSING_THRESHOLD) {
      meter->bBelow = 1;
    } else if (v > SIMSIGNAL_CROSSING_THRESHOLD && meter->bBelow) {
      meter->bBelow = 0;
      int64_t at = meter->nPosition + i;
      if (meter->nFirstCrossing < 0) meter->nFirstCrossing = at;
      meter->nLastCrossing = at;
      meter->nCrossings++;
    }
  }
  meter->nPosition += count;
  meter->nBuffers++;
  if (silent) {
    meter->nSilentBuffers++;
    return;
  }
  meter->fPeak = peak;
  meter->fSumSquares += sum;
  meter->nLevelSamples += count;
}

void SIMSIGNAL_MeterCompare(SIMSIGNAL_METER* meter, const double* out, const float* source, int count) {
  int silent = 1, match = 1;
  for (int i = 0; i < count; ++i) {
    if (fabs(out[i]) > 1e-9) silent = 0;
    if (!(fabs(out[i] - (double)source[i]) <= SIMSIGNAL_MATCH_TOLERANCE)) match = 0;
  }
  if (silent) return;  // start-up buffers of a host carry no data yet
  meter->nComparedBuffers++;
  if (match) meter->nMatchedBuffers++;
}

double SIMSIGNAL_MeterRms(const SIMSIGNAL_METER* meter) {
  return meter->nLevelSamples > 0 ? sqrt(meter->fSumSquares / (double)meter->nLevelSamples) : 0.0;
}

double SIMSIGNAL_MeterFrequency(const SIMSIGNAL_METER* meter, double sampleRate) {
  if (meter->nCrossings < 2 || meter->nLastCrossing <= meter->nFirstCrossing) return 0.0;
  return (double)(meter->nCrossings - 1) * sampleRate / (double)(meter->nLastCrossing - meter->nFirstCrossing);
}

int SIMSIGNAL_MeterPassThrough(const SIMSIGNAL_METER* meter) {
  return meter->nComparedBuffers > 0 && meter->nMatchedBuffers * 10 >= meter->nComparedBuffers * 9;
}
