#include "app/program_fixture.h"

#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/mainwindow.h"
#include "asio/asioman.h"

namespace {

std::string Folder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1);
}

uint32_t BE32(const unsigned char* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

}  // namespace

RESULT RunProgram(const std::string& commandLine, DWORD timeoutMs) {
  RESULT result = {1, std::string()};
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return result;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!ok) {
    CloseHandle(readEnd);
    result.out = "cannot start " + commandLine;
    return result;
  }
  char buffer[4096];
  DWORD got;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) result.out.append(buffer, got);
  CloseHandle(readEnd);
  if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  GetExitCodeProcess(pi.hProcess, &result.nExit);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

bool DecodePng(const std::string& path, IMAGE* image) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  std::string data;
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, n);
  fclose(f);
  const unsigned char* p = (const unsigned char*)data.data();
  size_t pos = 8;
  std::string zlib;
  while (pos + 12 <= data.size()) {
    uint32_t length = BE32(p + pos);
    std::string type = data.substr(pos + 4, 4);
    if (pos + 12 + length > data.size()) return false;
    if (type == "IHDR") {
      image->nWidth = (int)BE32(p + pos + 8);
      image->nHeight = (int)BE32(p + pos + 12);
    } else if (type == "IDAT") {
      zlib.append(data, pos + 8, length);
    }
    pos += 12 + length;
  }
  std::string raw;
  size_t z = 2;
  for (;;) {
    if (z + 5 > zlib.size()) return false;
    unsigned char header = (unsigned char)zlib[z];
    size_t len = (unsigned char)zlib[z + 1] | (size_t)(unsigned char)zlib[z + 2] << 8;
    raw.append(zlib, z + 5, len);
    z += 5 + len;
    if (header & 1) break;
  }
  size_t stride = 1 + 3 * (size_t)image->nWidth;
  if (raw.size() < stride * image->nHeight) return false;
  image->pixels.resize((size_t)image->nWidth * image->nHeight);
  for (int y = 0; y < image->nHeight; y++) {
    const unsigned char* row = (const unsigned char*)raw.data() + y * stride + 1;
    for (int x = 0; x < image->nWidth; x++)
      image->pixels[(size_t)y * image->nWidth + x] = (uint32_t)row[3 * x] << 16 | row[3 * x + 1] << 8 | row[3 * x + 2];
  }
  return true;
}

SUMMARY ParseLastSummary(const std::vector<std::string>& lines) {
  SUMMARY s;
  for (const std::string& line : lines) {
    size_t at = line.find("RUN SUMMARY: ");
    if (at == std::string::npos) continue;
    char time[16];
    char buffers[48];
    if (sscanf(line.c_str() + at,
               "RUN SUMMARY: %15s / buffers: %47s / DSP LOAD >50%%: %d >80%%: %d >100%%: %d / MIN: %*[^/]/ "
               "TIMING ERROR 10%%: %d 20%%: %d 50%%: %d 100%%: %d",
               time, buffers, &s.nLoad50, &s.nLoad80, &s.nLoad100, &s.nTiming[0], &s.nTiming[1], &s.nTiming[2],
               &s.nTiming[3]) != 9)
      continue;
    std::string digits;
    for (const char* p = buffers; *p; ++p)
      if (*p >= '0' && *p <= '9') digits += *p;
    s.nBuffers = _atoi64(digits.c_str()) * (buffers[0] == '-' ? -1 : 1);
    size_t max = line.find(" MAX: ", at);
    s.fMax = max == std::string::npos ? 0 : atof(line.c_str() + max + 6);
    s.bFound = true;
    s.bDistribution = false;
  }
  for (const std::string& line : lines) {
    size_t at = line.find("RUN DISTRIBUTION: ");
    if (at == std::string::npos || !s.bFound) continue;
    double p50, p99, minimum, p01;
    s.bDistribution =
        sscanf(line.c_str() + at,
               "RUN DISTRIBUTION: DSP LOAD p50: %lf %% p99: %lf %% p99.9: %lf %% / CALLBACK INTERVAL MIN: %lf ms "
               "p0.1: %lf ms p50: %lf ms p99.9: %*f ms MAX: %lf ms",
               &p50, &p99, &s.fLoadP999, &minimum, &p01, &s.fIntervalP50, &s.fIntervalMax) == 7;
  }
  return s;
}

void ProgramTest::SetUpTestSuite() { CoInitialize(nullptr); }
void ProgramTest::TearDownTestSuite() { CoUninitialize(); }

void ProgramTest::TearDown() {
  if (program) {
    Harness("close gone 20");
    if (WaitForSingleObject(program, 20000) != WAIT_OBJECT_0) TerminateProcess(program, 99);
    CloseHandle(program);
    program = nullptr;
  }
  profiles.RemoveAll();  // MB_KEEP_FILES keeps the images and reports
}

std::string ProgramTest::AddProfile(const char* name, std::vector<std::string> settings) {
  std::string full = std::string("MBProgTest ") + name;
  EXPECT_NE(profiles.Add(full, settings), GUID_NULL);
  return full;
}

std::string ProgramTest::AddFile(const char* name) { return profiles.AddFile("mbprog", name); }

// The program reads the same registry in the same order, so the manager's
// list here gives its menu positions.
int ProgramTest::CommandOf(const std::string& name) {
  int command = 0;
  ASIOMAN_Init(GetModuleHandleA(nullptr));
  for (int i = 1; i <= ASIOMAN_GetEntryCount(); ++i)
    if (name == ASIOMAN_GetEntry(i)->szName) command = CMD_ASIODRIVER_FIRST - 1 + i;
  ASIOMAN_End();
  EXPECT_GT(command, 0) << name;
  return command;
}

void ProgramTest::Launch() {
  std::string line = "\"" + Folder() + "MorvaneBrimwell64.exe\"";
  std::vector<char> text(line.begin(), line.end());
  text.push_back(0);
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  CloseHandle(pi.hThread);
  program = pi.hProcess;
  ASSERT_EQ(Harness("find 60 sleep 300").nExit, 0u);  // and one refresh tick
}

RESULT ProgramTest::Harness(const std::string& verbs) {
  return RunProgram("\"" + Folder() + "mbharness.exe\" " + verbs, 120000);
}

void ProgramTest::Expect(const std::string& verbs) {
  RESULT r = Harness(verbs);
  EXPECT_EQ(r.nExit, 0u) << verbs << "\n" << r.out;
}

int ProgramTest::Count(const std::string& pattern) {
  return atoi(Harness("count \"" + pattern + "\"").out.c_str());
}

std::vector<std::string> ProgramTest::LogLines() {
  std::string text = Harness("log").out;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    // The harness prints in text mode: each CR LF of the log arrives as CR CR LF.
    size_t stop = end;
    while (stop > start && text[stop - 1] == '\r') stop--;
    lines.push_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

IMAGE ProgramTest::Shot() {
  std::string path = AddFile((std::to_string(profiles.Files().size()) + "_window.png").c_str());
  IMAGE image;
  EXPECT_EQ(Harness("shot \"" + path + "\"").nExit, 0u);
  EXPECT_TRUE(DecodePng(path, &image)) << path;
  return image;
}

DWORD ProgramTest::ExitCode(DWORD timeoutMs) {
  DWORD code = 99;
  if (program && WaitForSingleObject(program, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(program, &code);
  return code;
}
