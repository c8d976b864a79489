#include "simdriver/simprofile.h"

#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "asio/asio_types.h"
#include "simdriver/simsignal.h"

namespace {

enum KIND { K_INT, K_UINT, K_DOUBLE, K_TEXT, K_PATH, K_TYPE, K_CALL, K_RATES };

struct SETTING {
  const char* name;
  KIND kind;
  size_t offset;
  int64_t min, max;  // integer range; values outside are clamped
};

#define F(field) offsetof(SIMPROFILE, field)
const int64_t kBig = 0x7FFFFFFF;

const SETTING kSettings[] = {
    {"DriverName", K_TEXT, F(szDriverName), 0, 0},
    {"DriverVersion", K_INT, F(nDriverVersion), -kBig, kBig},
    {"Inputs", K_INT, F(nInputs), 0, SIMPROFILE_MAX_CHANNELS},
    {"Outputs", K_INT, F(nOutputs), 0, SIMPROFILE_MAX_CHANNELS},
    {"InputType", K_TYPE, F(nInputType), 0, 0},
    {"OutputType", K_TYPE, F(nOutputType), 0, 0},
    {"InputName", K_TEXT, F(szInputName), 0, 0},
    {"OutputName", K_TEXT, F(szOutputName), 0, 0},
    {"SampleRate", K_DOUBLE, F(fSampleRate), 0, 0},
    {"SampleRates", K_RATES, F(fOtherRates), 0, 0},
    {"MinBufferSize", K_INT, F(nMinBufferSize), -kBig, kBig},
    {"MaxBufferSize", K_INT, F(nMaxBufferSize), -kBig, kBig},
    {"PreferredBufferSize", K_INT, F(nPreferredBufferSize), -kBig, kBig},
    {"Granularity", K_INT, F(nGranularity), -kBig, kBig},
    {"InputLatency", K_INT, F(nInputLatency), -kBig, kBig},
    {"OutputLatency", K_INT, F(nOutputLatency), -kBig, kBig},
    {"OutputReady", K_INT, F(bOutputReady), 0, 1},
    {"TimeInfo", K_INT, F(bTimeInfo), 0, 1},
    {"TimeInfoFlags", K_UINT, F(nTimeInfoFlags), 0, 0xFFFFFFFF},
    {"ThreadPriority", K_INT, F(nThreadPriority), -15, 15},
    {"ReportFile", K_PATH, F(szReportFile), 0, 0},
    {"JitterUs", K_INT, F(nJitterUs), 0, 1000000},
    {"StallUs", K_INT, F(nStallUs), 0, 10000000},
    {"StallEvery", K_INT, F(nStallEvery), 0, kBig},
    {"ResetAfter", K_INT, F(nResetAfter), 0, kBig},
    {"ResyncAfter", K_INT, F(nResyncAfter), 0, kBig},
    {"RateChangeAfter", K_INT, F(nRateChangeAfter), 0, kBig},
    {"RateChangeTo", K_DOUBLE, F(fRateChangeTo), 0, 0},
    {"ReentranceAfter", K_INT, F(nReentranceAfter), 0, kBig},
    {"FailCall", K_CALL, F(nFailCall), 0, 0},
    {"FailOccurrence", K_INT, F(nFailOccurrence), 1, kBig},
    {"LongNames", K_INT, F(bLongNames), 0, 1},
    {"NullBuffer", K_INT, F(bNullBuffer), 0, 1},
    {"StopNoWait", K_INT, F(bStopNoWait), 0, 1},
    {"ControlNames", K_INT, F(bControlNames), 0, 1},
    {"LateCalls", K_INT, F(nLateCalls), 0, 1000},
    {"BlockUs", K_INT, F(nBlockUs), 0, 60000000},
    {"BlockAt", K_INT, F(nBlockAt), 0, kBig},
    {"ResetInStop", K_INT, F(bResetInStop), 0, 1},
    {"ResetInOutputReady", K_INT, F(nResetInOutputReady), 0, kBig},
    {"SwitchesInStart", K_INT, F(nSwitchesInStart), 0, 1000},
    {"Seed", K_UINT, F(nSeed), 0, 0xFFFFFFFF},
};
#undef F

const char* const kCallNames[SIMCALL_COUNT] = {
    nullptr, "init", "getChannels", "getBufferSize", "getSampleRate", "createBuffers", "getChannelInfo",
    "getLatencies", "start"};

void CopyText(char* dst, size_t size, const char* src) {
  size_t n = strlen(src);
  if (n >= size) n = size - 1;
  memcpy(dst, src, n);
  dst[n] = 0;
}

// Whole text must be a number; leading and trailing blanks allowed.
int ParseInteger(const char* text, int64_t* out) {
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(text, &end, 0);
  if (end == text || errno == ERANGE) return 0;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end) return 0;
  *out = v;
  return 1;
}

// strtod accepts "nan", "inf" and negatives, which profiles use on purpose.
int ParseDouble(const char* text, double* out) {
  char* end = nullptr;
  double v = strtod(text, &end);
  if (end == text) return 0;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end) return 0;
  *out = v;
  return 1;
}

int SetInteger(const SETTING& s, SIMPROFILE* profile, const char* text) {
  int64_t v;
  if (!ParseInteger(text, &v)) return -1;
  // A DWORD registry value arrives as signed text; flags and seeds take all 32 bits.
  if (s.kind == K_UINT && v < 0 && v >= -0x80000000LL) v += 0x100000000LL;
  if (v < s.min) v = s.min;
  if (v > s.max) v = s.max;
  char* field = (char*)profile + s.offset;
  if (s.kind == K_UINT) {
    uint32_t u = (uint32_t)v;
    memcpy(field, &u, sizeof(u));
  } else {
    int32_t i = (int32_t)v;
    memcpy(field, &i, sizeof(i));
  }
  return 1;
}

int SetRates(SIMPROFILE* profile, const char* text) {
  double rates[SIMPROFILE_MAX_RATES];
  int count = 0;
  char item[64];
  const char* p = text;
  while (*p) {
    const char* comma = strchr(p, ',');
    size_t n = comma ? (size_t)(comma - p) : strlen(p);
    if (n >= sizeof(item)) return -1;
    memcpy(item, p, n);
    item[n] = 0;
    if (count == SIMPROFILE_MAX_RATES || !ParseDouble(item, &rates[count])) return -1;
    ++count;
    p += n;
    if (*p == ',') ++p;
  }
  memcpy(profile->fOtherRates, rates, sizeof(double) * (size_t)count);
  profile->nOtherRates = count;
  return 1;
}

}  // namespace

const char* const SIMPROFILE_SettingNames[] = {
    "DriverName", "DriverVersion", "Inputs", "Outputs", "InputType", "OutputType", "InputName",
    "OutputName", "SampleRate", "SampleRates", "MinBufferSize", "MaxBufferSize", "PreferredBufferSize",
    "Granularity", "InputLatency", "OutputLatency", "OutputReady", "TimeInfo", "TimeInfoFlags",
    "ThreadPriority", "ReportFile", "JitterUs", "StallUs", "StallEvery", "ResetAfter", "ResyncAfter",
    "RateChangeAfter", "RateChangeTo", "ReentranceAfter", "FailCall", "FailOccurrence", "LongNames",
    "NullBuffer", "StopNoWait", "ControlNames", "LateCalls", "BlockUs", "BlockAt", "ResetInStop",
    "ResetInOutputReady", "SwitchesInStart", "Seed", nullptr};

void SIMPROFILE_Defaults(SIMPROFILE* profile, const char* keyName) {
  memset(profile, 0, sizeof(*profile));
  CopyText(profile->szDriverName, sizeof(profile->szDriverName), keyName ? keyName : "MBSim");
  profile->nDriverVersion = 1;
  profile->nInputs = 2;
  profile->nOutputs = 2;
  profile->nInputType = ASIOSTInt32LSB;
  profile->nOutputType = ASIOSTInt32LSB;
  CopyText(profile->szInputName, sizeof(profile->szInputName), "Input");
  CopyText(profile->szOutputName, sizeof(profile->szOutputName), "Output");
  profile->fSampleRate = 48000.0;
  profile->nMinBufferSize = 32;
  profile->nMaxBufferSize = 4096;
  profile->nPreferredBufferSize = 256;
  profile->nGranularity = 32;
  profile->nInputLatency = -1;
  profile->nOutputLatency = -1;
  profile->bOutputReady = 1;
  profile->bTimeInfo = 1;
  profile->nTimeInfoFlags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
  profile->nThreadPriority = 2;  // THREAD_PRIORITY_HIGHEST: a host may raise it further
  profile->fRateChangeTo = 44100.0;
  profile->nFailOccurrence = 1;
  profile->nSeed = 12345;
}

int SIMPROFILE_Set(SIMPROFILE* profile, const char* name, const char* text) {
  if (!profile || !name || !text) return 0;
  for (const SETTING& s : kSettings) {
    if (!SIMSIGNAL_EqualsNoCase(s.name, name)) continue;
    char* field = (char*)profile + s.offset;
    switch (s.kind) {
      case K_INT:
      case K_UINT:
        return SetInteger(s, profile, text);
      case K_DOUBLE: {
        double v;
        if (!ParseDouble(text, &v)) return -1;
        memcpy(field, &v, sizeof(v));
        return 1;
      }
      case K_TEXT:
        CopyText(field, SIMPROFILE_TEXT_SIZE, text);
        return 1;
      case K_PATH:
        CopyText(field, SIMPROFILE_PATH_SIZE, text);
        return 1;
      case K_TYPE: {
        int64_t v;
        int type = SIMSIGNAL_TypeFromName(text);
        if (type < 0) {
          if (!ParseInteger(text, &v) || v < -kBig - 1 || v > kBig) return -1;
          type = (int)v;  // any value, unknown ones included
        }
        int32_t t = type;
        memcpy(field, &t, sizeof(t));
        return 1;
      }
      case K_CALL: {
        for (int call = SIMCALL_NONE + 1; call < SIMCALL_COUNT; ++call) {
          if (SIMSIGNAL_EqualsNoCase(kCallNames[call], text)) {
            profile->nFailCall = call;
            return 1;
          }
        }
        if (text[0] == 0 || SIMSIGNAL_EqualsNoCase(text, "none")) {
          profile->nFailCall = SIMCALL_NONE;
          return 1;
        }
        return -1;
      }
      case K_RATES:
        return SetRates(profile, text);
    }
  }
  return 0;
}

const char* SIMPROFILE_CallName(int call) {
  return (call > SIMCALL_NONE && call < SIMCALL_COUNT) ? kCallNames[call] : nullptr;
}

int SIMPROFILE_BufferSizeValid(const SIMPROFILE* profile, int32_t size) {
  if (size < 1 || size < profile->nMinBufferSize || size > profile->nMaxBufferSize) return 0;
  if (profile->nGranularity == -1) return (size & (size - 1)) == 0;
  if (profile->nGranularity > 0) return ((int64_t)size - profile->nMinBufferSize) % profile->nGranularity == 0;
  return size == profile->nPreferredBufferSize;  // granularity 0: one fixed size
}
