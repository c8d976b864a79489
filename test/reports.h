// The report lines of a test run: the preparation report, the incident line,
// the output-mode and load lines, and the lines that embed texts from the
// device manager or the driver. Platform-free.
#ifndef MB_TEST_REPORTS_H
#define MB_TEST_REPORTS_H

#include <stddef.h>
#include <stdint.h>

#include "asio/asioman_types.h"
#include "test/statistics.h"

struct APPCONTEXT;

// The published name of an ASIO sample type, or null when it has none.
const char* ASIOSampleTypeName(int32_t type);

// The preparation report comes in two parts around the building of the sine
// table: the device lines, then the buffer, limit and counter lines ending
// with the output-mode and load lines. The second part sets nPerfFrequency
// and nPerfPerBuffer.
enum { REPORT_DEVICE_LINES = 1, REPORT_BUFFER_LINES = 2 };
void LogPreparationReport(APPCONTEXT* context, const ASIOMAN_DEVICE* device, int part);

// The incident line for the history entry of the buffer just completed.
void LogIncident(APPCONTEXT* context, const HISTORYENTRY* entry);

// "<event>: (<why>) <the device's report>", for a driver's request or a
// stream error, and the callback thread's priority (the audio thread logs
// it: built without the C library's formatting, like the incident line).
void LogDeviceEvent(APPCONTEXT* context, const char* event, const char* why, const ASIOMAN_DEVICE* device);
// The "(why)" of a recorded request or stream error: "kAsioResetRequest msg",
// "Re-entrance detected" and the like.
const char* DeviceEventReason(const ASIOMAN_EVENT* event);
void LogThreadPriority(APPCONTEXT* context, int32_t priority);

void LogOutputMode(APPCONTEXT* context);
void LogLoadOptions(APPCONTEXT* context);

// Length of a text that a driver or another thread filled, at most max.
size_t BoundedLength(const char* text, size_t max);

// One log line of printf format; longer lines are cut at 4 351 characters.
void LogLine(APPCONTEXT* context, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

#endif  // MB_TEST_REPORTS_H
