#include "test/reports.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/appcontext.h"
#include "app/textline.h"
#include "app/txtbuffer.h"

namespace {

const char kSeparator59[] = "-----------------------------------------------------------";

struct SAMPLETYPENAME {
  int32_t nType;
  const char* szName;
};

const SAMPLETYPENAME kSampleTypeNames[] = {
    {ASIOSTInt16MSB, "ASIOSTInt16MSB"},       {ASIOSTInt24MSB, "ASIOSTInt24MSB"},
    {ASIOSTInt32MSB, "ASIOSTInt32MSB"},       {ASIOSTFloat32MSB, "ASIOSTFloat32MSB"},
    {ASIOSTFloat64MSB, "ASIOSTFloat64MSB"},   {ASIOSTInt32MSB16, "ASIOSTInt32MSB16"},
    {ASIOSTInt32MSB18, "ASIOSTInt32MSB18"},   {ASIOSTInt32MSB20, "ASIOSTInt32MSB20"},
    {ASIOSTInt32MSB24, "ASIOSTInt32MSB24"},   {ASIOSTInt16LSB, "ASIOSTInt16LSB"},
    {ASIOSTInt24LSB, "ASIOSTInt24LSB"},       {ASIOSTInt32LSB, "ASIOSTInt32LSB"},
    {ASIOSTFloat32LSB, "ASIOSTFloat32LSB"},   {ASIOSTFloat64LSB, "ASIOSTFloat64LSB"},
    {ASIOSTInt32LSB16, "ASIOSTInt32LSB16"},   {ASIOSTInt32LSB18, "ASIOSTInt32LSB18"},
    {ASIOSTInt32LSB20, "ASIOSTInt32LSB20"},   {ASIOSTInt32LSB24, "ASIOSTInt32LSB24"},
    {ASIOSTDSDInt8LSB1, "ASIOSTDSDInt8LSB1"}, {ASIOSTDSDInt8MSB1, "ASIOSTDSDInt8MSB1"},
    {ASIOSTDSDInt8NER8, "ASIOSTDSDInt8NER8"},
};

double Ratio(double numerator, double denominator) { return denominator != 0.0 ? numerator / denominator : 0.0; }

void LogDeviceLines(APPCONTEXT* context, const ASIOMAN_DEVICE* device) {
  int32_t rate = (int32_t)(uint32_t)device->nSampleRate;
  LogLine(context, "PREPARE DEVICE: sr:%i Hz / buffer: %i smp / in: %i / out: %i", rate,
          device->nBufferSize, device->nInputs, device->nOutputs);
  // A latency below zero or beyond ten seconds is the driver's lie, not a
  // figure to add up: its two figures are shown as given.
  int64_t limit = 10 * (int64_t)(uint32_t)device->nSampleRate;
  int32_t in = device->nInputLatency, out = device->nOutputLatency;
  if (in < 0 || out < 0 || in > limit || out > limit) {
    LogLine(context, "Latency: in:%i smp / buffer: %i smp / out: %i smp / total: out of range", in,
            device->nBufferSize, out);
  } else {
    double total = (double)in + device->nBufferSize + out;
    LogLine(context, "Latency: in:%i smp / buffer: %i smp / out: %i smp / total: %0.2f ms", in, device->nBufferSize,
            out, Ratio(total * 1000.0, (double)rate));
  }
  LogLine(context, "Must Call ASIOOutputReady(): %s", device->bOutputReady == 1 ? "YES" : "NO");
}

void LogBufferLine(APPCONTEXT* context, const ASIOMAN_DEVICE* device, int32_t m) {
  const ASIOChannelInfo* channel = &device->channelInfos[m];
  const char* typeName = ASIOSampleTypeName(channel->type);
  int nameLength = (int)BoundedLength(channel->name, sizeof(channel->name));
  LogLine(context, " ASIO Buffer %i / %s / type:%i /%s (%.*s)", m,
          device->bufferInfos[m].isInput ? "Input" : "Output", channel->type, typeName ? typeName : "",
          nameLength, channel->name);
}

void LogBufferLines(APPCONTEXT* context, const ASIOMAN_DEVICE* device) {
  char number[40];
  LogLine(context, "%s", kSeparator59);
  int32_t buffers = device->nInputs + device->nOutputs;
  if (buffers > ASIOMAN_MAX_BUFFERS) buffers = ASIOMAN_MAX_BUFFERS;
  for (int32_t m = 0; m < buffers; m++) LogBufferLine(context, device, m);
  LogLine(context, "%s", kSeparator59);
  LogLine(context, "                               Latency: %i smp", device->nBufferSize);
  LogLine(context, "                             I/O Limit: %i / in: %i / out: %i", context->nIOLimit,
          device->nInputs, device->nOutputs);

  const ASIOMAN_TIMING* timing = &device->timing;
  context->nPerfFrequency = (int64_t)timing->qpcFrequency;
  FormatGroupedInt64(context->nPerfFrequency, number, 0);
  LogLine(context, "          Performance Counter Frequency: %s", number);
  context->nPerfPerBuffer = (int64_t)timing->qpcPeriod;
  FormatGroupedInt64(context->nPerfPerBuffer, number, 0);
  LogLine(context, "     Performance Counter for one buffer: %s (%0.1f ms)", number,
          Ratio((double)device->nBufferSize * 1000.0, (double)(uint32_t)device->nSampleRate));
  FormatGroupedInt64(timing->qpcThreshold10, number, 0);
  LogLine(context, "            Performance Counter for 10%%: %s", number);
  LogLine(context, "%s", kSeparator59);
  LogOutputMode(context);
  LogLoadOptions(context);
}

}  // namespace

const char* ASIOSampleTypeName(int32_t type) {
  for (const SAMPLETYPENAME& entry : kSampleTypeNames)
    if (entry.nType == type) return entry.szName;
  return NULL;
}

size_t BoundedLength(const char* text, size_t max) {
  if (text == NULL) return 0;
  const void* end = memchr(text, 0, max);
  return end ? (size_t)((const char*)end - text) : max;
}

void LogLine(APPCONTEXT* context, const char* format, ...) {
  char line[ASIOMAN_REPORT_SIZE + 256];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  TXTBUFFER_AddLine(&context->log, line, "\r\n");
}

void LogPreparationReport(APPCONTEXT* context, const ASIOMAN_DEVICE* device, int part) {
  if (part == REPORT_DEVICE_LINES)
    LogDeviceLines(context, device);
  else if (part == REPORT_BUFFER_LINES)
    LogBufferLines(context, device);
}

// Built without the C library's formatting: this runs on the audio thread.
void LogIncident(APPCONTEXT* context, const HISTORYENTRY* entry) {
  char frame[FORMATGROUPED_SIZE], ticks[FORMATGROUPED_SIZE], text[256];
  int64_t t = entry->nProcTicks;
  FormatGroupedInt64(entry->nBuffer, frame, 9);
  FormatGroupedInt64(t, ticks, 0);
  TEXTLINE line;
  TEXTLINE_Init(&line, text, sizeof(text));
  TEXTLINE_Text(&line, "Incident on frame ");
  TEXTLINE_Text(&line, frame);
  TEXTLINE_Text(&line, " DSP PEAK: ");
  TEXTLINE_Fixed(&line, Ratio((double)t * 100.0, (double)(int64_t)context->nPerfPerBuffer), 0);
  TEXTLINE_Text(&line, " % - ");
  TEXTLINE_Fixed(&line, Ratio((double)t * 1000.0, (double)(int64_t)context->nPerfFrequency), 1);
  TEXTLINE_Text(&line, " ms  / ");
  TEXTLINE_Fixed(&line, (double)(float)entry->fMegacycles, 1);
  TEXTLINE_Text(&line, " megacycles (CPU TIME: ");
  TEXTLINE_Text(&line, ticks);
  TEXTLINE_Text(&line, ")");
  TXTBUFFER_AddLine(&context->log, text, "\r\n");
}

void LogDeviceEvent(APPCONTEXT* context, const char* event, const char* why, const ASIOMAN_DEVICE* device) {
  char text[ASIOMAN_REPORT_SIZE + 256];
  TEXTLINE line;
  TEXTLINE_Init(&line, text, sizeof(text));
  TEXTLINE_Text(&line, event);
  TEXTLINE_Text(&line, ": (");
  TEXTLINE_Text(&line, why);
  TEXTLINE_Text(&line, ") ");
  TEXTLINE_Chars(&line, device->report, sizeof(device->report));
  TXTBUFFER_AddLine(&context->log, text, "\r\n");
}

const char* DeviceEventReason(const ASIOMAN_EVENT* event) {
  if (event->nOrder == ASIOMAN_ORDER_STREAMERROR)
    return event->nReason == ASIOMAN_ERROR_CONVERSION ? "Data conversion missing" : "Re-entrance detected";
  if (event->nReason == ASIOMAN_REQUEST_RESET) return "kAsioResetRequest msg";
  if (event->nReason == ASIOMAN_REQUEST_RESYNC) return "kAsioResyncRequest msg";
  return "SampleRate Change";
}

void LogThreadPriority(APPCONTEXT* context, int32_t priority) {
  char text[64];
  TEXTLINE line;
  TEXTLINE_Init(&line, text, sizeof(text));
  TEXTLINE_Text(&line, "   INFO: callback thread priority: ");
  TEXTLINE_Int(&line, priority, 1);
  TXTBUFFER_AddLine(&context->log, text, "\r\n");
}

void LogOutputMode(APPCONTEXT* context) {
  // The table's peak is a tenth of full scale: -20 dB.
  if (context->fSineFrequency > 1.0f)
    LogLine(context, "GENERATE SINUS: %.0f Hz -20 dBfs", (double)(float)context->sine.fFrequency);
  else
    LogLine(context, "MODE PASS-THROUGH: all inputs -> all outputs");
}

void LogLoadOptions(APPCONTEXT* context) {
  int32_t cpu = context->nCpuFilters, fpu = context->nFpuFilters, single = context->nSingleCopies;
  int32_t patches = context->nPatches, bus = context->nBusCopies;
  if (cpu == 0 && fpu == 0 && single == 0 && patches == 0 && bus == 0)
    LogLine(context, "DSP LOAD: nothing");
  else
    LogLine(context, "DSP LOAD: CPU: %i / FPU: %i / SINGLECPY: %i / PATCH: %i / BUSCPY: %i", cpu * 128, fpu * 128,
            single * 128, patches * 128, bus * 128);
}
