#include "test/testrun_fixture.h"

#include <stdlib.h>

#include "app/txtbuffer.h"

void TestRunFixture::SetUp() {
  // The record holds atomics; calloc gives the all-zero state that the
  // program's context has at creation.
  context = (APPCONTEXT*)calloc(1, sizeof(APPCONTEXT));
  TXTBUFFER_Init(&context->log);
  context->nIOLimit = 512;
  context->fSineFrequency = 440.0f;
  device.reset(new ASIOMAN_DEVICE());
}

void TestRunFixture::TearDown() {
  free(context->pHistory);
  free(context->sine.pTable);
  free(context->pCopySource);
  free(context->pCopyTarget);
  free(context->pLoadDistribution);
  free(context->pIntervalDistribution);
  TXTBUFFER_Free(&context->log);
  free(context);
}

std::vector<std::string> TestRunFixture::LogLines() const {
  std::vector<std::string> lines;
  if (context->log.pText == nullptr) return lines;
  std::string text(context->log.pText, context->log.nUsed);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n#", start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.resize(line.size() - 2);
    size_t blank = line.find(' ');
    lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

std::string TestRunFixture::LastLogLine() const {
  std::vector<std::string> lines = LogLines();
  return lines.empty() ? std::string() : lines.back();
}

void TestRunFixture::SetTiming(ASIOMAN_TIMING* timing, int32_t rate, int32_t bufferSize, int64_t frequency) {
  memset((void*)timing, 0, sizeof(*timing));
  timing->qpcFrequency = frequency;
  timing->qpcProcessMin = frequency;
  timing->fMegaCyclesMin = 10000.0f;
  timing->qpcPeriod = bufferSize * frequency / rate;
  const double fractions[5] = {1.0, 0.8, 0.5, 0.2, 0.1};
  Relaxed<int64_t>* thresholds[5] = {&timing->qpcThreshold100, &timing->qpcThreshold80, &timing->qpcThreshold50,
                                     &timing->qpcThreshold20, &timing->qpcThreshold10};
  for (int i = 0; i < 5; i++) *thresholds[i] = (int64_t)((double)frequency * fractions[i] * bufferSize / rate);
}

void TestRunFixture::SetDevice(int32_t rate, int32_t bufferSize, int32_t inputs, int32_t outputs) {
  device->nSampleRate = (uint32_t)rate;
  device->nBufferSize = bufferSize;
  device->nInputs = inputs;
  device->nOutputs = outputs;
  for (int32_t m = 0; m < inputs + outputs; m++) {
    bool input = m < inputs;
    device->bufferInfos[m].isInput = input ? 1 : 0;
    device->bufferInfos[m].channelNum = input ? m : m - inputs;
    device->channelInfos[m].channel = device->bufferInfos[m].channelNum;
    device->channelInfos[m].isInput = device->bufferInfos[m].isInput;
    device->channelInfos[m].type = ASIOSTInt32LSB;
    snprintf(device->channelInfos[m].name, sizeof(device->channelInfos[m].name), "%s %d", input ? "In" : "Out",
             (int)device->channelInfos[m].channel + 1);
  }
  SetTiming(&device->timing, rate, bufferSize);
}
