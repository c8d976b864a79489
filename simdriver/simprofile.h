// A profile of the simulated driver: every setting with its default, set by
// name from the text of a registry value. Platform-free.
#ifndef MB_SIMDRIVER_SIMPROFILE_H
#define MB_SIMDRIVER_SIMPROFILE_H

#include <stdint.h>

enum {
  SIMPROFILE_TEXT_SIZE = 64,
  SIMPROFILE_PATH_SIZE = 260,
  SIMPROFILE_MAX_CHANNELS = 300,
  SIMPROFILE_MAX_RATES = 8
};

// Calls whose failure can be requested, counted per driver object.
enum {
  SIMCALL_NONE = 0,
  SIMCALL_INIT,
  SIMCALL_GETCHANNELS,
  SIMCALL_GETBUFFERSIZE,
  SIMCALL_GETSAMPLERATE,
  SIMCALL_CREATEBUFFERS,
  SIMCALL_GETCHANNELINFO,
  SIMCALL_GETLATENCIES,
  SIMCALL_START,
  SIMCALL_COUNT
};

typedef struct SIMPROFILE {
  char szDriverName[SIMPROFILE_TEXT_SIZE];
  int32_t nDriverVersion;
  int32_t nInputs, nOutputs;
  int32_t nInputType, nOutputType;
  char szInputName[SIMPROFILE_TEXT_SIZE];  // channel n is "<name> <n+1>"
  char szOutputName[SIMPROFILE_TEXT_SIZE];
  double fSampleRate;
  double fOtherRates[SIMPROFILE_MAX_RATES];  // further rates it can be set to
  int32_t nOtherRates;
  int32_t nMinBufferSize, nMaxBufferSize, nPreferredBufferSize, nGranularity;
  int32_t nInputLatency, nOutputLatency;  // -1: derived from the buffer size
  int32_t bOutputReady;
  int32_t bTimeInfo;  // 1: bufferSwitchTimeInfo, 0: bufferSwitch
  uint32_t nTimeInfoFlags;
  int32_t nThreadPriority;
  char szReportFile[SIMPROFILE_PATH_SIZE];
  // Faults
  int32_t nJitterUs;
  int32_t nStallUs, nStallEvery;
  int32_t nResetAfter, nResyncAfter, nRateChangeAfter;
  double fRateChangeTo;
  int32_t nReentranceAfter;
  int32_t nFailCall, nFailOccurrence;
  int32_t bLongNames, bNullBuffer, bStopNoWait;
  int32_t bControlNames;        // channel names carry line and terminal control bytes
  int32_t nLateCalls;           // switches from the driver's own thread after stop
  int32_t nBlockUs, nBlockAt;   // outputReady blocks in switch nBlockAt (from 1)
  int32_t bResetInStop;         // stop asks the host for a reset before it returns
  int32_t nResetInOutputReady;  // outputReady asks for a reset in this switch (from 1)
  int32_t nSwitchesInStart;     // switches start makes itself before it returns
  uint32_t nSeed;
} SIMPROFILE;

// Defaults; the driver name defaults to the profile's key name.
void SIMPROFILE_Defaults(SIMPROFILE* profile, const char* keyName);
// Sets one setting from text (numbers in decimal or 0x hex; types by number
// or published name; FailCall by call name). Returns 1 when set, 0 for a name
// that is not a setting (CLSID and Description among them), -1 for a value
// that does not parse (the setting keeps its value).
int SIMPROFILE_Set(SIMPROFILE* profile, const char* name, const char* text);
// "init", "getChannels", ...; null for SIMCALL_NONE or out of range.
const char* SIMPROFILE_CallName(int call);
// 1 when `size` is a buffer size the profile accepts in createBuffers.
int SIMPROFILE_BufferSizeValid(const SIMPROFILE* profile, int32_t size);
// The names of all settings, null-terminated, for the tool's help text.
extern const char* const SIMPROFILE_SettingNames[];

#endif  // MB_SIMDRIVER_SIMPROFILE_H
