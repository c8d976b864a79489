// The processing callback's own cost per buffer, and the cost of one unit of
// each load. Run: processing_benchmark --benchmark_repetitions=3
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "app/appcontext.h"
#include "app/txtbuffer.h"
#include "test/loadgen.h"
#include "test/pagefaults.h"
#include "test/processing.h"
#include "test/sinegen.h"
#include "test/statistics.h"

namespace {

struct RUN {
  APPCONTEXT* context;
  std::unique_ptr<ASIOMAN_DEVICE> device;
  std::vector<int32_t> in, out;
};

void SetUpRun(RUN* run, int32_t channels, int32_t bufferSize, bool sine) {
  run->context = (APPCONTEXT*)calloc(1, sizeof(APPCONTEXT));
  APPCONTEXT* context = run->context;
  TXTBUFFER_Init(&context->log);
  STATISTICS_AllocHistory(context);
  context->nIOLimit = 512;
  context->fSineFrequency = sine ? 440.0f : 0.0f;
  run->device.reset(new ASIOMAN_DEVICE());
  ASIOMAN_DEVICE* device = run->device.get();
  device->nSampleRate = 48000;
  device->nBufferSize = bufferSize;
  device->nInputs = channels;
  device->nOutputs = channels;
  device->timing.qpcFrequency = 10000000;
  device->timing.qpcPeriod = (int64_t)bufferSize * 10000000 / 48000;
  device->timing.qpcThreshold80 = device->timing.qpcPeriod * 8 / 10;
  ProcessingCallback(context, device, ASIOMAN_ORDER_PREPAREDDEVICE, 0, 0);
  run->in.assign((size_t)channels * bufferSize, 1);
  run->out.assign((size_t)channels * bufferSize, 0);
}

void TearDownRun(RUN* run) {
  ProcessingCallback(run->context, run->device.get(), ASIOMAN_ORDER_CLOSINGDEVICE, 0, 0);
  STATISTICS_FreeHistory(run->context);
  TXTBUFFER_Free(&run->context->log);
  free(run->context);
}

// Arguments: channels in and out, buffer size, 1 for the sine, 0 for pass-through.
void BM_ProcessBuffer(benchmark::State& state) {
  RUN run;
  SetUpRun(&run, (int32_t)state.range(0), (int32_t)state.range(1), state.range(2) != 0);
  ASIOMAN_TIMING* timing = &run.device->timing;
  int64_t time = 1;
  for (auto _ : state) {
    time += timing->qpcPeriod;
    timing->qpcSwitchStart = time;
    ProcessingCallback(run.context, run.device.get(), ASIOMAN_ORDER_PROCESSBUFFER, (intptr_t)run.in.data(),
                       (intptr_t)run.out.data());
    benchmark::DoNotOptimize(run.out.data());
  }
  TearDownRun(&run);
}
BENCHMARK(BM_ProcessBuffer)->Args({2, 64, 1})->Args({2, 64, 0})->Args({64, 512, 1})->Args({64, 512, 0});

// The banks are 1 GiB; built once for every load benchmark.
APPCONTEXT* Banks() {
  static APPCONTEXT* context = nullptr;
  if (context == nullptr) {
    context = (APPCONTEXT*)calloc(1, sizeof(APPCONTEXT));
    LOADFILTER_BuildBank(context, LOADGEN_CPU);
    LOADFILTER_BuildBank(context, LOADGEN_FPU);
    context->nBufferSize = 256;
    LOADGEN_AllocCopyBlocks(context, 256);
  }
  return context;
}

enum { LOAD_CPU, LOAD_FPU, LOAD_SINGLE, LOAD_PATCH, LOAD_BUS };

// Arguments: the load, its amount in units of 128 at 256 samples a buffer.
void BM_Load(benchmark::State& state) {
  APPCONTEXT* context = Banks();
  Relaxed<int32_t>* amounts[] = {&context->nCpuFilters, &context->nFpuFilters, &context->nSingleCopies,
                                 &context->nPatches, &context->nBusCopies};
  for (Relaxed<int32_t>* amount : amounts) *amount = 0;
  int32_t units = (int32_t)state.range(1);
  *amounts[state.range(0)] = units;
  for (auto _ : state) RunLoadGenerators(context);
  *amounts[state.range(0)] = 0;
  state.SetItemsProcessed(state.iterations() * units);  // units per second: equal when linear
}
BENCHMARK(BM_Load)->ArgsProduct({{LOAD_CPU, LOAD_FPU, LOAD_SINGLE, LOAD_PATCH, LOAD_BUS}, {1, 32}});

// One pass of every load at its largest through the whole tables, on banks
// and copy blocks just built, as the first buffers of a program's first run
// meet them; page_faults counts what that pass took, and must be 0.
void BM_FirstPassOfEveryLoad(benchmark::State& state) {
  const int32_t n = 512;
  APPCONTEXT* context = (APPCONTEXT*)calloc(1, sizeof(APPCONTEXT));
  LOADFILTER_BuildBank(context, LOADGEN_CPU);
  LOADFILTER_BuildBank(context, LOADGEN_FPU);
  context->nBufferSize = n;
  LOADGEN_AllocCopyBlocks(context, n);
  Relaxed<int32_t>* amounts[] = {&context->nCpuFilters, &context->nFpuFilters, &context->nSingleCopies,
                                 &context->nPatches, &context->nBusCopies};
  for (Relaxed<int32_t>* amount : amounts) *amount = 32;
  long faults = 0;
  for (auto _ : state) {
    long before = PAGEFAULTS_OfThread();
    for (int32_t b = 0; b < LOADFILTER_TABLE_SAMPLES / (32 * n); b++) RunLoadGenerators(context);
    faults += PAGEFAULTS_OfThread() - before;
  }
  state.counters["page_faults"] = (double)faults;
  static char error[80];
  snprintf(error, sizeof error, "the first pass took %ld page faults", faults);
  if (faults != 0) state.SkipWithError(error);
  LOADGEN_FreeCopyBlocks(context);
  LOADFILTER_FreeBanks(context);
  free(context);
}
BENCHMARK(BM_FirstPassOfEveryLoad)->Iterations(1)->Unit(benchmark::kMillisecond);

// Two tables touched once, handed to every filter built below.
void* g_residentTables[2];
int g_nextTable;
void* ResidentTable(size_t bytes) { return g_residentTables[g_nextTable++ & 1]; }

// One filter built, integer (0) or float (1), on tables whose pages are
// already resident: the filling alone, which choosing a first amount adds
// 128 times to the first touch of 512 MiB.
void BM_BuildFilter(benchmark::State& state) {
  const size_t bytes = 4 * LOADFILTER_TABLE_SAMPLES;
  for (void*& table : g_residentTables) table = memset(malloc(bytes), 1, bytes);
  g_pfnLoadTableAlloc = ResidentTable;
  for (auto _ : state) {
    LOADFILTER<int32_t> cpu{};
    LOADFILTER<float> fpu{};
    if (state.range(0) == 0)
      LOADFILTER_InitInt(&cpu, 661.123f, 0.461804f);
    else
      LOADFILTER_InitFloat(&fpu, 661.123f, 0.461804f);
    benchmark::DoNotOptimize(cpu.pSourceStart);
    benchmark::DoNotOptimize(fpu.pSourceStart);
  }
  g_pfnLoadTableAlloc = malloc;
  for (void* table : g_residentTables) free(table);
}
BENCHMARK(BM_BuildFilter)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
