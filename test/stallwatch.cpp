#include "test/stallwatch.h"

#include "app/appcontext.h"
#include "test/reports.h"

namespace {

double Seconds(int64_t ticks, int64_t frequency) { return frequency > 0 ? (double)ticks / (double)frequency : 0.0; }

void Measure(STALLWATCH* watch, int64_t until) {
  int64_t length = until - watch->qpcQuiet;
  if (length > watch->qpcLongest) watch->qpcLongest = length;
}

}  // namespace

void STALLWATCH_Start(APPCONTEXT* context, int64_t now) {
  STALLWATCH* watch = &context->stall;
  watch->qpcRunning = now;
  watch->qpcQuiet = 0;
  watch->nStalls = 0;
  watch->qpcLongest = 0;
}

void STALLWATCH_Tick(APPCONTEXT* context, int64_t now, int64_t lastSwitch) {
  STALLWATCH* watch = &context->stall;
  int64_t frequency = context->nPerfFrequency;
  int64_t quietSince = lastSwitch != 0 ? lastSwitch : watch->qpcRunning;
  if (watch->qpcQuiet != 0) {
    if (quietSince == watch->qpcQuiet) return;
    Measure(watch, quietSince);
    LogLine(context, "DRIVER STALL: buffers again after %0.1f s", Seconds(quietSince - watch->qpcQuiet, frequency));
    watch->qpcQuiet = 0;
    return;
  }
  int64_t bound = 4 * (int64_t)context->nPerfPerBuffer;
  if (bound < frequency) bound = frequency;
  if (frequency <= 0 || now - quietSince <= bound) return;
  watch->qpcQuiet = quietSince;
  watch->nStalls += 1;
  Measure(watch, now);
  LogLine(context, "DRIVER STALL: no buffer for %0.1f s", Seconds(now - quietSince, frequency));
}

void STALLWATCH_Stop(APPCONTEXT* context, int64_t now) {
  STALLWATCH* watch = &context->stall;
  if (watch->qpcQuiet != 0) Measure(watch, now);
  watch->qpcQuiet = 0;
}
