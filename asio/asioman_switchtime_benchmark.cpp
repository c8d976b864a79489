// Times the whole buffer switch under the simulated driver: for each sample
// type and channel/buffer shape it streams a profile, reads the manager's own
// cycle count of every switch (entry to the client's return: conversions,
// outputReady and the order) and prints its median beside the median of a
// memcpy of the same driver-side bytes in the same run.
//
//   wine-run.sh asio/asioman_switchtime_benchmark.exe [switches per shape]
#include <intrin.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "asio/asioman.h"
#include "simdriver/simreg.h"

namespace {

struct SHAPE {
  int nChannels;
  int nBufferSize;
};

struct TYPE {
  const char* szName;
  int nBytes;
};

const SHAPE kShapes[] = {{2, 64}, {8, 256}, {64, 512}, {256, 1024}};
const TYPE kTypes[] = {{"ASIOSTInt16LSB", 2},
                       {"ASIOSTInt24LSB", 3},
                       {"ASIOSTInt32LSB", 4},
                       {"ASIOSTFloat32LSB", 4},
                       {"ASIOSTInt32LSB24", 4}};

struct COLLECTOR {
  std::vector<float> cycles;
  size_t nWanted;
};

int Collect(void* pContext, ASIOMAN_DEVICE* pDevice, uint32_t nOrder, intptr_t, intptr_t) {
  COLLECTOR* c = (COLLECTOR*)pContext;
  // The timing block holds the previous switch while this one is processed.
  if (nOrder == ASIOMAN_ORDER_PROCESSBUFFER && pDevice->timing.nLastSwitch > 12 && c->cycles.size() < c->nWanted)
    c->cycles.push_back(pDevice->timing.fMegaCycles * 1e6f);
  return 1;
}

std::wstring SimDriverPath() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring s(path, n);
  s = s.substr(0, s.find_last_of(L"\\/"));
  s = s.substr(0, s.find_last_of(L"\\/") + 1);
  return s + L"simdriver\\MBSimAsio.dll";
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double MemcpyCycles(const SHAPE& shape, const TYPE& type, int nRuns) {
  size_t nBytes = (size_t)shape.nBufferSize * type.nBytes;
  std::vector<std::vector<uint8_t>> driver((size_t)shape.nChannels * 2, std::vector<uint8_t>(nBytes, 1));
  std::vector<int32_t> inBlock((size_t)shape.nChannels * shape.nBufferSize);
  std::vector<int32_t> outBlock(inBlock.size(), 2);
  std::vector<double> runs;
  for (int r = 0; r < nRuns; r++) {
    uint64_t t0 = __rdtsc();
    for (int i = 0; i < shape.nChannels; i++)
      memcpy(inBlock.data() + (size_t)i * shape.nBufferSize, driver[i].data(), nBytes);
    for (int j = 0; j < shape.nChannels; j++)
      memcpy(driver[shape.nChannels + j].data(), outBlock.data() + (size_t)j * shape.nBufferSize, nBytes);
    runs.push_back((double)(__rdtsc() - t0));
  }
  return Median(runs);
}

double TscPerNanosecond() {
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  uint64_t t0 = __rdtsc();
  Sleep(200);
  QueryPerformanceCounter(&b);
  uint64_t t1 = __rdtsc();
  double ns = (double)(b.QuadPart - a.QuadPart) * 1e9 / (double)f.QuadPart;
  return (double)(t1 - t0) / ns;
}

}  // namespace

int main(int argc, char** argv) {
  size_t nSwitches = argc > 1 ? (size_t)atoi(argv[1]) : 200;
  if (nSwitches < 10) nSwitches = 10;
  CoInitialize(NULL);
  CLSID clsid;
  CoCreateGuid(&clsid);
  const char* szProfile = "MBSim switch timing";
  std::wstring dll = SimDriverPath();
  if (SIMREG_RegisterClass(clsid, szProfile, dll.c_str()) != ERROR_SUCCESS) {
    fprintf(stderr, "cannot register the simulated driver\n");
    return 1;
  }
  double fTscPerNs = TscPerNanosecond();
  printf("%-18s %4s %5s %12s %10s %12s %7s\n", "type", "ch", "n", "switch cyc", "switch ns", "memcpy cyc", "ratio");
  for (const TYPE& type : kTypes) {
    for (const SHAPE& shape : kShapes) {
      char inputs[32], outputs[32], size[40], inType[64], outType[64];
      snprintf(inputs, sizeof(inputs), "Inputs=%d", shape.nChannels);
      snprintf(outputs, sizeof(outputs), "Outputs=%d", shape.nChannels);
      snprintf(size, sizeof(size), "PreferredBufferSize=%d", shape.nBufferSize);
      snprintf(inType, sizeof(inType), "InputType=%s", type.szName);
      snprintf(outType, sizeof(outType), "OutputType=%s", type.szName);
      const char* settings[] = {inputs, outputs, size, inType, outType, "SampleRate=192000", "Granularity=-1"};
      SIMREG_WriteProfile(szProfile, clsid, szProfile, settings, (int)(sizeof(settings) / sizeof(settings[0])));

      ASIOMAN_Init(GetModuleHandle(NULL));
      int nIndex = 0;
      for (int i = 1; i <= ASIOMAN_GetEntryCount(); i++)
        if (strcmp(ASIOMAN_GetEntry(i)->szName, szProfile) == 0) nIndex = i;
      COLLECTOR collector;
      collector.nWanted = nSwitches;
      int nResult = nIndex ? ASIOMAN_OpenDevice(nIndex, 0, 0, &collector, Collect, NULL) : -1;
      if (nResult == 0) nResult = ASIOMAN_StartDevice(nIndex);
      if (nResult == 0) {
        for (int k = 0; k < 2000 && collector.cycles.size() < nSwitches; k++) Sleep(5);
        ASIOMAN_StopDevice(nIndex);
      }
      if (nResult != 0 && nIndex) fprintf(stderr, "%s\n", ASIOMAN_GetEntry(nIndex)->device.report);
      if (nIndex) ASIOMAN_CloseDevice(nIndex);
      ASIOMAN_End();
      if (nResult != 0 || collector.cycles.empty()) {
        printf("%-18s %4d %5d  failed (%d)\n", type.szName, shape.nChannels, shape.nBufferSize, nResult);
        continue;
      }
      double fSwitch = Median(std::vector<double>(collector.cycles.begin(), collector.cycles.end()));
      double fCopy = MemcpyCycles(shape, type, (int)nSwitches);
      printf("%-18s %4d %5d %12.0f %10.0f %12.0f %7.2f\n", type.szName, shape.nChannels, shape.nBufferSize, fSwitch,
             fSwitch / fTscPerNs, fCopy, fCopy > 0 ? fSwitch / fCopy : 0.0);
    }
  }
  SIMREG_DeleteProfile(szProfile, clsid);
  SIMREG_UnregisterClass(clsid);
  CoUninitialize();
  return 0;
}
