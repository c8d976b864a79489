// The incident line's numbers built by TEXTLINE beside the same text from
// snprintf, in one run. Run: scripts/bench textline_benchmark
#include <benchmark/benchmark.h>
#include <stdio.h>

#include "app/textline.h"

namespace {

// Values an overloaded buffer gives: percent, milliseconds, megacycles.
const double kValues[][3] = {{85.0, 8.5, 25.5}, {123.456, 1.0005, 0.25}, {99.95, 10.66666, 1834.4}};

void BM_IncidentNumbersTextLine(benchmark::State& state) {
  char text[256];
  size_t i = 0;
  for (auto _ : state) {
    const double* v = kValues[i++ % 3];
    TEXTLINE line;
    TEXTLINE_Init(&line, text, sizeof(text));
    TEXTLINE_Fixed(&line, v[0], 0);
    TEXTLINE_Text(&line, " % - ");
    TEXTLINE_Fixed(&line, v[1], 1);
    TEXTLINE_Text(&line, " ms  / ");
    TEXTLINE_Fixed(&line, v[2], 1);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_IncidentNumbersTextLine);

void BM_IncidentNumbersSnprintf(benchmark::State& state) {
  char text[256];
  size_t i = 0;
  for (auto _ : state) {
    const double* v = kValues[i++ % 3];
    snprintf(text, sizeof(text), "%0.0f %% - %0.1f ms  / %0.1f", v[0], v[1], v[2]);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_IncidentNumbersSnprintf);

void BM_LinePrefixTextLine(benchmark::State& state) {
  char text[16];
  int32_t n = 0;
  for (auto _ : state) {
    TEXTLINE line;
    TEXTLINE_Init(&line, text, sizeof(text));
    TEXTLINE_Text(&line, "#");
    TEXTLINE_Int(&line, ++n & 0xfffff, 4);
    TEXTLINE_Text(&line, " ");
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_LinePrefixTextLine);

void BM_LinePrefixSnprintf(benchmark::State& state) {
  char text[16];
  int32_t n = 0;
  for (auto _ : state) {
    snprintf(text, sizeof(text), "#%04i ", (int)(++n & 0xfffff));
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_LinePrefixSnprintf);

}  // namespace

BENCHMARK_MAIN();
