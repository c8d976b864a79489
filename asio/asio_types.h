// The published ASIO data types, declared from the public description of the
// interface. Platform-free, so the sample conversion can use them natively.
#ifndef MB_ASIO_ASIO_TYPES_H
#define MB_ASIO_ASIO_TYPES_H

#include <stdint.h>

typedef int32_t ASIOBool;
typedef int32_t ASIOError;
typedef int32_t ASIOSampleType;
typedef double ASIOSampleRate;

enum { ASIOFalse = 0, ASIOTrue = 1 };

enum {
  ASE_OK = 0,
  ASE_SUCCESS = 0x3f4847a0,
  ASE_NotPresent = -1000,
  ASE_HWMalfunction = -999,
  ASE_InvalidParameter = -998,
  ASE_InvalidMode = -997,
  ASE_SPNotAdvancing = -996,
  ASE_NoClock = -995,
  ASE_NoMemory = -994
};

enum {
  ASIOSTInt16MSB = 0,
  ASIOSTInt24MSB = 1,
  ASIOSTInt32MSB = 2,
  ASIOSTFloat32MSB = 3,
  ASIOSTFloat64MSB = 4,
  ASIOSTInt32MSB16 = 8,
  ASIOSTInt32MSB18 = 9,
  ASIOSTInt32MSB20 = 10,
  ASIOSTInt32MSB24 = 11,
  ASIOSTInt16LSB = 16,
  ASIOSTInt24LSB = 17,
  ASIOSTInt32LSB = 18,
  ASIOSTFloat32LSB = 19,
  ASIOSTFloat64LSB = 20,
  ASIOSTInt32LSB16 = 24,
  ASIOSTInt32LSB18 = 25,
  ASIOSTInt32LSB20 = 26,
  ASIOSTInt32LSB24 = 27,
  ASIOSTDSDInt8LSB1 = 32,
  ASIOSTDSDInt8MSB1 = 33,
  ASIOSTDSDInt8NER8 = 40
};

// AsioTimeInfo.flags
enum {
  kSystemTimeValid = 1,
  kSamplePositionValid = 2,
  kSampleRateValid = 4,
  kSpeedValid = 8,
  kSampleRateChanged = 16,
  kClockSourceChanged = 32
};

// asioMessage selectors
enum {
  kAsioSelectorSupported = 1,
  kAsioEngineVersion = 2,
  kAsioResetRequest = 3,
  kAsioBufferSizeChange = 4,
  kAsioResyncRequest = 5,
  kAsioLatenciesChanged = 6,
  kAsioSupportsTimeInfo = 7,
  kAsioSupportsTimeCode = 8,
  kAsioMMCCommand = 9,
  kAsioSupportsInputMonitor = 10,
  kAsioSupportsInputGain = 11,
  kAsioSupportsInputMeter = 12,
  kAsioSupportsOutputGain = 13,
  kAsioSupportsOutputMeter = 14,
  kAsioOverload = 15
};

#pragma pack(push, 4)

// 64-bit values split in two halves, as drivers deliver them.
typedef struct ASIOSamples {
  uint32_t hi;
  uint32_t lo;
} ASIOSamples;

typedef struct ASIOTimeStamp {
  uint32_t hi;
  uint32_t lo;
} ASIOTimeStamp;

typedef struct ASIOBufferInfo {
  ASIOBool isInput;
  int32_t channelNum;
  void* buffers[2];
} ASIOBufferInfo;

typedef struct ASIOChannelInfo {
  int32_t channel;
  ASIOBool isInput;
  ASIOBool isActive;
  int32_t channelGroup;
  ASIOSampleType type;
  char name[32];
} ASIOChannelInfo;

typedef struct ASIOClockSource {
  int32_t index;
  int32_t associatedChannel;
  int32_t associatedGroup;
  ASIOBool isCurrentSource;
  char name[32];
} ASIOClockSource;

typedef struct AsioTimeInfo {
  double speed;
  ASIOTimeStamp systemTime;
  ASIOSamples samplePosition;
  ASIOSampleRate sampleRate;
  uint32_t flags;
  char reserved[12];
} AsioTimeInfo;

typedef struct ASIOTimeCode {
  double speed;
  ASIOSamples timeCodeSamples;
  uint32_t flags;
  char future[64];
} ASIOTimeCode;

typedef struct ASIOTime {
  int32_t reserved[4];
  AsioTimeInfo timeInfo;
  ASIOTimeCode timeCode;
} ASIOTime;

typedef struct ASIOCallbacks {
  void (*bufferSwitch)(int32_t doubleBufferIndex, ASIOBool directProcess);
  void (*sampleRateDidChange)(ASIOSampleRate sRate);
  int32_t (*asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
  ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, int32_t doubleBufferIndex, ASIOBool directProcess);
} ASIOCallbacks;

#pragma pack(pop)

static_assert(sizeof(ASIOSamples) == 8, "ASIOSamples layout");
static_assert(sizeof(ASIOTimeStamp) == 8, "ASIOTimeStamp layout");
static_assert(sizeof(ASIOBufferInfo) == 24, "ASIOBufferInfo layout");
static_assert(sizeof(ASIOChannelInfo) == 52, "ASIOChannelInfo layout");
static_assert(sizeof(ASIOClockSource) == 48, "ASIOClockSource layout");
static_assert(sizeof(AsioTimeInfo) == 48, "AsioTimeInfo layout");
static_assert(sizeof(ASIOTimeCode) == 84, "ASIOTimeCode layout");
static_assert(sizeof(ASIOTime) == 148, "ASIOTime layout");

// Joins the two halves of a driver's 64-bit value.
static inline int64_t ASIO_Join64(uint32_t hi, uint32_t lo) {
  return (int64_t)(((uint64_t)hi << 32) | (uint64_t)lo);
}

#endif  // MB_ASIO_ASIO_TYPES_H
