// The manager's per-switch work without the driver and the client: every
// input converted into the internal block, every output block converted back,
// and the statistics step. Each case has a memcpy twin that moves the same
// driver-side bytes (each input half-buffer into a block, each block into an
// output half-buffer), so the two can be compared within one run.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "asio/asioswitch.h"

namespace {

size_t SampleBytes(ASIOSampleType type) {
  switch (type) {
    case ASIOSTInt16LSB:
      return 2;
    case ASIOSTInt24LSB:
      return 3;
    default:
      return 4;
  }
}

struct SwitchFixture {
  std::unique_ptr<ASIOMAN_DEVICE> device;
  std::vector<std::vector<uint8_t>> driver;  // two halves per channel
  std::vector<int32_t> inputBlock, outputBlock;
  size_t nDriverBytes;

  SwitchFixture(ASIOSampleType type, int32_t nChannels, int32_t nBufferSize) : device(new ASIOMAN_DEVICE()) {
    ASIOMAN_DEVICE* d = device.get();
    d->nInputs = d->nOutputs = nChannels;
    d->nBufferSize = nBufferSize;
    nDriverBytes = (size_t)nBufferSize * SampleBytes(type);
    driver.assign((size_t)nChannels * 4, std::vector<uint8_t>(nDriverBytes, 0));
    // Driver buffers hold a plausible signal in the driver's own type (random
    // bytes would make float inputs denormal or NaN and time the FPU's slow paths).
    std::vector<int32_t> signal((size_t)nBufferSize);
    for (size_t k = 0; k < signal.size(); k++) signal[k] = (int32_t)((k * 2654435761u) % 16777215u) - 8388607;
    for (int32_t i = 0; i < 2 * nChannels; i++) {
      ASIOMAN_GetOutputConversion(type)(driver[2 * i].data(), signal.data(), signal.size());
      ASIOMAN_GetOutputConversion(type)(driver[2 * i + 1].data(), signal.data(), signal.size());
      d->bufferInfos[i].isInput = i < nChannels;
      d->bufferInfos[i].buffers[0] = driver[2 * i].data();
      d->bufferInfos[i].buffers[1] = driver[2 * i + 1].data();
      d->channelInfos[i].type = type;
    }
    inputBlock.assign((size_t)nChannels * nBufferSize, 0);
    outputBlock.assign((size_t)nChannels * nBufferSize, 1000);
    d->pInputBlock = inputBlock.data();
    d->pOutputBlock = outputBlock.data();
    d->timing.qpcRelaxStep = 1;
    d->timing.qpcProcessMin = 10000000;
    d->timing.qpcThreshold50 = 500;
    d->timing.qpcThreshold80 = 800;
    d->timing.qpcThreshold100 = 1000;
    ASIOMAN_PrepareConversions(d);
  }
};

void RunSwitch(benchmark::State& state, SwitchFixture& f) {
  int32_t half = 0;
  int64_t qpc = 0;
  for (auto _ : state) {
    int32_t nError = ASIOMAN_ConvertChannels(f.device.get(), half);
    ASIOMAN_UpdateStatistics(&f.device->timing, 400 + (qpc & 255), (uint64_t)qpc * 1000);
    benchmark::DoNotOptimize(nError);
    benchmark::ClobberMemory();
    half ^= 1;
    qpc++;
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)(f.nDriverBytes * 2 * state.range(0)));
}

void BM_Switch(benchmark::State& state, ASIOSampleType type) {
  SwitchFixture f(type, (int32_t)state.range(0), (int32_t)state.range(1));
  RunSwitch(state, f);
}

void UseLoops(SwitchFixture& f, ASIOMAN_CONVERTRUNFN pfnInput, ASIOMAN_CONVERTRUNFN pfnOutput) {
  ASIOMAN_DEVICE* d = f.device.get();
  for (int32_t r = 0; r < d->nInputRuns + d->nOutputRuns; r++)
    d->conversionRuns[r].pfnConvert = r < d->nInputRuns ? pfnInput : pfnOutput;
}

// The same switch through the x86-64 baseline loops, which run where the CPU lacks AVX2.
void BM_SwitchBaselineLoops(benchmark::State& state, ASIOSampleType type) {
  SwitchFixture f(type, (int32_t)state.range(0), (int32_t)state.range(1));
  UseLoops(f, ASIOMAN_GetInputRunOf(ASIOMAN_LOOPS_BASELINE, type), ASIOMAN_GetOutputRunOf(ASIOMAN_LOOPS_BASELINE, type));
  RunSwitch(state, f);
}

// The switch's fixed cost: the statistics step and one call per run of
// channels to loops that convert nothing (those of a DSD type).
void BM_SwitchFixedCost(benchmark::State& state, ASIOSampleType type) {
  SwitchFixture f(type, (int32_t)state.range(0), (int32_t)state.range(1));
  UseLoops(f, ASIOMAN_GetInputRun(ASIOSTDSDInt8LSB1), ASIOMAN_GetOutputRun(ASIOSTDSDInt8LSB1));
  RunSwitch(state, f);
}

// Float inputs of random bit patterns (NaN, infinities, denormals, huge and
// tiny values): the float input loops' path for any input, on every vector.
void BM_SwitchRandomFloatInputs(benchmark::State& state) {
  SwitchFixture f(ASIOSTFloat32LSB, (int32_t)state.range(0), (int32_t)state.range(1));
  uint32_t u = 12345;
  for (int32_t i = 0; i < 2 * f.device->nInputs; i++)
    for (size_t k = 0; k + 4 <= f.nDriverBytes; k += 4) {
      u = u * 1664525u + 1013904223u;
      memcpy(f.driver[i].data() + k, &u, 4);
    }
  RunSwitch(state, f);
}

void BM_Memcpy(benchmark::State& state, ASIOSampleType type) {
  SwitchFixture f(type, (int32_t)state.range(0), (int32_t)state.range(1));
  int32_t nChannels = (int32_t)state.range(0);
  size_t nBufferSize = (size_t)state.range(1);
  int32_t half = 0;
  for (auto _ : state) {
    ASIOMAN_DEVICE* d = f.device.get();
    for (int32_t i = 0; i < nChannels; i++)
      memcpy(f.inputBlock.data() + i * nBufferSize, d->bufferInfos[i].buffers[half], f.nDriverBytes);
    for (int32_t j = 0; j < nChannels; j++)
      memcpy(d->bufferInfos[nChannels + j].buffers[half], f.outputBlock.data() + j * nBufferSize, f.nDriverBytes);
    benchmark::ClobberMemory();
    half ^= 1;
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)(f.nDriverBytes * 2 * nChannels));
}

void Shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"ch", "n"});
  b->Args({2, 64});
  b->Args({8, 256});
  b->Args({64, 512});
  b->Args({256, 1024});
}

#define MB_SWITCH_BENCHMARKS(type)                                 \
  BENCHMARK_CAPTURE(BM_Switch, type, type)->Apply(Shapes);         \
  BENCHMARK_CAPTURE(BM_Memcpy, type, type)->Apply(Shapes);

MB_SWITCH_BENCHMARKS(ASIOSTInt16LSB)
MB_SWITCH_BENCHMARKS(ASIOSTInt24LSB)
MB_SWITCH_BENCHMARKS(ASIOSTInt32LSB)
MB_SWITCH_BENCHMARKS(ASIOSTFloat32LSB)
MB_SWITCH_BENCHMARKS(ASIOSTInt32LSB24)
BENCHMARK_CAPTURE(BM_SwitchBaselineLoops, ASIOSTFloat32LSB, ASIOSTFloat32LSB)->Apply(Shapes);
BENCHMARK_CAPTURE(BM_SwitchFixedCost, ASIOSTFloat32LSB, ASIOSTFloat32LSB)->Apply(Shapes);
BENCHMARK(BM_SwitchRandomFloatInputs)->Apply(Shapes);

}  // namespace

BENCHMARK_MAIN();
