// The IASIO COM interface: the slots after IUnknown in their published order.
// Hosts create the driver with its CLSID as the interface identifier.
#ifndef MB_ASIO_ASIO_INTERFACE_H
#define MB_ASIO_ASIO_INTERFACE_H

#include <windows.h>
#include <unknwn.h>

#include "asio/asio_types.h"

struct IASIO : public IUnknown {
  virtual ASIOBool STDMETHODCALLTYPE init(void* sysHandle) = 0;
  virtual void STDMETHODCALLTYPE getDriverName(char* name) = 0;  // 32 bytes
  virtual int32_t STDMETHODCALLTYPE getDriverVersion() = 0;
  virtual void STDMETHODCALLTYPE getErrorMessage(char* string) = 0;  // 124 bytes
  virtual ASIOError STDMETHODCALLTYPE start() = 0;
  virtual ASIOError STDMETHODCALLTYPE stop() = 0;
  virtual ASIOError STDMETHODCALLTYPE getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) = 0;
  virtual ASIOError STDMETHODCALLTYPE getLatencies(int32_t* inputLatency, int32_t* outputLatency) = 0;
  virtual ASIOError STDMETHODCALLTYPE getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                                    int32_t* granularity) = 0;
  virtual ASIOError STDMETHODCALLTYPE canSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError STDMETHODCALLTYPE getSampleRate(ASIOSampleRate* sampleRate) = 0;
  virtual ASIOError STDMETHODCALLTYPE setSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError STDMETHODCALLTYPE getClockSources(ASIOClockSource* clocks, int32_t* numSources) = 0;
  virtual ASIOError STDMETHODCALLTYPE setClockSource(int32_t reference) = 0;
  virtual ASIOError STDMETHODCALLTYPE getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
  virtual ASIOError STDMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) = 0;
  virtual ASIOError STDMETHODCALLTYPE createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                                    int32_t bufferSize, ASIOCallbacks* callbacks) = 0;
  virtual ASIOError STDMETHODCALLTYPE disposeBuffers() = 0;
  virtual ASIOError STDMETHODCALLTYPE controlPanel() = 0;
  virtual ASIOError STDMETHODCALLTYPE future(int32_t selector, void* opt) = 0;
  virtual ASIOError STDMETHODCALLTYPE outputReady() = 0;
};

enum { ASIO_DRIVERNAME_SIZE = 32, ASIO_ERRORMESSAGE_SIZE = 124 };

#endif  // MB_ASIO_ASIO_INTERFACE_H
