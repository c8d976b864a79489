// mbharness: drives a running MorvaneBrimwell64.exe from outside, as a user
// would, for end-to-end tests and scripts/run. Verbs run in order, so one
// Wine start serves a whole scenario:
//
//   mbharness find [seconds]          wait for the main window to exist
//   mbharness command <id> [lparam]   send WM_COMMAND, wait until handled
//   mbharness post <id> [lparam]      post WM_COMMAND, return at once
//                                     (id: a number, or a name of
//                                     app/commands.h with an optional +n,
//                                     as CMD_STOPTEST or CMD_ZOOM_FIRST+7)
//   mbharness resize <width> <height> resize the main window (outer size)
//   mbharness log                     print the log view's text
//   mbharness wait <regex> [seconds]  wait for a log line matching regex
//   mbharness count <regex>           print how many log lines match
//   mbharness switches <profile> <n> [seconds]
//                                     wait until the simulated driver of
//                                     that profile has begun n more buffer
//                                     switches than when the verb began
//   mbharness answer <seconds>        time WM_NULL round trips, one every
//                                     10 ms, for that long or until the log
//                                     is full; print "<n> round trips,
//                                     slowest <ms> ms, mean <ms> ms, <k> over
//                                     100 ms, log full|not full"
//   mbharness sleep <milliseconds>
//   mbharness shot <file.png>         save the client area as a PNG
//   mbharness pixel <x> <y>           print the client pixel as RRGGBB
//   mbharness close                   send WM_CLOSE (the close box)
//   mbharness gone [seconds]          wait for the main window to go away
//
// Exit status: 0 when every verb succeeded; 1 with a message on stderr at
// the first verb that failed.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <regex>
#include <string>
#include <vector>

#include "app/mainwindow.h"
#include "simdriver/simreg.h"
#include "simdriver/simshared.h"
#include "ui/logview.h"

namespace {

const DWORD kSendTimeoutMs = 60000;

HWND g_hwndMain;

int Fail(const char* format, const char* detail) {
  fprintf(stderr, "mbharness: ");
  fprintf(stderr, format, detail);
  fprintf(stderr, "\n");
  return 1;
}

bool FindMain(double seconds) {
  DWORD deadline = GetTickCount() + (DWORD)(seconds * 1000.0);
  for (;;) {
    // The window exists during its WM_CREATE; it is ready once it is shown
    // and its log view exists.
    g_hwndMain = FindWindowA(APP_MAIN_CLASS, NULL);
    if (g_hwndMain && IsWindowVisible(g_hwndMain) && GetDlgItem(g_hwndMain, LOGVIEW_CONTROL_ID)) return true;
    if ((int32_t)(GetTickCount() - deadline) >= 0) return false;
    Sleep(50);
  }
}

bool EnsureMain() { return (g_hwndMain && IsWindow(g_hwndMain)) || FindMain(30.0); }

std::string ReadLog() {
  HWND view = GetDlgItem(g_hwndMain, LOGVIEW_CONTROL_ID);
  if (!view) return std::string();
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(view, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &length)) return std::string();
  std::vector<char> text(length + 1 + 4096);  // the log may grow in between
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(view, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)text.data(), SMTO_NORMAL, kSendTimeoutMs,
                      &copied);
  text.back() = 0;
  return std::string(text.data());
}

// The log is full once it ends in the overflow notice, the one text without a
// line end: the view's last line is then not empty. Asked without moving any
// text: a reply that carries text is a load of its own on the window being
// timed, and under Wine one of some 100 KB has ended the program.
bool IsLogFull(bool* full) {
  HWND view = GetDlgItem(g_hwndMain, LOGVIEW_CONTROL_ID);
  DWORD_PTR end = 0, last = 0, again = 0;
  // The text may grow between the messages: only an unchanged end counts.
  if (!view || !SendMessageTimeoutA(view, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &end) ||
      !SendMessageTimeoutA(view, EM_LINELENGTH, end, 0, SMTO_NORMAL, kSendTimeoutMs, &last) ||
      !SendMessageTimeoutA(view, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &again))
    return false;
  *full = last > 0 && again == end;
  return true;
}

// Times WM_NULL round trips for the given time or until the log is full;
// false when the window stopped answering.
bool TimeAnswers(double seconds) {
  LARGE_INTEGER frequency, t0, t1;
  QueryPerformanceFrequency(&frequency);
  DWORD deadline = GetTickCount() + (DWORD)(seconds * 1000.0);
  double slowest = 0.0, total = 0.0;
  int count = 0, late = 0;
  bool full = false, answered = true;
  while ((int32_t)(GetTickCount() - deadline) < 0) {
    DWORD_PTR result = 0;
    QueryPerformanceCounter(&t0);
    answered = SendMessageTimeoutA(g_hwndMain, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
    QueryPerformanceCounter(&t1);
    if (!answered) break;
    double ms = 1000.0 * (double)(t1.QuadPart - t0.QuadPart) / (double)frequency.QuadPart;
    if (ms > slowest) slowest = ms;
    total += ms;
    count++;
    late += ms > 100.0;  // one refresh period
    answered = IsLogFull(&full);
    if (!answered || full) break;
    Sleep(10);
  }
  printf("%d round trips, slowest %.1f ms, mean %.1f ms, %d over 100 ms, log %s\n", count, slowest,
         count ? total / count : 0.0, late, full ? "full" : "not full");
  fflush(stdout);
  return answered;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') stop--;
    lines.push_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

int CountMatches(const std::string& pattern) {
  std::regex re(pattern);
  int count = 0;
  for (const std::string& line : SplitLines(ReadLog()))
    if (std::regex_search(line, re)) count++;
  return count;
}

bool WaitForLine(const std::string& pattern, double seconds) {
  DWORD deadline = GetTickCount() + (DWORD)(seconds * 1000.0);
  for (;;) {
    if (CountMatches(pattern) > 0) return true;
    if ((int32_t)(GetTickCount() - deadline) >= 0) return false;
    Sleep(100);
  }
}

// The class that a profile under SOFTWARE\ASIO names.
bool ProfileClass(const char* profile, CLSID* clsid) {
  std::string key = std::string(SIMREG_ASIO_KEY "\\") + profile;
  char text[64] = "";
  DWORD size = sizeof(text);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "CLSID", RRF_RT_REG_SZ, NULL, text, &size) != ERROR_SUCCESS)
    return false;
  return SIMREG_TextToGuid(text, clsid) != 0;
}

// Holding the section from the start keeps its count going while the
// program releases one driver object and creates the next.
bool WaitSwitches(REFCLSID clsid, LONG64 count, double seconds, LONG64* seen) {
  SIMSHARED* view = NULL;
  HANDLE section = SIMSHARED_Open(clsid, &view);
  if (!section) return false;
  LONG64 start = view->nSwitches;
  DWORD deadline = GetTickCount() + (DWORD)(seconds * 1000.0);
  bool ok = true;
  while ((*seen = view->nSwitches - start) < count) {
    if ((int32_t)(GetTickCount() - deadline) >= 0) {
      ok = false;
      break;
    }
    Sleep(5);
  }
  SIMSHARED_Close(section, view);
  return ok;
}

// Captures the client area top-down as 32-bit BGRX pixels.
bool CaptureClient(std::vector<uint32_t>* pixels, int* width, int* height) {
  RECT rc;
  if (!GetClientRect(g_hwndMain, &rc)) return false;
  int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return false;
  HDC window = GetDC(g_hwndMain);
  if (!window) return false;
  HDC memory = CreateCompatibleDC(window);
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = NULL;
  HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  bool ok = false;
  if (memory && bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, w, h, window, 0, 0, SRCCOPY) != 0;
    GdiFlush();
    if (ok) pixels->assign((uint32_t*)bits, (uint32_t*)bits + (size_t)w * h);
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(g_hwndMain, window);
  *width = w;
  *height = h;
  return ok;
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  static uint32_t table[256];
  if (!table[1]) {
    for (uint32_t n = 0; n < 256; n++) {
      uint32_t c = n;
      for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
  }
  crc = ~crc;
  for (size_t i = 0; i < size; i++) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBE32(std::string* out, uint32_t v) {
  char b[4] = {(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v};
  out->append(b, 4);
}

void PutChunk(std::string* png, const char* type, const std::string& data) {
  PutBE32(png, (uint32_t)data.size());
  std::string body = std::string(type, 4) + data;
  png->append(body);
  PutBE32(png, Crc32((const uint8_t*)body.data(), body.size(), 0));
}

// A PNG with an uncompressed (stored) zlib stream: larger than need be, but
// readable everywhere and free of any library.
std::string EncodePng(const std::vector<uint32_t>& pixels, int w, int h) {
  std::string raw;
  raw.reserve((size_t)h * (1 + 3 * (size_t)w));
  for (int y = 0; y < h; y++) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < w; x++) {
      uint32_t p = pixels[(size_t)y * w + x];
      raw.push_back((char)((p >> 16) & 0xFF));
      raw.push_back((char)((p >> 8) & 0xFF));
      raw.push_back((char)(p & 0xFF));
    }
  }
  std::string zlib("\x78\x01", 2);
  size_t pos = 0;
  do {
    size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
    bool last = pos + n == raw.size();
    zlib.push_back(last ? 1 : 0);
    zlib.push_back((char)(n & 0xFF));
    zlib.push_back((char)(n >> 8));
    zlib.push_back((char)(~n & 0xFF));
    zlib.push_back((char)((~n >> 8) & 0xFF));
    zlib.append(raw, pos, n);
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBE32(&zlib, (b << 16) | a);

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBE32(&header, (uint32_t)w);
  PutBE32(&header, (uint32_t)h);
  header.append("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  PutChunk(&png, "IHDR", header);
  PutChunk(&png, "IDAT", zlib);
  PutChunk(&png, "IEND", std::string());
  return png;
}

bool SaveShot(const char* path) {
  std::vector<uint32_t> pixels;
  int w = 0, h = 0;
  if (!CaptureClient(&pixels, &w, &h)) return false;
  std::string png = EncodePng(pixels, w, h);
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  bool ok = fwrite(png.data(), 1, png.size(), f) == png.size();
  return fclose(f) == 0 && ok;
}

bool SendCommand(int id, LPARAM lParam) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(g_hwndMain, WM_COMMAND, (WPARAM)id, lParam, SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
}

bool WaitGone(double seconds) {
  DWORD deadline = GetTickCount() + (DWORD)(seconds * 1000.0);
  while (FindWindowA(APP_MAIN_CLASS, NULL)) {
    if ((int32_t)(GetTickCount() - deadline) >= 0) return false;
    Sleep(50);
  }
  return true;
}

double ArgSeconds(int argc, char** argv, int* i, double fallback) {
  if (*i + 1 < argc) {
    char* end = NULL;
    double v = strtod(argv[*i + 1], &end);
    if (end && *end == 0) {
      (*i)++;
      return v;
    }
  }
  return fallback;
}

bool IsNumber(const char* s) {
  char* end = NULL;
  strtol(s, &end, 0);
  return end && end != s && *end == 0;
}

#define CMD_NAME_ENTRY(name) {#name, name},
const struct {
  const char* szName;
  int nId;
} kCommandNames[] = {CMD_NAMES(CMD_NAME_ENTRY)};

// A command identifier as a number, or as a name with an optional "+n".
bool ParseCommand(const char* text, int* id) {
  if (IsNumber(text)) {
    *id = (int)strtol(text, NULL, 0);
    return true;
  }
  std::string name(text);
  int offset = 0;
  size_t plus = name.find('+');
  if (plus != std::string::npos) {
    if (!IsNumber(name.c_str() + plus + 1)) return false;
    offset = (int)strtol(name.c_str() + plus + 1, NULL, 0);
    name.resize(plus);
  }
  for (const auto& entry : kCommandNames) {
    if (name == entry.szName) {
      *id = entry.nId + offset;
      return true;
    }
  }
  return false;
}

int RunVerb(int argc, char** argv, int* i) {
  std::string verb = argv[*i];
  auto need = [&](int count) { return *i + count < argc; };
  if (verb == "find") {
    double s = ArgSeconds(argc, argv, i, 10.0);
    return FindMain(s) ? 0 : Fail("main window (%s) not found", APP_MAIN_CLASS);
  }
  if (verb == "gone") {
    double s = ArgSeconds(argc, argv, i, 10.0);
    return WaitGone(s) ? 0 : Fail("main window %s did not close", "still there");
  }
  if (verb == "sleep") {
    if (!need(1)) return Fail("%s needs milliseconds", "sleep");
    Sleep((DWORD)atoi(argv[++*i]));
    return 0;
  }
  if (verb == "switches") {
    if (!need(2)) return Fail("%s needs a profile and a count", "switches");
    const char* profile = argv[++*i];
    LONG64 count = _atoi64(argv[++*i]);
    double s = ArgSeconds(argc, argv, i, 10.0);
    CLSID clsid;
    if (!ProfileClass(profile, &clsid)) return Fail("no simulated driver profile named %s", profile);
    LONG64 seen = 0;
    if (WaitSwitches(clsid, count, s, &seen)) return 0;
    fprintf(stderr, "mbharness: %s delivered %lld of %lld buffer switches within %.1f s\n", profile, (long long)seen,
            (long long)count, s);
    return 1;
  }
  if (!EnsureMain()) return Fail("main window (%s) not found", APP_MAIN_CLASS);
  if (verb == "command" || verb == "post") {
    if (!need(1)) return Fail("%s needs a command identifier", verb.c_str());
    int id = 0;
    if (!ParseCommand(argv[++*i], &id)) return Fail("no command identifier named %s", argv[*i]);
    LPARAM lParam = 0;
    if (need(1) && IsNumber(argv[*i + 1])) lParam = (LPARAM)strtol(argv[++*i], NULL, 0);
    bool ok = verb == "post" ? PostMessageA(g_hwndMain, WM_COMMAND, (WPARAM)id, lParam) != 0 : SendCommand(id, lParam);
    return ok ? 0 : Fail("WM_COMMAND %s was not delivered", argv[*i]);
  }
  if (verb == "resize") {
    if (!need(2)) return Fail("%s needs width and height", "resize");
    int w = atoi(argv[++*i]);
    int h = atoi(argv[++*i]);
    return SetWindowPos(g_hwndMain, NULL, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER) ? 0 : Fail("%s failed", "resize");
  }
  if (verb == "log") {
    std::string text = ReadLog();
    fwrite(text.data(), 1, text.size(), stdout);
    if (!text.empty() && text.back() != '\n') fputc('\n', stdout);
    fflush(stdout);
    return 0;
  }
  if (verb == "wait") {
    if (!need(1)) return Fail("%s needs a pattern", "wait");
    std::string pattern = argv[++*i];
    double s = ArgSeconds(argc, argv, i, 10.0);
    if (WaitForLine(pattern, s)) return 0;
    fprintf(stderr, "mbharness: no log line matched /%s/ within %.1f s; the log ends with:\n", pattern.c_str(), s);
    std::vector<std::string> lines = SplitLines(ReadLog());
    for (size_t k = lines.size() > 15 ? lines.size() - 15 : 0; k < lines.size(); k++)
      fprintf(stderr, "  %s\n", lines[k].c_str());
    return 1;
  }
  if (verb == "count") {
    if (!need(1)) return Fail("%s needs a pattern", "count");
    printf("%d\n", CountMatches(argv[++*i]));
    fflush(stdout);
    return 0;
  }
  if (verb == "answer") {
    if (!need(1)) return Fail("%s needs seconds", "answer");
    double s = atof(argv[++*i]);
    return TimeAnswers(s) ? 0 : Fail("%s", "the window stopped answering");
  }
  if (verb == "shot") {
    if (!need(1)) return Fail("%s needs a file name", "shot");
    const char* path = argv[++*i];
    return SaveShot(path) ? 0 : Fail("could not save the window image to %s", path);
  }
  if (verb == "pixel") {
    if (!need(2)) return Fail("%s needs x and y", "pixel");
    int x = atoi(argv[++*i]);
    int y = atoi(argv[++*i]);
    HDC dc = GetDC(g_hwndMain);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(g_hwndMain, dc);
    printf("%02X%02X%02X\n", GetRValue(c), GetGValue(c), GetBValue(c));
    fflush(stdout);
    return 0;
  }
  if (verb == "close") {
    return PostMessageA(g_hwndMain, WM_CLOSE, 0, 0) ? 0 : Fail("%s was not delivered", "WM_CLOSE");
  }
  return Fail("unknown verb %s", verb.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: mbharness verb [args] [verb [args]...]\n");
    return 2;
  }
  for (int i = 1; i < argc; i++) {
    try {
      if (RunVerb(argc, argv, &i) != 0) return 1;
    } catch (const std::regex_error& e) {
      return Fail("bad pattern: %s", e.what());
    }
  }
  return 0;
}
