// What a user waits for at the start, measured from outside as a user meets
// it: launch to a visible main window, beside Wine's (or Windows') notepad in
// the same run; the program's resident memory at rest (window open, no load
// chosen, no device); and the first choice of a CPU and of an FPU amount,
// from the command until it is handled, which is when its "DSP LOAD: CPU:
// ..." line is in the log. The time this process takes to allocate and touch
// 512 MiB is printed beside it: the floor of building a bank on this machine.
//
//   startup_benchmark.exe [program.exe] [launches]
//
// The program defaults to MorvaneBrimwell64.exe in this folder; launches to
// 5 of each. Prints medians and every launch.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/mainwindow.h"
#include "ui/logview.h"

namespace {

double g_msPerTick;

double Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return (double)t.QuadPart * g_msPerTick;
}

std::string Folder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

struct LAUNCH {
  PROCESS_INFORMATION pi;
  HWND hwnd;
  double ms;  // from CreateProcess to a visible window, -1 when none came
};

// Starts the command line and polls every millisecond for a visible window
// of the class that the process owns.
LAUNCH Launch(const std::string& commandLine, const char* windowClass) {
  LAUNCH launch = {};
  launch.ms = -1.0;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  double start = Now();
  if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &launch.pi)) return launch;
  while (Now() - start < 60000.0) {
    for (HWND w = FindWindowExA(NULL, NULL, windowClass, NULL); w; w = FindWindowExA(NULL, w, windowClass, NULL)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == launch.pi.dwProcessId && IsWindowVisible(w)) {
        launch.ms = Now() - start;
        launch.hwnd = w;
        return launch;
      }
    }
    Sleep(1);
  }
  return launch;
}

void Close(LAUNCH* launch) {
  if (launch->hwnd) PostMessageA(launch->hwnd, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(launch->pi.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(launch->pi.hProcess, 99);
  CloseHandle(launch->pi.hThread);
  CloseHandle(launch->pi.hProcess);
}

double ResidentMiB(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters;
  ZeroMemory(&counters, sizeof counters);
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return -1.0;
  return (double)counters.WorkingSetSize / (1024.0 * 1024.0);
}

std::string LogText(HWND hwnd) {
  HWND view = GetDlgItem(hwnd, LOGVIEW_CONTROL_ID);
  DWORD_PTR length = 0;
  if (!view || !SendMessageTimeoutA(view, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 10000, &length)) return std::string();
  std::vector<char> text(length + 4096);
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(view, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)text.data(), SMTO_NORMAL, 10000, &copied);
  text.back() = 0;
  return std::string(text.data());
}

// The command's time until handled; the line must then reach the view
// within 10 s (the next refresh tick shows it).
double ChooseAmount(HWND hwnd, int command, const char* line) {
  double start = Now();
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(hwnd, WM_COMMAND, (WPARAM)command, 0, SMTO_NORMAL, 60000, &result)) return -1.0;
  double handled = Now() - start;
  while (LogText(hwnd).find(line) == std::string::npos) {
    if (Now() - start > 10000.0) return -1.0;
    Sleep(10);
  }
  return handled;
}

// What allocating and first touching 512 MiB costs this process.
double TouchFloor() {
  const size_t table = 2u << 20;
  std::vector<void*> tables;
  double start = Now();
  for (int i = 0; i < 256; i++) {
    void* block = malloc(table);
    if (!block) break;
    void* volatile opaque = block;  // not merged into a calloc
    memset(opaque, 1, table);
    tables.push_back(block);
  }
  double ms = Now() - start;
  for (void* block : tables) free(block);
  return tables.size() == 256 ? ms : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  g_msPerTick = 1000.0 / (double)frequency.QuadPart;
  std::string program = argc > 1 ? argv[1] : Folder() + "MorvaneBrimwell64.exe";
  int launches = argc > 2 ? atoi(argv[2]) : 5;
  if (launches < 1) launches = 1;

  // A first notepad starts what every later process finds running.
  LAUNCH warm = Launch("notepad.exe", "Notepad");
  Close(&warm);

  std::vector<double> programMs, notepadMs, restMiB, cpuMs, fpuMs, loadedMiB;
  for (int n = 0; n < launches; n++) {
    LAUNCH pad = Launch("notepad.exe", "Notepad");
    Close(&pad);
    LAUNCH app = Launch("\"" + program + "\"", APP_MAIN_CLASS);
    if (app.ms < 0 || pad.ms < 0) {
      fprintf(stderr, "startup_benchmark: no visible window (program %.0f ms, notepad %.0f ms)\n", app.ms, pad.ms);
      Close(&app);
      return 1;
    }
    // At rest: the first refresh ticks have run and nothing is chosen.
    Sleep(2000);
    double rest = ResidentMiB(app.pi.hProcess);
    double cpu = ChooseAmount(app.hwnd, CMD_CPULOAD_BASE + 1, "DSP LOAD: CPU: 128 / FPU: 0 /");
    double fpu = ChooseAmount(app.hwnd, CMD_FPULOAD_BASE + 1, "DSP LOAD: CPU: 128 / FPU: 128 /");
    double loaded = ResidentMiB(app.pi.hProcess);
    Close(&app);
    printf("launch %d: notepad %.0f ms, program %.0f ms, at rest %.1f MiB, first CPU amount %.0f ms, first FPU "
           "amount %.0f ms, then %.1f MiB\n",
           n + 1, pad.ms, app.ms, rest, cpu, fpu, loaded);
    fflush(stdout);
    notepadMs.push_back(pad.ms);
    programMs.push_back(app.ms);
    restMiB.push_back(rest);
    cpuMs.push_back(cpu);
    fpuMs.push_back(fpu);
    loadedMiB.push_back(loaded);
  }
  double floor = TouchFloor();
  printf("medians of %d: notepad %.0f ms, program %.0f ms (%.2f x notepad), at rest %.1f MiB, first CPU amount %.0f "
         "ms, first FPU amount %.0f ms, then %.1f MiB; 512 MiB allocated and touched here: %.0f ms\n",
         launches, Median(notepadMs), Median(programMs), Median(programMs) / Median(notepadMs), Median(restMiB),
         Median(cpuMs), Median(fpuMs), Median(loadedMiB), floor);
  return 0;
}
